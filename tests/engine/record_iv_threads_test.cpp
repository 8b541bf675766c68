// Record IVs drawn by many threads at once, through both exported ways of
// drawing one: no value is handed out twice in the process.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <cstdint>
#include <thread>
#include <vector>

#include "engine/cipher/record_iv.h"
#include "engine/policy_fixture.h"
#include "qor/ua_cipher_util.h"

namespace {

using qor::test::KeyList;
using qor::test::Policy;
using qor::test::PolicyArgs;

TEST(RecordIvThreads, NoValueIsDrawnTwice) {
  KeyList keys{1};
  Policy policy(CreateEx3(PolicyArgs(), keys));
  ASSERT_TRUE(policy);
  constexpr int kThreads = 8;
  constexpr int kDraws = 20000;
  std::vector<std::vector<uint32_t>> drawn(kThreads);
  std::atomic<int> failures{0};
  std::barrier start(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::vector<uint32_t>& mine = drawn[static_cast<size_t>(t)];
      mine.reserve(kDraws);
      start.arrive_and_wait();
      for (int i = 0; i < kDraws; ++i) {
        uint32_t value = 0;
        // Odd threads draw for a policy object, even ones through the
        // file service's entry; both take from the one counter.
        if (t % 2 == 1) {
          if (UACipherUtil_SetRecordIV(policy.self(), nullptr) != 0 ||
              !qor::engine::TakePendingRecordIv(policy.get(), &value)) {
            ++failures;
            continue;
          }
        } else if (UDE_SetRecordIV(&value) != 0) {
          ++failures;
          continue;
        }
        mine.push_back(value);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  ASSERT_EQ(failures, 0);
  std::vector<uint32_t> all;
  for (const auto& mine : drawn) all.insert(all.end(), mine.begin(), mine.end());
  ASSERT_EQ(all.size(), size_t{kThreads} * kDraws);
  std::sort(all.begin(), all.end());
  EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end()) << "a record IV was drawn twice";
}

// A thread alone keeps drawing consecutive values, as the counter shows them,
// even after other threads competed for the counter.
TEST(RecordIvThreads, AloneAThreadStillDrawsConsecutively) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 5000; ++i) qor::engine::DrawRecordIv();
    });
  }
  for (auto& thread : threads) thread.join();
  const uint32_t a = qor::engine::DrawRecordIv();
  const uint32_t b = qor::engine::DrawRecordIv();
  EXPECT_EQ(b, a + 1);
  EXPECT_EQ(b, std::atomic_ref<uint32_t>(g_RecordIV).load());
}

}  // namespace
