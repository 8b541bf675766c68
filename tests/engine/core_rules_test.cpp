// Policy options through the value operations: compatibility and null
// processing, duplicate handling in both directions, access control and what
// a refused decryption returns, partial encryption by pattern.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/core_support.h"
#include "support/bytes.h"

namespace {

using namespace qor::test;

// The blank goes in under compatibility 3, 1, and 2 with null processing;
// the prefix only under compatibility 0; every case decrypts to the value.
TEST(Compatibility, BlankAndPrefixByCompatibilityAndNullProcessing) {
  struct Case {
    int compatibility;
    int nullProcess;
    bool blank;
  };
  const Case cases[] = {{0, 0, false}, {0, 1, false}, {1, 0, true}, {1, 1, true},
                        {2, 0, false}, {2, 1, true},  {3, 0, true}, {3, 1, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "compat " << c.compatibility << " null " << c.nullProcess);
    PolicyDesc desc;
    desc.compatibility = c.compatibility;
    desc.nullProcess = c.nullProcess;
    Policy p(desc);
    ASSERT_TRUE(p.ok());
    const std::string value = "abcd";
    In in(value, kSpare);
    Out out;
    ASSERT_EQ(0, p->EncryptToBase64(p.self(), in.get(), out.get()));
    const std::string plain = c.blank ? value + " " : value;
    EXPECT_EQ(B64(ExpectedValue(QOR_ALG_AES128, 16, 0, Bytes(plain.begin(), plain.end()), nullptr),
                  c.compatibility),
              out.str());
    In stored(out.str(), 0);
    Out back, backAcc;
    ASSERT_EQ(0, p->DecryptFromBase64(p.self(), stored.get(), back.get()));
    EXPECT_EQ(value, back.str());
    ASSERT_EQ(0,
              p->DecryptFromBase64_ACC(p.self(), stored.get(), backAcc.get(), nullptr, "", "", ""));
    EXPECT_EQ(value, backAcc.str());
  }
}

// A decrypted value of one zero byte comes back empty.
TEST(Compatibility, SingleZeroByteDecryptsToEmpty) {
  Policy p(PolicyDesc{});
  ASSERT_TRUE(p.ok());
  In in(Bytes{0}, kSpare);
  Out out;
  ASSERT_EQ(0, p->EncryptToBase64_ACC(p.self(), in.get(), out.get(), 0, "", "", ""));
  In stored(out.str(), 0);
  Out back;
  ASSERT_EQ(0, p->DecryptFromBase64_ACC(p.self(), stored.get(), back.get(), nullptr, "", "", ""));
  EXPECT_EQ(0, back.length());
}

// An already encrypted text under each encryption duplicate option, with and
// without a key version in the value.
TEST(Duplicates, EncryptingAnEncryptedText) {
  struct Case {
    int option;
    int result;
    bool copy;
  };
  const Case cases[] = {{0, 0, false}, {1, 3033, true}, {2, 3035, false}};
  for (int version : {0, 258}) {
    for (int compatibility : {0, 1}) {
      for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "version " << version << " compat " << compatibility
                                          << " option " << c.option);
        PolicyDesc desc;
        desc.versions = {{version}};
        desc.compatibility = compatibility;
        desc.encDuplication = c.option;
        Policy p(desc);
        ASSERT_TRUE(p.ok());
        In plain("duplicate check value", kSpare);
        Out first;
        ASSERT_EQ(0, p->EncryptToBase64_ACC(p.self(), plain.get(), first.get(), 0, "", "", ""));
        In again(first.str(), kSpare);
        Out second;
        EXPECT_EQ(c.result,
                  p->EncryptToBase64_ACC(p.self(), again.get(), second.get(), 0, "", "", ""));
        if (c.copy) {
          EXPECT_EQ(first.str(), second.str());
        }
        if (c.option == 2) {
          EXPECT_EQ(nullptr, second.buf.data);
        }
        if (c.option == 0) {
          // Encrypted once more: decrypting gives the first text back.
          In stored(second.str(), 0);
          Out back;
          ASSERT_EQ(
              0, p->DecryptFromBase64_ACC(p.self(), stored.get(), back.get(), nullptr, "", "", ""));
          EXPECT_EQ(first.str(), back.str());
        }
        // A clear value is encrypted whatever the option.
        In clear("plain text", kSpare);
        Out enc;
        EXPECT_EQ(0, p->EncryptToBase64_ACC(p.self(), clear.get(), enc.get(), 0, "", "", ""));
      }
    }
  }
}

