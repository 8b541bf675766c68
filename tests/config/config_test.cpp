// Building the configuration: host-kind routing, environment mode, the error
// chain and the user-defined file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "config/config_test_support.h"
#include "qor/config.h"
#include "support/log_capture.h"
#include "support/test_support.h"

namespace {

using qor::test::BuildInChild;
using qor::test::Environment;
using qor::test::Outcome;
using qor::test::TempDir;
using qor::test::WriteFile;

constexpr char kNoCurrentPath[] = "Can not get current path, please check";
constexpr char kNoEnvironment[] = "Can not get environment variable, please check";
constexpr char kNoConfigFile[] = "Cannot access the Config file. Please check.";

// Homes the configuration names: directories inside a temporary directory
// (the library reads <home>/conf/UlvexUserDefineConfig.properties, which must
// never be a path outside the test's own directory). One set per test.
struct Homes {
  TempDir root;
  const std::string fromEnv = root / "from-env";
  const std::string fromFile = root / "from-file";
};

// A properties file whose values differ from the environment's, so a result
// shows where it came from.
std::string FileContent(const Homes& homes) {
  return "QOR_HOME=\"" + homes.fromFile + "\"\n"
         "QOR_FIRST_AGENT_IP=\"10.1.1.1\"\n"
         "QOR_SECOND_AGENT_IP=\"10.1.1.2\"\n"
         "QOR_FIRST_PORT=\"1001\"\n"
         "QOR_SECOND_PORT=\"1002\"\n"
         "QOR_LOG_LEVEL=\"ERROR\"\n";
}

void WriteDefaultProperties(const TempDir& dir, const std::string& content) {
  WriteFile(dir / "UlvexDefaultConfig.properties", content);
}

TEST(ConfigBuild, EnvironmentDefaults) {
  TempDir dir;
  const Homes homes;
  const Outcome r = BuildInChild(0, {{"QOR_HOME", homes.fromEnv}}, dir.path());
  ASSERT_FALSE(r.childFailed);
  ASSERT_FALSE(r.isNull);
  EXPECT_TRUE(r.apiObjectIsResult);
  EXPECT_EQ(r.created, 1);
  EXPECT_STREQ(r.data.home, homes.fromEnv.c_str());
  EXPECT_STREQ(r.data.firstAgentIp, "127.0.0.1");
  EXPECT_STREQ(r.data.secondAgentIp, "127.0.0.1");
  EXPECT_EQ(r.data.firstPort, 9909);
  EXPECT_EQ(r.data.secondPort, 9911);
  EXPECT_EQ(r.data.logLevel, 1);
  EXPECT_EQ(r.data.cryptoMode, 0);
  EXPECT_EQ(r.data.useLog, 1);
  EXPECT_EQ(r.data.bypass, 0);
  EXPECT_EQ(r.data.compatibility, 0);
  EXPECT_EQ(r.data.useLogDir, 0);
  EXPECT_EQ(r.data.policyInitFrom, 0);
  EXPECT_EQ(r.data.loadTime, 0);
  EXPECT_EQ(r.data.moduleDirKnown, 1);
  EXPECT_EQ(std::string(r.data.moduleDir), dir.path());
  EXPECT_EQ(r.data.logDir[0], '\0');
  // The caller's whole chain starts clean.
  EXPECT_EQ(r.headCode, 0);
  EXPECT_EQ(r.code, 0);
  EXPECT_STREQ(r.message, "");
}

TEST(ConfigBuild, EnvironmentKeys) {
  struct Case {
    Environment env;
    const char* first;
    const char* second;
    int firstPort, secondPort, logLevel, cryptoMode, useLog, bypass;
  };
  const Case cases[] = {
      {{{"QOR_BYPASS", "TRUE"}}, "127.0.0.1", "127.0.0.1", 9909, 9911, 1, 0, 1, 1},
      {{{"QOR_BYPASS", "true"}}, "127.0.0.1", "127.0.0.1", 9909, 9911, 1, 0, 1, 1},
      {{{"QOR_BYPASS", "TRUEX"}}, "127.0.0.1", "127.0.0.1", 9909, 9911, 1, 0, 1, 0},
      {{{"QOR_FIRST_AGENT_IP", "10.0.0.1"}}, "10.0.0.1", "10.0.0.1", 9909, 9911, 1, 0, 1, 0},
      {{{"QOR_FIRST_AGENT_IP", "10.0.0.1"}, {"QOR_SECOND_AGENT_IP", "10.0.0.2"}},
       "10.0.0.1", "10.0.0.2", 9909, 9911, 1, 0, 1, 0},
      // 16 characters do not fit: the default stays.
      {{{"QOR_FIRST_AGENT_IP", "100.100.100.1000"}}, "127.0.0.1", "127.0.0.1", 9909, 9911, 1, 0,
       1, 0},
      {{{"QOR_FIRST_AGENT_IP", "10.0.0.1"}, {"QOR_SECOND_AGENT_IP", "100.100.100.1000"}},
       "10.0.0.1", "10.0.0.1", 9909, 9911, 1, 0, 1, 0},
      {{{"QOR_FIRST_PORT", "1234"}, {"QOR_SECOND_PORT", "65535"}}, "127.0.0.1", "127.0.0.1",
       1234, 65535, 1, 0, 1, 0},
      {{{"QOR_LOG_LEVEL", "ERROR"}}, "127.0.0.1", "127.0.0.1", 9909, 9911, 3, 0, 1, 0},
      {{{"QOR_LOG_LEVEL", "ERRORS"}}, "127.0.0.1", "127.0.0.1", 9909, 9911, 3, 0, 1, 0},
      {{{"QOR_LOG_LEVEL", "DEBUG"}}, "127.0.0.1", "127.0.0.1", 9909, 9911, 2, 0, 1, 0},
      {{{"QOR_LOG_LEVEL", "NONE"}}, "127.0.0.1", "127.0.0.1", 9909, 9911, 4, 0, 1, 0},
      {{{"QOR_LOG_LEVEL", "debug"}}, "127.0.0.1", "127.0.0.1", 9909, 9911, 1, 0, 1, 0},
      {{{"QOR_LOG_LEVEL", "INFO"}}, "127.0.0.1", "127.0.0.1", 9909, 9911, 1, 0, 1, 0},
      {{{"QOR_CRYPTO_MODE", "x"}, {"QOR_BMT", "1"}}, "127.0.0.1", "127.0.0.1", 9909, 9911, 1, 1,
       1, 0},
      {{{"QOR_CRYPTO_MODE", ""}, {"QOR_BMT", "2"}}, "127.0.0.1", "127.0.0.1", 9909, 9911, 1, 2, 1,
       0},
      {{{"QOR_CRYPTO_MODE", "1"}, {"QOR_BMT", "3"}}, "127.0.0.1", "127.0.0.1", 9909, 9911, 1, 0,
       1, 0},
      {{{"QOR_CRYPTO_MODE", "1"}, {"QOR_BMT", "-1"}}, "127.0.0.1", "127.0.0.1", 9909, 9911, 1, 0,
       1, 0},
      {{{"QOR_CRYPTO_MODE", "2"}}, "127.0.0.1", "127.0.0.1", 9909, 9911, 1, 0, 1, 0},
      {{{"QOR_BMT", "2"}}, "127.0.0.1", "127.0.0.1", 9909, 9911, 1, 0, 1, 0},
      {{{"QOR_USE_LOG", "FALSE"}}, "127.0.0.1", "127.0.0.1", 9909, 9911, 1, 0, 0, 0},
      {{{"QOR_USE_LOG", "FALSEHOOD"}}, "127.0.0.1", "127.0.0.1", 9909, 9911, 1, 0, 0, 0},
      {{{"QOR_USE_LOG", "false"}}, "127.0.0.1", "127.0.0.1", 9909, 9911, 1, 0, 1, 0},
      {{{"QOR_USE_LOG", "TRUE"}}, "127.0.0.1", "127.0.0.1", 9909, 9911, 1, 0, 1, 0},
  };
  TempDir dir;
  const Homes homes;
  WriteDefaultProperties(dir, FileContent(homes));  // present, and ignored in environment mode
  int row = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(row++);
    Environment env = c.env;
    env["QOR_HOME"] = homes.fromEnv;
    const Outcome r = BuildInChild(0, env, dir.path());
    ASSERT_FALSE(r.childFailed);
    ASSERT_FALSE(r.isNull);
    EXPECT_STREQ(r.data.home, homes.fromEnv.c_str());
    EXPECT_STREQ(r.data.firstAgentIp, c.first);
    EXPECT_STREQ(r.data.secondAgentIp, c.second);
    EXPECT_EQ(r.data.firstPort, c.firstPort);
    EXPECT_EQ(r.data.secondPort, c.secondPort);
    EXPECT_EQ(r.data.logLevel, c.logLevel);
    EXPECT_EQ(r.data.cryptoMode, c.cryptoMode);
    EXPECT_EQ(r.data.useLog, c.useLog);
    EXPECT_EQ(r.data.bypass, c.bypass);
    EXPECT_EQ(r.code, 0);
  }
}

