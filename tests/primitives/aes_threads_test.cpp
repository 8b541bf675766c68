// First use of AES from many threads at once: the round tables and the
// implementation choice are made exactly once, and every thread sees them
// complete. Kept in its own executable so that nothing has used AES before.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "primitives/aes/aes_internal.h"
#include "qor/nc_aes.h"
#include "qor/rijndael.h"
#include "support/bytes.h"
#include "support/evp_oracle.h"

namespace {

using qor::test::Bytes;
using qor::test::EvpCrypt;

TEST(AesFirstUse, ConcurrentFirstKeySchedules) {
  constexpr int kThreads = 8;
  std::vector<Bytes> keys, ivs, plains, expected;
  for (int t = 0; t < kThreads; ++t) {
    keys.emplace_back(t % 2 == 0 ? 16 : 32, static_cast<uint8_t>(t * 13 + 1));
    ivs.emplace_back(16, static_cast<uint8_t>(t + 100));
    plains.emplace_back(static_cast<size_t>(100 + 37 * t), static_cast<uint8_t>(t));
    const EVP_CIPHER* cbc = keys[t].size() == 16 ? EVP_aes_128_cbc() : EVP_aes_256_cbc();
    expected.push_back(EvpCrypt(cbc, true, true, keys[t], ivs[t].data(), plains[t]));
  }
  std::atomic<int> ready{0};
  std::vector<Bytes> got(kThreads);
  std::vector<uint8_t> blockOk(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      if (t % 4 == 3) {
        // The reference interface takes the same one-time path.
        uint32_t rk[4 * (RIJNDAEL_MAXNR + 1)];
        const uint8_t key[16] = {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6,
                                 0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c};
        const uint8_t pt[16] = {0x32, 0x43, 0xf6, 0xa8, 0x88, 0x5a, 0x30, 0x8d,
                                0x31, 0x31, 0x98, 0xa2, 0xe0, 0x37, 0x07, 0x34};
        const uint8_t ct[16] = {0x39, 0x25, 0x84, 0x1d, 0x02, 0xdc, 0x09, 0xfb,
                                0xdc, 0x11, 0x85, 0x97, 0x19, 0x6a, 0x0b, 0x32};
        uint8_t out[16];
        rijndaelEncrypt(rk, rijndaelKeySetupEnc(rk, key, 128), pt, out);
        blockOk[t] = std::memcmp(out, ct, 16) == 0;
      } else {
        blockOk[t] = 1;
      }
      NC_AES_CTX ctx;
      std::memset(&ctx, 0, sizeof ctx);
      NC_AES_EncKeySchedule(keys[t].data(), static_cast<int>(keys[t].size()), &ctx);
      NC_AES_SetAlgInfo(NC_AES_MODE_CBC, NC_AES_PAD_BLOCK, ivs[t].data(), &ctx);
      NC_AES_EncInit(&ctx);
      Bytes out(plains[t].size() + 16);
      int n1 = 0, n2 = 0;
      NC_AES_EncUpdate(&ctx, plains[t].data(), static_cast<int>(plains[t].size()), out.data(), &n1);
      NC_AES_EncFinal(&ctx, out.data() + n1, &n2);
      out.resize(static_cast<size_t>(n1 + n2));
      got[t] = out;
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(expected[t], got[t]) << t;
    EXPECT_TRUE(blockOk[t]) << t;
  }
}

TEST(AesFirstUse, PicksTheWidestSupportedImplementation) {
  const qor::aes::Impl* expected = qor::aes::VaesImpl();
  if (expected == nullptr) expected = qor::aes::AesNiImpl();
  if (expected == nullptr) expected = &qor::aes::PortableImpl();
  EXPECT_EQ(expected, &qor::aes::Active());
  qor::aes::g_kernels.Force(&qor::aes::PortableImpl());
  EXPECT_EQ(&qor::aes::PortableImpl(), &qor::aes::Active());
  qor::aes::g_kernels.Force(nullptr);
  EXPECT_EQ(expected, &qor::aes::Active());
}

}  // namespace
