// Value formats: every block cipher's binary value rebuilt independently from
// the key, the policy IV (record IV in its first four bytes) and the padded
// plaintext; the text form with and without "$."; digests against OpenSSL;
// digit strings that keep their length.
#include "engine/core/core.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/core_support.h"
#include "support/bytes.h"

namespace {

using namespace qor::test;

struct CipherCase {
  const char* name;
  uint32_t alg;
  int keyLength;
};

const CipherCase kCiphers[] = {
    {"SEED", QOR_ALG_SEED, 16},           {"ARIA128", QOR_ALG_ARIA128, 16},
    {"ARIA256", QOR_ALG_ARIA256, 32},     {"AES128", QOR_ALG_AES128, 16},
    {"AES256", QOR_ALG_AES256, 32},       {"LEA128", QOR_ALG_LEA128, 16},
    {"LEA256", QOR_ALG_LEA256, 32},       {"DES3_2key", QOR_ALG_DES3_2KEY, 16},
    {"DES3_3key", QOR_ALG_DES3_3KEY, 24},
};

class ValueLayout : public ::testing::TestWithParam<CipherCase> {};

// Binary value: [version, 0xFE] + CBC(padded value) + [record IV]; and back.
TEST_P(ValueLayout, BinaryValueMatchesIndependentCbc) {
  const CipherCase c = GetParam();
  for (int version : {0, 258}) {
    for (int recordMode : {0, 1, 2}) {  // none, drawn by this call, set beforehand
      for (size_t len : {0u, 5u, 16u, 33u}) {
        SCOPED_TRACE(::testing::Message()
                     << "version " << version << " record " << recordMode << " len " << len);
        PolicyDesc desc;
        desc.alg = c.alg;
        desc.keyLength = c.keyLength;
        desc.versions = {{version}};
        desc.recordIv = recordMode != 0;
        Policy p(desc);
        ASSERT_TRUE(p.ok());
        Bytes plain(len);
        for (size_t i = 0; i < len; ++i) plain[i] = static_cast<uint8_t>(i * 13 + 3);
        if (recordMode == 2) {
          ASSERT_EQ(0, UACipherUtil_SetRecordIV(p.self(), nullptr));
        }
        const uint32_t before = g_RecordIV;
        In in(plain, kSpare);
        Out out;
        ASSERT_EQ(0, p->Encrypt_API(p.self(), in.get(), out.get()));
        EXPECT_EQ(static_cast<int>(len), in.buf().length) << "the caller's length is kept";
        // A pending IV is taken; otherwise this call drew the next one.
        const uint32_t recordIv = g_RecordIV;
        if (recordMode == 1) {
          EXPECT_EQ(before + 1, recordIv);
        } else if (recordMode == 2) {
          EXPECT_EQ(before, recordIv);
        }
        const Bytes expected =
            ExpectedValue(c.alg, c.keyLength, version, plain,
                          recordMode != 0 ? reinterpret_cast<const uint8_t*>(&recordIv) : nullptr);
        EXPECT_EQ(ToHex(expected), ToHex(out.bytes()));
        EXPECT_EQ(0, out.buf.data[out.buf.length]) << "zero-terminated";

        In stored(out.bytes(), 0);
        Out back;
        ASSERT_EQ(0, p->Decrypt_API(p.self(), stored.get(), back.get()));
        EXPECT_EQ(ToHex(plain), ToHex(back.bytes()));
      }
    }
  }
}

// Text value: "$." + Base64 under compatibility 0; Base64 of the value with
// its blank under compatibility 1.
TEST_P(ValueLayout, TextFormWithAndWithoutPrefix) {
  const CipherCase c = GetParam();
  for (int compatibility : {0, 1}) {
    SCOPED_TRACE(compatibility);
    PolicyDesc desc;
    desc.alg = c.alg;
    desc.keyLength = c.keyLength;
    desc.versions = {{258}};
    desc.compatibility = compatibility;
    Policy p(desc);
    ASSERT_TRUE(p.ok());
    const std::string value = "4321";
    In in(value, kSpare);
    Out out;
    ASSERT_EQ(0, p->EncryptToBase64_ACC(p.self(), in.get(), out.get(), 0, "", "", ""));
    const std::string text = out.str();
    EXPECT_EQ(compatibility == 0, text.rfind("$.", 0) == 0) << text;
    const std::string plain = compatibility == 0 ? value : value + " ";
    const Bytes expected =
        ExpectedValue(c.alg, c.keyLength, 258, Bytes(plain.begin(), plain.end()), nullptr);
    EXPECT_EQ(B64(expected, compatibility), text);
    EXPECT_EQ(0x01, UnB64(text, compatibility).at(0));
    EXPECT_EQ(0xFE, UnB64(text, compatibility).at(2));

    In stored(text, 0);
    Out back;
    ASSERT_EQ(0, p->DecryptFromBase64_ACC(p.self(), stored.get(), back.get(), nullptr, "", "", ""));
    EXPECT_EQ(value, back.str());
  }
}

INSTANTIATE_TEST_SUITE_P(Ciphers, ValueLayout, ::testing::ValuesIn(kCiphers),
                         [](const auto& param) { return std::string(param.param.name); });

Bytes OpenSslDigest(const EVP_MD* md, const std::string& value) {
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned int n = 0;
  EVP_Digest(value.data(), value.size(), out.data(), &n, md, nullptr);
  out.resize(n);
  return out;
}

// Digest policies: the text value is the Base64 digest (blank only under
// compatibility 3); decryption hands the text back with 3103.
TEST(DigestValue, MatchesOpenSslAndDecryptsToItself) {
  struct Case {
    uint32_t alg;
    const EVP_MD* md;
  };
  const Case cases[] = {{QOR_ALG_SHA256, EVP_sha256()},
                        {QOR_ALG_SHA512, EVP_sha512()},
                        {QOR_ALG_SHA3_256, EVP_sha3_256()},
                        {QOR_ALG_SHA3_512, EVP_sha3_512()}};
  const std::string value = "digest me, please";
  for (const Case& c : cases) {
    for (int compatibility : {0, 1, 3}) {
      SCOPED_TRACE(::testing::Message() << "alg " << c.alg << " compatibility " << compatibility);
      PolicyDesc desc;
      desc.alg = c.alg;
      desc.versions = {{3}};
      desc.compatibility = compatibility;
      Policy p(desc);
      ASSERT_TRUE(p.ok());
      In in(value, kSpare);
      Out out;
      ASSERT_EQ(0, p->EncryptToBase64_ACC(p.self(), in.get(), out.get(), 0, "", "", ""));
      const std::string hashed = compatibility == 3 ? value + " " : value;
      EXPECT_EQ(B64(OpenSslDigest(c.md, hashed), compatibility), out.str());

      In stored(out.str(), 0);
      Out back;
      EXPECT_EQ(3103,
                p->DecryptFromBase64_ACC(p.self(), stored.get(), back.get(), nullptr, "", "", ""));
      EXPECT_EQ(out.str(), back.str());
    }
  }
}

TEST(DigestValue, BinaryDecryptionOfSha2IsRefused) {
  PolicyDesc desc;
  desc.alg = QOR_ALG_SHA256;
  Policy p(desc);
  ASSERT_TRUE(p.ok());
  In in(std::string(32, 'x'), 0);
  Out out;
  EXPECT_EQ(-1, p->Decrypt_API_ACC(p.self(), in.get(), out.get(), nullptr, "", "", ""));
  EXPECT_EQ(-1, p->Decrypt_API(p.self(), in.get(), out.get()));
  EXPECT_EQ(nullptr, out.buf.data);
}

// Digit policies: the text value is the letter string itself, as long as the
// digits, under any key version; it decrypts back to the digits.
TEST(DigitValue, RoundTripKeepsLength) {
  for (int version : {0, 3}) {
    for (int compatibility : {0, 1}) {
      PolicyDesc desc;
      desc.alg = QOR_ALG_FPE;
      desc.versions = {{version}};
      desc.compatibility = compatibility;
      desc.recordIv = true;  // a RECORD policy's digits carry no tail either
      Policy p(desc);
      ASSERT_TRUE(p.ok());
      for (const std::string digits : {"12", "0123456789", "9876543210123456", "12345678901234567",
                                       "000000000000000000000000000000000000000042"}) {
        SCOPED_TRACE(::testing::Message()
                     << "version " << version << " compat " << compatibility << " " << digits);
        In in(digits, kSpare);
        Out out;
        ASSERT_EQ(0, p->EncryptToBase64_ACC(p.self(), in.get(), out.get(), 0, "", "", ""));
        const std::string letters = out.str();
        ASSERT_EQ(digits.size(), letters.size());
        EXPECT_EQ(1, isUppercaseAlphabet(letters.data(), static_cast<int>(letters.size())));

        In stored(letters, 0);
        Out back;
        ASSERT_EQ(
            0, p->DecryptFromBase64_ACC(p.self(), stored.get(), back.get(), nullptr, "", "", ""));
        EXPECT_EQ(digits, back.str());
        Out binary;
        ASSERT_EQ(0, p->Decrypt_API_ACC(p.self(), stored.get(), binary.get(), nullptr, "", "", ""));
        EXPECT_EQ(digits, binary.str());
      }
    }
  }
}

}  // namespace
