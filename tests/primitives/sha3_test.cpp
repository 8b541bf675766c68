// SHA-3 and SHAKE: published example values, OpenSSL on many lengths and
// split points, the refusal rules, and both Keccak bodies.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "primitives/cpu_features.h"
#include "primitives/sha3/keccak.h"
#include "qor/sha3.h"
#include "support/bytes.h"
#include "support/kernel_paths.h"

namespace {

using qor::test::Bytes;
using qor::test::FromHex;
using qor::test::RandomBytes;

struct Variant {
  int bits;
  int shake;
  size_t rateBytes;
  const EVP_MD* (*md)();
};

const Variant kVariants[] = {
    {224, 0, 144, EVP_sha3_224}, {256, 0, 136, EVP_sha3_256}, {384, 0, 104, EVP_sha3_384},
    {512, 0, 72, EVP_sha3_512},  {128, 1, 168, EVP_shake128}, {256, 1, 136, EVP_shake256},
};

Bytes OpenSslDigest(const Variant& v, const Bytes& in, size_t outLen) {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  Bytes out(outLen);
  EXPECT_EQ(1, EVP_DigestInit_ex(ctx, v.md(), nullptr));
  EXPECT_EQ(1, EVP_DigestUpdate(ctx, in.data(), in.size()));
  if (v.shake) {
    EXPECT_EQ(1, EVP_DigestFinalXOF(ctx, out.data(), outLen));
  } else {
    unsigned int n = 0;
    EXPECT_EQ(1, EVP_DigestFinal_ex(ctx, out.data(), &n));
    EXPECT_EQ(outLen, n);
  }
  EVP_MD_CTX_free(ctx);
  return out;
}

Bytes OurOneShot(const Variant& v, const Bytes& in, size_t outLen) {
  Bytes out(outLen);
  EXPECT_EQ(0, sha3_hash(out.data(), outLen, in.data(), in.size(), v.bits, v.shake));
  return out;
}

// Streams |in| in pieces cut at random points (empty pieces included).
Bytes OurStreamed(const Variant& v, const Bytes& in, size_t outLen, std::mt19937_64& rng) {
  SHA3_CTX ctx;
  EXPECT_EQ(0, sha3_init(&ctx, v.bits, v.shake));
  size_t pos = 0;
  while (pos < in.size()) {
    const size_t piece = std::min<size_t>(in.size() - pos, rng() % (2 * v.rateBytes + 2));
    EXPECT_EQ(0, sha3_update(&ctx, in.data() + pos, piece));
    pos += piece;
  }
  Bytes out(outLen);
  EXPECT_EQ(0, sha3_final(&ctx, out.data(), outLen));
  return out;
}

size_t DigestLen(const Variant& v) { return v.shake ? 32 : static_cast<size_t>(v.bits) / 8; }

// Every test runs on each Keccak body this CPU has.
class Sha3Test : public qor::test::KernelPathTest<qor::sha3::g_kernels> {};

TEST_P(Sha3Test, PublishedExampleValues) {
  struct Case {
    int bits;
    int shake;
    const char* msg;
    const char* digest;
  };
  const Case cases[] = {
      {224, 0, "", "6b4e03423667dbb73b6e15454f0eb1abd4597f9a1b078e3f5b5a6bc7"},
      {256, 0, "", "a7ffc6f8bf1ed76651c14756a061d662f580ff4de43b49fa82d80a4b80f8434a"},
      {384, 0, "",
       "0c63a75b845e4f7d01107d852e4c2485c51a50aaaa94fc61995e71bbee983a2ac3713831264adb47fb6bd1e058d5f004"},
      {512, 0, "",
       "a69f73cca23a9ac5c8b567dc185a756e97c982164fe25859e0d1dcc1475c80a615b2123af1f5f94c11e3e9402c3ac558"
       "f500199d95b6d3e301758586281dcd26"},
      {224, 0, "abc", "e642824c3f8cf24ad09234ee7d3c766fc9a3a5168d0c94ad73b46fdf"},
      {256, 0, "abc", "3a985da74fe225b2045c172d6bd390bd855f086e3e9d525b46bfe24511431532"},
      {384, 0, "abc",
       "ec01498288516fc926459f58e2c6ad8df9b473cb0fc08c2596da7cf0e49be4b298d88cea927ac7f539f1edf228376d25"},
      {512, 0, "abc",
       "b751850b1a57168a5693cd924b6b096e08f621827444f70d884f5d0240d2712e10e116e9192af3c91a7ec57647e39340"
       "57340b4cf408d5a56592f8274eec53f0"},
      {128, 1, "", "7f9c2ba4e88f827d616045507605853ed73b8093f6efbc88eb1a6eacfa66ef26"},
      // 256 bytes: the squeeze crosses the 168-byte rate once.
      {128, 1, "",
       "7f9c2ba4e88f827d616045507605853ed73b8093f6efbc88eb1a6eacfa66ef263cb1eea988004b93103cfb0aeefd2a68"
       "6e01fa4a58e8a3639ca8a1e3f9ae57e235b8cc873c23dc62b8d260169afa2f75ab916a58d974918835d25e6a435085b2"
       "badfd6dfaac359a5efbb7bcc4b59d538df9a04302e10c8bc1cbf1a0b3a5120ea17cda7cfad765f5623474d368ccca8af"
       "0007cd9f5e4c849f167a580b14aabdefaee7eef47cb0fca9767be1fda69419dfb927e9df07348b196691abaeb580b32d"
       "ef58538b8d23f87732ea63b02b4fa0f4873360e2841928cd60dd4cee8cc0d4c922a96188d032675c8ac850933c7aff15"
       "33b94c834adbb69c6115bad4692d8619"},
      {256, 1, "",
       "46b9dd2b0ba88d13233b3feb743eeb243fcd52ea62b81b82b50c27646ed5762fd75dc4ddd8c0f200cb05019d67b592f6"
       "fc821c49479ab48640292eacb3b7c4be"},
      // 200 bytes: crosses the 136-byte rate.
      {256, 1, "",
       "46b9dd2b0ba88d13233b3feb743eeb243fcd52ea62b81b82b50c27646ed5762fd75dc4ddd8c0f200cb05019d67b592f6"
       "fc821c49479ab48640292eacb3b7c4be141e96616fb13957692cc7edd0b45ae3dc07223c8e92937bef84bc0eab862853"
       "349ec75546f58fb7c2775c38462c5010d846c185c15111e595522a6bcd16cf86f3d122109e3b1fdd943b6aec468a2d62"
       "1a7c06c6a957c62b54dafc3be87567d677231395f6147293b68ceab7a9e0c58d864e8efde4e1b9a46cbe854713672f5c"
       "aaae314ed9083dab"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.bits) + (c.shake ? " shake " : " sha3 ") + c.msg);
    const Bytes expected = FromHex(c.digest);
    Bytes out(expected.size());
    ASSERT_EQ(0, sha3_hash(out.data(), out.size(), reinterpret_cast<const uint8_t*>(c.msg),
                           std::strlen(c.msg), c.bits, c.shake));
    EXPECT_EQ(expected, out);

    SHA3_CTX ctx;
    ASSERT_EQ(0, sha3_init(&ctx, c.bits, c.shake));
    for (const char* p = c.msg; *p != '\0'; ++p) {
      ASSERT_EQ(0, sha3_update(&ctx, reinterpret_cast<const uint8_t*>(p), 1));
    }
    std::fill(out.begin(), out.end(), 0);
    ASSERT_EQ(0, sha3_final(&ctx, out.data(), out.size()));
    EXPECT_EQ(expected, out);
  }
}

