// Hostile input to every decryption form: each returns its code and reads
// nothing outside the value (inputs sit in blocks of exactly their length, so
// the sanitizer build catches any over-read). Then the exported helpers.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>
#include <string>
#include <vector>

#include "engine/core_support.h"
#include "support/bytes.h"
#include "support/log_capture.h"

namespace {

using namespace qor::test;

enum Form { kTextAcc, kText, kBinaryAcc, kBinary };

int Decrypt(Policy& p, Form form, DataBuffer* in, DataBuffer* out) {
  switch (form) {
    case kTextAcc:
      return p->DecryptFromBase64_ACC(p.self(), in, out, nullptr, "", "", "");
    case kText:
      return p->DecryptFromBase64(p.self(), in, out);
    case kBinaryAcc:
      return p->Decrypt_API_ACC(p.self(), in, out, nullptr, "", "", "");
    case kBinary:
      return p->Decrypt_API(p.self(), in, out);
  }
  return 0;
}

// Inputs too short for the layout (a version prefix and a record-IV tail
// need 7 bytes before any ciphertext), wrong versions, bad padding, cut Base64.
TEST(HostileInput, EveryDecryptFormReturnsItsCode) {
  for (int compatibility : {0, 1}) {
    for (bool recordIv : {false, true}) {
      for (int version : {0, 258}) {
        SCOPED_TRACE(::testing::Message() << "compat " << compatibility << " record " << recordIv
                                          << " version " << version);
        PolicyDesc desc;
        desc.versions = {{version}};
        desc.compatibility = compatibility;
        desc.recordIv = recordIv;
        Policy p(desc);
        ASSERT_TRUE(p.ok());
        const int layout = (version != 0 ? 3 : 0) + (recordIv ? 4 : 0);

        // Binary values from 0 bytes up to the layout without ciphertext.
        for (int n = 0; n <= layout; ++n) {
          In in(Bytes(static_cast<size_t>(n), 0x00), 0);
          for (Form form : {kBinaryAcc, kBinary}) {
            Out out;
            EXPECT_EQ(-1, Decrypt(p, form, in.get(), out.get())) << n << " bytes, form " << form;
          }
          if (n == 0) continue;  // no text of nothing
          In text(B64(Bytes(static_cast<size_t>(n), 0x00), compatibility), 0);
          for (Form form : {kTextAcc, kText}) {
            Out out;
            EXPECT_EQ(-1, Decrypt(p, form, text.get(), out.get())) << n << " bytes, form " << form;
          }
        }
        // Empty and missing input.
        for (Form form : {kTextAcc, kText, kBinaryAcc, kBinary}) {
          In empty(Bytes{}, 0);
          Out out;
          EXPECT_EQ(-1, Decrypt(p, form, empty.get(), out.get()));
          EXPECT_EQ(-1, Decrypt(p, form, nullptr, out.get()));
        }

        // A good value, then damaged copies of it.
        In plain("hostile input check", kSpare);
        Out good;
        ASSERT_EQ(0, p->Encrypt_API(p.self(), plain.get(), good.get()));
        const Bytes value = good.bytes();
        const std::string text = B64(value, compatibility);
        for (size_t cut = 1; cut <= 3; ++cut) {
          In truncated(text.substr(0, text.size() - cut), 0);
          Out out;
          EXPECT_EQ(-1, Decrypt(p, kTextAcc, truncated.get(), out.get())) << "cut " << cut;
          EXPECT_EQ(-1, Decrypt(p, kText, truncated.get(), out.get())) << "cut " << cut;
        }
        if (version != 0) {
          Bytes wrong = value;
          wrong[0] = 0x03;
          wrong[1] = 0xE7;  // version 999, not held, nothing to fetch from
          In wrongText(B64(wrong, compatibility), 0), wrongBinary(wrong, 0);
          Out a, b, c, d;
          EXPECT_EQ(1, Decrypt(p, kTextAcc, wrongText.get(), a.get()));
          EXPECT_EQ(1, Decrypt(p, kText, wrongText.get(), b.get()));
          EXPECT_EQ(2100, Decrypt(p, kBinaryAcc, wrongBinary.get(), c.get()));
          EXPECT_EQ(2100, Decrypt(p, kBinary, wrongBinary.get(), d.get()));
        }
        // One byte less of ciphertext: no whole block, or a bad pad.
        Bytes shortened = value;
        shortened.erase(shortened.begin() + layout - (recordIv ? 4 : 0));
        In shortText(B64(shortened, compatibility), 0), shortBinary(shortened, 0);
        for (Form form : {kTextAcc, kText}) {
          Out out;
          EXPECT_EQ(-1, Decrypt(p, form, shortText.get(), out.get()));
        }
        for (Form form : {kBinaryAcc, kBinary}) {
          Out out;
          EXPECT_EQ(-1, Decrypt(p, form, shortBinary.get(), out.get()));
        }
      }
    }
  }
}

// Random bytes and random Base64-looking texts never crash or over-read.
TEST(HostileInput, RandomBytes) {
  std::mt19937 rng(20261210);
  PolicyDesc desc;
  desc.versions = {{258}};
  desc.recordIv = true;
  Policy p(desc);
  ASSERT_TRUE(p.ok());
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=$.";
  for (int round = 0; round < 400; ++round) {
    const size_t n = 1 + rng() % 90;
    In bytes(RandomBytes(rng, n), 0);
    std::string text(n, 'A');
    for (char& ch : text) ch = kAlphabet[rng() % (sizeof(kAlphabet) - 1)];
    In textIn(text, 0);
    for (Form form : {kTextAcc, kText, kBinaryAcc, kBinary}) {
      Out a, b;
      const int r1 = Decrypt(p, form, bytes.get(), a.get());
      const int r2 = Decrypt(p, form, textIn.get(), b.get());
      for (int r : {r1, r2}) EXPECT_TRUE(r == -1 || r == 0 || r == 1 || r == 2100) << r;
    }
  }
}

TEST(Helpers, DoubleEncryptionLooks) {
  PolicyDesc desc;
  desc.compatibility = 1;
  for (uint32_t alg : {QOR_ALG_SEED, QOR_ALG_ARIA128, QOR_ALG_AES128, QOR_ALG_LEA128}) {
    desc.alg = alg;
    Policy p(desc);
    ASSERT_TRUE(p.ok());
    const std::string shortText = "QUJDREVGR0hJSktMTU5PUA=";  // 23 characters
    EXPECT_EQ(0, isDoubleEncryptPrevention(p.self(), shortText.data(), 23, 0));
    In in("value", kSpare);
    Out enc;
    ASSERT_EQ(0, p->EncryptToBase64(p.self(), in.get(), enc.get()));
    EXPECT_EQ(1, isDoubleEncryptPrevention(p.self(), enc.str().data(), enc.length(), 0));
    EXPECT_EQ(1, UACipherUtil_isDuplicationChecking(p.self(), enc.str().data(), enc.length()));
    std::string odd = enc.str();
    odd[3] = '*';
    EXPECT_EQ(0, isDoubleEncryptPrevention(p.self(), odd.data(), static_cast<int>(odd.size()), 0));
  }
  desc.alg = QOR_ALG_DES3_2KEY;
  Policy des(desc);
  const std::string text(24, 'A');
  EXPECT_EQ(0, isDoubleEncryptPrevention(des.self(), text.data(), 24, 0));
  desc.alg = QOR_ALG_FPE;
  Policy fpe(desc);
  EXPECT_EQ(1, isDoubleEncryptPrevention(fpe.self(), "ABC", 3, 0));
  EXPECT_EQ(0, isDoubleEncryptPrevention(fpe.self(), "ABC", 3, 1));
  desc.alg = QOR_ALG_SHA256;
  desc.compatibility = 0;
  Policy sha(desc);
  In value("x", kSpare);
  Out digest;
  ASSERT_EQ(0, sha->EncryptToBase64(sha.self(), value.get(), digest.get()));
  EXPECT_EQ(1, isDoubleEncryptPrevention(sha.self(), digest.str().data(), digest.length(), 0));
  EXPECT_EQ(0, isDoubleEncryptPrevention(sha.self(), "$.", 2, 0));
  EXPECT_EQ(0, isDoubleEncryptPrevention(sha.self(), "$", 1, 0));
}

TEST(Helpers, CharacterClasses) {
  EXPECT_EQ(1, isDupNumericString("12", 2));
  EXPECT_EQ(0, isDupNumericString("1", 1));
  EXPECT_EQ(0, isDupNumericString("1a", 2));
  EXPECT_EQ(1, isUppercaseAlphabet("AZ", 2));
  EXPECT_EQ(0, isUppercaseAlphabet("A", 1));
  EXPECT_EQ(0, isUppercaseAlphabet("Ab", 2));
  EXPECT_EQ(0, isUppercaseAlphabet(nullptr, 4));
}

TEST(Helpers, DecodeAndDigestEncode) {
  In text("$.YWJj", 0);
  DataBuffer decoded{0, nullptr};
  ASSERT_EQ(0, UACipherUtil_doDecodeBase64(text.get(), &decoded));
  EXPECT_EQ(3, decoded.length);
  EXPECT_EQ("abc", std::string(reinterpret_cast<char*>(decoded.data), 3));
  std::free(decoded.data);
  In empty(Bytes{}, 0), bad("$.YW*j", 0);
  DataBuffer none{0, nullptr};
  EXPECT_EQ(-1, UACipherUtil_doDecode(empty.get(), &none));
  EXPECT_EQ(-1, UACipherUtil_doDecode(bad.get(), &none));
  EXPECT_EQ(nullptr, none.data);

  In abc("abc", 0);
  Out digest;
  ASSERT_EQ(0, UACipherUtil_doDigestEncode(abc.get(), digest.get()));
  Bytes expected(32);
  unsigned int n = 0;
  EVP_Digest("abc", 3, expected.data(), &n, EVP_sha256(), nullptr);
  EXPECT_EQ(B64(expected, 0), digest.str());
}

}  // namespace

