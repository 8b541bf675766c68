// The configuration object: creation, defaults, directory lookup, release.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "config/config_test_support.h"
#include "qor/config.h"
#include "qor/qoutil.h"
#include "support/test_support.h"

namespace {

using qor::test::Capture;
using qor::test::InChild;
using qor::test::Outcome;

std::string ProgramDir() {
  char exe[PATH_MAX] = {};
  if (readlink("/proc/self/exe", exe, sizeof(exe) - 1) <= 0) return {};
  std::string dir(exe);
  return dir.substr(0, dir.rfind('/'));
}

TEST(ConfigObject, NameTables) {
  const char* modes[] = {"CBC", "ECB", "CTR", "OFB", "CFB", "BYPASS"};
  for (int i = 0; i < 6; ++i) EXPECT_STREQ(CryptoMode[i], modes[i]);
  const char* sources[] = {"Nothing", "First Agent", "Second Agent", "Emergency File"};
  for (int i = 0; i < 4; ++i) EXPECT_STREQ(PolicyInitFrom[i], sources[i]);
}

TEST(ConfigObject, CreateAndDestroy) {
  ASSERT_EQ(QORApiConf_Create(), 0);
  QORApiConf* first = apiObject;
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->created, 1);
  EXPECT_EQ(first->data->useLog, 1);
  EXPECT_EQ(first->data->firstPort, 9909);
  EXPECT_EQ(first->data->secondPort, 9911);
  EXPECT_EQ(first->data->logLevel, 1);
  EXPECT_EQ(first->data->compatibility, 0);
  EXPECT_EQ(first->data->bypass, 0);
  EXPECT_EQ(first->data->cryptoMode, 0);
  EXPECT_EQ(first->data->moduleDirKnown, 0);
  EXPECT_EQ(first->data->home[0], '\0');
  if (first->data->deviceIp[0] != '\0') {
    EXPECT_EQ(QOUtil_IsValidIPAddress(first->data->deviceIp), 1);
  }

  ASSERT_EQ(QORApiConf_Create(), 0);
  QORApiConf* second = apiObject;
  EXPECT_NE(second, first);  // apiObject follows the newest
  API_Destroy(first);
  EXPECT_EQ(apiObject, second);
  API_Destroy(second);
  EXPECT_EQ(apiObject, nullptr);
  API_Destroy(nullptr);
}

TEST(ConfigObject, SetCurrentPath) {
  QORApiData data{};
  ASSERT_EQ(QORApi_SetCurrentPath(&data), 0);
  EXPECT_EQ(data.moduleDirKnown, 1);
  EXPECT_EQ(std::string(data.moduleDir), ProgramDir());
  EXPECT_EQ(QORApi_SetCurrentPath(nullptr), 1);

  const Outcome r = InChild([] {
    Outcome outcome;
    qor::config::SetModuleDirOverrideForTesting(std::string());
    QORApiData unknown{};
    outcome.code = QORApi_SetCurrentPath(&unknown);
    outcome.data = unknown;
    // A directory too long for the field is not found either.
    qor::config::SetModuleDirOverrideForTesting("/" + std::string(300, 'd'));
    outcome.headCode = QORApi_SetCurrentPath(&unknown);
    return outcome;
  });
  ASSERT_FALSE(r.childFailed);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.headCode, 1);
  EXPECT_EQ(r.data.moduleDirKnown, 0);
}

TEST(ConfigObject, DefaultInfo) {
  struct Case {
    std::optional<std::string> home;
    std::string expected;
  };
  const Case cases[] = {
      {"/home/user", "/home/user"},
      {std::nullopt, ""},
      {"/" + std::string(254, 'h'), ""},  // too long: left empty
  };
  for (const Case& c : cases) {
    const Outcome r = InChild([&] {
      qor::test::ApplyEnvironment({{"HOME", c.home}, {"QOR_HOME", "/ignored"}});
      Outcome outcome;
      Capture(QORGet_DefaultInfo(), outcome);
      return outcome;
    });
    ASSERT_FALSE(r.childFailed);
    ASSERT_FALSE(r.isNull);
    EXPECT_TRUE(r.apiObjectIsResult);
    EXPECT_EQ(std::string(r.data.home), c.expected);
    EXPECT_STREQ(r.data.firstAgentIp, "127.0.0.1");
    EXPECT_STREQ(r.data.secondAgentIp, "127.0.0.1");
    EXPECT_EQ(r.data.firstPort, 9909);
    EXPECT_EQ(r.data.secondPort, 9911);
    EXPECT_EQ(r.data.logLevel, 1);
    EXPECT_EQ(r.data.cryptoMode, 0);
    EXPECT_EQ(r.data.useLog, 1);
    EXPECT_EQ(r.created, 1);
  }
}

TEST(ConfigObject, AgentLessInfo) {
  const Outcome found = InChild([] {
    Outcome outcome;
    Capture(QORGet_AgentLessInfo(), outcome);
    return outcome;
  });
  ASSERT_FALSE(found.isNull);
  const std::string dir = ProgramDir();
  EXPECT_EQ(std::string(found.data.home), dir);
  EXPECT_EQ(std::string(found.data.logDir), dir);
  EXPECT_EQ(std::string(found.data.moduleDir), dir);
  EXPECT_EQ(found.data.useLogDir, 1);
  EXPECT_EQ(found.data.logLevel, 2);
  EXPECT_STREQ(found.data.firstAgentIp, "127.0.0.1");
  EXPECT_STREQ(found.data.secondAgentIp, "127.0.0.1");
  EXPECT_EQ(found.data.firstPort, 9909);
  EXPECT_EQ(found.data.secondPort, 9911);

  const Outcome unknown = InChild([] {
    qor::config::SetModuleDirOverrideForTesting(std::string());
    Outcome outcome;
    Capture(QORGet_AgentLessInfo(), outcome);
    return outcome;
  });
  ASSERT_FALSE(unknown.childFailed);
  EXPECT_TRUE(unknown.isNull);
  EXPECT_TRUE(unknown.apiObjectIsResult);  // released, not left in apiObject
}

// Builds running at once each get their own object: none is handed the
// object another thread just created.
TEST(ConfigObject, ConcurrentBuildsReturnTheirOwnObjects) {
  constexpr int kThreads = 4;
  constexpr int kBuilds = 200;
  std::vector<std::vector<QORApiConf*>> built(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&built, t] {
      for (int i = 0; i < kBuilds; ++i) built[t].push_back(QORGet_DefaultInfo());
    });
  }
  for (auto& thread : threads) thread.join();
  std::set<QORApiConf*> distinct;
  for (const auto& list : built) {
    for (QORApiConf* object : list) {
      ASSERT_NE(object, nullptr);
      EXPECT_TRUE(distinct.insert(object).second) << "object handed out twice";
    }
  }
  for (QORApiConf* object : distinct) API_Destroy(object);
}

}  // namespace
