// The value pipelines through their exported functions: every branch of
// null handling, pass-through, refusal and error handling, with the error
// record and the audit records each one leaves.
#include <malloc.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "service/value_support.h"

namespace qor::test {
namespace {

constexpr int kAny = -1000;  // any positive length

PolicyInfoArgs Args(const std::string& name) {
  PolicyInfoArgs a;
  a.name = name;
  a.compatibility = 1;
  a.encDuplication = 0;
  a.decDuplication = 0;
  a.errorProcess = 1;
  return a;
}

// One entry without rules that refuses both directions.
struct RefuseAll {
  AccessControlData entry{};
};

class Pipeline : public ValueService {
 protected:
  void SetUp() override {
    ValueService::SetUp();
    PolicyInfoArgs a = Args("np0.err1");
    ASSERT_NE(nullptr, Add(a));

    a = Args("np1.c0");
    a.nullProcess = 1;
    a.compatibility = 0;
    ASSERT_NE(nullptr, Add(a));

    a = Args("np1.c1.err3");
    a.nullProcess = 1;
    a.errorProcess = 3;
    ASSERT_NE(nullptr, Add(a));

    for (int process : {1, 2, 3}) {
      a = Args("revoked.err" + std::to_string(process));
      a.errorProcess = process;
      ASSERT_NE(nullptr, Add(a, {0}, "revoked"));
    }

    a = Args("acl.block");
    a.aclCount = 1;
    a.acl = &refuse_.entry;
    a.prio = QOR_PRIO_BLOCK_FIRST;
    a.unauthorizedDecryption = 2;
    ASSERT_NE(nullptr, Add(a));

    a.name = "acl.mask";
    a.unauthorizedDecryption = 4;
    ASSERT_NE(nullptr, Add(a));

    a.name = "pattern.acl";
    a.partial = 1;
    a.patternType = "EXCLUDE_STRING";
    a.position = QOR_POSITION_FRONT;
    a.patternChars = "4";
    a.unauthorizedDecryption = 2;
    ASSERT_NE(nullptr, Add(a));

    a = Args("pattern");
    a.partial = 1;
    a.patternType = "EXCLUDE_STRING";
    a.position = QOR_POSITION_FRONT;
    a.patternChars = "4";
    ASSERT_NE(nullptr, Add(a));

    a.name = "pattern.dup";
    a.encDuplication = 2;
    ASSERT_NE(nullptr, Add(a));

    a = Args("dup.refuse");
    a.encDuplication = 2;
    a.decDuplication = 2;
    ASSERT_NE(nullptr, Add(a));

    a = Args("dup.return");
    a.encDuplication = 1;
    a.decDuplication = 1;
    ASSERT_NE(nullptr, Add(a));

    ASSERT_NE(nullptr, Add(Args("quiet"), {0}, "active", false));
  }