// A text that decodes but does not decrypt (its last plaintext byte is 0),
// and a text that is no Base64 at all, under each decryption option.
TEST(Duplicates, DecryptingSomethingThatIsNotEncrypted) {
  struct Case {
    int option;
    int badPadResult;  // through the access-controlled text and binary forms
    int clearResult;   // plain text through DecryptFromBase64
  };
  const Case cases[] = {{0, -1, -1}, {1, 3034, 3034}, {2, 3035, 3035}};
  const Bytes key = VersionKey(0, 16);
  const Bytes badPad = OracleCbcEncrypt(QOR_ALG_AES128, key, kPolicyIv.data(), Bytes(16, 0));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option);
    PolicyDesc desc;
    desc.decDuplication = c.option;
    Policy p(desc);
    ASSERT_TRUE(p.ok());
    const std::string text = B64(badPad, 0);
    for (int form = 0; form < 3; ++form) {
      In in(form == 2 ? badPad : Bytes(text.begin(), text.end()), 0);
      Out out;
      const int result =
          form == 0   ? p->DecryptFromBase64_ACC(p.self(), in.get(), out.get(), nullptr, "", "", "")
          : form == 1 ? p->DecryptFromBase64(p.self(), in.get(), out.get())
                      : p->Decrypt_API_ACC(p.self(), in.get(), out.get(), nullptr, "", "", "");
      EXPECT_EQ(c.badPadResult, result) << "form " << form;
      if (c.option == 1) {
        EXPECT_EQ(ToHex(in.buf().data, static_cast<size_t>(in.buf().length)), ToHex(out.bytes()));
      } else if (c.option == 2) {
        EXPECT_EQ(-1, out.length());
      }
    }
    In clear("just some words", 0);
    Out out;
    EXPECT_EQ(c.clearResult, p->DecryptFromBase64(p.self(), clear.get(), out.get()));
    if (c.option == 1) {
      EXPECT_EQ("just some words", out.str());
    }
  }
}

// One entry that refuses every decryption; prio BLOCK_FIRST.
struct RefuseDecryptAcl {
  AccessControlData entry{};
  RefuseDecryptAcl() {
    entry.decryptAllowed = 0;
    entry.encryptAllowed = 1;
  }
};

TEST(Access, EveryUnauthorizedDecryptionOutcome) {
  struct Case {
    int option;
    int length;
    const char* text;  // nullptr: no buffer; "=": a copy of the input
  };
  const Case cases[] = {{1, -2, nullptr}, {2, -1, nullptr},         {3, 0, "="},
                        {4, 6, "******"}, {5, 13, "No Permission"}, {0, 77, nullptr}};
  RefuseDecryptAcl acl;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option);
    PolicyDesc desc;
    desc.aclCount = 1;
    desc.acl = &acl.entry;
    desc.prio = QOR_PRIO_BLOCK_FIRST;
    desc.unauthorizedDecryption = c.option;
    Policy p(desc);
    ASSERT_TRUE(p.ok());
    In plain("secret", kSpare);
    Out enc;
    ASSERT_EQ(0, p->EncryptToBase64_ACC(p.self(), plain.get(), enc.get(), 0, "id1", "id2", "id3"));
    In stored(enc.str(), 0);
    for (bool text : {true, false}) {
      Out out;
      out.buf.length = 77;  // "untouched" shows as this
      const int result = text ? p->DecryptFromBase64_ACC(p.self(), stored.get(), out.get(), nullptr,
                                                         "id1", "id2", "id3")
                              : p->Decrypt_API_ACC(p.self(), stored.get(), out.get(), nullptr,
                                                   "id1", "id2", "id3");
      EXPECT_EQ(2200, result);
      if (c.text == nullptr) {
        EXPECT_EQ(c.length, out.length());
        EXPECT_EQ(nullptr, out.buf.data);
      } else if (std::string(c.text) == "=") {
        EXPECT_EQ(enc.str(), out.str());
      } else {
        EXPECT_EQ(c.length, out.length());
        EXPECT_EQ(c.text, out.str());
      }
    }
  }
}

