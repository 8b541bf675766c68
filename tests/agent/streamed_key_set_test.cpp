// A key-set answer read while it arrives must leave exactly what the whole
// answer read at once leaves, whatever the record holds and however the
// pieces fall: the same policies handed to the key manager with the same
// items, the same hash, result, error and audit switch.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "agent/policy/policy_writer.h"
#include "agent/policy/record_check.h"
#include "support/log_capture.h"
#include "support/streamed_load.h"

namespace {

using qor::agent::AccessRuleDesc;
using qor::agent::Bytes;
using qor::agent::EncodePolicyItems;
using qor::agent::EncodePolicyRecord;
using qor::agent::EncodeSequence;
using qor::agent::EncodeTlv;
using qor::agent::KeyVersionDesc;
using qor::agent::PolicyDesc;

constexpr uint32_t kStreamFrom = 64;

PolicyDesc Policy(int i) {
  static const char* algorithms[][2] = {{"AES", "256"}, {"SEED", "128"}, {"ARIA", "256"},
                                        {"LEA", "128"}, {"3DES", "192"}, {"SHA256", "256"}};
  PolicyDesc p;
  p.name = "P" + std::to_string(i);
  p.algorithm = algorithms[i % 6][0];
  p.keyBits = std::stoull(algorithms[i % 6][1]);
  p.keys = {KeyVersionDesc{static_cast<uint64_t>(i % 5 + 2), Bytes(p.keyBits / 8, 0x21 + i % 90)},
            KeyVersionDesc{1, Bytes(p.keyBits / 8, 0x11), "deactive"}};
  if (i % 7 == 3) {
    AccessRuleDesc rule;
    rule.rules[0] = {"scott", "hr*"};
    rule.dateFrom = "2026-1-1";
    rule.decryptAllowed = 0;
    p.acl = {rule};
    p.prio = "BLOCK_FIRST";
  }
  if (i % 11 == 5) {
    p.patternType = "MIDDLE";
    p.patternChars = "3";
    p.position = "FRONT";
  }
  if (i == 17) p.audit = {255, 0, 255, 0};
  p.ivType = i % 2 == 0 ? "RECORD" : "POLICY";
  return p;
}

std::vector<Bytes> Policies(int count) {
  std::vector<Bytes> out;
  for (int i = 0; i < count; ++i) out.push_back(EncodeSequence(EncodePolicyItems(Policy(i))));
  return out;
}

Bytes HashOf(const std::vector<Bytes>& policies) {
  Bytes content;
  for (const Bytes& p : policies) content.insert(content.end(), p.begin(), p.end());
  char text[qor::agent::kPolicyHashTextSize];
  qor::agent::PolicyHashOf(content.data(), content.size(), text);
  return Bytes(text, text + sizeof text);
}

Bytes Record(const std::vector<Bytes>& policies) {
  return EncodePolicyRecord(HashOf(policies), policies);
}

// An element nested |depth| SEQUENCEs deep.
Bytes Nested(int depth) {
  Bytes inner = EncodeTlv(0x04, {1});
  for (int i = 0; i < depth; ++i) inner = EncodeSequence({inner});
  return inner;
}

struct Case {
  const char* what;
  Bytes plain;
  bool streamedEarly;  // policies are added before the last piece
};

std::vector<Case> Cases() {
  std::vector<Case> cases;
  const std::vector<Bytes> plain = Policies(300);
  cases.push_back({"plain record", Record(plain), true});
  {
    std::vector<Bytes> p = plain;
    PolicyDesc again = Policy(250);
    again.name = "P12";  // the whole reader gives both the first "P12"
    p[250] = EncodeSequence(EncodePolicyItems(again));
    cases.push_back({"a name twice", Record(p), true});
  }
  {
    std::vector<Bytes> p = plain;
    p[100] = EncodeTlv(0x04, {'x'});
    cases.push_back({"a policy without items", Record(p), true});
  }
  {
    std::vector<Bytes> p = plain;
    std::vector<Bytes> items = EncodePolicyItems(Policy(100));
    items.resize(3);
    p[100] = EncodeSequence(items);
    cases.push_back({"an unreadable policy", Record(p), true});
  }
  {
    std::vector<Bytes> p = plain;
    PolicyDesc odd = Policy(40);
    odd.algorithm = "NOPE";
    p[40] = EncodeSequence(EncodePolicyItems(odd));
    cases.push_back({"an algorithm the key manager refuses", Record(p), true});
  }
  {
    Bytes r = Record(plain);
    r[20] ^= 1;  // inside the hash text
    cases.push_back({"a hash that does not match", r, true});
  }
  {
    Bytes hash = HashOf(plain);
    hash.pop_back();
    cases.push_back({"a short hash", EncodePolicyRecord(hash, plain), false});
  }
  {
    Bytes content;
    for (const Bytes& p : plain) content.insert(content.end(), p.begin(), p.end());
    const Bytes policies = EncodeTlv(0x30, content);
    const Bytes hash = EncodeTlv(0x04, HashOf(plain));
    Bytes swapped = policies;
    swapped.insert(swapped.end(), hash.begin(), hash.end());
    cases.push_back({"the policies before the hash", EncodeTlv(0x30, swapped), false});
    Bytes extra = hash;
    extra.insert(extra.end(), policies.begin(), policies.end());
    const Bytes more = EncodeTlv(0x04, {'m'});
    extra.insert(extra.end(), more.begin(), more.end());
    cases.push_back({"an element after the policies", EncodeTlv(0x30, extra), false});
    Bytes outer = Record(plain);
    outer[0] = 0x31;
    cases.push_back({"an outer SET", outer, false});
    Bytes trailing = Record(plain);
    trailing.push_back(0);
    trailing.push_back(0);
    cases.push_back({"bytes after the record", trailing, true});
    Bytes shortOuter = Record(plain);
    shortOuter.resize(shortOuter.size() - 40);
    cases.push_back({"a record cut short", shortOuter, false});
  }
  {
    std::vector<Bytes> p = plain;
    std::vector<Bytes> items = EncodePolicyItems(Policy(150));
    items.push_back(Nested(40));  // past the reader's depth: it stops there
    p[150] = EncodeSequence(items);
    cases.push_back({"nesting the reader stops at", Record(p), true});
  }
  cases.push_back({"no policies", Record({}), false});
  {
    // Two policies of 600,000 elements each: the whole reader stops in the
    // second at its element limit, and never sees the one after it.
    std::vector<Bytes> p = Policies(4);
    for (int which : {0, 2}) {
      std::vector<Bytes> items = EncodePolicyItems(Policy(which));
      Bytes many;
      for (int i = 0; i < 600000; ++i) {
        many.push_back(0x04);
        many.push_back(0);
      }
      items.push_back(EncodeTlv(0x30, many));
      p[which] = EncodeSequence(items);
    }
    // Decrypted on another core: how much is read before the end depends on
    // its pace.
    cases.push_back({"more elements than the reader takes", Record(p), false});
  }
  return cases;
}

TEST(StreamedKeySet, LeavesWhatTheWholeAnswerLeaves) {
  qor::test::LogCapture log;
  ASSERT_TRUE(log.ok());
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.what);
    const Bytes body = qor::test::SealForTest(c.plain);
    const qor::test::LoadOutcome whole = qor::test::LoadWhole(body, QOR_MODE_CBC, 0);
    std::mt19937 random(7);
    const std::vector<std::function<size_t()>> schedules = {
        [] { return size_t{1}; },      [] { return size_t{7}; },
        [] { return size_t{16}; },     [] { return size_t{4096}; },
        [] { return size_t{65536}; },  [&] { return size_t{random() % 9000}; },
    };
    for (size_t s = 0; s < schedules.size(); ++s) {
      if (s < 2 && body.size() > 200000) continue;  // byte by byte only on the small ones
      SCOPED_TRACE(s);
      const qor::test::LoadOutcome streamed =
          qor::test::LoadStreamed(body, QOR_MODE_CBC, 0, kStreamFrom, schedules[s]);
      ASSERT_TRUE(streamed.taken);
      EXPECT_EQ(streamed.state, whole.state);
      if (c.streamedEarly) {
        EXPECT_GT(streamed.addedBeforeFinish, 0);
      }
    }
  }
}