  RefuseAll refuse_;
};

struct Case {
  const char* what;
  bool encrypt;
  const char* policy;
  Input input;
  std::string text;   // "<ct>": the policy's own text ciphertext of "secret"
  int mode;
  int length;         // kAny: any positive length
  const char* value;  // expected result bytes; nullptr: no data; "<in>": the input
  int code;
  const char* message;
  const char* audit;  // nullptr: no record
};

TEST_F(Pipeline, EveryBranchAsATable) {
  const Case cases[] = {
      // Encryption: null and empty values.
      {"null refused", true, "np0.err1", Input::kNull, "", 0, -2, nullptr, 0, "",
       "np0.err1,E,F,NULL"},
      {"length without data is null", true, "np0.err1", Input::kNullData, "", 0, -2, nullptr, 0,
       "", "np0.err1,E,F,NULL"},
      {"other negative length is null", true, "np0.err1", Input::kNegative, "abc", 0, -2, nullptr,
       0, "", "np0.err1,E,F,NULL"},
      {"empty as marker", true, "np0.err1", Input::kEmpty, "", 0, kAny, "", 0, "",
       "np0.err1,E,S,S"},
      {"empty -1 as marker", true, "np0.err1", Input::kEmptyMinus, "", 0, kAny, "", 0, "",
       "np0.err1,E,S,S"},
      {"null marker", true, "np1.c0", Input::kNull, "", 0, kAny, "", 0, "", "np1.c0,E,S,S"},
      {"compatible null", true, "np1.c1.err3", Input::kNull, "", 0, kAny, "", 0, "",
       "np1.c1.err3,E,S,S"},
      // Encryption: outcomes of the operation.
      {"value", true, "np0.err1", Input::kValue, "secret", 0, kAny, "", 0, "", "np0.err1,E,S,S"},
      {"binary value", true, "np0.err1", Input::kValue, "secret", 1, 16, "", 0, "",
       "np0.err1,E,S,S"},
      {"life cycle, error", true, "revoked.err1", Input::kValue, "abc", 0, -1, nullptr, 3031,
       "Failed to LifeCycle", nullptr},
      {"life cycle, no value", true, "revoked.err2", Input::kValue, "abc", 0, -2, nullptr, 0, "",
       nullptr},
      {"life cycle, input back", true, "revoked.err3", Input::kValue, "abc", 0, 3, "<in>", 0, "",
       nullptr},
      {"life cycle, null input back", true, "revoked.err3", Input::kEmpty, "", 0, 0, nullptr, 0,
       "", nullptr},
      {"refused", true, "acl.block", Input::kValue, "abc", 0, -1, nullptr, 3031,
       "Permission Denied Encrypt/Decrypt", "acl.block,E,F,ACC"},
      {"refused under a pattern", true, "pattern.acl", Input::kValue, "abcdefgh", 0, -1, nullptr,
       3031, "Permission Denied Encrypt/Decrypt", "pattern.acl,E,F,ACC"},
      {"pattern does not apply", true, "pattern", Input::kValue, "abc", 0, 3, "<in>", 0, "",
       "pattern,E,F,"},
      {"already encrypted, refused", true, "dup.refuse", Input::kValue, "<ct>", 0, -1, nullptr,
       3035, "This data is already encrypted. (length <ct length>, policy dup.refuse)", "dup.refuse,E,F,DUP"},
      {"already encrypted, returned", true, "dup.return", Input::kValue, "<ct>", 0, kAny, "<in>",
       0, "", "dup.return,E,F,"},
      {"audit off", true, "quiet", Input::kValue, "abc", 0, kAny, "", 0, "", nullptr},
      // Decryption.
      {"round trip", false, "np0.err1", Input::kValue, "<ct>", 0, 6, "secret", 0, "",
       "np0.err1,D,S,S"},
      {"empty, no null processing", false, "np0.err1", Input::kEmpty, "", 0, -3, nullptr, 0, "",
       "np0.err1,D,S,S"},
      {"null, no null processing", false, "np0.err1", Input::kNull, "", 0, -3, nullptr, 0, "",
       "np0.err1,D,S,S"},
      {"length without data", false, "np0.err1", Input::kNullData, "", 0, -3, nullptr, 0, "",
       "np0.err1,D,S,S"},
      {"empty, null processing", false, "np1.c0", Input::kEmpty, "", 0, -1, nullptr, 3031,
       "Can not Decrypt NULL DATA", "np1.c0,D,F,KED"},
      {"empty, null processing, input back", false, "np1.c1.err3", Input::kEmpty, "", 0, 0,
       nullptr, 3031, "Can not Decrypt NULL DATA", "np1.c1.err3,D,F,KED"},
      {"bad text", false, "np0.err1", Input::kValue, "not base64!!", 0, -1, nullptr, 3031,
       "key or data check(length 12, policy np0.err1)", "np0.err1,D,F,KED"},
      {"bad binary shown in hex", false, "np0.err1", Input::kValue, "\x01\x02\xab", 1, -1, nullptr,
       3031, "key or data check(length 3, policy np0.err1)", "np0.err1,D,F,KED"},
      {"bad text, no value", false, "revoked.err2", Input::kValue, "zzzz", 0, 0, nullptr, 0, "",
       "revoked.err2,D,F,KED"},
      {"bad text, input back", false, "revoked.err3", Input::kValue, "zzzz", 0, 4, "<in>", 0, "",
       "revoked.err3,D,F,KED"},
      {"refused as error", false, "acl.block", Input::kValue, "anything", 0, -1, nullptr, 3031,
       "Permission Denied Encrypt/Decrypt", "acl.block,D,F,ACC"},
      {"refused, masked", false, "acl.mask", Input::kValue, "anything", 0, 6, "******", 0, "",
       "acl.mask,D,F,ACC"},
      {"not encrypted, returned", false, "dup.return", Input::kValue,
       "QUJDREVGR0hJSktMTU5PUFFSU1RVVldY", 0, 32, "<in>", 0, "", "dup.return,D,F,"},
      {"not encrypted, refused", false, "dup.refuse", Input::kValue,
       "QUJDREVGR0hJSktMTU5PUFFSU1RVVldY", 0, -1, nullptr, 3035,
       "(length 32, policy dup.refuse) is not encrypted data.",
       "dup.refuse,D,F,DUP"},
      {"pattern does not apply", false, "pattern", Input::kValue, "abc", 0, 3, "<in>", 0, "",
       "pattern,D,F,"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.encrypt ? "encrypt " : "decrypt ") + c.what);
    std::string text = c.text;
    if (text == "<ct>") {
      const Outcome ct = Encrypt(c.policy, "secret");
      ASSERT_GT(ct.length, 0);
      text = ct.value;
      NewAuditTexts();
    }
    const Outcome o = Run(c.encrypt, c.policy, c.input, text, c.mode);
    if (c.length == kAny) {
      EXPECT_GT(o.length, 0);
    } else {
      EXPECT_EQ(c.length, o.length);
    }
    if (c.value == nullptr) {
      EXPECT_FALSE(o.hasData);
    } else if (std::string(c.value) == "<in>") {
      EXPECT_EQ(text, o.value);
      EXPECT_FALSE(o.sameBufferAsInput);  // a copy the caller may free
    } else if (*c.value != '\0') {
      EXPECT_EQ(c.value, o.value);
    }
    EXPECT_EQ(c.code, o.code);
    std::string message = c.message;
    if (const size_t at = message.find("<ct length>"); at != std::string::npos) {
      message.replace(at, 11, std::to_string(text.size()));
    }
    EXPECT_EQ(message, o.message);
    const std::vector<std::string> audit = NewAuditTexts();
    if (c.audit == nullptr) {
      EXPECT_TRUE(audit.empty()) << audit.front();
    } else {
      EXPECT_EQ(std::vector<std::string>{c.audit}, audit);
    }
  }
}

// Null and empty values travel as one marker byte (6 empty, 7 null), or as
// the empty value under compatibility; the ciphertexts show which.
TEST_F(Pipeline, NullAndEmptyMarkers) {
  const std::string marker6 = Encrypt("np1.c0", "\x06").value;
  const std::string marker7 = Encrypt("np1.c0", "\x07").value;
  ASSERT_NE(marker6, marker7);
  EXPECT_EQ(marker6, Run(true, "np1.c0", Input::kEmpty).value);
  EXPECT_EQ(marker6, Run(true, "np1.c0", Input::kEmptyMinus).value);
  EXPECT_EQ(marker7, Run(true, "np1.c0", Input::kNull).value);
  EXPECT_EQ(Encrypt("np0.err1", "\x06").value, Run(true, "np0.err1", Input::kEmpty).value);
  EXPECT_EQ(Run(true, "np1.c1.err3", Input::kEmpty).value,
            Run(true, "np1.c1.err3", Input::kNull).value);
  EXPECT_NE(Encrypt("np1.c1.err3", "\x06").value, Run(true, "np1.c1.err3", Input::kNull).value);
}

TEST_F(Pipeline, UnknownPolicyFailsWithoutAuditRecord) {
  QORApiData config{};
  config.policyInitFrom = 3;
  QORCrypto_SetConfigData(&config);
  const Outcome o = Encrypt("no.such.policy", "abc");
  QORCrypto_SetConfigData(nullptr);
  EXPECT_EQ(-1, o.length);
  EXPECT_EQ(3015, o.code);
  EXPECT_EQ(
      "The policy id [no.such.policy] could not be found.\n >>> Policy Init From Emergency File",
      o.message);
  EXPECT_EQ(1, g_updateCalls.load());
  EXPECT_TRUE(NewAuditTexts().empty());
  EXPECT_EQ(3015, Decrypt("no.such.policy", "abc").code);
}

// Key versions the policy lacks or may not use: the fetch is asked once; a
// revoked version is a life-cycle failure, which leaves no audit record.
TEST_F(Pipeline, DecryptionKeyVersions) {
  PolicyInfoArgs a = Args("v5");
  ASSERT_NE(nullptr, Add(a, {5}));
  a.name = "v7";
  ASSERT_NE(nullptr, Add(a, {7}));
  const std::string ct = Encrypt("v5", "secret").value;
  ASSERT_FALSE(ct.empty());
  NewAuditTexts();

  Outcome o = Decrypt("v7", ct);
  EXPECT_EQ(-1, o.length);
  EXPECT_EQ(1, g_fetchCalls.load());
  EXPECT_EQ("key or data check(length " + std::to_string(ct.size()) + ", policy v7)", o.message);
  EXPECT_EQ(std::vector<std::string>{"v7,D,F,KED"}, NewAuditTexts());

  // Version 5 revoked, version 7 current.
  std::vector<unsigned char> k7(16, KeyList::KeyByte(7)), k5(16, KeyList::KeyByte(5));
  KeyEntry e5{5, k5.data(), const_cast<char*>("revoked"), 0, 0, nullptr};
  KeyEntry e7{7, k7.data(), const_cast<char*>("active"), 0, 0, &e5};
  const std::string nameText = "v7r5";
  const DataBuffer name = Buffer(nameText);
  ASSERT_NE(nullptr, mgr_->AddKeyInfo(mgr_, &name, "ARIA", 4, QOR_IV_POLICY, 1, 16, 2, &e7, 1, 0,
                                      nullptr, 0, nullptr, 0, 0, 0, 1, 0, 0, nullptr, 0, 0, 0xFF,
                                      0xFF, 0xFF, 0xFF, 0, 0, 4, 0, "", 0, 0, 0, QOR_MODE_CBC));
  o = Decrypt("v7r5", ct);
  EXPECT_EQ(-1, o.length);
  EXPECT_EQ(3031, o.code);
  EXPECT_EQ("Failed to lifeCycle", o.message);
  EXPECT_TRUE(NewAuditTexts().empty());
}

// Every value of a record-IV policy gets its own IV: the same plaintext
// encrypts differently each time and each value decrypts.
TEST_F(Pipeline, RecordIvPerValue) {
  PolicyInfoArgs a = Args("record.iv");
  a.ivType = QOR_IV_RECORD;
  ASSERT_NE(nullptr, Add(a, {3}));
  std::set<std::string> seen;
  for (int mode : {0, 1}) {
    for (int i = 0; i < 5; ++i) {
      const Outcome e = Encrypt("record.iv", "same value", mode);
      ASSERT_GT(e.length, 0);
      EXPECT_TRUE(seen.insert(e.value).second);
      const Outcome d = Decrypt("record.iv", e.value, mode);
      EXPECT_EQ("same value", d.value);
      EXPECT_EQ(0, d.code);
    }
  }
}

// A message names the caller's value by its length and policy, never by its
// bytes nor by whatever follows it in the caller's memory.
TEST_F(Pipeline, MessagesQuoteTheValueByItsLength) {
  Outcome o = Run(false, "np0.err1", Input::kValue, "not base64!!", 0, "TRAILER");
  EXPECT_EQ("key or data check(length 12, policy np0.err1)", o.message);
  const std::string ct = Encrypt("dup.refuse", "secret").value;
  o = Run(true, "dup.refuse", Input::kValue, ct, 0, "TRAILER");
  EXPECT_EQ(3035, o.code);
  EXPECT_EQ("This data is already encrypted. (length " + std::to_string(ct.size()) +
                ", policy dup.refuse)",
            o.message);
}

size_t HeapInUse() { return mallinfo2().uordblks; }

// Outputs the pipeline does not hand back are released: a refusal under a
// pattern (which leaves the clear parts in the output) and the pass-through
// of an already encrypted value (which leaves a copy there).
TEST_F(Pipeline, DiscardedOutputsAreReleased) {
  const std::string ct = Encrypt("dup.return", "secret").value;
  const std::string longValue(200, 'x');
  struct Leak {
    const char* policy;
    std::string value;
  };
  const std::string segment = Encrypt("pattern.dup", "abcdsecret").value.substr(4);
  const Leak cases[] = {
      {"pattern.acl", longValue}, {"dup.return", ct}, {"pattern.dup", "wxyz" + segment}};
  ASSERT_EQ(-1, Encrypt("pattern.dup", "wxyz" + segment).length);
  QOAudit_Uninit();  // audit records are not what is measured
  for (const Leak& c : cases) {
    SCOPED_TRACE(c.policy);
    for (int i = 0; i < 20; ++i) Encrypt(c.policy, c.value);  // warm up
    const size_t before = HeapInUse();
    for (int i = 0; i < 500; ++i) Encrypt(c.policy, c.value);
    EXPECT_LT(HeapInUse(), before + 8 * 1024);
  }
  ASSERT_EQ(0, QOAudit_Init(home_.path().c_str()));
}

// Eight threads through both pipelines under one record-IV policy: every
// value round-trips and no two ciphertexts share a record IV.
TEST_F(Pipeline, ThreadsUnderRecordIvPolicy) {
  PolicyInfoArgs a = Args("record.iv");
  a.ivType = QOR_IV_RECORD;
  ASSERT_NE(nullptr, Add(a, {2}));
  constexpr int kThreads = 8;
  constexpr int kValues = 300;
  std::vector<std::vector<std::string>> cts(kThreads);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &cts, &failures] {
      for (int i = 0; i < kValues; ++i) {
        const std::string value = "thread " + std::to_string(t) + " value " + std::to_string(i);
        const int mode = i % 2;
        const Outcome e = Encrypt("record.iv", value, mode);
        const Outcome d = Decrypt("record.iv", e.value, mode);
        if (e.length <= 0 || d.value != value) ++failures;
        cts[static_cast<size_t>(t)].push_back(e.value);
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(0, failures.load());
  std::set<std::string> tails;
  size_t binary = 0;
  for (const auto& list : cts) {
    for (size_t i = 1; i < list.size(); i += 2) {
      ++binary;
      if (list[i].size() >= 4) tails.insert(list[i].substr(list[i].size() - 4));
    }
  }
  EXPECT_EQ(binary, tails.size());
}

}  // namespace
}  // namespace qor::test
