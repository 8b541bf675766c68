// Setters and the reports that reset the instance ("key-update", "reinit",
// "clear-all") while other threads encrypt: no call may crash or read a
// released configuration, and the instance serves again afterwards.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
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
using qor::test::Policy;
using qor::test::TempDir;

TEST(SettingsThreads, SettersAndResetsWhileEncrypting) {
  if (qor::test::AgentBinary() == nullptr) GTEST_SKIP() << "qor-agent is not built";
  TempDir libHome;
  TempDir agentHome;
  qor::test::WriteFile(libHome / "logs/.keep", "");
  AgentProcess agent(agentHome.path(), {Policy("ARIA_256", "ARIA", 256, {1}, 11)});
  ASSERT_TRUE(agent.ok());
  const int first = agent.firstPort();
  const int second = agent.secondPort();
  EXPECT_EQ(InChild({{"QOR_HOME", libHome.path()},
                     {"QOR_FIRST_PORT", std::to_string(first)},
                     {"QOR_SECOND_PORT", std::to_string(second)},
                     {"HOME", libHome.path()}},
                    [&] {
                      std::atomic<bool> stop{false};
                      std::atomic<int> succeeded{0};
                      std::vector<std::thread> workers;
                      for (int t = 0; t < 4; ++t) {
                        workers.emplace_back([&] {
                          while (!stop) {
                            unsigned char value[64] = "a value";
                            DataBuffer out = QOR_EncryptExUdf("ARIA_256", value, 7, nullptr,
                                                              nullptr, nullptr, 0);
                            std::free(out.data);
                            if (out.length > 0) ++succeeded;
                          }
                        });
                      }
                      std::thread reporter([&] {
                        char out[2048];
                        for (int i = 0; i < 6; ++i) {
                          for (const char* command : {"key-update", "reinit", "clear-all", "all",
                                                      "show-conf"}) {
                            QOR_checkAgentEx(out, command);
                          }
                        }
                      });
                      for (int i = 0; i < 200; ++i) {
                        QOR_SetFirstIp("127.0.0.1");
                        QOR_SetSecondIp("127.0.0.1");
                        QOR_SetFirstPort(first);
                        QOR_SetSecondPort(second);
                        QOR_SetLogLevel(i % 2 ? "DEBUG" : "INFO");
                        char* conf = QOR_checkAgent("show-conf");
                        (void)conf;
                        QOR_HealthCheckAgent();
                      }
                      reporter.join();
                      stop = true;
                      for (std::thread& worker : workers) worker.join();
                      CHILD_CHECK(succeeded > 0);
                      unsigned char value[64] = "after";
                      DataBuffer out =
                          QOR_EncryptExUdf("ARIA_256", value, 5, nullptr, nullptr, nullptr, 0);
                      std::free(out.data);
                      CHILD_CHECK(out.length > 0);
                      return std::string();
                    }),
            "");
}

}  // namespace