TEST(StreamedKeySet, KeepsTheWholeAnswersRefusals) {
  qor::test::LogCapture log;
  ASSERT_TRUE(log.ok());
  const Bytes plain = Record(Policies(40));
  Bytes body = qor::test::SealForTest(plain);
  // A last block that does not decrypt to padding.
  Bytes badPadding = body;
  badPadding[badPadding.size() - 20] ^= 0x5A;
  const auto pieces = [] { return size_t{1000}; };
  for (const Bytes& b : {body, badPadding}) {
    const qor::test::LoadOutcome whole = qor::test::LoadWhole(b, QOR_MODE_CBC, 1);
    const qor::test::LoadOutcome streamed =
        qor::test::LoadStreamed(b, QOR_MODE_CBC, 1, kStreamFrom, pieces);
    ASSERT_TRUE(streamed.taken);
    EXPECT_EQ(streamed.state, whole.state);
  }
  EXPECT_NE(qor::test::LoadWhole(badPadding, QOR_MODE_CBC, 1).state.find("Record Decrypt Failed"),
            std::string::npos);

  // Bodies that are not whole blocks, and small ones, are read whole.
  Bytes ragged = body;
  ragged.pop_back();
  EXPECT_FALSE(qor::test::LoadStreamed(ragged, QOR_MODE_CBC, 0, kStreamFrom, pieces).taken);
  EXPECT_FALSE(qor::test::LoadStreamed(body, QOR_MODE_CBC, 0,
                                       static_cast<uint32_t>(body.size()) + 16, pieces)
                   .taken);
}

