// Appending to the policy table of a key set in service: lookups take no lock,
// so an append publishes a grown copy and keeps the old one readable until the
// key set is cleared; what was found before stays the same object.
#include "engine/keymgr/policy_table.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/keymgr/key_mgr_table.h"
#include "engine/policy_fixture.h"
#include "qor/hashtable.h"
#include "support/bytes.h"

namespace {

using qor::test::Buffer;
using qor::test::KeyList;
using qor::test::Mgr;
using qor::test::NewMgr;
using qor::test::PolicyInfoArgs;

KeyInfo* Find(KeyMgr* m, const std::string& name) {
  const DataBuffer n = Buffer(name);
  return qor::engine::FindPolicy(m, &n);
}

KeyInfo* Add(KeyMgr* m, const std::string& name, int64_t version = 1) {
  PolicyInfoArgs a;
  a.name = name;
  KeyList keys({version});
  return qor::test::AddPolicy(m, a, keys);
}

TEST(PolicyTable, AppendAddsOnlyMissingNamesAndKeepsWhatWasFound) {
  Mgr target = NewMgr();
  Mgr fetched = NewMgr();
  KeyInfo* kept = Add(target.get(), "kept", 1);
  ASSERT_NE(kept, nullptr);
  ASSERT_NE(Add(fetched.get(), "kept", 9), nullptr);  // held already: not replaced
  // Enough new names to make the copy grow past its first bucket sizes.
  for (int i = 0; i < 150; ++i) ASSERT_NE(Add(fetched.get(), "new." + std::to_string(i)), nullptr);

  qor::engine::AppendMissingPolicies(target.get(), fetched.get());

  EXPECT_EQ(target->GetPolicyCount(target.get()), 151);
  EXPECT_EQ(Find(target.get(), "kept"), kept);
  UACipherUtil* c = kept->cipher;
  EXPECT_EQ(c->GetLatestKeyVersion(&c), 1);
  for (int i = 0; i < 150; ++i) EXPECT_NE(Find(target.get(), "new." + std::to_string(i)), nullptr);
  // The appended policies are copies: the fetched set can go.
  KeyInfo* appended = Find(target.get(), "new.7");
  fetched.reset();
  EXPECT_EQ(Find(target.get(), "new.7"), appended);
  EXPECT_STREQ(appended->name, "new.7");
}

TEST(PolicyTable, ANameTheAnswerCarriesTwiceIsAppendedOnce) {
  Mgr target = NewMgr();
  Mgr fetched = NewMgr();
  ASSERT_NE(Add(fetched.get(), "twice", 1), nullptr);
  KeyInfo* newest = Add(fetched.get(), "twice", 2);
  ASSERT_NE(newest, nullptr);
  qor::engine::AppendMissingPolicies(target.get(), fetched.get());
  EXPECT_EQ(target->GetPolicyCount(target.get()), 1);
  KeyInfo* found = Find(target.get(), "twice");
  ASSERT_NE(found, nullptr);
  UACipherUtil* c = found->cipher;
  EXPECT_EQ(c->GetLatestKeyVersion(&c), 2);  // the entry a lookup of the answer finds
}

TEST(PolicyTable, EqualNamesKeepTheirNewestFirstOrderThroughTheCopy) {
  Mgr target = NewMgr();
  ASSERT_NE(Add(target.get(), "same", 1), nullptr);
  KeyInfo* newest = Add(target.get(), "same", 2);
  ASSERT_EQ(Find(target.get(), "same"), newest);
  Mgr fetched = NewMgr();
  for (int i = 0; i < 60; ++i) ASSERT_NE(Add(fetched.get(), "other." + std::to_string(i)), nullptr);
  qor::engine::AppendMissingPolicies(target.get(), fetched.get());
  EXPECT_EQ(Find(target.get(), "same"), newest);
  EXPECT_EQ(target->GetPolicyCount(target.get()), 62);
}

TEST(PolicyTable, NothingNewLeavesTheTableAsItWas) {
  Mgr target = NewMgr();
  KeyInfo* only = Add(target.get(), "only");
  Mgr fetched = NewMgr();
  ASSERT_NE(Add(fetched.get(), "only", 3), nullptr);
  qor::engine::AppendMissingPolicies(target.get(), fetched.get());
  EXPECT_EQ(target->GetPolicyCount(target.get()), 1);
  EXPECT_EQ(Find(target.get(), "only"), only);
  EXPECT_EQ(qor::engine::PublishWithAdded(target.get(), nullptr, 0), 0);
  EXPECT_EQ(qor::engine::PublishWithAdded(target.get(), nullptr, 1), 1);
}

// Readers look names up without a lock while appends replace the table; each
// reader must always find the policies that were there from the start, and a
// name once seen must stay found. Run under ThreadSanitizer in CI.
TEST(PolicyTable, LookupsDuringAppendsAlwaysFindTheTable) {
  Mgr target = NewMgr();
  std::vector<KeyInfo*> base;
  for (int i = 0; i < 20; ++i) base.push_back(Add(target.get(), "base." + std::to_string(i)));
  constexpr int kRounds = 40;
  constexpr int kPerRound = 5;
  std::vector<Mgr> answers;
  for (int r = 0; r < kRounds; ++r) {
    answers.push_back(NewMgr());
    for (int j = 0; j < kPerRound; ++j) {
      ASSERT_NE(Add(answers.back().get(), "grown." + std::to_string(r * kPerRound + j)), nullptr);
    }
  }
  std::atomic<bool> done{false};
  std::atomic<int> wrong{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t) {
    readers.emplace_back([&, t] {
      int seenUpTo = -1;
      for (unsigned n = static_cast<unsigned>(t); !done.load(std::memory_order_relaxed); ++n) {
        if (Find(target.get(), "base." + std::to_string(n % 20)) != base[n % 20]) ++wrong;
        const int probe = seenUpTo + 1;
        if (probe < kRounds * kPerRound &&
            Find(target.get(), "grown." + std::to_string(probe)) != nullptr) {
          seenUpTo = probe;
        }
        if (seenUpTo >= 0 && Find(target.get(), "grown." + std::to_string(seenUpTo)) == nullptr) {
          ++wrong;
        }
      }
    });
  }
  for (auto& answer : answers) {
    qor::engine::AppendMissingPolicies(target.get(), answer.get());
    std::this_thread::yield();
  }
  done = true;
  for (auto& r : readers) r.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(target->GetPolicyCount(target.get()), 20 + kRounds * kPerRound);
  // Clearing frees the old tables with the key set's own.
  EXPECT_NE(target->Clear(target.get()), nullptr);
  EXPECT_EQ(target->GetPolicyCount(target.get()), 0);
}

}  // namespace
