// SHA-1, SHA-256 (both families), SHA-384 and SHA-512: published vectors,
// differential checks against OpenSSL on both compression paths, streaming
// over random splits, argument handling and context wiping.
#define OPENSSL_SUPPRESS_DEPRECATED  // SHA1_Transform is the only raw-compression oracle
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/sha.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "primitives/cpu_features.h"
#include "primitives/sha/sha_internal.h"
#include "qor/nc_sha.h"
#include "support/bytes.h"
#include "support/kernel_paths.h"

namespace {

using qor::test::AllZero;
using qor::test::Bytes;
using qor::test::FromHex;
using qor::test::ToHex;

// Splits [0, len) into pieces at random cut points (empty pieces included).
std::vector<size_t> RandomPieces(std::mt19937& rng, size_t len) {
  std::vector<size_t> cuts{0, len};
  const int n = static_cast<int>(rng() % 9);
  for (int i = 0; i < n; ++i) cuts.push_back(len == 0 ? 0 : rng() % (len + 1));
  std::sort(cuts.begin(), cuts.end());
  std::vector<size_t> pieces;
  for (size_t i = 1; i < cuts.size(); ++i) pieces.push_back(cuts[i] - cuts[i - 1]);
  return pieces;
}

template <typename Ctx, int (*Init)(Ctx*), int (*Update)(Ctx*, const unsigned char*, size_t),
          int (*Final)(Ctx*, unsigned char*), size_t kLen>
Bytes Streamed(const uint8_t* p, const std::vector<size_t>& pieces) {
  Ctx ctx;
  EXPECT_EQ(Init(&ctx), 0);
  for (size_t n : pieces) {
    EXPECT_EQ(Update(&ctx, p, n), 0);
    p += n;
  }
  Bytes out(kLen);
  EXPECT_EQ(Final(&ctx, out.data()), 0);
  return out;
}

Bytes Sha1Once(const uint8_t* p, size_t n) {
  Bytes out(20);
  EXPECT_EQ(NC_E_SHA1(out.data(), p, n), 0);
  return out;
}
Bytes Sha256Once(const uint8_t* p, size_t n) {
  Bytes out(32);
  int outLen = 0;
  EXPECT_EQ(NC_E_SHA256(out.data(), &outLen, p, n), 0);
  EXPECT_EQ(outLen, 32);
  return out;
}
Bytes NewSha2Once(const uint8_t* p, size_t n) {
  Bytes out(32);
  EXPECT_EQ(NC_NewSha2(out.data(), p, n), 0);
  return out;
}
Bytes Sha384Once(const uint8_t* p, size_t n) {
  Bytes out(48);
  EXPECT_EQ(NC_E_SHA384(out.data(), p, n), 0);
  return out;
}
Bytes Sha512Once(const uint8_t* p, size_t n) {
  Bytes out(64);
  EXPECT_EQ(NC_E_SHA512(out.data(), p, n), 0);
  return out;
}

struct Algo {
  const char* name;
  Bytes (*once)(const uint8_t*, size_t);
  Bytes (*streamed)(const uint8_t*, const std::vector<size_t>&);
  const EVP_MD* (*md)();
};

const Algo kAlgos[] = {
    {"SHA1", Sha1Once,
     Streamed<NC_SHA1_CTX, NC_E_SHA1_Init, NC_E_SHA1_Update, NC_E_SHA1_Final, 20>, EVP_sha1},
    {"SHA256", Sha256Once,
     Streamed<NC_SHA256_CTX, NC_E_SHA256_Init, NC_E_SHA256_Update, NC_E_SHA256_Final, 32>,
     EVP_sha256},
    {"NewSha2", NewSha2Once,
     Streamed<NC_NEWSHA2_CTX, NC_NewSha2_Init, NC_NewSha2_Update, NC_NewSha2_Final, 32>,
     EVP_sha256},
    {"SHA384", Sha384Once,
     Streamed<NC_SHA384_CTX, NC_E_SHA384_Init, NC_E_SHA384_Update, NC_E_SHA384_Final, 48>,
     EVP_sha384},
    {"SHA512", Sha512Once,
     Streamed<NC_SHA512_CTX, NC_E_SHA512_Init, NC_E_SHA512_Update, NC_E_SHA512_Final, 64>,
     EVP_sha512},
};

Bytes OpenSslDigest(const EVP_MD* md, const uint8_t* p, size_t n) {
  Bytes out(EVP_MD_get_size(md));
  unsigned int len = 0;
  EXPECT_EQ(EVP_Digest(p, n, out.data(), &len, md, nullptr), 1);
  return out;
}

// Parameter: (index into kAlgos, the compression kernels to force).
class ShaTest : public ::testing::TestWithParam<std::tuple<int, const char*>> {
 protected:
  void SetUp() override {
    const qor::sha::Kernels* kernels = qor::sha::g_kernels.Find(std::get<1>(GetParam()));
    if (kernels == nullptr) GTEST_SKIP() << std::get<1>(GetParam()) << " is not supported by this processor";
    qor::sha::g_kernels.Force(kernels);
  }
  void TearDown() override { qor::sha::g_kernels.Force(nullptr); }
  const Algo& algo() const { return kAlgos[std::get<0>(GetParam())]; }
};

const std::string k448 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const std::string k896 =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopq"
    "rsmnopqrstnopqrstu";

struct Vector {
  const char* algo;
  std::string message;
  const char* digest;
};

// FIPS 180 example messages and their published digests.
const Vector kVectors[] = {
    {"SHA1", "", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
    {"SHA1", "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
    {"SHA1", k448, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
    {"SHA1", k896, "a49b2446a02c645bf419f995b67091253a04a259"},
    {"SHA1", std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    {"SHA256", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"SHA256", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"SHA256", k448, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {"SHA256", k896, "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
    {"SHA256", std::string(1000000, 'a'),
     "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    {"SHA384", "",
     "38b060a751ac96384cd9327eb1b1e36a21fdb71114be07434c0cc7bf63f6e1da274edebfe76f65fbd51ad2f14898b9"
     "5b"},
    {"SHA384", "abc",
     "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825"
     "a7"},
    {"SHA384", k448,
     "3391fdddfc8dc7393707a65b1b4709397cf8b1d162af05abfe8f450de5f36bc6b0455a8520bc4e6f5fe95b1fe3c845"
     "2b"},
    {"SHA384", k896,
     "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e9fa917460"
     "39"},
    {"SHA384", std::string(1000000, 'a'),
     "9d0e1809716474cb086e834e310a4a1ced149e9c00f248527972cec5704c2a5b07b8b3dc38ecc4ebae97ddd87f3d89"
     "85"},
    {"SHA512", "",
     "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2877eec"
     "2f63b931bd47417a81a538327af927da3e"},
    {"SHA512", "abc",
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feeb"
     "bd454d4423643ce80e2a9ac94fa54ca49f"},
    {"SHA512", k448,
     "204a8fc6dda82f0a0ced7beb8e08a41657c16ef468b228a8279be331a703c33596fd15c13b1b07f9aa1d3bea57789c"
     "a031ad85c7a71dd70354ec631238ca3445"},
    {"SHA512", k896,
     "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec4b543"
     "3ac7d329eeb6dd26545e96e55b874be909"},
    {"SHA512", std::string(1000000, 'a'),
     "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973ebde0ff244877ea60a4cb0432ce577c3"
     "1beb009c5c2c49aa2e4eadb217ad8cc09b"},
};

TEST_P(ShaTest, PublishedVectorsOneShotAndStreamed) {
  // NC_NewSha2 must give the SHA-256 digests.
  const std::string want = std::string(algo().name) == "NewSha2" ? "SHA256" : algo().name;
  int checked = 0;
  for (const Vector& v : kVectors) {
    if (want != v.algo) continue;
    const auto* p = reinterpret_cast<const uint8_t*>(v.message.data());
    const size_t n = v.message.size();
    EXPECT_EQ(ToHex(algo().once(p, n)), v.digest) << "length " << n;
    // The million-'a' message is streamed in 1000 pieces of 1000, as published.
    std::vector<size_t> pieces = n == 1000000 ? std::vector<size_t>(1000, 1000)
                                              : std::vector<size_t>(n, 1);  // byte by byte
    EXPECT_EQ(ToHex(algo().streamed(p, pieces)), v.digest) << "streamed, length " << n;
    ++checked;
  }
  EXPECT_EQ(checked, 5);
}

TEST_P(ShaTest, MatchesOpenSslOnEveryShortLengthAndRandomLongOnes) {
  std::mt19937 rng(1234 + std::get<0>(GetParam()));
  Bytes data(5000);
  for (auto& b : data) b = static_cast<uint8_t>(rng());

  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 300; ++n) lengths.push_back(n);  // every pad boundary of both block sizes
  for (size_t block : {64, 128}) {
    for (size_t k = 3; k <= 16; ++k) {
      for (int d = -2; d <= 2; ++d) lengths.push_back(block * k + d);
      lengths.push_back(block * k - 9);
      lengths.push_back(block * k - 17);
    }
  }
  for (int i = 0; i < 100; ++i) lengths.push_back(rng() % (data.size() + 1));

  for (size_t n : lengths) {
    // Start at an odd offset now and then so unaligned input is covered.
    const size_t offset = n < data.size() ? n % 3 : 0;
    const uint8_t* p = data.data() + offset;
    const std::string want = ToHex(OpenSslDigest(algo().md(), p, n));
    ASSERT_EQ(ToHex(algo().once(p, n)), want) << "length " << n;
    ASSERT_EQ(ToHex(algo().streamed(p, RandomPieces(rng, n))), want) << "streamed, length " << n;
  }
}

std::string ParamName(const ::testing::TestParamInfo<std::tuple<int, const char*>>& info) {
  return std::string(kAlgos[std::get<0>(info.param)].name) + "_" +
         qor::test::KernelPathName({std::get<1>(info.param), info.index});
}

INSTANTIATE_TEST_SUITE_P(AllHashes, ShaTest,
                         ::testing::Combine(::testing::Range(0, 5), ::testing::ValuesIn(qor::sha::g_kernels.Names())),
                         ParamName);

TEST(ShaDispatch, FastPathIsChosenWhenTheCpuHasIt) {
  qor::sha::g_kernels.Force(nullptr);
  if (qor::cpu::HasShaNi()) {
    EXPECT_STREQ(qor::sha::Sha256Implementation(), "sha-ni");
  }
  if (qor::cpu::HasAvx512Vl() && qor::cpu::HasAvx512Bw() && qor::cpu::HasAvx2Bmi2()) {
    EXPECT_STREQ(qor::sha::Sha512Implementation(), "avx512");
  } else if (qor::cpu::HasAvx2Bmi2()) {
    EXPECT_STREQ(qor::sha::Sha512Implementation(), "avx2");
  }
  qor::sha::g_kernels.Force(&qor::sha::PortableKernels());
  EXPECT_STREQ(qor::sha::Sha256Implementation(), "portable");
  EXPECT_STREQ(qor::sha::Sha512Implementation(), "portable");
  qor::sha::g_kernels.Force(nullptr);
}

// The block functions must agree with each other on multi-block runs too
// (the one-shot paths above mostly feed one or two blocks per call).
TEST(ShaDispatch, FastAndPortableBlockFunctionsAgreeOnLongRuns) {
  std::mt19937 rng(99);
  Bytes data(128 * 40);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  for (size_t blocks : {1, 2, 3, 4, 5, 6, 7, 8, 9, 40}) {
    uint32_t a1[5], b1[5], a2[8], b2[8];
    uint64_t a5[8], b5[8];
    std::copy(std::begin(qor::sha::kSha1Init), std::end(qor::sha::kSha1Init), a1);
    std::copy(std::begin(qor::sha::kSha1Init), std::end(qor::sha::kSha1Init), b1);
    std::copy(std::begin(qor::sha::kSha256Init), std::end(qor::sha::kSha256Init), a2);
    std::copy(std::begin(qor::sha::kSha256Init), std::end(qor::sha::kSha256Init), b2);
    std::copy(std::begin(qor::sha::kSha512Init), std::end(qor::sha::kSha512Init), a5);
    std::copy(std::begin(qor::sha::kSha512Init), std::end(qor::sha::kSha512Init), b5);
    qor::sha::Sha1BlocksPortable(a1, data.data(), blocks);
    qor::sha::Sha256BlocksPortable(a2, data.data(), blocks);
    qor::sha::Sha512BlocksPortable(a5, data.data(), blocks);
    if (qor::cpu::HasShaNi()) {
      qor::sha::Sha1BlocksShaNi(b1, data.data(), blocks);
      qor::sha::Sha256BlocksShaNi(b2, data.data(), blocks);
      EXPECT_TRUE(std::equal(a1, a1 + 5, b1)) << blocks;
      EXPECT_TRUE(std::equal(a2, a2 + 8, b2)) << blocks;
    }
    if (qor::cpu::HasAvx2Bmi2()) {
      qor::sha::Sha512BlocksAvx2(b5, data.data(), blocks);
      EXPECT_TRUE(std::equal(a5, a5 + 8, b5)) << blocks;
    }
    if (qor::cpu::HasAvx512Vl() && qor::cpu::HasAvx512Bw() && qor::cpu::HasAvx2Bmi2()) {
      std::copy(std::begin(qor::sha::kSha512Init), std::end(qor::sha::kSha512Init), b5);
      qor::sha::Sha512BlocksAvx512(b5, data.data(), blocks);
      EXPECT_TRUE(std::equal(a5, a5 + 8, b5)) << blocks << " blocks, AVX-512";
    }
  }
}

// File digests stream NC_NewSha2 over 1 MiB pieces; the result must be the
// SHA-256 of the whole file as NC_E_SHA256 computes it in one call.
TEST(NewSha2, StreamedOverFilePiecesEqualsSha256OfTheWhole) {
  std::mt19937 rng(2024);
  Bytes file(3 * 1048576 + 5);
  for (auto& b : file) b = static_cast<uint8_t>(rng());
  NC_NEWSHA2_CTX ctx;
  ASSERT_EQ(NC_NewSha2_Init(&ctx), 0);
  for (size_t at = 0; at < file.size(); at += 1048576) {
    ASSERT_EQ(NC_NewSha2_Update(&ctx, file.data() + at, std::min<size_t>(1048576, file.size() - at)),
              0);
  }
  uint8_t streamed[32], whole[32];
  int wholeLen = 0;
  ASSERT_EQ(NC_NewSha2_Final(&ctx, streamed), 0);
  ASSERT_EQ(NC_E_SHA256(whole, &wholeLen, file.data(), file.size()), 0);
  EXPECT_EQ(ToHex(Bytes(streamed, streamed + 32)), ToHex(Bytes(whole, whole + 32)));
}

TEST(Sha256, ReportsThirtyTwoAsOutputLengthAlways) {
  uint8_t out[32];
  int outLen = -7;
  EXPECT_EQ(NC_E_SHA256(out, &outLen, nullptr, 0), 0);
  EXPECT_EQ(outLen, 32);
  outLen = -7;
  EXPECT_EQ(NC_E_SHA256(out, &outLen, reinterpret_cast<const uint8_t*>("abc"), 3), 0);
  EXPECT_EQ(outLen, 32);
  EXPECT_EQ(NC_E_SHA256(out, nullptr, reinterpret_cast<const uint8_t*>("abc"), 3), 0);
}

TEST(Sha, NullArgumentsAreRefusedAndEmptyNullInputIsAccepted) {
  uint8_t out[64];
  const uint8_t in[1] = {0};
  NC_SHA1_CTX c1;
  NC_SHA256_CTX c2;
  NC_NEWSHA2_CTX c3;
  NC_SHA512_CTX c5;
  struct Case {
    const char* what;
    int rc;
  } cases[] = {
      {"SHA1 null out", NC_E_SHA1(nullptr, in, 1)},
      {"SHA1 null in", NC_E_SHA1(out, nullptr, 1)},
      {"SHA256 null out", NC_E_SHA256(nullptr, nullptr, in, 1)},
      {"SHA256 null in", NC_E_SHA256(out, nullptr, nullptr, 1)},
      {"NewSha2 null out", NC_NewSha2(nullptr, in, 1)},
      {"SHA384 null in", NC_E_SHA384(out, nullptr, 1)},
      {"SHA512 null out", NC_E_SHA512(nullptr, in, 1)},
      {"SHA1_Init null", NC_E_SHA1_Init(nullptr)},
      {"SHA256_Init null", NC_E_SHA256_Init(nullptr)},
      {"NewSha2_Init null", NC_NewSha2_Init(nullptr)},
      {"SHA384_Init null", NC_E_SHA384_Init(nullptr)},
      {"SHA512_Init null", NC_E_SHA512_Init(nullptr)},
      {"SHA1_Update null ctx", NC_E_SHA1_Update(nullptr, in, 1)},
      {"SHA1_Update null in", (NC_E_SHA1_Init(&c1), NC_E_SHA1_Update(&c1, nullptr, 1))},
      {"SHA256_Update null in", (NC_E_SHA256_Init(&c2), NC_E_SHA256_Update(&c2, nullptr, 1))},
      {"NewSha2_Update null in", (NC_NewSha2_Init(&c3), NC_NewSha2_Update(&c3, nullptr, 1))},
      {"SHA512_Update null in", (NC_E_SHA512_Init(&c5), NC_E_SHA512_Update(&c5, nullptr, 1))},
      {"SHA1_Final null out", NC_E_SHA1_Final(&c1, nullptr)},
      {"SHA256_Final null ctx", NC_E_SHA256_Final(nullptr, out)},
      {"NewSha2_Final null out", NC_NewSha2_Final(&c3, nullptr)},
      {"SHA384_Final null out", NC_E_SHA384_Final(&c5, nullptr)},
      {"SHA512_Final null ctx", NC_E_SHA512_Final(nullptr, out)},
  };
  for (const Case& c : cases) EXPECT_EQ(c.rc, -1) << c.what;

  // A refused update leaves the context usable; an empty NULL piece is fine,
  // also while bytes are waiting in the buffer.
  EXPECT_EQ(NC_E_SHA1_Update(&c1, reinterpret_cast<const uint8_t*>("abc"), 3), 0);
  EXPECT_EQ(NC_E_SHA1_Update(&c1, nullptr, 0), 0);
  EXPECT_EQ(NC_E_SHA1_Final(&c1, out), 0);
  EXPECT_EQ(ToHex(Bytes(out, out + 20)), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(NC_E_SHA512(out, nullptr, 0), 0);
  EXPECT_EQ(ToHex(Bytes(out, out + 4)), "cf83e135");
}

TEST(Sha, FinalWipesTheContext) {
  const uint8_t in[100] = {1, 2, 3};
  uint8_t out[64];
  NC_SHA1_CTX c1;
  NC_E_SHA1_Init(&c1);
  NC_E_SHA1_Update(&c1, in, sizeof(in));
  NC_E_SHA1_Final(&c1, out);
  EXPECT_TRUE(AllZero(c1));
  NC_SHA256_CTX c2;
  NC_E_SHA256_Init(&c2);
  NC_E_SHA256_Update(&c2, in, sizeof(in));
  NC_E_SHA256_Final(&c2, out);
  EXPECT_TRUE(AllZero(c2));
  NC_NEWSHA2_CTX c3;
  NC_NewSha2_Init(&c3);
  NC_NewSha2_Update(&c3, in, sizeof(in));
  NC_NewSha2_Final(&c3, out);
  EXPECT_TRUE(AllZero(c3));
  NC_SHA512_CTX c5;
  NC_E_SHA384_Init(&c5);
  NC_E_SHA384_Update(&c5, in, sizeof(in));
  NC_E_SHA384_Final(&c5, out);
  EXPECT_TRUE(AllZero(c5));
}

// Contexts are independent: threads hashing at once get the same digests as
// one thread (this also races the one-time choice of the compression).
TEST(Sha, ConcurrentDigestsDoNotInterfere) {
  std::mt19937 rng(5);
  Bytes data(3000);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  std::vector<std::string> results(4);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      std::string acc;
      for (int round = 0; round < 50; ++round) {
        for (const Algo& a : kAlgos) acc += ToHex(a.once(data.data(), 1000 + round * 37));
      }
      results[t] = acc;
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 1; t < 4; ++t) EXPECT_EQ(results[t], results[0]);
}

// One compression from the standard initial value, compared with OpenSSL's
// raw block function on random blocks and on both compression paths.
TEST(MySha1, EqualsOneRawCompression) {
  // The padded one-block message "abc" compresses to SHA-1("abc").
  uint8_t block[64] = {'a', 'b', 'c', 0x80};
  block[63] = 24;  // bit length
  uint8_t out[20];
  for (const char* path : qor::sha::g_kernels.Names()) {
    const qor::sha::Kernels* kernels = qor::sha::g_kernels.Find(path);
    if (kernels == nullptr) continue;
    SCOPED_TRACE(path);
    qor::sha::g_kernels.Force(kernels);
    ASSERT_EQ(NC_E_MySHA1(out, block), 0);
    EXPECT_EQ(ToHex(Bytes(out, out + 20)), "a9993e364706816aba3e25717850c26c9cd0d89d");

    std::mt19937 rng(17);
    for (int i = 0; i < 50; ++i) {
      uint8_t random[64];
      for (auto& b : random) b = static_cast<uint8_t>(rng());
      SHA_CTX ref;
      SHA1_Init(&ref);
      SHA1_Transform(&ref, random);
      uint8_t want[20];
      const uint32_t words[5] = {ref.h0, ref.h1, ref.h2, ref.h3, ref.h4};
      for (int w = 0; w < 5; ++w) qor::sha::StoreBe32(want + 4 * w, words[w]);
      ASSERT_EQ(NC_E_MySHA1(out, random), 0);
      EXPECT_EQ(ToHex(Bytes(out, out + 20)), ToHex(Bytes(want, want + 20)));
    }
  }
  qor::sha::g_kernels.Force(nullptr);
  EXPECT_EQ(NC_E_MySHA1(nullptr, block), -1);
  EXPECT_EQ(NC_E_MySHA1(out, nullptr), -1);
}

TEST(X962G, ReproducesThePublishedGeneratorExample) {
  // The DSA private-key example of FIPS 186-2 (change notice 1): w0 and w1
  // are G(t, XKEY) for two successive 160-bit XKEY values.
  struct Case {
    const char* c;
    const char* g;
  } cases[] = {
      {"bd029bbe7f51960bcf9edb2b61f06f0feb5a38b6", "2070b3223dba372fde1c0ffc7b2e3b498b260614"},
      {"dd734ee0bd0bcd3badbaeb27dd1eaa5976803ecb", "3c6c18bacb0f6c55babb13788e20d737a3275116"},
  };
  for (const Case& c : cases) {
    const Bytes in = FromHex(c.c);
    uint8_t out[20];
    ASSERT_EQ(NC_E_X9_62_G(out, in.data(), in.size()), 0);
    EXPECT_EQ(ToHex(Bytes(out, out + 20)), c.g);
  }

  // Longer seeds are zero-padded to one block: G of 64 bytes is MySHA1.
  uint8_t seed[64];
  for (int i = 0; i < 64; ++i) seed[i] = static_cast<uint8_t>(i * 7);
  uint8_t g[20], m[20];
  ASSERT_EQ(NC_E_X9_62_G(g, seed, 64), 0);
  ASSERT_EQ(NC_E_MySHA1(m, seed), 0);
  EXPECT_EQ(ToHex(Bytes(g, g + 20)), ToHex(Bytes(m, m + 20)));

  // Seeds must be 160 to 512 bits.
  EXPECT_EQ(NC_E_X9_62_G(g, seed, 19), -1);
  EXPECT_EQ(NC_E_X9_62_G(g, seed, 65), -1);
  EXPECT_EQ(NC_E_X9_62_G(g, nullptr, 20), -1);
  EXPECT_EQ(NC_E_X9_62_G(nullptr, seed, 20), -1);
}

}  // namespace
