// Checks besides the status reports: the server behind the agent, the crypto
// self test, the connection test, single key fetches, host name and address,
// the version text, and the "reinit" report, against a real agent on
// loopback. Everything that touches the instance runs in a forked child.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/config_test_support.h"
#include "qor/test_entries.h"
#include "qorapi.h"
#include "service/crypto/self_test.h"
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

const std::vector<PolicyDesc> kSet = {Policy("ARIA_256", "ARIA", 256, {1, 2}, 5)};


TEST(VersionText, IsTwelveCharactersAndTerminated) {
  char out[32];
  std::memset(out, 'x', sizeof(out));
  EXPECT_EQ(QOR_GetVersionEx(out), 0);
  EXPECT_STREQ(out, "3.7.3RN20267");
  EXPECT_EQ(out[13], 'x');  // nothing past the terminator
  EXPECT_EQ(QOR_GetVersionEx(nullptr), -1);
  EXPECT_EQ(test(41), 42);
  EXPECT_EQ(test(-1), 0);
}

TEST(CryptoModule, PassesAndReportsAFailingVector) {
  EXPECT_EQ(QOR_CheckCryptoModule(), 0);
  qor::crypto::KnownAnswer broken = qor::crypto::kSelfTestVector;
  broken.ciphertext[31] ^= 1;
  qor::crypto::SetSelfTestVectorForTesting(&broken);
  EXPECT_EQ(QOR_CheckCryptoModule(), 1);
  qor::crypto::SetSelfTestVectorForTesting(nullptr);
  EXPECT_EQ(QOR_CheckCryptoModule(), 0);
}

TEST(HostText, NameAndAddressAreOwnedTexts) {
  char* name = QOR_GetHostName();
  ASSERT_NE(name, nullptr);
  EXPECT_GT(std::strlen(name), 0u);
  EXPECT_LT(std::strlen(name), 256u);
  std::free(name);
  // A host whose name does not resolve has no address to give.
  char* address = QOR_GetHostIP();
  if (address != nullptr) {
    EXPECT_LT(std::strlen(address), 16u);
    std::free(address);
  }
}

class Checks : public ::testing::Test {
 protected:
  void SetUp() override {
    if (qor::test::AgentBinary() == nullptr) GTEST_SKIP() << "qor-agent is not built";
    qor::test::WriteFile(libHome / "logs/.keep", "");
  }
  TempDir libHome;
  TempDir agentHome;
};

TEST_F(Checks, ServerHealthAndConnectionTestAgainstTheAgent) {
  AgentProcess agent(agentHome.path(), kSet);
  ASSERT_TRUE(agent.ok());
  EXPECT_EQ(InChild(LoopbackAgentEnvironment(libHome.path(), agent.firstPort(), agent.secondPort()),
                    [&] {
                      CHILD_CHECK(QOR_HealthCheckServer() == 0);
                      // Its configuration was its own: nothing is initialised.
                      CHILD_CHECK(QOR_IsInit() == 1);
                      CHILD_CHECK(std::string(QOR_checkAgent("show-conf")) ==
                                  "Property is Not Initialized");
                      CHILD_CHECK(QOR_Connect_test("127.0.0.1", agent.firstPort(), 4) == 1);
                      // After initialisation the instance's configuration is used.
                      unsigned char value[64] = "abc";
                      DataBuffer encrypted = QOR_EncryptExUdf("ARIA_256", value, 3, nullptr,
                                                              nullptr, nullptr, 0);
                      CHILD_CHECK(encrypted.length > 0);
                      std::free(encrypted.data);
                      CHILD_CHECK(QOR_HealthCheckServer() == 0);
                      return std::string();
                    }),
            "");
  EXPECT_EQ(agent.RequestsSettled(5, 2), 2);
}

