// Many threads encrypting and decrypting through the value entry points
// while another clears the key set and installs it again: every value either
// round-trips or fails cleanly, and nothing crashes or hangs.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "api/entry_fixture.h"

namespace {

using qor::test::Data;
using qor::test::EntryKeySet;
using qor::test::Owned;
using qor::test::RunInChild;

struct Tally {
  std::atomic<long> roundTrips{0};
  std::atomic<long> cleanFailures{0};
  std::atomic<long> wrong{0};      // decrypted to something else
  std::atomic<long> unclean{0};    // failed without -1, or with a buffer
  std::atomic<long> clears{0};
};

// A failure is -1 with no buffer; -2 and -3 are answers, not failures.
bool Clean(const Owned& r) { return r.length() == -1 && r.value.data == nullptr; }

const char* const kPolicies[] = {qor::test::kAesRecord, qor::test::kAria,
                                 qor::test::kSeedCompat, qor::test::kNullEncrypted};

// A text value stored while the key set came and went.
struct Kept {
  const char* policy;
  std::string cipher;
  std::string plain;
};

void Worker(int id, const std::atomic<bool>& stop, Tally& tally, std::vector<Kept>& kept) {
  for (long i = 0; !stop; ++i) {
    const char* policy = kPolicies[(id + i) % 4];
    const int mode = static_cast<int>((i / 4) % 2);
    const std::string plain =
        "thread " + std::to_string(id) + " value " + std::to_string(i) + std::string(i % 40, '*');
    std::string in = plain;
    const Owned cipher(QOR_EncryptExUdf(policy, Data(in), static_cast<int>(in.size()), "u", "h",
                                        "p", mode));
    if (cipher.length() <= 0) {
      ++(Clean(cipher) ? tally.cleanFailures : tally.unclean);
      continue;
    }
    std::string stored = cipher.str();
    if (mode == 0 && kept.size() < 64) kept.push_back({policy, stored, plain});
    const Owned back(QOR_DecryptExUdf(policy, Data(stored), static_cast<int>(stored.size()), "u",
                                      "h", "p", mode));
    if (back.length() < 0) {
      ++(Clean(back) ? tally.cleanFailures : tally.unclean);
    } else if (back.str() != plain) {
      ++tally.wrong;
    } else {
      ++tally.roundTrips;
    }
  }
}

TEST(ValueThreads, ValuesSurviveKeySetClears) {
  EXPECT_EQ(RunInChild([]() -> std::string {
    EntryKeySet keys;
    CHILD_CHECK(keys.Install());
    constexpr int kWorkers = 8;
    Tally tally;
    std::atomic<bool> stop{false};
    std::atomic<int> finished{0};
    std::vector<std::vector<Kept>> kept(kWorkers);
    std::vector<std::thread> threads;
    for (int id = 0; id < kWorkers; ++id) {
      threads.emplace_back([&, id] {
        Worker(id, stop, tally, kept[static_cast<size_t>(id)]);
        ++finished;
      });
    }
    // Clear, let calls meet the cleared instance (they try to initialise,
    // find no agent and fail), then install the same keys again.
    std::atomic<bool> installFailed{false};
    threads.emplace_back([&] {
      while (!stop) {
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        QOR_ClearKeys();
        ++tally.clears;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (!keys.Install()) installFailed = true;
      }
      ++finished;
    });
    // Run until every kind of event has happened often enough; the deadline
    // only keeps a hang from running forever.
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!(tally.clears > 10 && tally.roundTrips > 100 && tally.cleanFailures > 0) &&
           std::chrono::steady_clock::now() < guard) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    stop = true;
    // A deadlock shows as threads that never finish: give up on them.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (finished < kWorkers + 1 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (finished < kWorkers + 1) return "threads did not finish: deadlock";
    for (auto& t : threads) t.join();

    CHILD_CHECK(!installFailed);
    CHILD_CHECK(tally.wrong == 0);
    CHILD_CHECK(tally.unclean == 0);
    CHILD_CHECK(tally.clears > 10);
    CHILD_CHECK(tally.roundTrips > 100);
    CHILD_CHECK(tally.cleanFailures > 0);

    // What was stored while the key set came and went still decrypts.
    CHILD_CHECK(keys.Install());
    for (auto& list : kept) {
      for (Kept& k : list) {
        const Owned back(QOR_DecryptExUdf(k.policy, Data(k.cipher),
                                          static_cast<int>(k.cipher.size()), "u", "h", "p", 0));
        CHILD_CHECK(back.str() == k.plain);
      }
    }
    return "";
  }), "");
}

}  // namespace
