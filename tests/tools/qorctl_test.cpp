// qorctl as an operator runs it: the built program against a real agent on
// ephemeral loopback ports, the library found through the environment. Exit
// statuses, standard output and standard error are checked as a script
// would read them.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/qorctl_process.h"

namespace {

using qor::test::Lines;
using qor::test::Outcome;
using qor::test::ReadFile;
using qor::test::WriteFile;

using Qorctl = qor::test::QorctlTest;

TEST_F(Qorctl, ValuesRoundTripByArgumentAndByInputLines) {
  const std::vector<std::string> plain = {"Alex Morgan", "4111-1111-1111-1111", "x"};
  for (const char* policy : {"ARIA_256", "SEED_128"}) {
    SCOPED_TRACE(policy);
    Outcome enc = Qor({"encrypt", policy, plain[0], plain[1], plain[2]});
    ASSERT_EQ(enc.status, 0) << enc.err;
    const std::vector<std::string> stored = Lines(enc.out);
    ASSERT_EQ(stored.size(), plain.size());
    for (size_t i = 0; i < plain.size(); ++i) EXPECT_NE(stored[i], plain[i]);

    Outcome dec = Qor({"decrypt", policy, stored[0], stored[1], stored[2]});
    ASSERT_EQ(dec.status, 0) << dec.err;
    EXPECT_EQ(Lines(dec.out), plain);

    // The same through standard input, one value a line (CR LF endings too).
    Outcome encLines = Qor({"encrypt", policy}, plain[0] + "\n" + plain[1] + "\r\n" + plain[2] + "\n");
    ASSERT_EQ(encLines.status, 0) << encLines.err;
    ASSERT_EQ(Lines(encLines.out).size(), plain.size());
    Outcome decLines = Qor({"decrypt", policy}, encLines.out);
    ASSERT_EQ(decLines.status, 0) << decLines.err;
    EXPECT_EQ(Lines(decLines.out), plain);
  }
}

// Files in place and into a target; standard error is no terminal here, so
// no progress line may appear on it.
TEST_F(Qorctl, FilesRoundTripInPlaceAndToATarget) {
  std::string plain(3 * 1048576 + 11, '\0');
  for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<char>(i * 31 + (i >> 9));
  const std::string file = libHome_ / "data.bin";
  WriteFile(file, plain);

  Outcome enc = Qor({"encrypt-file", "ARIA_256", file});
  ASSERT_EQ(enc.status, 0) << enc.err;
  EXPECT_EQ(enc.err, "");
  const std::string encrypted = ReadFile(file);
  EXPECT_NE(encrypted.substr(0, 1000), plain.substr(0, 1000));
  EXPECT_GT(encrypted.size(), plain.size());

  const std::string restored = libHome_ / "restored/data.bin";
  Outcome dec = Qor({"decrypt-file", "ARIA_256", file, restored});
  ASSERT_EQ(dec.status, 0) << dec.err;
  EXPECT_EQ(dec.err, "");
  EXPECT_TRUE(ReadFile(restored) == plain);
}

TEST_F(Qorctl, FileFailuresGiveTheRunsCodeAndMessageOnOneLine) {
  Outcome missing = Qor({"encrypt-file", "ARIA_256", libHome_ / "none", libHome_ / "t"});
  EXPECT_NE(missing.status, 0);
  EXPECT_EQ(missing.err, "qorctl: -1 The file can not be Accessed\n");
  WriteFile(libHome_ / "plain", "not encrypted");
  Outcome notEncrypted = Qor({"decrypt-file", "ARIA_256", libHome_ / "plain", libHome_ / "t"});
  EXPECT_NE(notEncrypted.status, 0);
  EXPECT_EQ(notEncrypted.err.rfind("qorctl: -1 ", 0), 0u) << notEncrypted.err;
  EXPECT_EQ(Lines(notEncrypted.err).size(), 1u);
  EXPECT_EQ(ReadFile(libHome_ / "plain"), "not encrypted");
}

TEST_F(Qorctl, HexModeCarriesBinaryValuesBothWays) {
  const std::string value = "00ff10800a0d";
  Outcome enc = Qor({"encrypt", "--hex", "ARIA_256", value});
  ASSERT_EQ(enc.status, 0) << enc.err;
  const std::string stored = Lines(enc.out).at(0);
  EXPECT_NE(stored, value);
  EXPECT_EQ(stored.find_first_not_of("0123456789abcdef"), std::string::npos) << stored;
  // The binary layout leads with the newest key version and its marker.
  EXPECT_EQ(stored.substr(0, 6), "0002fe");

  Outcome dec = Qor({"decrypt", "--hex", "ARIA_256", stored});
  ASSERT_EQ(dec.status, 0) << dec.err;
  EXPECT_EQ(Lines(dec.out), std::vector<std::string>{value});

  Outcome bad = Qor({"encrypt", "--hex", "ARIA_256", "0g"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.err, "qorctl: not a hex value: '0g'\n");
}

TEST_F(Qorctl, FailuresGiveTheLibrarysCodeAndMessageThenOneLineOfContext) {
  // The message's own line break and trailing note are folded into the line.
  for (const char* command : {"encrypt", "decrypt"}) {
    Outcome run = Qor({command, "NO_SUCH_POLICY", "value"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              "qorctl: 3015 The policy id [NO_SUCH_POLICY] could not be found. (Policy Init From "
              "First Agent)\n"
              "qorctl: the 3 policies loaded from the first agent at 127.0.0.1:" +
                  std::to_string(first_) +
                  " do not include 'NO_SUCH_POLICY' (names are case-sensitive; qorctl policies "
                  "lists them)\n");
  }
  // The values before a failure are written; the ones after it are not.
  Outcome partial = Qor({"decrypt", "ARIA_256"}, Lines(Qor({"encrypt", "ARIA_256", "a"}).out).at(0) +
                                                  "\nnot a stored value\nnever\n");
  EXPECT_NE(partial.status, 0);
  EXPECT_EQ(Lines(partial.out), std::vector<std::string>{"a"});
  EXPECT_EQ(partial.err.rfind("qorctl: ", 0), 0u);
}

TEST_F(Qorctl, StatusAndPoliciesReportTheLoadedSet) {
  Outcome status = Qor({"status"});
  ASSERT_EQ(status.status, 0) << status.err;
  EXPECT_EQ(Lines(status.out),
            (std::vector<std::string>{"agent: reachable", "policies: 3",
                                      "loaded from: the first agent at 127.0.0.1:" +
                                          std::to_string(first_),
                                      "policy hash: equal"}));
  EXPECT_EQ(status.err, "");

  // With the library's own report after the summary.
  Outcome report = Qor({"status", "--report"});
  ASSERT_EQ(report.status, 0) << report.err;
  EXPECT_NE(report.out.find("\n Policy Init From : First Agent\n"), std::string::npos) << report.out;
  EXPECT_NE(report.out.find("\n Load Policy : 3\n Load Policy status : OK "), std::string::npos)
      << report.out;

  Outcome policies = Qor({"policies"});
  ASSERT_EQ(policies.status, 0) << policies.err;
  EXPECT_EQ(Lines(policies.out), (std::vector<std::string>{
                                      "ARIA_256       ARIA-256 versions=2,1",
                                      "DIGEST_SHA256  SHA-256 versions=1",
                                      "SEED_128       SEED-128 versions=1",
                                  }));
}

TEST_F(Qorctl, StatusWithTheAgentDownFailsNamingWhatWasTried) {
  StopAgent();
  const std::string tried = "qorctl: no answer from the agents at 127.0.0.1:" +
                            std::to_string(first_) + " (QOR_FIRST_AGENT_IP, QOR_FIRST_PORT) and " +
                            "127.0.0.1:" + std::to_string(second_) +
                            " (QOR_SECOND_AGENT_IP, QOR_SECOND_PORT): connection refused; "
                            "no emergency file " + libHome_.path() + "/conf/agent.dat\n";
  Outcome status = Qor({"status"});
  EXPECT_EQ(status.status, 1);
  EXPECT_EQ(status.out, "agent: unreachable\n");
  EXPECT_EQ(status.err, "qorctl: 3 [code:111] poll revents error\n" + tried);

  for (const char* command : {"policies", "check-policy"}) {
    Outcome run = Qor({command});
    EXPECT_EQ(run.status, 1) << command;
    EXPECT_EQ(run.out, "") << command;
    EXPECT_EQ(run.err, "qorctl: 3 [code:111] poll revents error\n" + tried) << command;
  }
}

// The library home is the agent's: once the agent is gone the key set comes
// from its emergency file, and status says so (exit 3: values still work).
TEST_F(Qorctl, StatusSaysWhenTheKeySetCameFromTheEmergencyFile) {
  WriteFile(agentHome_ / "logs/.keep", "");
  const qor::test::EnvChanges home = {{"QOR_HOME", agentHome_.path()}};
  StopAgent();
  Outcome status = Qor({"status"}, "", home);
  EXPECT_EQ(status.status, 3) << status.err;
  EXPECT_EQ(Lines(status.out), (std::vector<std::string>{
                                   "agent: unreachable", "policies: 3",
                                   "loaded from: the emergency file " + agentHome_.path() +
                                       "/conf/agent.dat",
                                   "policy hash: unknown"}));
  EXPECT_EQ(status.err, "qorctl: 3 [code:111] poll revents error\n"
                        "qorctl: no answer from the first agent at 127.0.0.1:" +
                            std::to_string(first_) +
                            " (QOR_FIRST_AGENT_IP, QOR_FIRST_PORT): connection refused\n");
  Outcome value = Qor({"encrypt", "ARIA_256", "still works"}, "", home);
  EXPECT_EQ(value.status, 0) << value.err;
}

// Every command has --help (exit 0, on standard output); wrong command lines
// exit 2 with the reason on standard error and nothing on standard output.
TEST_F(Qorctl, HelpEverywhereAndUsageErrorsExitTwo) {
  for (const char* command :
       {"encrypt", "decrypt", "rewrap", "key-version", "encrypt-file", "decrypt-file", "status",
        "policies", "show-conf", "check-policy", "version"}) {
    Outcome help = Qor({command, "--help"});
    EXPECT_EQ(help.status, 0) << command;
    EXPECT_NE(help.out.find(std::string("Usage: qorctl ") + command), std::string::npos)
        << command << ": " << help.out;
    EXPECT_EQ(help.err, "") << command;
  }
  struct Case {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{}, "qorctl: a command is required; run 'qorctl --help' for the commands\n"},
      {{"bogus"}, "qorctl: The following argument was not expected: bogus\n"
                  "Run 'qorctl --help' for more information.\n"},
      {{"encrypt"}, "qorctl: policy is required\nRun 'qorctl encrypt --help' for more information.\n"},
      {{"encrypt-file", "ARIA_256"},
       "qorctl: source is required\nRun 'qorctl encrypt-file --help' for more information.\n"},
      {{"encrypt", "--hex", "ARIA_256", "0g"}, "qorctl: not a hex value: '0g'\n"},
      {{"key-version", "QQ=="}, "qorctl: value 1 is not a stored text value (it holds fewer than "
                               "two bytes)\n"},
  };
  for (const Case& c : cases) {
    Outcome run = Qor(c.args);
    EXPECT_EQ(run.status, 2) << ::testing::PrintToString(c.args);
    EXPECT_EQ(run.out, "") << ::testing::PrintToString(c.args);
    EXPECT_EQ(run.err, c.err) << ::testing::PrintToString(c.args);
  }
}

// One place lists every setting the library reads and what the exit statuses mean.
TEST_F(Qorctl, HelpListsEverySettingAndTheExitStatuses) {
  Outcome help = Qor({"--help"});
  ASSERT_EQ(help.status, 0);
  for (const char* name :
       {"QOR_HOME", "QOR_FIRST_AGENT_IP", "QOR_SECOND_AGENT_IP", "QOR_FIRST_PORT",
        "QOR_SECOND_PORT", "QOR_LOG_LEVEL", "QOR_USE_LOG", "QOR_BYPASS", "QOR_CRYPTO_MODE",
        "QOR_BMT", "QOR_COMPATIBILITY", "UlvexDefaultConfig.properties", "Exit status", "  3  "}) {
    EXPECT_NE(help.out.find(name), std::string::npos) << name;
  }
  // The README's table names the same settings.
  const std::string readme = ReadFile(std::string(QOR_SOURCE_DIR) + "/README.md");
  for (const char* name : {"QOR_HOME", "QOR_FIRST_AGENT_IP", "QOR_SECOND_AGENT_IP",
                           "QOR_FIRST_PORT", "QOR_SECOND_PORT", "QOR_LOG_LEVEL", "QOR_USE_LOG",
                           "QOR_BYPASS", "QOR_CRYPTO_MODE", "QOR_BMT", "QOR_COMPATIBILITY"}) {
    EXPECT_NE(readme.find(std::string("| `") + name + "`"), std::string::npos) << name;
  }
}

// A value that starts with '-' is a value, not an unknown option; the
// command's own options still work around it, and "--" still works.
TEST_F(Qorctl, ValuesMayStartWithADash) {
  const std::vector<std::string> plain = {"-12.50", "--not-an-option", "-", "-h2"};
  Outcome enc = Qor({"encrypt", "ARIA_256", plain[0], plain[1], "--identity1", "-user", plain[2],
                     plain[3]});
  ASSERT_EQ(enc.status, 0) << enc.err;
  const std::vector<std::string> stored = Lines(enc.out);
  ASSERT_EQ(stored.size(), plain.size());
  Outcome dec = Qor({"decrypt", "ARIA_256", "--", stored[0], stored[1], stored[2], stored[3]});
  ASSERT_EQ(dec.status, 0) << dec.err;
  EXPECT_EQ(Lines(dec.out), plain);

  Outcome hex = Qor({"encrypt", "ARIA_256", "-x", "--hex", "2d78"});
  ASSERT_EQ(hex.status, 2);  // "-x" is no hex: --hex applied to every value
  EXPECT_EQ(hex.err, "qorctl: not a hex value: '-x'\n");
}

TEST_F(Qorctl, WithoutQorHomeTheContextNamesTheVariableAndTheFileTried) {
  char real[PATH_MAX];
  ASSERT_NE(realpath(QOR_SHARED_LIBRARY, real), nullptr);
  std::string directory = real;
  directory.resize(directory.rfind('/'));
  const std::string expected =
      "qorctl: 7100 Cannot access the Config file. Please check.\n"
      "qorctl: QOR_HOME is not set, and there is no " + directory +
      "/UlvexDefaultConfig.properties to read the settings from instead (qorctl --help lists "
      "the QOR_* variables)\n";
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"encrypt", "ARIA_256", "x"}, {"show-conf"}, {"policies"}}) {
    Outcome run = Qor(args, "", {{"QOR_HOME", std::nullopt}});
    EXPECT_EQ(run.status, 1) << args[0];
    EXPECT_EQ(run.out, "") << args[0];
    EXPECT_EQ(run.err, expected) << args[0];
  }
}