// A key manager that already holds policies is never streamed into, and an
// answer broken off leaves nothing behind.
TEST(StreamedKeySet, StartsOnlyOnAnEmptyKeyManagerAndDiscardsABrokenAnswer) {
  qor::test::LogCapture log;
  ASSERT_TRUE(log.ok());
  const Bytes body = qor::test::SealForTest(Record(Policies(200)));
  unsigned char key[32], iv[16];
  qor::test::TestSessionKey(key, iv);
  qor::test::RecordingKeyMgr mgr;
  qor::agent::AuditFlag.store(0);
  qor::agent::StreamedKeySet stream(key, iv, mgr.get(), QOR_MODE_CBC, 0, kStreamFrom);
  unsigned char* room = stream.Begin(1, static_cast<uint32_t>(body.size()));
  ASSERT_NE(room, nullptr);
  std::memcpy(room, body.data(), body.size() - 1000);
  stream.Arrived(static_cast<uint32_t>(body.size() - 1000));
  EXPECT_GT(mgr.get()->GetPolicyCount(mgr.get()), 100);
  EXPECT_EQ(qor::agent::AuditFlag.load(), 1);  // policy 17 audits
  stream.Discard();
  EXPECT_EQ(mgr.get()->GetPolicyCount(mgr.get()), 0);
  EXPECT_EQ(qor::agent::AuditFlag.load(), 0);

  // A second answer after a broken one loads completely.
  room = stream.Begin(1, static_cast<uint32_t>(body.size()));
  ASSERT_NE(room, nullptr);
  std::memcpy(room, body.data(), body.size());
  stream.Arrived(static_cast<uint32_t>(body.size()));
  ErrorInfo error{};
  ASSERT_TRUE(stream.Finish(&error));
  EXPECT_EQ(mgr.get()->GetPolicyCount(mgr.get()), 200);

  qor::agent::StreamedKeySet again(key, iv, mgr.get(), QOR_MODE_CBC, 0, kStreamFrom);
  EXPECT_EQ(again.Begin(1, static_cast<uint32_t>(body.size())), nullptr);
}

}  // namespace