namespace {

using namespace qor::test;

// The failure lines carry the unit and the texts operators search for.
TEST(Messages, FailuresAreLoggedWithTheirTexts) {
  LogCapture log;
  ASSERT_TRUE(log.ok());
  PolicyDesc desc;
  desc.versions = {{5, "expired"}};
  Policy revoked(desc);
  ASSERT_TRUE(revoked.ok());
  In value("v", kSpare);
  Out out;
  EXPECT_EQ(2100,
            revoked->EncryptToBase64_ACC(revoked.self(), value.get(), out.get(), 0, "", "", ""));

  desc.versions = {{5}};
  Policy p(desc);
  ASSERT_TRUE(p.ok());
  In empty(Bytes{}, 0), notBase64("$.@@@@", 0),
      unknown(B64(Bytes{0, 9, 0xFE, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, 0), 0),
      unknownBinary(Bytes{0, 9, 0xFE, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, 0);
  EXPECT_EQ(-1, p->DecryptFromBase64_ACC(p.self(), empty.get(), out.get(), nullptr, "", "", ""));
  EXPECT_EQ(-1,
            p->DecryptFromBase64_ACC(p.self(), notBase64.get(), out.get(), nullptr, "", "", ""));
  EXPECT_EQ(2100,
            p->Decrypt_API_ACC(p.self(), unknownBinary.get(), out.get(), nullptr, "", "", ""));

  const std::string text = log.text();
  for (const char* line :
       {"[source/Crypto/UACipherUtil:",
        "] >> This key is deactivate, it does not support encryption.[1700000000]\n",
        "] >> Encrypted Data is Empty or Null\n", "] >> QOR_Base64Decode Failed [data length:-1]\n",
        "] >> This key has been revoked and does not support encryption.\n"}) {
    EXPECT_NE(std::string::npos, text.find(line)) << line << "\n" << text;
  }
}

}  // namespace
