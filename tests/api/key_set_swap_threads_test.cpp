// Value calls on many threads while the agent publishes new key sets (each
// rewrites the update stamp, so the set is swapped under the calls) and
// another thread clears the key set: every value round-trips or fails
// cleanly, values stored under any set decrypt under the newest, and the
// calls end up on the newest set. Under ThreadSanitizer a call that touched a
// key set after it was freed shows as a race with the free.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "config/config_test_support.h"
#include "qorapi.h"
#include "support/agent_process.h"
#include "support/test_support.h"

namespace {

using qor::test::AgentProcess;
using qor::test::InChild;
using qor::test::PolicyDesc;
using qor::test::TempDir;

std::vector<PolicyDesc> Set(const std::vector<int>& versions) {
  PolicyDesc record = qor::test::Policy("AES_REC", "AES", 256, versions);
  record.ivType = "RECORD";
  return {record, qor::test::Policy("ARIA_256", "ARIA", 256, versions)};
}

// One value call: the result, or nothing for a clean failure (-1, no
// buffer); |unclean| counts failures that are neither.
std::optional<std::string> Call(bool encrypt, const char* policy, const std::string& in, int mode,
                                std::atomic<long>& unclean) {
  std::vector<unsigned char> buffer(in.begin(), in.end());
  buffer.resize(in.size() + 64);
  const DataBuffer out = (encrypt ? QOR_EncryptExUdf : QOR_DecryptExUdf)(
      policy, buffer.data(), static_cast<int>(in.size()), "u", "h", "p", mode);
  if (out.length < 0 || out.data == nullptr) {
    if (out.length != -1 || out.data != nullptr) ++unclean;
    std::free(out.data);
    return std::nullopt;
  }
  std::string result(reinterpret_cast<char*>(out.data), static_cast<size_t>(out.length));
  std::free(out.data);
  return result;
}

int VersionOf(const std::string& binary) {
  return binary.size() < 2 ? -1
                           : (static_cast<unsigned char>(binary[0]) << 8) |
                                 static_cast<unsigned char>(binary[1]);
}

struct Tally {
  std::atomic<long> roundTrips{0};
  std::atomic<long> failures{0};
  std::atomic<long> wrong{0};
  std::atomic<long> unclean{0};
  std::atomic<long> clears{0};
  std::atomic<int> newest{0};  // highest key version a value was encrypted under
};

struct Kept {
  const char* policy;
  int mode;
  std::string cipher;
  std::string plain;
};

void Worker(int id, const std::atomic<bool>& stop, Tally& tally, std::vector<Kept>& kept) {
  const char* const policies[] = {"AES_REC", "ARIA_256"};
  for (long i = 0; !stop; ++i) {
    const char* policy = policies[(id + i) % 2];
    const int mode = static_cast<int>((i / 2) % 2);
    const std::string plain = "thread " + std::to_string(id) + " value " + std::to_string(i);
    const auto cipher = Call(true, policy, plain, mode, tally.unclean);
    if (!cipher) {
      ++tally.failures;
      continue;
    }
    if (mode == 1) {
      for (int seen = tally.newest; VersionOf(*cipher) > seen &&
                                    !tally.newest.compare_exchange_weak(seen, VersionOf(*cipher));) {
      }
    }
    if (kept.size() < 32 && i % 7 == 0) kept.push_back({policy, mode, *cipher, plain});
    const auto back = Call(false, policy, *cipher, mode, tally.unclean);
    if (!back) {
      ++tally.failures;
    } else if (*back != plain) {
      ++tally.wrong;
    } else {
      ++tally.roundTrips;
    }
  }
}

TEST(KeySetSwapThreads, CallsMeetSwapsAndClears) {
  if (qor::test::AgentBinary() == nullptr) GTEST_SKIP() << "qor-agent is not built";
  TempDir home;
  std::filesystem::create_directories(std::filesystem::path(home.path()) / "logs");
  // The agent keeps its stamp in the library's home: each reload swaps.
  AgentProcess agent(home.path(), Set({1}));
  ASSERT_TRUE(agent.ok());
  const auto environment =
      qor::test::LoopbackAgentEnvironment(home.path(), agent.firstPort(), agent.secondPort());
  EXPECT_EQ(InChild(environment, [&]() -> std::string {
              std::atomic<long> ignored{0};
              CHILD_CHECK(Call(true, "AES_REC", "warm up", 1, ignored).has_value());
              constexpr int kWorkers = 6;
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
              threads.emplace_back([&] {
                while (!stop) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(7));
                  QOR_ClearKeys();
                  ++tally.clears;
                }
                ++finished;
              });
              // Each new set is published while the calls and clears run;
              // the next one only once a value was seen under it.
              const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(120);
              const auto waitFor = [&](auto done) {
                while (!done() && std::chrono::steady_clock::now() < guard) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
              };
              bool reloaded = true;
              for (int newest = 2; newest <= 4; ++newest) {
                std::vector<int> versions;
                for (int v = newest; v >= 1; --v) versions.push_back(v);
                reloaded = reloaded && agent.Reload(Set(versions));
                waitFor([&] { return tally.newest >= newest; });
              }
              waitFor([&] { return tally.clears > 10 && tally.roundTrips > 200; });
              stop = true;
              // A deadlock shows as threads that never finish.
              const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
              while (finished < kWorkers + 1 && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
              }
              if (finished < kWorkers + 1) return "threads did not finish: deadlock";
              for (auto& t : threads) t.join();

              CHILD_CHECK(reloaded);
              CHILD_CHECK(tally.wrong == 0);
              CHILD_CHECK(tally.unclean == 0);
              CHILD_CHECK(tally.newest == 4);
              CHILD_CHECK(tally.clears > 10);
              CHILD_CHECK(tally.roundTrips > 200);
              // Values stored under every set decrypt under the newest.
              for (const auto& list : kept) {
                for (const Kept& k : list) {
                  CHILD_CHECK(Call(false, k.policy, k.cipher, k.mode, ignored).value_or("") == k.plain);
                }
              }
              const auto last = Call(true, "AES_REC", "after", 1, ignored);
              CHILD_CHECK(last && VersionOf(*last) == 4);
              return std::string();
            }),
            "");
}

}  // namespace
