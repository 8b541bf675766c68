// Random bytes: exact fill lengths, distinct outputs, the congruential step,
// and many threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <set>
#include <thread>
#include <vector>

#include "qor/nc_random.h"

namespace {

TEST(Random, FillsExactlyTheRequestedLength) {
  for (int32_t len : {0, 1, 7, 8, 9, 15, 16, 17, 1000}) {
    SCOPED_TRACE(len);
    // Guard bytes on both sides must survive; with a few tries the payload
    // cannot stay all 0xEE by chance.
    bool changed = len == 0;
    for (int attempt = 0; attempt < 4 && !changed; ++attempt) {
      std::vector<uint8_t> buf(static_cast<size_t>(len) + 16, 0xEE);
      ASSERT_EQ(NC_GenerateRandom(buf.data() + 8, len), 0);
      for (int i = 0; i < 8; ++i) {
        ASSERT_EQ(buf[i], 0xEE);
        ASSERT_EQ(buf[buf.size() - 1 - i], 0xEE);
      }
      for (int32_t i = 0; i < len; ++i) changed = changed || buf[8 + i] != 0xEE;
    }
    EXPECT_TRUE(changed);
  }
  std::vector<uint8_t> sink(8);
  EXPECT_EQ(NC_GenerateRandom(sink.data(), -1), -1);
  EXPECT_EQ(NC_GenerateRandom(nullptr, 8), -1);
  EXPECT_EQ(NC_GenerateRandom(nullptr, 0), 0);
}

TEST(Random, OutputsDifferBetweenCallsAndWithinOne) {
  std::set<std::vector<uint8_t>> seen;
  for (int i = 0; i < 200; ++i) {
    std::vector<uint8_t> buf(16);
    ASSERT_EQ(NC_GenerateRandom(buf.data(), 16), 0);
    EXPECT_TRUE(seen.insert(buf).second) << "repeated output at call " << i;
  }
  std::vector<uint8_t> big(1000);
  ASSERT_EQ(NC_GenerateRandom(big.data(), 1000), 0);
  std::set<std::vector<uint8_t>> blocks;
  for (size_t off = 0; off + 8 <= big.size(); off += 8) blocks.insert({big.begin() + off, big.begin() + off + 8});
  EXPECT_EQ(blocks.size(), big.size() / 8);
}

TEST(Random, CongruentialStep) {
  const uint32_t a = NC_Ulvex_Rand();
  const uint32_t b = NC_Ulvex_Rand();
  EXPECT_EQ(b, a * 1103515245u + 12345u);
}

TEST(Random, ManyThreadsAtOnce) {
  constexpr int kThreads = 8;
  constexpr int kCalls = 300;
  std::vector<std::vector<std::vector<uint8_t>>> results(kThreads);
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < kCalls; ++i) {
        std::vector<uint8_t> buf(24);
        if (NC_GenerateRandom(buf.data(), 24) != 0) return;
        results[t].push_back(std::move(buf));
        if (i % 16 == 0) (void)NC_Ulvex_Rand();
      }
    });
  }
  go = true;
  for (auto& th : threads) th.join();
  // Each call draws fresh congruential values under the lock, so no two calls
  // anywhere may yield the same bytes.
  std::set<std::vector<uint8_t>> all;
  for (const auto& per_thread : results) {
    ASSERT_EQ(per_thread.size(), size_t(kCalls));
    for (const auto& r : per_thread) EXPECT_TRUE(all.insert(r).second);
  }
}

}  // namespace
