// The diagnostics an operator's tool runs: key versions of stored texts,
// policy presence and description, agent health, the policy hash check and
// the status report, against a real agent on loopback. Everything that
// touches the instance runs in a forked child with its own environment.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/config_test_support.h"
#include "qorapi.h"
#include "support/agent_process.h"
#include "support/test_support.h"
#include "support/text_shape.h"

namespace {

using qor::test::AgentProcess;
using qor::test::Environment;
using qor::test::KeyHex;
using qor::test::PolicyDesc;
using qor::test::TempDir;

using qor::test::Policy;

// Keys of their own (seed 3), versions listed as given, one list unsorted.

const std::vector<PolicyDesc> kSet = {
    Policy("ARIA_256", "ARIA", 256, {1, 2}, 3),
    Policy("SEED_128", "SEED", 128, {1}, 3),
    Policy("LEA_256", "LEA", 256, {3, 1, 2}, 3),
};

Environment LibraryEnvironment(const std::string& home, int first, int second) {
  return {{"QOR_HOME", home},
          {"QOR_FIRST_AGENT_IP", "127.0.0.1"},
          {"QOR_FIRST_PORT", std::to_string(first)},
          {"QOR_SECOND_PORT", std::to_string(second)}};
}

using qor::test::InChild;

std::string Owned(char* text) {
  std::string copy = text != nullptr ? text : "(null)";
  std::free(text);
  return copy;
}

TEST(KeyVersionText, EncodesAndReadsBackTheVersion) {
  EXPECT_EQ(Owned(QOR_EncodeKeyVersion(1)), "AAH+");  // 00 01 FE
  for (int version : {0, 1, 2, 255, 256, 0x1234, 0xFFFF}) {
    SCOPED_TRACE(version);
    char* text = QOR_EncodeKeyVersion(version);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::strlen(text), 4u);
    EXPECT_EQ(QOR_GetKeyVersion(text), version);
    // A stored text value carries the version in the same leading bytes.
    EXPECT_EQ(QOR_GetKeyVersion(("$." + std::string(text) + "FEeZsimHY2HJJdIzder0wA==").c_str()),
              version);
    std::free(text);
  }
}