TEST(Access, PrefixRuleAllowsAndRefusesThroughEveryForm) {
  AccessRule rule{};
  std::strcpy(rule.pattern, "10.0.");
  AccessControlData entry{};
  entry.rules1 = &rule;
  entry.decryptAllowed = 1;
  entry.encryptAllowed = 1;
  PolicyDesc desc;
  desc.versions = {{9}};
  desc.aclCount = 1;
  desc.acl = &entry;
  desc.prio = QOR_PRIO_ALLOW_FIRST;
  desc.unauthorizedDecryption = 4;
  Policy p(desc);
  ASSERT_TRUE(p.ok());

  In text("value", kSpare);
  Out enc;
  ASSERT_EQ(0, p->EncryptToBase64_ACC(p.self(), text.get(), enc.get(), 0, "10.0.0.5", "", ""));
  In binary("value", kSpare);
  Out encBinary;
  ASSERT_EQ(0, p->Encrypt_API_ACC(p.self(), binary.get(), encBinary.get(), 0, "10.0.0.5", "", ""));

  In refusedText("value", kSpare);
  Out none;
  EXPECT_EQ(2200, p->EncryptToBase64_ACC(p.self(), refusedText.get(), none.get(), 0, "192.168.0.1",
                                         "", ""));
  EXPECT_EQ(0, none.length());
  EXPECT_EQ(nullptr, none.buf.data);
  In refusedBinary("value", kSpare);
  EXPECT_EQ(2200, p->Encrypt_API_ACC(p.self(), refusedBinary.get(), none.get(), 0, "192.168.0.1",
                                     "", ""));
  EXPECT_EQ(nullptr, none.buf.data);

  In storedText(enc.str(), 0);
  In storedBinary(encBinary.bytes(), 0);
  Out back, backBinary, masked;
  EXPECT_EQ(0, p->DecryptFromBase64_ACC(p.self(), storedText.get(), back.get(), nullptr, "10.0.0.5",
                                        "", ""));
  EXPECT_EQ("value", back.str());
  EXPECT_EQ(0, p->Decrypt_API_ACC(p.self(), storedBinary.get(), backBinary.get(), nullptr,
                                  "10.0.0.5", "", ""));
  EXPECT_EQ("value", backBinary.str());
  EXPECT_EQ(2200, p->DecryptFromBase64_ACC(p.self(), storedText.get(), masked.get(), nullptr,
                                           "192.168.0.1", "", ""));
  EXPECT_EQ("******", masked.str());
}

PatternBlock MakePattern(int type, int position, const char* chars) {
  PatternBlock block{};
  block.type = type;
  block.position = position;
  std::strcpy(reinterpret_cast<char*>(block.chars), chars);
  return block;
}