TEST_F(Qorctl, ShowConfPrintsTheLibrarysSettings) {
  Outcome conf = Qor({"show-conf"});
  ASSERT_EQ(conf.status, 0) << conf.err;
  EXPECT_EQ(conf.out.rfind(" Mandatory\n\n Agent Home :" + libHome_.path() + "\n First IP : 127.0.0.1\n"
                           " First Port : " + std::to_string(first_) + "\n",
                           0),
            0u)
      << conf.out;
  EXPECT_NE(conf.out.find("\n Second Port : " + std::to_string(second_) + "\n"), std::string::npos);
  // The settings are there even when no agent answers.
  StopAgent();
  Outcome down = Qor({"show-conf"});
  EXPECT_EQ(down.status, 0) << down.err;
  EXPECT_EQ(down.out, conf.out);
}

TEST_F(Qorctl, KeyVersionOfTextAndBinaryValues) {
  Outcome text = Qor({"encrypt", "ARIA_256", "a", "b"});
  Outcome binary = Qor({"encrypt", "--hex", "ARIA_256", "00ff"});
  ASSERT_EQ(text.status, 0);
  ASSERT_EQ(binary.status, 0);
  Outcome versions = Qor({"key-version"}, text.out);
  EXPECT_EQ(versions.status, 0) << versions.err;
  EXPECT_EQ(versions.out, "2\n2\n");
  Outcome hex = Qor({"key-version", "--hex", Lines(binary.out).at(0), "0102fe"});
  EXPECT_EQ(hex.status, 0) << hex.err;
  EXPECT_EQ(hex.out, "2\n258\n");
}

