// Settings that cannot work are refused with the variable's name and value,
// from the environment and from the properties file alike, and the instance
// then refuses to initialise instead of running against the file-system root
// or another port.
#include <gtest/gtest.h>

#include <string>

#include "api/instance.h"
#include "config/config_test_support.h"
#include "qor/config.h"
#include "qorapi.h"
#include "support/test_support.h"

namespace {

using qor::test::BuildInChild;
using qor::test::Environment;
using qor::test::Outcome;
using qor::test::RunInChild;
using qor::test::TempDir;
using qor::test::WriteFile;

struct Refusal {
  const char* variable;
  std::string value;
  const char* message;  // the start of the error text
};

const Refusal kRefusals[] = {
    {"QOR_HOME", "", "Invalid QOR_HOME []: the agent home is empty"},
    {"QOR_HOME", "/" + std::string(300, 'h'), "Invalid QOR_HOME [/hhhh"},
    {"QOR_FIRST_PORT", "107839", "Invalid QOR_FIRST_PORT [107839]: not a port number"},
    {"QOR_FIRST_PORT", "0", "Invalid QOR_FIRST_PORT [0]: not a port number"},
    {"QOR_FIRST_PORT", "abc", "Invalid QOR_FIRST_PORT [abc]: not a port number"},
    {"QOR_FIRST_PORT", "99x", "Invalid QOR_FIRST_PORT [99x]: not a port number"},
    {"QOR_SECOND_PORT", "65536", "Invalid QOR_SECOND_PORT [65536]: not a port number"},
    {"QOR_SECOND_PORT", "-1", "Invalid QOR_SECOND_PORT [-1]: not a port number"},
};

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

TEST(ConfigRefusal, EnvironmentSettingsThatCannotWork) {
  TempDir dir;
  for (const Refusal& r : kRefusals) {
    SCOPED_TRACE(std::string(r.variable) + "=" + r.value);
    Environment env{{"QOR_HOME", "/home/qor"}};
    env[r.variable] = r.value;
    const Outcome o = BuildInChild(0, env, dir.path());
    ASSERT_FALSE(o.childFailed);
    EXPECT_TRUE(o.isNull);
    EXPECT_EQ(o.code, QOR_CONF_ERROR);
    EXPECT_TRUE(StartsWith(o.message, r.message)) << o.message;
  }
}

TEST(ConfigRefusal, LongValuesAreQuotedShort) {
  TempDir dir;
  const Outcome o = BuildInChild(0, {{"QOR_HOME", "/" + std::string(5000, 'h')}}, dir.path());
  EXPECT_TRUE(o.isNull);
  EXPECT_LT(std::string(o.message).size(), 300u);
  EXPECT_NE(std::string(o.message).find("...]: longer than 254 characters"), std::string::npos);
}

TEST(ConfigRefusal, FileSettingsThatCannotWork) {
  for (const Refusal& r : kRefusals) {
    if (r.value.empty()) continue;  // an empty required value keeps its own message
    SCOPED_TRACE(std::string(r.variable) + "=" + r.value);
    std::string content;
    for (const char* key : {"QOR_HOME", "QOR_FIRST_PORT", "QOR_SECOND_PORT"}) {
      const std::string fallback = std::string(key) == "QOR_HOME" ? "/qor" : "1001";
      content += std::string(key) + "=\"" + (key == std::string(r.variable) ? r.value : fallback) +
                 "\"\n";
    }
    TempDir dir;
    WriteFile(dir / "UlvexDefaultConfig.properties", content);
    const Outcome o = BuildInChild(2, {}, dir.path());
    ASSERT_FALSE(o.childFailed);
    EXPECT_TRUE(o.isNull);
    EXPECT_EQ(o.code, QOR_CONF_ERROR);
    EXPECT_TRUE(StartsWith(o.message, r.message)) << o.message;
  }
}

// The settings are read at the first call: it fails, and nothing encrypts.
TEST(ConfigRefusal, InitialisationRefusesAndNothingEncrypts) {
  const struct {
    const char* variable;
    const char* value;
  } cases[] = {{"QOR_HOME", ""}, {"QOR_FIRST_PORT", "107839"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.variable);
    EXPECT_EQ(RunInChild([&]() -> std::string {
      qor::test::ApplyEnvironment({{"QOR_HOME", "/nonexistent-home"}, {"QOR_BYPASS", "TRUE"}});
      setenv(c.variable, c.value, 1);
      CHILD_CHECK(QOR_GetInstanceAuto() == QOR_CONF_CREATE_ERROR);
      CHILD_CHECK(QOR_GetLastErrorCode() == QOR_CONF_ERROR);
      const std::string message = QOR_GetLastErrorMsg();
      CHILD_CHECK(message.find(c.variable) != std::string::npos);
      CHILD_CHECK(message.find(std::string("[") + c.value + "]") != std::string::npos);
      unsigned char value[32] = "4111111111111111";
      char* encrypted = QOR_Encrypt("any.policy", value, 16, 0);
      CHILD_CHECK(encrypted == nullptr);
      CHILD_CHECK(QOR_IsInit() == 1);
      return "";
    }), "");
  }
}

}  // namespace