TEST_P(Sha3Test, MatchesOpenSslAroundRateBoundaries) {
  std::mt19937_64 rng(0x5a3c0de);
  for (const Variant& v : kVariants) {
    SCOPED_TRACE(std::to_string(v.bits) + (v.shake ? " shake" : " sha3"));
    std::vector<size_t> lengths;
    for (size_t k = 0; k <= 3; ++k) {
      for (size_t d = 0; d <= 2; ++d) {
        const size_t base = k * v.rateBytes;
        if (base >= d) lengths.push_back(base - d);
        lengths.push_back(base + d);
      }
    }
    for (size_t n = 0; n < 20; ++n) lengths.push_back(rng() % 3000);
    for (const size_t len : lengths) {
      SCOPED_TRACE(len);
      const Bytes in = RandomBytes(rng, len);
      const size_t outLen = DigestLen(v);
      const Bytes expected = OpenSslDigest(v, in, outLen);
      ASSERT_EQ(expected, OurOneShot(v, in, outLen));
      ASSERT_EQ(expected, OurStreamed(v, in, outLen, rng));
    }
  }
}

TEST_P(Sha3Test, ShakeSqueezesAnyLength) {
  std::mt19937_64 rng(77);
  const Bytes in = RandomBytes(rng, 500);
  for (const Variant& v : kVariants) {
    if (!v.shake) continue;
    for (const size_t outLen : {size_t{0}, size_t{1}, v.rateBytes - 1, v.rateBytes, v.rateBytes + 1,
                                3 * v.rateBytes, size_t{1000}}) {
      SCOPED_TRACE(std::to_string(v.bits) + " out " + std::to_string(outLen));
      EXPECT_EQ(OpenSslDigest(v, in, outLen), OurOneShot(v, in, outLen));
    }
  }
}

