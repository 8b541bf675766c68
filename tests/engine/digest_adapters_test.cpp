// One-way adapters: digests against OpenSSL and Crypto++, the published LSH
// values, pseudo-decrypts, the unknown-algorithm entries and their messages.
#include <crypto++/lsh.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>

#include "qor/cipher_util.h"
#include "support/bytes.h"
#include "support/log_capture.h"

namespace {

using qor::test::Bytes;
using qor::test::FromHex;
using qor::test::RandomBytes;

Bytes Evp(const EVP_MD* md, const Bytes& in) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  EVP_Digest(in.data(), in.size(), out, &n, md, nullptr);
  return Bytes(out, out + n);
}

template <class H>
Bytes Cryptopp(const Bytes& in) {
  H h;
  Bytes out(h.DigestSize());
  h.CalculateDigest(out.data(), in.data(), in.size());
  return out;
}

// Runs a digest entry of the encrypt table; key, IV, version and record-IV
// flag are set to values a digest must ignore.
Bytes DigestOf(CipherEncryptFn fn, Bytes in) {
  in.reserve(in.size() + 17);
  DataBuffer d{static_cast<int32_t>(in.size()), in.empty() ? nullptr : in.data()};
  DataBuffer out{};
  const unsigned char iv[16] = {1, 2, 3, 4};
  EXPECT_EQ(fn(&d, nullptr, iv, &out, 7, 1, 1), 0);
  if (out.data == nullptr) return {};
  EXPECT_EQ(out.data[out.length], 0);
  Bytes r(out.data, out.data + out.length);
  std::free(out.data);
  return r;
}

TEST(DigestAdapters, MatchIndependentImplementations) {
  struct Case {
    uint32_t code;
    Bytes (*oracle)(const Bytes&);
  } const cases[] = {
      {QOR_ALG_SHA1, [](const Bytes& b) { return Evp(EVP_sha1(), b); }},
      {QOR_ALG_SHA256, [](const Bytes& b) { return Evp(EVP_sha256(), b); }},
      {QOR_ALG_SHA384, [](const Bytes& b) { return Evp(EVP_sha384(), b); }},
      {QOR_ALG_SHA512, [](const Bytes& b) { return Evp(EVP_sha512(), b); }},
      {QOR_ALG_SHA3_256_B, [](const Bytes& b) { return Evp(EVP_sha3_256(), b); }},
      {QOR_ALG_SHA3_256, [](const Bytes& b) { return Evp(EVP_sha3_256(), b); }},
      {QOR_ALG_SHA3_512, [](const Bytes& b) { return Evp(EVP_sha3_512(), b); }},
      {QOR_ALG_LSH512_256, Cryptopp<CryptoPP::LSH512_256>},
      {QOR_ALG_LSH512_512, Cryptopp<CryptoPP::LSH512>},
  };
  std::mt19937 rng(21);
  for (const Case& c : cases) {
    for (size_t len : {0u, 1u, 3u, 111u, 128u, 256u, 1000u}) {
      const Bytes in = RandomBytes(rng, len);
      EXPECT_EQ(DigestOf(EncryptFunctions[c.code], in), c.oracle(in)) << "code " << c.code << " length " << len;
    }
  }
}

TEST(DigestAdapters, TwoArgumentForms) {
  std::mt19937 rng(22);
  Bytes in = RandomBytes(rng, 77);
  DataBuffer d{77, in.data()};
  struct Case {
    int (*fn)(const DataBuffer*, DataBuffer*);
    const EVP_MD* md;
  } const cases[] = {{doSHA1Encrypt, EVP_sha1()},     {doDigest, EVP_sha1()},
                     {doSHA256Encrypt, EVP_sha256()}, {doDigest256, EVP_sha256()},
                     {doSHA384Encrypt, EVP_sha384()}, {doSHA512Encrypt, EVP_sha512()}};
  for (const Case& c : cases) {
    DataBuffer out{};
    ASSERT_EQ(c.fn(&d, &out), 0);
    EXPECT_EQ(Bytes(out.data, out.data + out.length), Evp(c.md, in));
    std::free(out.data);
  }
  for (int bits : {224, 256, 384, 512}) {
    DataBuffer out{};
    ASSERT_EQ(doSHA3_Encrypt(&d, &out, bits), 0);
    const EVP_MD* md = bits == 224 ? EVP_sha3_224() : bits == 256 ? EVP_sha3_256() : bits == 384 ? EVP_sha3_384() : EVP_sha3_512();
    EXPECT_EQ(Bytes(out.data, out.data + out.length), Evp(md, in)) << bits;
    std::free(out.data);
  }
}

TEST(DigestAdapters, PublishedLshValues) {
  Bytes abc = {'a', 'b', 'c'};
  EXPECT_EQ(DigestOf(doLSH512_256Encrypt, abc), FromHex("cd892310532602332b613f1ec11a6962fca61ea09ecffcd4bcf75858d802edec"));
  EXPECT_EQ(DigestOf(doLSH512_512Encrypt, abc),
            FromHex("a3d93cfe60dc1aacdd3bd4bef0a6985381a396c7d49d9fd177795697c3535208b5c57224bef21084d42083e95a4bd8eb"
                    "33e869812b65031c428819a1e7ce596d"));
  // The empty value, with no bytes behind it.
  EXPECT_EQ(DigestOf(doLSH512_256Encrypt, {}), Cryptopp<CryptoPP::LSH512_256>({}));
}