TEST_F(Qorctl, CheckPolicyComparesTheHashes) {
  Outcome check = Qor({"check-policy"});
  EXPECT_EQ(check.status, 0) << check.err;
  EXPECT_EQ(check.out, "policy hash: equal\n");
  EXPECT_EQ(check.err, "");
}

TEST_F(Qorctl, HealthAsksBothAgentsAndTheServer) {
  const std::string first = "127.0.0.1:" + std::to_string(first_);
  const std::string second = "127.0.0.1:" + std::to_string(second_);
  Outcome healthy = Qor({"health"});
  EXPECT_EQ(healthy.status, 0) << healthy.err;
  EXPECT_EQ(healthy.out, "first agent " + first + ": healthy\n"
                         "server (through the first agent): healthy\n"
                         "second agent " + second + ": healthy\n");
  EXPECT_EQ(healthy.err, "");

  // A second port nobody listens on: only that check fails.
  const int closed = qor::test::ClosedPort();
  Outcome half = Qor({"health"}, "", {{"QOR_SECOND_PORT", std::to_string(closed)}});
  EXPECT_EQ(half.status, 1);
  EXPECT_EQ(qor::test::Lines(half.out).back(),
            "second agent 127.0.0.1:" + std::to_string(closed) + ": not healthy");
  EXPECT_EQ(half.err, "qorctl: 3 [code:111] poll revents error\n"
                      "qorctl: no answer from the second agent at 127.0.0.1:" +
                          std::to_string(closed) +
                          " (QOR_SECOND_AGENT_IP, QOR_SECOND_PORT): connection refused\n");

  StopAgent();
  Outcome down = Qor({"health"});
  EXPECT_EQ(down.status, 1);
  EXPECT_EQ(down.out, "first agent " + first + ": not healthy\n"
                      "server (through the first agent): not healthy\n"
                      "second agent " + second + ": not healthy\n");
  EXPECT_EQ(down.err,
            "qorctl: 3 [code:111] poll revents error\n"
            "qorctl: no answer from the first agent at " + first +
                " (QOR_FIRST_AGENT_IP, QOR_FIRST_PORT): connection refused\n"
                "qorctl: 3 [code:111] poll revents error\n"
                "qorctl: the server is asked through the first agent at " + first +
                ": connection refused\n"
                "qorctl: 3 [code:111] poll revents error\n"
                "qorctl: no answer from the second agent at " + second +
                " (QOR_SECOND_AGENT_IP, QOR_SECOND_PORT): connection refused\n");
}