TEST(ConfigBuild, HomeTooLongIsRefused) {
  TempDir dir;
  const std::string base = dir.path() + "/";
  ASSERT_LT(base.size(), 254u);
  const std::string longest = base + std::string(254 - base.size(), 'h');
  const Outcome fits = BuildInChild(0, {{"QOR_HOME", longest}}, dir.path());
  ASSERT_FALSE(fits.isNull);
  EXPECT_EQ(std::string(fits.data.home).size(), 254u);
  const Outcome tooLong = BuildInChild(0, {{"QOR_HOME", longest + "h"}}, dir.path());
  EXPECT_TRUE(tooLong.isNull);
  EXPECT_EQ(tooLong.code, QOR_CONF_ERROR);
  EXPECT_EQ(std::string(tooLong.message).rfind("Invalid QOR_HOME [" + base, 0), 0u) << tooLong.message;
}

TEST(ConfigBuild, HostKindRouting) {
  enum Source { kNull, kEnvironment, kFile };
  struct Case {
    int mode;
    bool moduleDirKnown;
    bool homeSet;
    bool fileExists;
    Source expected;
    const char* message;  // the caller's last record afterwards
  };
  const Case cases[] = {
      {0, true, true, true, kEnvironment, ""},
      {0, true, false, true, kFile, kNoEnvironment},  // the fallback's note stays
      {0, true, false, false, kNull, kNoConfigFile},  // and is overwritten on failure
      {0, false, true, true, kNull, kNoCurrentPath},
      {1, true, true, true, kEnvironment, ""},
      {1, false, true, false, kEnvironment, ""},
      {1, false, false, false, kNull, kNoEnvironment},
      {1, true, false, true, kFile, kNoEnvironment},
      {1, true, false, false, kNull, kNoEnvironment},  // no second message
      {3, true, true, false, kEnvironment, ""},
      {5, true, true, false, kEnvironment, ""},
      {2, true, true, true, kFile, ""},
      {2, true, true, false, kNull, kNoConfigFile},
      {2, false, true, true, kNull, kNoCurrentPath},
      {4, true, true, true, kFile, ""},
      {4, true, true, false, kNull, kNoConfigFile},
      {-1, true, true, true, kFile, ""},
      {-1, true, true, false, kNull, kNoConfigFile},
      {-1, false, true, true, kNull, ""},  // fails without a message
      {-3, false, true, true, kNull, ""},
      {-2, true, true, true, kFile, ""},
      {-2, false, true, true, kNull, kNoCurrentPath},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.mode << " known " << c.moduleDirKnown
                                    << " home " << c.homeSet << " file " << c.fileExists);
    TempDir dir;
    const Homes homes;
    if (c.fileExists) WriteDefaultProperties(dir, FileContent(homes));
    Environment env;
    if (c.homeSet) env["QOR_HOME"] = homes.fromEnv;
    const Outcome r = BuildInChild(c.mode, env, c.moduleDirKnown ? dir.path() : std::string());
    ASSERT_FALSE(r.childFailed);
    EXPECT_EQ(r.isNull, c.expected == kNull);
    EXPECT_EQ(r.headCode, 0);
    EXPECT_EQ(r.code, c.message[0] == '\0' ? 0 : QOR_CONF_ERROR);
    EXPECT_STREQ(r.message, c.message);
    if (c.expected == kNull) {
      EXPECT_TRUE(r.apiObjectIsResult);  // the released object is not left behind
    } else {
      EXPECT_EQ(std::string(r.data.home), c.expected == kFile ? homes.fromFile : homes.fromEnv);
      EXPECT_EQ(r.data.moduleDirKnown, c.moduleDirKnown ? 1 : 0);
    }
  }
}