QOR_INSTANTIATE_KERNEL_PATHS(Sha3Test, qor::sha3::g_kernels);

TEST(Sha3Refusals, HashRefusesBadSizesAndWritesNothing) {
  struct Case {
    int bits;
    int shake;
    size_t outLen;
  };
  const Case cases[] = {
      {256, 0, 31},  // the digest is 32 bytes
      {256, 0, 33}, {512, 0, 32}, {224, 0, 32}, {300, 0, 37}, {0, 0, 0},
      {128, 0, 16},  // 128 is a SHAKE size only
      {224, 1, 28}, {384, 1, 48}, {512, 1, 64}, {-256, 0, 32},
  };
  const uint8_t in[] = {'a', 'b', 'c'};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.bits) + "/" + std::to_string(c.shake) + "/" +
                 std::to_string(c.outLen));
    Bytes out(c.outLen + 8, 0xA5);
    EXPECT_EQ(1, sha3_hash(out.data(), c.outLen, in, sizeof in, c.bits, c.shake));
    EXPECT_EQ(Bytes(c.outLen + 8, 0xA5), out);
  }
}

TEST(Sha3Refusals, NullBuffersAndUnusableContexts) {
  uint8_t out[32];
  const uint8_t in[4] = {1, 2, 3, 4};
  EXPECT_EQ(1, sha3_hash(nullptr, 32, in, 4, 256, 0));
  EXPECT_EQ(1, sha3_hash(out, 32, nullptr, 4, 256, 0));
  EXPECT_EQ(0, sha3_hash(out, 32, nullptr, 0, 256, 0));  // empty input may be NULL
  EXPECT_EQ(FromHex("a7ffc6f8bf1ed76651c14756a061d662f580ff4de43b49fa82d80a4b80f8434a"),
            Bytes(out, out + 32));
  EXPECT_EQ(0, sha3_hash(nullptr, 0, in, 4, 128, 1));  // zero-length SHAKE output

  EXPECT_EQ(1, sha3_init(nullptr, 256, 0));
  SHA3_CTX ctx;
  std::memset(&ctx, 0x5C, sizeof ctx);
  EXPECT_EQ(1, sha3_init(&ctx, 200, 0));
  for (size_t i = 0; i < sizeof ctx; ++i) {
    ASSERT_EQ(0x5C, reinterpret_cast<const uint8_t*>(&ctx)[i]) << "touched by a refused init";
  }

  ASSERT_EQ(0, sha3_init(&ctx, 256, 0));
  EXPECT_EQ(1, sha3_update(nullptr, in, 4));
  EXPECT_EQ(1, sha3_update(&ctx, nullptr, 4));
  EXPECT_EQ(0, sha3_update(&ctx, nullptr, 0));
  EXPECT_EQ(1, sha3_final(&ctx, nullptr, 32));
  EXPECT_EQ(0, sha3_update(&ctx, in, 4));  // a refused final leaves the context usable
  ASSERT_EQ(0, sha3_final(&ctx, out, 32));

  // final wipes the context; it cannot be fed or finished again.
  for (size_t i = 0; i < sizeof ctx; ++i) {
    ASSERT_EQ(0, reinterpret_cast<const uint8_t*>(&ctx)[i]) << "byte " << i << " not wiped";
  }
  EXPECT_EQ(1, sha3_update(&ctx, in, 4));
  EXPECT_EQ(1, sha3_final(&ctx, out, 32));
}

