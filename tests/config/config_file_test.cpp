// File mode: the default properties file, its syntax and required keys.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "config/config_test_support.h"
#include "qor/config.h"
#include "support/test_support.h"

namespace {

using qor::test::BuildInChild;
using qor::test::Outcome;
using qor::test::TempDir;
using qor::test::WriteFile;

constexpr char kRequired[] = "The required value in the file is not set. Please check.";

const std::string kHome = "QOR_HOME=\"/qor\"\n";
const std::string kPorts = "QOR_FIRST_PORT=\"1001\"\nQOR_SECOND_PORT=\"1002\"\n";

Outcome BuildFromFile(const std::string& content, qor::test::Environment env = {}) {
  TempDir dir;
  WriteFile(dir / "UlvexDefaultConfig.properties", content);
  return BuildInChild(2, env, dir.path());
}

TEST(ConfigFile, Keys) {
  struct Case {
    std::string content;
    const char* home;
    const char* first;
    const char* second;
    int firstPort, secondPort, logLevel, cryptoMode, useLog, bypass;
  };
  const std::string base = kHome + kPorts;
  const Case cases[] = {
      {base, "/qor", "127.0.0.1", "127.0.0.1", 1001, 1002, 1, 0, 1, 0},
      {"QOR_BYPASS=\"True\"\n" + base, "/qor", "127.0.0.1", "127.0.0.1", 1001, 1002, 1, 0, 1, 1},
      {"QOR_BYPASS=\"\"\n" + base, "/qor", "127.0.0.1", "127.0.0.1", 1001, 1002, 1, 0, 1, 0},
      {base + "QOR_FIRST_AGENT_IP=\"10.0.0.1\"\n", "/qor", "10.0.0.1", "10.0.0.1", 1001, 1002, 1,
       0, 1, 0},
      {base + "QOR_FIRST_AGENT_IP=\"\"\nQOR_SECOND_AGENT_IP=\"10.0.0.2\"\n", "/qor", "127.0.0.1",
       "10.0.0.2", 1001, 1002, 1, 0, 1, 0},
      {base + "QOR_FIRST_AGENT_IP=\"100.100.100.1000\"\n", "/qor", "127.0.0.1", "127.0.0.1", 1001,
       1002, 1, 0, 1, 0},
      {base + "QOR_FIRST_AGENT_IP=\"10.0.0.1\"\nQOR_SECOND_AGENT_IP=\"100.100.100.1000\"\n", "/qor",
       "10.0.0.1", "10.0.0.1", 1001, 1002, 1, 0, 1, 0},
      {base + "QOR_LOG_LEVEL=\"DEBUG\"\n", "/qor", "127.0.0.1", "127.0.0.1", 1001, 1002, 2, 0, 1,
       0},
      {base + "QOR_LOG_LEVEL=\"debug\"\n", "/qor", "127.0.0.1", "127.0.0.1", 1001, 1002, 1, 0, 1,
       0},
      {base + "QOR_LOG_LEVEL=\"NONE\"\n", "/qor", "127.0.0.1", "127.0.0.1", 1001, 1002, 4, 0, 1,
       0},
      {base + "QOR_LOG_LEVEL=\"ERROR\"\n", "/qor", "127.0.0.1", "127.0.0.1", 1001, 1002, 3, 0, 1,
       0},
      {base + "QOR_CRYPTO_MODE=\"2\"\n", "/qor", "127.0.0.1", "127.0.0.1", 1001, 1002, 1, 2, 1, 0},
      {base + "QOR_CRYPTO_MODE=\"5\"\n", "/qor", "127.0.0.1", "127.0.0.1", 1001, 1002, 1, 0, 1, 0},
      {base + "QOR_CRYPTO_MODE=\"-1\"\n", "/qor", "127.0.0.1", "127.0.0.1", 1001, 1002, 1, 0, 1,
       0},
      {base + "QOR_USE_LOG=\"FALSE\"\n", "/qor", "127.0.0.1", "127.0.0.1", 1001, 1002, 1, 0, 0, 0},
      {base + "QOR_USE_LOG=\"false\"\n", "/qor", "127.0.0.1", "127.0.0.1", 1001, 1002, 1, 0, 1, 0},
      // CR LF endings, blanks around the value, text after the closing quote.
      {"QOR_HOME=\"/crlf\"\r\nQOR_FIRST_PORT=  \"7\"  \r\nQOR_SECOND_PORT=\"8\" # note\r\n",
       "/crlf", "127.0.0.1", "127.0.0.1", 7, 8, 1, 0, 1, 0},
      // '#' first is a comment; blanks then '#' is not.
      {base + "#QOR_FIRST_PORT=\"11\"\n", "/qor", "127.0.0.1", "127.0.0.1", 1001, 1002, 1, 0, 1,
       0},
      {base + "   #QOR_FIRST_PORT=\"12\"\n", "/qor", "127.0.0.1", "127.0.0.1", 12, 1002, 1, 0, 1,
       0},
      // The last quoted match wins; a later match without quotes changes nothing.
      {base + "QOR_FIRST_PORT=\"21\"\nQOR_FIRST_PORT=\"22\"\nQOR_FIRST_PORT=23\n", "/qor",
       "127.0.0.1", "127.0.0.1", 22, 1002, 1, 0, 1, 0},
      // The key may occur anywhere in the line.
      {base + "set QOR_SECOND_PORT=\"31\"\n", "/qor", "127.0.0.1", "127.0.0.1", 1001, 31, 1, 0, 1,
       0},
      // The key needs "=" right after it.
      {base + "QOR_SECOND_PORT =\"32\"\n", "/qor", "127.0.0.1", "127.0.0.1", 1001, 1002, 1, 0, 1,
       0},
      // Blank lines and lines longer than the reader's buffer.
      {"\n\n" + std::string(1500, 'x') + "QOR_HOME=\"/long\"\n" + kPorts, "/long", "127.0.0.1",
       "127.0.0.1", 1001, 1002, 1, 0, 1, 0},
      // A long comment stays a comment past the reader's buffer.
      {base + "#" + std::string(1500, 'x') + "QOR_HOME=\"/commented\"\n", "/qor", "127.0.0.1",
       "127.0.0.1", 1001, 1002, 1, 0, 1, 0},
      // No final newline.
      {kHome + "QOR_FIRST_PORT=\"1001\"\nQOR_SECOND_PORT=\"41\"", "/qor", "127.0.0.1",
       "127.0.0.1", 1001, 41, 1, 0, 1, 0},
  };
  int row = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(row++);
    // The environment never counts in file mode.
    const Outcome r = BuildFromFile(c.content, {{"QOR_HOME", "/env"},
                                                {"QOR_FIRST_PORT", "5"},
                                                {"QOR_LOG_LEVEL", "DEBUG"},
                                                {"QOR_BYPASS", "TRUE"}});
    ASSERT_FALSE(r.childFailed);
    ASSERT_FALSE(r.isNull) << r.message;
    EXPECT_STREQ(r.data.home, c.home);
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

TEST(ConfigFile, RequiredValues) {
  struct Case {
    std::string content;
    bool fails;
  };
  const Case cases[] = {
      {kPorts, true},                                               // no home
      {"QOR_HOME=\"\"\n" + kPorts, true},                           // empty home
      {"QOR_HOME=/qor\n" + kPorts, true},                           // home without quotes
      {kHome + "QOR_FIRST_PORT=1001\nQOR_SECOND_PORT=\"2\"\n", true},  // port without quotes
      {kHome + "QOR_FIRST_PORT=\"1\"\nQOR_SECOND_PORT=\"\"\n", true},
      {kHome + "QOR_FIRST_PORT=\"1\"\n", true},
      {"#" + kHome + kPorts, true},
      {"", true},
      // Keys that are required but may be empty are satisfied by their absence.
      {kHome + kPorts, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content);
    const Outcome r = BuildFromFile(c.content);
    ASSERT_FALSE(r.childFailed);
    EXPECT_EQ(r.isNull, c.fails);
    EXPECT_EQ(r.code, c.fails ? QOR_CONF_ERROR : 0);
    EXPECT_STREQ(r.message, c.fails ? kRequired : "");
  }
}

TEST(ConfigFile, PropertiesPathThatIsNoFileGivesNoValues) {
  // It exists, so this is not "cannot access", but no line can be read from it.
  TempDir dir;
  ASSERT_EQ(mkdir((dir / "UlvexDefaultConfig.properties").c_str(), 0700), 0);
  const Outcome r = BuildInChild(2, {}, dir.path());
  ASSERT_FALSE(r.childFailed);
  EXPECT_TRUE(r.isNull);
  EXPECT_EQ(r.code, QOR_CONF_ERROR);
  EXPECT_STREQ(r.message, kRequired);
}

TEST(ConfigFile, HomeThatDoesNotFitIsRefused) {
  const Outcome r =
      BuildFromFile("QOR_HOME=\"/" + std::string(254, 'h') + "\"\n" + kPorts);
  EXPECT_TRUE(r.isNull);
  EXPECT_EQ(r.code, QOR_CONF_ERROR);
  EXPECT_EQ(std::string(r.message).rfind("Invalid QOR_HOME [/hhh", 0), 0u) << r.message;
}

TEST(ApiReadValue, Lines) {
  struct Case {
    const char* line;
    const char* key;
    int result;
    const char* value;  // what the buffer holds afterwards (starts as "old")
  };
  const Case cases[] = {
      {"K=\"v\"\n", "K", 0, "v"},
      {"K=\"\"\n", "K", 0, ""},
      {"K=  \"a b\"  \n", "K", 0, "a b"},
      {"xK=\"v\"", "K", 0, "v"},
      {"K=\"v", "K", 1, "old"},
      {"K=v\n", "K", 1, "old"},
      {"#K=\"v\"\n", "K", 1, "old"},
      {" #K=\"v\"\n", "K", 0, "v"},
      {"", "K", 1, "old"},
      {"\n", "K", 1, "old"},
      {"L=\"v\"\n", "K", 1, "old"},
      {"K =\"v\"\n", "K", 1, "old"},
      {"K=\"first\" \"second\"\n", "K", 0, "first"},
      {"K=x\"quoted\"\n", "K", 0, "quoted"},
  };
  for (const Case& c : cases) {
    char line[1024];
    std::strcpy(line, c.line);
    char value[1024] = "old";
    EXPECT_EQ(ApiReadValue(value, sizeof(value), line, c.key), c.result) << c.line;
    EXPECT_STREQ(value, c.value) << c.line;
  }
  char line[] = "K=\"too long\"";
  char small[4] = "old";
  EXPECT_EQ(ApiReadValue(small, sizeof(small), line, "K"), 1);
  EXPECT_STREQ(small, "old");
  EXPECT_EQ(ApiReadValue(nullptr, 10, line, "K"), 1);
  EXPECT_EQ(ApiReadValue(small, sizeof(small), nullptr, "K"), 1);
  EXPECT_EQ(ApiReadValue(small, sizeof(small), line, nullptr), 1);
}

}  // namespace