TEST(ConfigBuild, RealModuleDirectoryIsThisProgramsDirectory) {
  const Homes homes;
  const Outcome r = BuildInChild(0, {{"QOR_HOME", homes.fromEnv}}, std::nullopt);
  ASSERT_FALSE(r.isNull);
  EXPECT_EQ(r.data.moduleDirKnown, 1);
  char exe[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", exe, sizeof(exe) - 1), 0);
  std::string expected(exe);
  expected.resize(expected.rfind('/'));
  EXPECT_EQ(std::string(r.data.moduleDir), expected);
}

TEST(ConfigBuild, CompatibilityFromTheUserDefinedFile) {
  struct Case {
    const char* content;  // nullptr: no file
    int expected;
  };
  const Case cases[] = {
      {nullptr, 0},
      {"QOR_COMPATIBILITY=\"TRUE\"\n", 1},
      {"QOR_COMPATIBILITY=\"TRUEISH\"\n", 1},
      {"QOR_COMPATIBILITY=\"true\"\n", 0},
      {"QOR_COMPATIBILITY=\"FALSE\"\n", 0},
      {"QOR_COMPATIBILITY=TRUE\n", 0},
      {"OTHER=\"TRUE\"\n", 0},
      {"#QOR_COMPATIBILITY=\"TRUE\"\n", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content != nullptr ? c.content : "<no file>");
    TempDir module, home;
    mkdir((home / "conf").c_str(), 0700);
    if (c.content != nullptr) WriteFile(home / "conf/UlvexUserDefineConfig.properties", c.content);
    // Both modes read it.
    WriteDefaultProperties(module, "QOR_HOME=\"" + home.path() +
                                       "\"\nQOR_FIRST_PORT=\"1\"\nQOR_SECOND_PORT=\"2\"\n");
    const Outcome fromEnv = BuildInChild(0, {{"QOR_HOME", home.path()}}, module.path());
    const Outcome fromFile = BuildInChild(2, {}, module.path());
    ASSERT_FALSE(fromEnv.isNull);
    ASSERT_FALSE(fromFile.isNull);
    EXPECT_EQ(fromEnv.data.compatibility, c.expected);
    EXPECT_EQ(fromFile.data.compatibility, c.expected);
    EXPECT_EQ(fromFile.code, 0);
  }
}

TEST(ConfigBuild, NullCallerRecordIsAllowed) {
  TempDir dir;
  const Outcome r = qor::test::InChild([&] {
    qor::test::ApplyEnvironment({});
    qor::config::SetModuleDirOverrideForTesting(dir.path());
    Outcome outcome;
    qor::test::Capture(QORGet_Info(nullptr, 2), outcome);  // fails: no file
    return outcome;
  });
  ASSERT_FALSE(r.childFailed);
  EXPECT_TRUE(r.isNull);
}

TEST(ConfigBuild, UnsupportedCryptoModeIsLogged) {
  TempDir dir;
  const Outcome r = qor::test::InChild([&] {
    qor::test::ApplyEnvironment(
        {{"QOR_HOME", "/h"}, {"QOR_CRYPTO_MODE", "on"}, {"QOR_BMT", "5"}});
    qor::config::SetModuleDirOverrideForTesting(dir.path());
    Outcome outcome;
    qor::test::LogCapture log;
    qor::test::Capture(QORGet_Info(nullptr, 0), outcome);
    const std::string text = log.text();
    outcome.code = text.find("QORApi_GetFromEnv [source/Config/QORApiConf:") != std::string::npos &&
                           text.find("] >> Encryption mode is not supported [5]\n") !=
                               std::string::npos
                       ? 1
                       : 0;
    return outcome;
  });
  ASSERT_FALSE(r.childFailed);
  ASSERT_FALSE(r.isNull);
  EXPECT_EQ(r.data.cryptoMode, 0);
  EXPECT_EQ(r.code, 1) << "log line missing";
}

}  // namespace