TEST(Sha3Init, SetsRateCapacityAndSuffix) {
  struct Case {
    int bits;
    int shake;
    uint32_t rate;
    uint32_t capacity;
    uint8_t suffix;
  };
  const Case cases[] = {{224, 0, 1152, 448, 0x06}, {256, 0, 1088, 512, 0x06},
                        {384, 0, 832, 768, 0x06},  {512, 0, 576, 1024, 0x06},
                        {128, 1, 1344, 256, 0x1F}, {256, 1, 1088, 512, 0x1F}};
  for (const Case& c : cases) {
    SHA3_CTX ctx;
    ASSERT_EQ(0, sha3_init(&ctx, c.bits, c.shake));
    EXPECT_EQ(c.rate, ctx.rate);
    EXPECT_EQ(c.capacity, ctx.capacity);
    EXPECT_EQ(c.suffix, ctx.suffix);
    EXPECT_EQ(0u, ctx.pos);
  }
}

TEST(Keccak, BodiesAgreeOnRandomStates) {
  std::mt19937_64 rng(2024);
  for (int n = 0; n < 200; ++n) {
    uint64_t reference[25];
    for (auto& lane : reference) lane = rng();
    uint64_t bmi2[25];
    uint64_t avx512[25];
    std::copy(reference, reference + 25, bmi2);
    std::copy(reference, reference + 25, avx512);
    qor::sha3::KeccakF1600Portable(reference);
    if (qor::cpu::HasBmi2()) {
      qor::sha3::KeccakF1600Bmi2(bmi2);
      ASSERT_TRUE(std::equal(reference, reference + 25, bmi2));
    }
    if (qor::cpu::HasAvx512Vl()) {
      qor::sha3::KeccakF1600Avx512(avx512);
      ASSERT_TRUE(std::equal(reference, reference + 25, avx512));
    }
  }
}

TEST(Sha3Threads, ConcurrentDigestsDoNotInterfere) {
  std::mt19937_64 rng(9);
  const Bytes in = RandomBytes(rng, 4096);
  const Bytes expected = OpenSslDigest(kVariants[1], in, 32);
  std::vector<int> failures(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 50; ++round) {
        SHA3_CTX ctx;
        uint8_t out[32];
        sha3_init(&ctx, 256, 0);
        for (size_t pos = 0; pos < in.size(); pos += 100 + t) {
          sha3_update(&ctx, in.data() + pos, std::min<size_t>(100 + t, in.size() - pos));
        }
        sha3_final(&ctx, out, 32);
        if (!std::equal(out, out + 32, expected.begin())) ++failures[t];
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(std::vector<int>(4, 0), failures);
}

}  // namespace
