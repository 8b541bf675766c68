// Where the key set came from and when it was loaded are written by every key
// download and read by value calls and the reports on other threads. A real
// agent publishes new sets while threads encrypt, miss policies (whose
// message names the source) and read the initialisation result. Meant for the
// thread-sanitizer run, which reports any unsynchronised access.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "config/config_test_support.h"
#include "qorapi.h"
#include "support/agent_process.h"
#include "support/test_support.h"

namespace {

using qor::test::AgentProcess;
using qor::test::KeyHex;
using qor::test::PolicyDesc;
using qor::test::TempDir;

PolicyDesc Aria(int versions) {
  PolicyDesc p{"ARIA_256", "ARIA", 256, {}};
  for (int v = versions; v >= 1; --v) p.keys.push_back({v, KeyHex(32, 100 + static_cast<unsigned>(v))});
  return p;
}

TEST(ConfigRaceThreads, DownloadsWhileValueCallsReadWhereTheSetCameFrom) {
  if (qor::test::AgentBinary() == nullptr) GTEST_SKIP() << "qor-agent is not built";
  TempDir home;
  std::filesystem::create_directories(home / "logs");
  AgentProcess agent(home.path(), {Aria(1)});
  ASSERT_TRUE(agent.ok());
  EXPECT_EQ(qor::test::RunInChild([&]() -> std::string {
    qor::test::ApplyEnvironment({{"QOR_HOME", home.path()},
                                 {"QOR_FIRST_AGENT_IP", "127.0.0.1"},
                                 {"QOR_FIRST_PORT", std::to_string(agent.firstPort())},
                                 {"QOR_SECOND_PORT", std::to_string(agent.secondPort())},
                                 {"QOR_LOG_LEVEL", "ERROR"}});
    CHILD_CHECK(QOR_Init() == 0);
    std::atomic<bool> stop{false};
    std::atomic<int> encrypted{0}, missed{0}, reports{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; !stop.load(); ++i) {
          unsigned char value[64] = "4111-1111-1111-1111";
          // Odd threads ask for a policy no set holds: each miss downloads
          // and its message names where the set came from.
          const char* policy = t % 2 == 0 ? "ARIA_256" : "NO_SUCH_POLICY";
          char* out = QOR_Encrypt(policy, value, 19, 0);
          if (out != nullptr) ++encrypted;
          else ++missed;
          std::free(out);
          // The report text is one static buffer: one thread reads it.
          if (t == 0 && std::string(QOR_InitResult()).rfind("Result: ", 0) == 0) ++reports;
        }
      });
    }
    for (int round = 2; round <= 4; ++round) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (!agent.Reload({Aria(round)})) return "the agent did not reload";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop = true;
    for (auto& thread : threads) thread.join();
    CHILD_CHECK(encrypted.load() > 0);
    CHILD_CHECK(missed.load() > 0);
    CHILD_CHECK(reports.load() > 0);
    return "";
  }), "");
}

}  // namespace
