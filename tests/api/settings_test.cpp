// The setters: what each changes, before and after initialisation, what they
// refuse, and when the change counts, against a real agent on loopback. Every
// case runs in a forked child with its own environment and instance.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/config_test_support.h"
#include "qor/qolog.h"
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

const std::vector<PolicyDesc> kSet = {Policy("ARIA_256", "ARIA", 256, {1}, 7)};


std::string Conf() { return QOR_checkAgent("show-conf"); }

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

bool Encrypts() {
  unsigned char value[64] = "abc";
  DataBuffer out = QOR_EncryptExUdf("ARIA_256", value, 3, nullptr, nullptr, nullptr, 0);
  std::free(out.data);
  return out.length > 0;
}

class Settings : public ::testing::Test {
 protected:
  void SetUp() override {
    if (qor::test::AgentBinary() == nullptr) GTEST_SKIP() << "qor-agent is not built";
    qor::test::WriteFile(libHome / "logs/.keep", "");
  }
  TempDir libHome;
  TempDir otherHome;
  TempDir agentHome;
};

TEST_F(Settings, EachSetterChangesItsFieldAndMarksTheConfiguration) {
  const std::string home = libHome.path();
  const std::string other = otherHome.path();
  EXPECT_EQ(InChild(LoopbackAgentEnvironment(home, 9001, 9002), [&] {
              CHILD_CHECK(Conf() == "Property is Not Initialized");
              // The first setter builds the configuration from its sources.
              CHILD_CHECK(QOR_SetFirstPort(0x10000 + 7001) == 0);
              std::string conf = Conf();
              CHILD_CHECK(Has(conf, "\n Agent Home :" + home + "\n"));
              CHILD_CHECK(Has(conf, "\n First Port : 7001\n Second IP : 127.0.0.1\n Second Port : 9002"));
              CHILD_CHECK(Has(conf, "\n user Set : True\n"));
              CHILD_CHECK(QOR_IsInit() == 1);

              CHILD_CHECK(QOR_SetSecondPort(7002) == 0);
              CHILD_CHECK(QOR_SetAgentHome(other.c_str()) == 0);
              CHILD_CHECK(QOR_SetFirstIp("127.0.0.2") == 0);
              conf = Conf();
              CHILD_CHECK(Has(conf, " Mandatory\n\n Agent Home :" + other +
                                        "\n First IP : 127.0.0.2\n First Port : 7001"
                                        "\n Second IP : 127.0.0.2\n Second Port : 7002\n"));
              CHILD_CHECK(QOR_SetSecondIp("10.1.2.3") == 0);
              CHILD_CHECK(Has(Conf(), "\n First IP : 127.0.0.2\n First Port : 7001\n Second IP : 10.1.2.3\n"));

              const std::pair<const char*, const char*> levels[] = {
                  {"error", "ERROR"}, {"Debug", "DEBUG"}, {"NONE", "NONE"},
                  {"INFO", "INFO"},   {"ERRORS", "INFO"}, {"", "INFO"}};
              for (const auto& [given, shown] : levels) {
                CHILD_CHECK(QOR_SetLogLevel(given) == 0);
                if (!Has(Conf(), std::string("\n Log level : ") + shown + "\n\n Optional")) {
                  return std::string("log level ") + given + ": " + Conf();
                }
              }

              CHILD_CHECK(Has(Conf(), "\n use Log Dir : False\n"));
              CHILD_CHECK(QOR_SetLogDir((other + "/mylogs").c_str()) == 0);
              CHILD_CHECK(Has(Conf(), "\n use Log Dir : True\n Log Dir : " + other + "/mylogs\n"));

              CHILD_CHECK(QOR_SetUseLog(1) == 0);
              CHILD_CHECK(Has(Conf(), "\n use Log: True\n"));
              CHILD_CHECK(QOR_SetUseLog(0) == 0);
              CHILD_CHECK(Has(Conf(), "\n use Log: False\n"));
              // Switching it back on is not a setter's to do.
              CHILD_CHECK(QOR_SetUseLog(1) == 0);
              CHILD_CHECK(Has(Conf(), "\n use Log: False\n"));

              QOR_Filter_set(3);
              CHILD_CHECK(Has(Conf(), "\n Process Level : 3\n"));
              QOR_Filter_set(0);
              return std::string();
            }),
            "");
}

TEST_F(Settings, RefusalsChangeNothing) {
  const std::string home = libHome.path();
  EXPECT_EQ(InChild(LoopbackAgentEnvironment(home, 9001, 9002), [&] {
              using TextSetter = int (*)(const char*);
              const std::pair<const char*, TextSetter> setters[] = {
                  {"home", QOR_SetAgentHome}, {"log level", QOR_SetLogLevel},
                  {"log dir", QOR_SetLogDir}, {"first ip", QOR_SetFirstIp},
                  {"second ip", QOR_SetSecondIp}};
              for (const auto& [name, set] : setters) {
                QOR_ERR_Set(0, "");
                if (set(nullptr) != -1 || QOR_GetLastErrorCode() != 3001 ||
                    std::string(QOR_GetLastErrorMsg()) != "argument value cannot be null") {
                  return std::string("null accepted by ") + name;
                }
              }
              // Nothing was built by a refusal.
              CHILD_CHECK(Conf() == "Property is Not Initialized");

              const std::string before = (QOR_SetFirstPort(9001), Conf());
              const std::string longPath(255, 'p');
              const std::pair<const char*, std::pair<TextSetter, std::string>> tooLong[] = {
                  {"home", {QOR_SetAgentHome, longPath}},
                  {"log dir", {QOR_SetLogDir, longPath}},
                  {"first ip", {QOR_SetFirstIp, "127.000.000.001"+std::string("0")}},
                  {"second ip", {QOR_SetSecondIp, std::string(16, '1')}}};
              for (const auto& [name, setter] : tooLong) {
                QOR_ERR_Set(0, "");
                if (setter.first(setter.second.c_str()) != -1 || QOR_GetLastErrorCode() != 3001) {
                  return std::string("too long a text accepted by ") + name;
                }
              }
              CHILD_CHECK(Conf() == before);
              // The longest texts that fit are stored whole.
              CHILD_CHECK(QOR_SetSecondIp("255.255.255.255") == 0);
              CHILD_CHECK(QOR_SetAgentHome(std::string(254, 'h').c_str()) == 0);
              CHILD_CHECK(Has(Conf(), "\n Agent Home :" + std::string(254, 'h') + "\n"));
              CHILD_CHECK(Has(Conf(), "\n Second IP : 255.255.255.255\n"));
              return std::string();
            }),
            "");
}

