// HMAC-SHA-1 and HMAC-SHA-256: the RFC 2202 and RFC 4231 cases, differential
// checks against OpenSSL over key and data lengths (both compression paths),
// streaming over random splits, argument handling and context wiping.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "primitives/sha/sha_internal.h"
#include "qor/nc_hmac.h"
#include "support/bytes.h"
#include "support/kernel_paths.h"

namespace {

using qor::test::AllZero;
using qor::test::Bytes;
using qor::test::ToHex;

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes Repeat(uint8_t v, size_t n) { return Bytes(n, v); }
Bytes Counting(uint8_t from, size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(from + i);
  return b;
}

struct Mac {
  const char* name;
  size_t len;
  int (*once)(const unsigned char*, size_t, const unsigned char*, size_t, unsigned char*);
  // Streams |pieces| of data under key; returns the tag.
  Bytes (*streamed)(const Bytes& key, const uint8_t* data, const std::vector<size_t>& pieces);
  const EVP_MD* (*md)();
};

template <typename Ctx, int (*Init)(Ctx*, const unsigned char*, size_t),
          int (*Update)(Ctx*, const unsigned char*, size_t), int (*Final)(Ctx*, unsigned char*),
          size_t kLen>
Bytes Streamed(const Bytes& key, const uint8_t* data, const std::vector<size_t>& pieces) {
  Ctx ctx;
  EXPECT_EQ(Init(&ctx, key.data(), key.size()), 0);
  for (size_t n : pieces) {
    EXPECT_EQ(Update(&ctx, data, n), 0);
    data += n;
  }
  Bytes out(kLen);
  EXPECT_EQ(Final(&ctx, out.data()), 0);
  return out;
}

const Mac kSha1Mac = {"HMAC_SHA1", 20, NC_E_HMAC_SHA1,
                      Streamed<NC_HMAC_SHA1_CTX, NC_E_HMAC_SHA1_Init, NC_E_HMAC_SHA1_Update,
                               NC_E_HMAC_SHA1_Final, 20>,
                      EVP_sha1};
const Mac kSha256Mac = {"HMAC_SHA256", 32, NC_E_HMAC_SHA256,
                        Streamed<NC_HMAC_SHA256_CTX, NC_E_HMAC_SHA256_Init,
                                 NC_E_HMAC_SHA256_Update, NC_E_HMAC_SHA256_Final, 32>,
                        EVP_sha256};

struct RfcCase {
  const Mac* mac;
  const char* id;
  Bytes key;
  Bytes data;
  const char* tag;  // may be a truncated tag: compare its prefix only
};

const RfcCase kRfcCases[] = {
    // RFC 2202, HMAC-SHA-1.
    {&kSha1Mac, "2202-1", Repeat(0x0b, 20), Text("Hi There"),
     "b617318655057264e28bc0b6fb378c8ef146be00"},
    {&kSha1Mac, "2202-2", Text("Jefe"), Text("what do ya want for nothing?"),
     "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
    {&kSha1Mac, "2202-3", Repeat(0xaa, 20), Repeat(0xdd, 50),
     "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
    {&kSha1Mac, "2202-4", Counting(1, 25), Repeat(0xcd, 50),
     "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
    {&kSha1Mac, "2202-5", Repeat(0x0c, 20), Text("Test With Truncation"),
     "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04"},
    {&kSha1Mac, "2202-6", Repeat(0xaa, 80),
     Text("Test Using Larger Than Block-Size Key - Hash Key First"),
     "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
    {&kSha1Mac, "2202-7", Repeat(0xaa, 80),
     Text("Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data"),
     "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
    // RFC 4231, HMAC-SHA-256.
    {&kSha256Mac, "4231-1", Repeat(0x0b, 20), Text("Hi There"),
     "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
    {&kSha256Mac, "4231-2", Text("Jefe"), Text("what do ya want for nothing?"),
     "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
    {&kSha256Mac, "4231-3", Repeat(0xaa, 20), Repeat(0xdd, 50),
     "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
    {&kSha256Mac, "4231-4", Counting(1, 25), Repeat(0xcd, 50),
     "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
    {&kSha256Mac, "4231-5", Repeat(0x0c, 20), Text("Test With Truncation"),
     "a3b6167473100ee06e0c796c2955552b"},
    {&kSha256Mac, "4231-6", Repeat(0xaa, 131),
     Text("Test Using Larger Than Block-Size Key - Hash Key First"),
     "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
    {&kSha256Mac, "4231-7", Repeat(0xaa, 131),
     Text("This is a test using a larger than block-size key and a larger than block-size data. "
          "The key needs to be hashed before being used by the HMAC algorithm."),
     "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
};

class HmacPaths : public qor::test::KernelPathTest<qor::sha::g_kernels> {};

TEST_P(HmacPaths, RfcCasesOneShotAndStreamed) {
  for (const RfcCase& c : kRfcCases) {
    const std::string want = c.tag;
    uint8_t out[32];
    ASSERT_EQ(c.mac->once(c.data.data(), c.data.size(), c.key.data(), c.key.size(), out), 0);
    EXPECT_EQ(ToHex(out, c.mac->len).substr(0, want.size()), want) << c.id;
    const Bytes streamed =
        c.mac->streamed(c.key, c.data.data(), std::vector<size_t>(c.data.size(), 1));
    EXPECT_EQ(ToHex(streamed.data(), streamed.size()).substr(0, want.size()), want) << c.id;
  }
}

TEST_P(HmacPaths, MatchesOpenSslOverKeyAndDataLengths) {
  std::mt19937 rng(7 + PathIndex());
  Bytes pool(3000);
  for (auto& b : pool) b = static_cast<uint8_t>(rng());
  // Key lengths on both sides of the block size (longer keys are hashed).
  const size_t keyLengths[] = {0, 1, 19, 20, 32, 63, 64, 65, 100, 128, 129, 200};
  for (const Mac* mac : {&kSha1Mac, &kSha256Mac}) {
    for (size_t keyLen : keyLengths) {
      const Bytes key(pool.begin() + 2500, pool.begin() + 2500 + static_cast<long>(keyLen));
      std::vector<size_t> dataLengths = {0, 1, 55, 56, 63, 64, 65, 119, 120, 128, 1000};
      for (int i = 0; i < 8; ++i) dataLengths.push_back(rng() % 2400);
      for (size_t n : dataLengths) {
        uint8_t want[EVP_MAX_MD_SIZE];
        unsigned int wantLen = 0;
        ASSERT_NE(HMAC(mac->md(), key.data(), static_cast<int>(key.size()), pool.data(), n, want,
                       &wantLen),
                  nullptr);
        ASSERT_EQ(wantLen, mac->len);
        uint8_t out[32];
        ASSERT_EQ(mac->once(pool.data(), n, key.data(), key.size(), out), 0);
        EXPECT_EQ(ToHex(out, mac->len), ToHex(want, wantLen))
            << mac->name << " key " << keyLen << " data " << n;

        std::vector<size_t> pieces;
        for (size_t left = n; left != 0;) {
          const size_t take = std::min<size_t>(left, rng() % 150);
          pieces.push_back(take);
          left -= take;
        }
        const Bytes streamed = mac->streamed(key, pool.data(), pieces);
        EXPECT_EQ(ToHex(streamed.data(), streamed.size()), ToHex(want, wantLen))
            << mac->name << " streamed, key " << keyLen << " data " << n;
      }
    }
  }
}

QOR_INSTANTIATE_KERNEL_PATHS(HmacPaths, qor::sha::g_kernels);

TEST(Hmac, NullArgumentsAreRefusedAndEmptyNullKeyOrDataIsAccepted) {
  const uint8_t key[4] = {1, 2, 3, 4};
  const uint8_t data[4] = {5, 6, 7, 8};
  uint8_t out[32];
  NC_HMAC_SHA1_CTX c1;
  NC_HMAC_SHA256_CTX c2;
  struct Case {
    const char* what;
    int rc;
  } cases[] = {
      {"SHA1 null out", NC_E_HMAC_SHA1(data, 4, key, 4, nullptr)},
      {"SHA1 null data", NC_E_HMAC_SHA1(nullptr, 4, key, 4, out)},
      {"SHA1 null key", NC_E_HMAC_SHA1(data, 4, nullptr, 4, out)},
      {"SHA256 null out", NC_E_HMAC_SHA256(data, 4, key, 4, nullptr)},
      {"SHA256 null data", NC_E_HMAC_SHA256(nullptr, 4, key, 4, out)},
      {"SHA256 null key", NC_E_HMAC_SHA256(data, 4, nullptr, 4, out)},
      {"SHA1_Init null ctx", NC_E_HMAC_SHA1_Init(nullptr, key, 4)},
      {"SHA1_Init null key", NC_E_HMAC_SHA1_Init(&c1, nullptr, 4)},
      {"SHA256_Init null ctx", NC_E_HMAC_SHA256_Init(nullptr, key, 4)},
      {"SHA256_Init null key", NC_E_HMAC_SHA256_Init(&c2, nullptr, 4)},
      {"SHA1_Update null ctx", NC_E_HMAC_SHA1_Update(nullptr, data, 4)},
      {"SHA256_Update null data",
       (NC_E_HMAC_SHA256_Init(&c2, key, 4), NC_E_HMAC_SHA256_Update(&c2, nullptr, 4))},
      {"SHA1_Final null out", NC_E_HMAC_SHA1_Final(&c1, nullptr)},
      {"SHA256_Final null ctx", NC_E_HMAC_SHA256_Final(nullptr, out)},
  };
  for (const Case& c : cases) EXPECT_EQ(c.rc, -1) << c.what;

  // Empty key and empty message, both NULL: the standard's HMAC of nothing.
  uint8_t want[EVP_MAX_MD_SIZE];
  unsigned int wantLen = 0;
  const uint8_t none = 0;
  ASSERT_NE(HMAC(EVP_sha256(), &none, 0, &none, 0, want, &wantLen), nullptr);
  ASSERT_EQ(NC_E_HMAC_SHA256(nullptr, 0, nullptr, 0, out), 0);
  EXPECT_EQ(ToHex(out, 32), ToHex(want, wantLen));
  ASSERT_NE(HMAC(EVP_sha1(), &none, 0, &none, 0, want, &wantLen), nullptr);
  ASSERT_EQ(NC_E_HMAC_SHA1(nullptr, 0, nullptr, 0, out), 0);
  EXPECT_EQ(ToHex(out, 20), ToHex(want, wantLen));
}

TEST(Hmac, FinalWipesTheKeyedContext) {
  const uint8_t key[16] = {9, 9, 9};
  const uint8_t data[70] = {1};
  uint8_t out[32];
  NC_HMAC_SHA1_CTX c1;
  NC_E_HMAC_SHA1_Init(&c1, key, sizeof(key));
  NC_E_HMAC_SHA1_Update(&c1, data, sizeof(data));
  NC_E_HMAC_SHA1_Final(&c1, out);
  EXPECT_TRUE(AllZero(c1));
  NC_HMAC_SHA256_CTX c2;
  NC_E_HMAC_SHA256_Init(&c2, key, sizeof(key));
  NC_E_HMAC_SHA256_Update(&c2, data, sizeof(data));
  NC_E_HMAC_SHA256_Final(&c2, out);
  EXPECT_TRUE(AllZero(c2));
}

}  // namespace
