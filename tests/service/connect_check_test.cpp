// The agent connection test against a real agent, a closed port and an
// address no socket object can be made for.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "qor/qorcrypto.h"
#include "support/agent_process.h"
#include "support/test_support.h"

namespace {

using qor::test::AgentProcess;
using qor::test::ClosedPort;
using qor::test::TempDir;

TEST(ConnectTest, ReportsWhetherTheAgentAcceptedAConnection) {
  if (qor::test::AgentBinary() == nullptr) GTEST_SKIP() << "qor-agent is not built";
  TempDir home;
  const std::vector<qor::test::PolicyDesc> set = {
      {"ARIA_256", "ARIA", 256, {{1, qor::test::KeyHex(32, 1)}}}};
  AgentProcess agent(home.path(), set);
  ASSERT_TRUE(agent.ok());
  // Health request (4): the agent answers and the answer decrypts.
  EXPECT_EQ(1, Connect_test("127.0.0.1", static_cast<uint16_t>(agent.firstPort()), 4));
  EXPECT_EQ(1, agent.RequestsSettled(4, 1));
  // Only the low 8 bits of the operation count.
  EXPECT_EQ(1, Connect_test("127.0.0.1", static_cast<uint16_t>(agent.firstPort()), 0x104));
  EXPECT_EQ(2, agent.RequestsSettled(4, 2));

  EXPECT_EQ(0, Connect_test("127.0.0.1", ClosedPort(), 4));
  EXPECT_EQ(-1, Connect_test(nullptr, 9909, 4));
}

}  // namespace