TEST_F(Qorctl, VersionSelfTestAndReinit) {
  for (const char* args : {"version", "--version"}) {
    Outcome version = Qor({args});
    EXPECT_EQ(version.status, 0) << args;
    EXPECT_EQ(version.out, "qorctl 2.0.26\nlibqorapi 3.7.3RN20267\n") << args;
  }
  Outcome selfTest = Qor({"self-test"});
  EXPECT_EQ(selfTest.status, 0);
  EXPECT_EQ(selfTest.out, "crypto self-test: passed\n");

  Outcome reinit = Qor({"reinit"});
  EXPECT_EQ(reinit.status, 0) << reinit.err;
  EXPECT_EQ(reinit.out.rfind(" Product version : V 3.7.3\n Product release : 2.0.26.7\n Agent Home : " +
                                 libHome_.path() + "\n",
                             0),
            0u)
      << reinit.out;
  EXPECT_NE(reinit.out.find("\n Policy Init From : First Agent\n Ctypto Mode : CBC\n Load Policy : 3\n"
                            " Load Policy status : OK "),
            std::string::npos)
      << reinit.out;

  StopAgent();
  Outcome down = Qor({"reinit"});
  EXPECT_EQ(down.status, 1);
  EXPECT_NE(down.out.find("\n Load Policy : 0\n Load Policy status : Fail( [code:111] poll revents "
                          "error )\n"),
            std::string::npos)
      << down.out;
  EXPECT_EQ(down.err.rfind("qorctl: 3 [code:111] poll revents error\nqorctl: no answer from the agents at ", 0),
            0u)
      << down.err;
}

}  // namespace