TEST_F(Settings, WithoutAnySourceTheDefaultsAreChanged) {
  const std::string home = libHome.path();
  // No QOR_HOME and no properties file: the built-in defaults with $HOME.
  EXPECT_EQ(InChild({{"HOME", home}}, [&] {
              CHILD_CHECK(QOR_SetSecondPort(7777) == 0);
              const std::string conf = Conf();
              CHILD_CHECK(Has(conf, " Mandatory\n\n Agent Home :" + home +
                                        "\n First IP : 127.0.0.1\n First Port : 9909"
                                        "\n Second IP : 127.0.0.1\n Second Port : 7777"
                                        "\n Log level : INFO\n\n Optional \n\n user Set : True\n"));
              return std::string();
            }),
            "");
}

TEST_F(Settings, BeforeTheFirstCallTheyDecideWhereTheInstanceConnectsAndLogs) {
  AgentProcess agent(agentHome.path(), kSet);
  ASSERT_TRUE(agent.ok());
  const int closed = qor::test::ClosedPort();
  const std::string home = libHome.path();
  const std::string logs = otherHome.path();
  EXPECT_EQ(InChild(LoopbackAgentEnvironment("/nonexistent-home", closed, closed), [&] {
              CHILD_CHECK(QOR_SetAgentHome(home.c_str()) == 0);
              CHILD_CHECK(QOR_SetFirstIp("127.0.0.1") == 0);
              CHILD_CHECK(QOR_SetFirstPort(agent.firstPort()) == 0);
              CHILD_CHECK(QOR_SetSecondPort(agent.secondPort()) == 0);
              CHILD_CHECK(QOR_SetLogDir(logs.c_str()) == 0);
              CHILD_CHECK(Encrypts());
              CHILD_CHECK(std::string(QOLog_GetPath()).rfind(logs + "/qor_api.log.", 0) == 0);
              const std::string report = QOR_checkAgent("all");
              CHILD_CHECK(Has(report, "\n Agent Home : " + home + "\n Log path : " + logs +
                                          "/qor_api.log."));
              CHILD_CHECK(Has(report, "\n Key Sync : File " + home + "/conf/.qorupdate.dat\n"));
              return std::string();
            }),
            "");
}

TEST_F(Settings, AfterInitialisationAddressesCountFromTheNextConnection) {
  AgentProcess agent(agentHome.path(), kSet);
  ASSERT_TRUE(agent.ok());
  const int closed = qor::test::ClosedPort();
  EXPECT_EQ(InChild(LoopbackAgentEnvironment(libHome.path(), agent.firstPort(), agent.secondPort()),
                    [&] {
                      CHILD_CHECK(Encrypts());
                      CHILD_CHECK(QOR_HealthCheckAgent() == 0);
                      CHILD_CHECK(QOR_SetFirstPort(closed) == 0);
                      // The loaded key set keeps serving; the next connection
                      // goes to the new port.
                      CHILD_CHECK(Encrypts());
                      CHILD_CHECK(QOR_HealthCheckAgent() == 1);
                      CHILD_CHECK(QOR_CheckPolicy() == 1);
                      CHILD_CHECK(QOR_SetFirstPort(agent.firstPort()) == 0);
                      CHILD_CHECK(QOR_HealthCheckAgent() == 0);
                      CHILD_CHECK(QOR_CheckPolicy() == 0);
                      // Logging switched off counts from the next initialisation.
                      CHILD_CHECK(QOR_SetUseLog(0) == 0);
                      CHILD_CHECK(Has(QOR_checkAgent("all"), "\n Log path : " +
                                                                  libHome.path() + "/logs/"));
                      CHILD_CHECK(Has(QOR_checkAgent("key-update"), "\n Log path : Not Use\n"));
                      return std::string();
                    }),
            "");
}

TEST_F(Settings, HostKindChoosesTheLogName) {
  AgentProcess agent(agentHome.path(), kSet);
  ASSERT_TRUE(agent.ok());
  const std::string home = libHome.path();
  // Odd kinds read the environment; 0 does too while QOR_HOME is set.
  const std::pair<int, const char*> kinds[] = {
      {0, "/qor_api.log."}, {1, "/qor_filter.log."}, {3, "/qor_ude.log."}, {5, "/qor_api.log."}};
  for (const auto& entry : kinds) {
    const int kind = entry.first;
    const char* name = entry.second;
    SCOPED_TRACE(kind);
    EXPECT_EQ(InChild(LoopbackAgentEnvironment(home, agent.firstPort(), agent.secondPort()), [&] {
                QOR_Filter_set(kind);
                CHILD_CHECK(Encrypts());
                CHILD_CHECK(std::string(QOLog_GetPath()).rfind(home + "/logs" + name, 0) == 0);
                CHILD_CHECK(Has(Conf(), "\n Process Level : " + std::to_string(kind) + "\n"));
                return std::string();
              }),
              "");
  }
}

}  // namespace
