// The texts of the status reports, whole and byte for byte, in each state an
// operator meets: fresh process, initialised, agent down, bypass, and after
// "clear-all". Every case runs in a forked child with its own environment.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <regex>
#include <string>
#include <vector>

#include "config/config_test_support.h"
#include "qorapi.h"
#include "support/agent_process.h"
#include "support/test_support.h"

namespace {

using qor::test::AgentProcess;
using qor::test::Environment;
using qor::test::InChild;
using qor::test::LoopbackAgentEnvironment;
using qor::test::Policy;
using qor::test::PolicyDesc;
using qor::test::TempDir;

const std::vector<PolicyDesc> kSet = {Policy("ARIA_256", "ARIA", 256, {1}, 9),
                                      Policy("SEED_128", "SEED", 128, {1}, 9)};


std::string Today() {
  const time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  char text[16];
  strftime(text, sizeof(text), "%Y-%m-%d", &local);
  return text;
}

// The load time at the end of a successful report, replaced by "<time>".
std::string WithoutLoadTime(const std::string& report) {
  return std::regex_replace(report,
                            std::regex("status : OK \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"),
                            "status : OK <time>");
}

std::string Head(const std::string& home, int first, int second, const std::string& logPath) {
  return " Product version : V 3.7.3\n Product release : 2.0.26.7\n Agent Home : " + home +
         "\n Log path : " + logPath + "\n Log level : INFO\n Port : " + std::to_string(first) +
         "\n Second Port : " + std::to_string(second) + "\n Key Sync : File " + home +
         "/conf/.qorupdate.dat\n Emergency use : Not Use";
}

std::string ClearAll(const std::string& logPath, bool initialised) {
  return "Before\nLog Path : " + logPath + "\nAudit Path : \nKey Init : " +
         (initialised ? "TRUE" : "FALSE") + "\nAfter\nLog Path : " + logPath +
         "\nAudit Path : \nKey Init : FALSE";
}

class StatusReport : public ::testing::Test {
 protected:
  void SetUp() override {
    if (qor::test::AgentBinary() == nullptr) GTEST_SKIP() << "qor-agent is not built";
    qor::test::WriteFile(libHome / "logs/.keep", "");
  }
  TempDir libHome;
  TempDir agentHome;
};

TEST_F(StatusReport, FreshProcess) {
  EXPECT_EQ(InChild(LoopbackAgentEnvironment(libHome.path(), 1, 2), [&] {
              char out[2048];
              CHILD_CHECK(QOR_checkAgentEx(out, "clear-all") ==
                          static_cast<int>(ClearAll("", false).size()));
              CHILD_CHECK(std::string(out) == ClearAll("", false));
              CHILD_CHECK(std::string(QOR_checkAgent("show-conf")) == "Property is Not Initialized");
              // No buffer: nothing written, the clearing still done.
              CHILD_CHECK(QOR_checkAgentFilter(nullptr, 100, "clear-all") == 0);
              // A short buffer gets the start, terminated, and its length.
              CHILD_CHECK(QOR_checkAgentFilter(out, 7, "CLEAR-ALL") == 6);
              CHILD_CHECK(std::string(out) == "Before");
              return std::string();
            }),
            "");
}

TEST_F(StatusReport, InitialisedThenClearedThenInitialisedAgain) {
  AgentProcess agent(agentHome.path(), kSet);
  ASSERT_TRUE(agent.ok());
  const std::string home = libHome.path();
  const int first = agent.firstPort();
  const int second = agent.secondPort();
  EXPECT_EQ(InChild(LoopbackAgentEnvironment(home, first, second), [&] {
              const std::string log = home + "/logs/qor_api.log." + Today();
              const std::string ok = Head(home, first, second, log) +
                                     "\n Policy Init From : First Agent\n Ctypto Mode : CBC"
                                     "\n Load Policy : 2\n Load Policy status : OK <time>";
              const std::pair<const char*, std::string> table[] = {
                  {"all", ok},        // fresh: initialises
                  {"All", ok},        // initialised: only reports
                  {"key-update", ok},
                  {"reinit", ok},
                  {"clear-all", ClearAll(log, true)},
                  {"show-conf", "Property is Not Initialized"},
                  {"clear-all", ClearAll(log, false)},
                  {"ALL", ok},        // after clear-all: initialises from scratch
              };
              for (const auto& [command, expected] : table) {
                const std::string report = WithoutLoadTime(QOR_checkAgent(command));
                if (report != expected) {
                  return std::string(command) + ":\n" + report + "\nexpected:\n" + expected;
                }
              }
              CHILD_CHECK(QOR_IsInit() == 0);
              char out[64];
              const int n = QOR_checkAgentFilter(out, sizeof(out), "all");
              CHILD_CHECK(n == 63 && std::string(out) == ok.substr(0, 63));
              return std::string();
            }),
            "");
  // Fresh, key-update, reinit and the last "all" each downloaded the set.
  EXPECT_EQ(agent.RequestsSettled(1, 4), 4);
}

TEST_F(StatusReport, AgentDown) {
  const std::string home = libHome.path();
  const int port = qor::test::ClosedPort();
  EXPECT_EQ(InChild(LoopbackAgentEnvironment(home, port, port), [&] {
              const std::string log = home + "/logs/qor_api.log." + Today();
              for (const char* command : {"all", "key-update", "reinit"}) {
                const std::string report = QOR_checkAgent(command);
                const std::string expected = Head(home, port, port, log) +
                                             "\n Load Policy : 0\n Load Policy status : Fail( " +
                                             QOR_GetLastErrorMsg() + " ) \n";
                if (report != expected) return std::string(command) + ":\n" + report;
                CHILD_CHECK(QOR_GetLastErrorCode() != 0);
              }
              CHILD_CHECK(std::string(QOR_checkAgent("clear-all")) == ClearAll(log, false));
              return std::string();
            }),
            "");
}

TEST_F(StatusReport, Bypass) {
  const std::string home = libHome.path();
  const int port = qor::test::ClosedPort();
  Environment environment = LoopbackAgentEnvironment(home, port, port);
  environment["QOR_BYPASS"] = "true";
  EXPECT_EQ(InChild(environment, [&] {
              const std::string log = home + "/logs/qor_api.log." + Today();
              const std::string report = QOR_checkAgent("all");
              // Initialised without a key set: the report says where it stands.
              const std::string expected = Head(home, port, port, log) +
                                           "\n Policy Init From : Nothing\n Ctypto Mode : BYPASS"
                                           "\n Load Policy : 0\n Load Policy status : Fail( " +
                                           QOR_GetLastErrorMsg() + " ) \n";
              if (report != expected) return "all:\n" + report;
              CHILD_CHECK(QOR_IsInit() == 0);
              CHILD_CHECK(std::string(QOR_checkAgent("clear-all")) == ClearAll(log, true));
              // Bypass stays in force: values pass through after the clear.
              unsigned char value[64] = "abc";
              DataBuffer out = QOR_EncryptExUdf("ANY", value, 3, nullptr, nullptr, nullptr, 0);
              CHILD_CHECK(out.length == 3 && std::string(reinterpret_cast<char*>(out.data)) == "abc");
              std::free(out.data);
              return std::string();
            }),
            "");
}

}  // namespace