TEST_F(Checks, ServerHealthAndConnectionTestAgainstAClosedPort) {
  const int port = qor::test::ClosedPort();
  EXPECT_EQ(InChild(LoopbackAgentEnvironment(libHome.path(), port, port), [&] {
              QOR_ERR_Set(0, "");
              CHILD_CHECK(QOR_HealthCheckServer() == 1);
              CHILD_CHECK(QOR_GetLastErrorCode() != 0);
              CHILD_CHECK(QOR_Connect_test("127.0.0.1", port, 4) == 0);
              // No address at all: no socket object.
              CHILD_CHECK(QOR_Connect_test(nullptr, port, 4) == -1);
              return std::string();
            }),
            "");
}

TEST_F(Checks, ServerHealthWithoutAnyConfigurationFails) {
  EXPECT_EQ(InChild({{"HOME", libHome.path()}},
                    [&] {
                      QOR_ERR_Set(0, "");
                      CHILD_CHECK(QOR_HealthCheckServer() == 1);
                      CHILD_CHECK(QOR_GetLastErrorCode() == 7100);
                      return std::string();
                    }),
            "");
}

TEST_F(Checks, SingleKeyFetch) {
  AgentProcess agent(agentHome.path(), kSet);
  ASSERT_TRUE(agent.ok());
  EXPECT_EQ(InChild(LoopbackAgentEnvironment(libHome.path(), agent.firstPort(), agent.secondPort()),
                    [&] {
                      // Nothing loaded yet.
                      CHILD_CHECK(Test_QOR_AddKey("ARIA_256", 1) == 1);
                      CHILD_CHECK(QOR_Init() == 0);
                      // A version the agent added after the key set was loaded.
                      std::vector<PolicyDesc> newer = kSet;
                      newer[0] = Policy("ARIA_256", "ARIA", 256, {1, 2, 3}, 5);
                      CHILD_CHECK(agent.Reload(newer));
                      CHILD_CHECK(Test_QOR_AddKey("ARIA_256", 3) == 0);
                      char text[64];
                      CHILD_CHECK(QOR_DescribePolicy("ARIA_256", text, sizeof(text)) == 0);
                      CHILD_CHECK(std::string(text) == "ARIA-256 versions=3,2,1");
                      CHILD_CHECK(Test_QOR_AddKey("ARIA_256", 9) == 1);
                      CHILD_CHECK(Test_QOR_AddKey("NOPE", 1) == 1);
                      CHILD_CHECK(Test_QOR_AddKey(nullptr, 1) == 1);
                      return std::string();
                    }),
            "");
  // Each fetch asked the agent (a refused one may ask the second agent too).
  EXPECT_GE(agent.RequestsSettled(3, 3), 3);
}

TEST_F(Checks, ReinitRebuildsTheConfigurationAndDropsSettings) {
  AgentProcess agent(agentHome.path(), kSet);
  ASSERT_TRUE(agent.ok());
  EXPECT_EQ(InChild(LoopbackAgentEnvironment(libHome.path(), agent.firstPort(), agent.secondPort()),
                    [&] {
                      QOR_Filter_set(0);
                      CHILD_CHECK(QOR_Init() == 0);
                      CHILD_CHECK(QOR_SetSecondPort(1) == 0);
                      std::string conf = QOR_checkAgent("show-conf");
                      CHILD_CHECK(conf.find("\n Second Port : 1\n") != std::string::npos);
                      CHILD_CHECK(conf.find("\n user Set : True\n") != std::string::npos);

                      const std::string report = QOR_checkAgent("REINIT");
                      CHILD_CHECK(report.find("\n Second Port : " +
                                              std::to_string(agent.secondPort())) !=
                                  std::string::npos);
                      CHILD_CHECK(report.find("\n Load Policy : 1\n Load Policy status : OK ") !=
                                  std::string::npos);
                      conf = QOR_checkAgent("show-conf");
                      CHILD_CHECK(conf.find("\n user Set : False\n") != std::string::npos);
                      CHILD_CHECK(QOR_IsInit() == 0);
                      return std::string();
                    }),
            "");
}

}  // namespace