// Each pattern type through the text forms: the clear parts stay readable,
// the segment decrypts back; a value the pattern does not fit gives 3104.
TEST(Pattern, TypesThroughTheTextForms) {
  struct Case {
    int type;
    int position;
    const char* chars;
    const char* value;
    const char* clearFront;
    const char* clearBack;
  };
  const Case cases[] = {
      {QOR_PATTERN_EXCLUDE_STRING, QOR_POSITION_FRONT, "4", "ABCDEFGHIJ", "ABCD", ""},
      {QOR_PATTERN_EXCLUDE_STRING, QOR_POSITION_BACK, "3", "0123456789", "", "789"},
      {QOR_PATTERN_CHARACTER, QOR_POSITION_BACK, "@", "user@example.com", "user@", ""},
      {QOR_PATTERN_CHARACTER, QOR_POSITION_FRONT, "@", "user@example.com", "", "@example.com"},
      {QOR_PATTERN_MIDDLE, QOR_POSITION_FRONT, "2,4", "12345678", "12", "78"},
  };
  for (const Case& c : cases) {
    for (int compatibility : {0, 1}) {
      SCOPED_TRACE(::testing::Message()
                   << c.type << "/" << c.position << " " << c.value << " compat " << compatibility);
      const PatternBlock block = MakePattern(c.type, c.position, c.chars);
      PolicyDesc desc;
      desc.pattern = &block;
      desc.compatibility = compatibility;
      Policy p(desc);
      ASSERT_TRUE(p.ok());
      for (bool acc : {true, false}) {
        In in(c.value, kSpare);
        Out out;
        ASSERT_EQ(0, acc ? p->EncryptToBase64_ACC(p.self(), in.get(), out.get(), 0, "", "", "")
                         : p->EncryptToBase64(p.self(), in.get(), out.get()));
        const std::string text = out.str();
        EXPECT_EQ(0u, text.find(c.clearFront)) << text;
        EXPECT_TRUE(text.size() >= std::strlen(c.clearBack) &&
                    text.compare(text.size() - std::strlen(c.clearBack), std::string::npos,
                                 c.clearBack) == 0)
            << text;
        EXPECT_NE(std::string(c.value), text);
        In stored(text, 0);
        Out back;
        ASSERT_EQ(0, acc ? p->DecryptFromBase64_ACC(p.self(), stored.get(), back.get(), nullptr, "",
                                                    "", "")
                         : p->DecryptFromBase64(p.self(), stored.get(), back.get()));
        EXPECT_EQ(c.value, back.str());
      }
    }
  }
  // Values the pattern does not fit.
  const PatternBlock exclude = MakePattern(QOR_PATTERN_EXCLUDE_STRING, QOR_POSITION_FRONT, "10");
  const PatternBlock separator = MakePattern(QOR_PATTERN_CHARACTER, QOR_POSITION_BACK, "@");
  for (const auto& [block, value] :
       {std::pair{&exclude, "0123456789"}, std::pair{&separator, "no separator"},
        std::pair{&separator, "ends with@"}}) {
    PolicyDesc desc;
    desc.pattern = block;
    Policy p(desc);
    ASSERT_TRUE(p.ok());
    In in(value, kSpare);
    Out out;
    EXPECT_EQ(3104, p->EncryptToBase64_ACC(p.self(), in.get(), out.get(), 0, "", "", "")) << value;
  }
}

// The middle segment of a stored value is cut at its encrypted length. The
// length predicted from the plaintext alone misses the padding block, the
// compatibility blank and the triple-DES block size, so each of these values
// would come back still encrypted; digit segments are shorter than 24
// characters and must still be found.
TEST(Pattern, MiddleSegmentsOfEveryLengthDecrypt) {
  struct Case {
    uint32_t alg;
    int keyLength;
    int version;
    bool recordIv;
    const char* chars;
    std::string value;
  };
  const std::string digits = "4111111111111111";
  const Case cases[] = {
      {QOR_ALG_AES128, 16, 0, false, "2,4", "ab1234gh"},
      {QOR_ALG_AES128, 16, 0, false, "2,15", "ab" + std::string(15, 'x') + "gh"},
      {QOR_ALG_AES128, 16, 0, false, "2,16", "ab" + std::string(16, 'x') + "gh"},
      {QOR_ALG_AES256, 32, 258, true, "1,20", "a" + std::string(20, 'y') + "zz"},
      {QOR_ALG_ARIA256, 32, 7, false, "3,31", "abc" + std::string(31, 'q')},
      {QOR_ALG_DES3_2KEY, 16, 0, false, "2,4", "ab1234gh"},
      {QOR_ALG_DES3_3KEY, 24, 3, true, "2,9", "ab123456789gh"},
      {QOR_ALG_FPE, 16, 0, false, "6,6", digits},
  };
  for (const Case& c : cases) {
    for (int compatibility : {0, 1}) {
      SCOPED_TRACE(::testing::Message() << "alg " << c.alg << " " << c.chars << " compat "
                                        << compatibility);
      const PatternBlock block = MakePattern(QOR_PATTERN_MIDDLE, QOR_POSITION_FRONT, c.chars);
      PolicyDesc desc;
      desc.alg = c.alg;
      desc.keyLength = c.keyLength;
      desc.versions = {{c.version}};
      desc.recordIv = c.recordIv;
      desc.pattern = &block;
      desc.compatibility = compatibility;
      Policy p(desc);
      ASSERT_TRUE(p.ok());
      In in(c.value, kSpare);
      Out out;
      ASSERT_EQ(0, p->EncryptToBase64(p.self(), in.get(), out.get()));
      const std::string text = out.str();
      EXPECT_NE(c.value, text);
      In stored(text, 0);
      Out back;
      ASSERT_EQ(0, p->DecryptFromBase64(p.self(), stored.get(), back.get())) << text;
      EXPECT_EQ(c.value, back.str()) << text;
    }
  }
}

}  // namespace