TEST(KeyVersionText, RefusesWhatDoesNotCarryTwoBytes) {
  for (const char* text : {"", "AA==", "!!!!", "$.", "AAH"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(QOR_GetKeyVersion(text), -1);
  }
  EXPECT_EQ(QOR_GetKeyVersion(nullptr), -1);
}

TEST(AgentChecker, HelpAndTypeSizesNeedNoInstance) {
  char out[512];
  const std::string help =
      "all : Initializes the key if not already initialized, If initialized, simply outputs the "
      "state.\nkey-update : (WARNNING!) Always reinitializes the key. option is NOT THREAD-SAFE "
      "and is NOT RECOMMENDED! use with caution.";
  QOR_AgentChecker_GetInfo("no such command", out, sizeof(out));
  EXPECT_EQ(out, help);
  EXPECT_EQ(std::string(QOR_checkAgent(nullptr)), help);
  // A short buffer gets the start of the text, terminated.
  QOR_AgentChecker_GetInfo("help", out, 6);
  EXPECT_STREQ(out, "all :");

  char expected[200];
  std::snprintf(expected, sizeof(expected),
                "char : %zu/ short : %zu/ int : %zu/ float : %zu/ long : %zu/ double : %zu/ "
                "pointer : %zu\n",
                sizeof(char), sizeof(short), sizeof(int), sizeof(float), sizeof(long),
                sizeof(double), sizeof(void*));
  QOR_AgentChecker_GetInfo("DATA TYPE SIZE", out, sizeof(out));
  EXPECT_EQ(std::string(out), expected);
  EXPECT_EQ(QOR_AgentChecker_GetInfo("all", nullptr, 100), -1);
}

class Diagnostics : public ::testing::Test {
 protected:
  void SetUp() override {
    if (qor::test::AgentBinary() == nullptr) GTEST_SKIP() << "qor-agent is not built";
    qor::test::WriteFile(libHome / "logs/.keep", "");
  }
  TempDir libHome;
  TempDir agentHome;
};

TEST_F(Diagnostics, WithTheAgentUp) {
  AgentProcess agent(agentHome.path(), kSet);
  ASSERT_TRUE(agent.ok());
  const std::string home = libHome.path();
  EXPECT_EQ(InChild(LibraryEnvironment(home, agent.firstPort(), agent.secondPort()), [&] {
              // Nothing loaded yet: no policy, no error, no initialisation.
              QOR_ERR_Set(0, "");
              CHILD_CHECK(QOR_ExistPolicy("ARIA_256") == 1);
              CHILD_CHECK(QOR_GetLastErrorCode() == 0);
              CHILD_CHECK(QOR_CheckPolicy() == 1);
              CHILD_CHECK(QOR_IsInit() == 1);
              CHILD_CHECK(QOR_HealthCheckAgent() == 0);
              CHILD_CHECK(QOR_IsInit() == 1);
              // The health check's configuration was its own.
              CHILD_CHECK(std::string(QOR_checkAgent("show-conf")) == "Property is Not Initialized");

              const std::string report = QOR_checkAgent("ALL");
              const std::string head = " Product version : V 3.7.3\n Product release : 2.0.26.7\n"
                                       " Agent Home : " + home + "\n Log path : " + home +
                                       "/logs/qor_api.log";
              if (report.rfind(head, 0) != 0) return "report head: " + report;
              const std::string middle = "\n Log level : INFO\n Port : " +
                                         std::to_string(agent.firstPort()) + "\n Second Port : " +
                                         std::to_string(agent.secondPort()) + "\n Key Sync : File " +
                                         home + "/conf/.qorupdate.dat\n Emergency use : Not Use" +
                                         "\n Policy Init From : First Agent\n Ctypto Mode : CBC" +
                                         "\n Load Policy : 3\n Load Policy status : OK ";
              if (report.find(middle) == std::string::npos) return "report: " + report;
              if (!qor::test::MatchesShape(report, "*status : OK ####-##-## ##:##:##")) {
                return "report tail: " + report;
              }
              CHILD_CHECK(QOR_IsInit() == 0);

              const std::string conf = QOR_checkAgent("Show-Conf");
              const std::string port = std::to_string(agent.firstPort());
              const std::string second = std::to_string(agent.secondPort());
              const std::string confHead =
                  " Mandatory\n\n Agent Home :" + home + "\n First IP : 127.0.0.1\n First Port : " +
                  port + "\n Second IP : 127.0.0.1\n Second Port : " + second +
                  "\n Log level : INFO\n\n Optional \n\n user Set : False\n Crypto Mode : CBC"
                  "\n Use Compatibility : False\n use Log: True\n use Log Dir : False"
                  "\n\n Internal \n\n Current Moudle Dir : ";
              if (conf.rfind(confHead, 0) != 0) return "show-conf: " + conf;
              if (conf.find("\n Process Level : 0\n Device IP : ") == std::string::npos) {
                return "show-conf tail: " + conf;
              }

              CHILD_CHECK(QOR_ExistPolicy("ARIA_256") == 0);
              CHILD_CHECK(QOR_ExistPolicy(nullptr) == 1);
              CHILD_CHECK(QOR_ExistPolicy("ARIA") == 1);
              CHILD_CHECK(QOR_GetLastErrorCode() == 3015);
              CHILD_CHECK(std::string(QOR_GetLastErrorMsg()) ==
                          "The policy id [ARIA] could not be found.");

              char text[64];
              const std::pair<const char*, const char*> described[] = {
                  {"ARIA_256", "ARIA-256 versions=2,1"},
                  {"SEED_128", "SEED-128 versions=1"},
                  {"LEA_256", "LEA-256 versions=3,2,1"}};
              for (const auto& [name, expected] : described) {
                CHILD_CHECK(QOR_DescribePolicy(name, text, sizeof(text)) == 0);
                if (std::string(text) != expected) return std::string(name) + ": " + text;
              }
              CHILD_CHECK(QOR_DescribePolicy("NOPE", text, sizeof(text)) == 1);
              CHILD_CHECK(QOR_GetLastErrorCode() == 3015);
              CHILD_CHECK(QOR_DescribePolicy("ARIA_256", text, 8) == -1);
              CHILD_CHECK(text[0] == '\0');
              CHILD_CHECK(QOR_DescribePolicy(nullptr, text, sizeof(text)) == -1);
              CHILD_CHECK(QOR_GetLastErrorCode() == 3001);

              CHILD_CHECK(QOR_CheckPolicy() == 0);
              // The agent serving another set makes the loaded one's hash stale.
              std::vector<PolicyDesc> changed = kSet;
              changed.pop_back();
              CHILD_CHECK(agent.Reload(changed));
              CHILD_CHECK(QOR_CheckPolicy() == 1);
              return std::string();
            }),
            "");
}

TEST_F(Diagnostics, WithNoAgent) {
  const int port = qor::test::ClosedPort();
  EXPECT_EQ(InChild(LibraryEnvironment(libHome.path(), port, port), [] {
              QOR_ERR_Set(0, "");
              CHILD_CHECK(QOR_HealthCheckAgent() == 1);
              CHILD_CHECK(QOR_GetLastErrorCode() != 0);

              const std::string report = QOR_checkAgent("all");
              const std::string tail = std::string("\n Load Policy : 0\n Load Policy status : Fail( ") +
                                       QOR_GetLastErrorMsg() + " ) \n";
              if (report.size() < tail.size() ||
                  report.compare(report.size() - tail.size(), tail.size(), tail) != 0) {
                return "report: " + report;
              }
              CHILD_CHECK(report.find("\n Policy Init From") == std::string::npos);
              CHILD_CHECK(QOR_CheckPolicy() == 1);
              char text[64];
              CHILD_CHECK(QOR_DescribePolicy("ARIA_256", text, sizeof(text)) == -1);
              return std::string();
            }),
            "");
}

}  // namespace