TEST(DigestAdapters, RefusedSizesAndArguments) {
  Bytes in = {'x'};
  DataBuffer d{1, in.data()};
  DataBuffer negative{-1, in.data()};
  DataBuffer missing{4, nullptr};
  struct Case {
    std::function<int(DataBuffer*)> call;
    const char* func;
    const char* unit;
    const char* message;
  } const cases[] = {
      {[&](DataBuffer* o) { return doSHA3_Encrypt(&d, o, 300); }, "doSHA3_Encrypt", "CuSHA3",
       "SHA3 : Not supported hash size\n"},
      {[&](DataBuffer* o) { return doLSH256_Encrypt(&d, o, 512); }, "doLSH256_Encrypt", "CuLSH",
       "LSH512 : Not supported hash size\n"},
      {[&](DataBuffer* o) { return doLSH512_Encrypt(&d, o, 256); }, "doLSH512_Encrypt", "CuLSH",
       "LSH512 : Not supported hash size\n"},
      {[&](DataBuffer* o) { return doSHA256Encrypt(&negative, o); }, "doSHA256Encrypt", "CuSHA256",
       "The input contains a NULL value.\n"},
      {[&](DataBuffer* o) { return doSHA512Encrypt(&missing, o); }, "doSHA512Encrypt", "CuSHA512",
       "The input contains a NULL value.\n"},
      {[&](DataBuffer* o) { return doSHA384Encrypt(nullptr, o); }, "doSHA384Encrypt", "CuSHA384",
       "The input contains a NULL value.\n"},
      {[&](DataBuffer*) { return doSHA3_Encrypt(&d, nullptr, 256); }, "doSHA3_Encrypt", "CuSHA3",
       "The input contains a NULL value.\n"},
  };
  for (const Case& c : cases) {
    qor::test::LogCapture log;
    ASSERT_TRUE(log.ok());
    DataBuffer out{};
    EXPECT_EQ(c.call(&out), -1) << c.func;
    EXPECT_EQ(out.data, nullptr);
    const std::string text = log.text();
    EXPECT_NE(text.find(std::string(c.func) + " [source/Crypto/" + c.unit + ":"), std::string::npos) << text;
    EXPECT_NE(text.find(std::string("] >> ") + c.message), std::string::npos) << text;
  }
}

TEST(PseudoDecrypt, ReturnsACopy) {
  const CipherDecryptFn fns[] = {doSHA1DecryptPseude,   doSHA256DecryptPseude, doSHA384DecryptPseude,
                                 doSHA512DecryptPseude, doSHA3_DecryptPseude,  doLSHDecryptPseude};
  Bytes in = {'h', 'a', 's', 'h', 0, 'x'};
  for (CipherDecryptFn fn : fns) {
    DataBuffer d{static_cast<int32_t>(in.size()), in.data()};
    DataBuffer out{};
    ASSERT_EQ(fn(&d, nullptr, nullptr, &out, 1, 1), 0);
    EXPECT_NE(out.data, in.data());
    EXPECT_EQ(Bytes(out.data, out.data + out.length), in);
    EXPECT_EQ(out.data[out.length], 0);
    std::free(out.data);
    for (DataBuffer bad : {DataBuffer{0, in.data()}, DataBuffer{-2, in.data()}, DataBuffer{3, nullptr}}) {
      out = DataBuffer{5, in.data()};
      EXPECT_EQ(fn(&bad, nullptr, nullptr, &out, 0, 0), -1);
      EXPECT_EQ(out.data, nullptr);
      EXPECT_EQ(out.length, 0);
    }
    EXPECT_EQ(fn(nullptr, nullptr, nullptr, &out, 0, 0), -1);
    EXPECT_EQ(fn(&d, nullptr, nullptr, nullptr, 0, 0), -1);
  }
}

TEST(UnknownAdapters, FailWithTheirMessage) {
  for (uint32_t code : {0u, 4u, 25u}) {
    qor::test::LogCapture log;
    ASSERT_TRUE(log.ok());
    Bytes in(32, 'a');
    DataBuffer d{3, in.data()}, out{};
    EXPECT_EQ(EncryptFunctions[code](&d, nullptr, nullptr, &out, 1, 0, 0), -1);
    EXPECT_EQ(DecryptFunctions[code](&d, nullptr, nullptr, &out, 0, 0), -1);
    EXPECT_EQ(out.data, nullptr);
    const std::string text = log.text();
    EXPECT_NE(text.find("doUnknownEncryptEx [source/Crypto/CuUNKNOWN:"), std::string::npos) << text;
    EXPECT_NE(text.find("doUnknownDecrypt [source/Crypto/CuUNKNOWN:"), std::string::npos) << text;
    EXPECT_NE(text.find("] >> Unknwon Algorithm\n"), std::string::npos) << text;
  }
}

}  // namespace
