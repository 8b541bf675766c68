// qorctl as an operator runs it: the built program against a real agent on
// ephemeral loopback ports, the library found through the environment.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/agent_process.h"
#include "support/spawn.h"
#include "support/test_support.h"

namespace {

using qor::test::AgentProcess;
using qor::test::KeyHex;
using qor::test::PolicyDesc;
using qor::test::ReadFile;
using qor::test::TempDir;
using qor::test::WriteFile;

using qor::test::Policy;

const std::vector<PolicyDesc> kSet = {
    Policy("ARIA_256", "ARIA", 256, {1, 2}, 7),
    Policy("SEED_128", "SEED", 128, {1}, 7),
    Policy("DIGEST_SHA256", "SHA256", 256, {1}, 7),
};

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class Qorctl : public ::testing::Test {
 protected:
  void SetUp() override {
    if (qor::test::AgentBinary() == nullptr) GTEST_SKIP() << "qor-agent is not built";
    agent_ = std::make_unique<AgentProcess>(agentHome_.path(), kSet);
    ASSERT_TRUE(agent_->ok()) << agent_->log();
    first_ = agent_->firstPort();
    second_ = agent_->secondPort();
    // The library's log goes under its home, not to the fallback in /tmp.
    WriteFile(libHome_ / "logs/.keep", "");
  }

  // Runs qorctl with |args|, |input| on standard input and the library
  // pointed at the agent.
  Outcome Qor(const std::vector<std::string>& args, const std::string& input = "") {
    WriteFile(libHome_ / "in", input);
    const std::string outPath = libHome_ / "out";
    const std::string errPath = libHome_ / "err";
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
      qor::test::DieWithParent(parent);
      const int in = open((libHome_ / "in").c_str(), O_RDONLY);
      const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (in < 0 || out < 0 || err < 0) _exit(126);
      dup2(in, 0);
      dup2(out, 1);
      dup2(err, 2);
      setenv("QOR_HOME", libHome_.path().c_str(), 1);
      setenv("QOR_FIRST_AGENT_IP", "127.0.0.1", 1);
      setenv("QOR_FIRST_PORT", std::to_string(first_).c_str(), 1);
      setenv("QOR_SECOND_PORT", std::to_string(second_).c_str(), 1);
      std::vector<char*> argv{const_cast<char*>("qorctl")};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(QOR_QORCTL_BINARY, argv.data());
      _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(outPath), ReadFile(errPath)};
  }

  void StopAgent() { agent_->Stop(); }

  TempDir agentHome_;
  TempDir libHome_;
  std::unique_ptr<AgentProcess> agent_;
  int first_ = 0;
  int second_ = 0;
};

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

TEST_F(Qorctl, FailuresGiveTheLibrarysCodeAndMessageOnOneLine) {
  for (const char* command : {"encrypt", "decrypt"}) {
    Outcome run = Qor({command, "NO_SUCH_POLICY", "value"});
    EXPECT_NE(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("qorctl: 3015 ", 0), 0u) << run.err;
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
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
            (std::vector<std::string>{"agent: reachable", "policies: 3", "policy hash: equal"}));

  Outcome policies = Qor({"policies"});
  ASSERT_EQ(policies.status, 0) << policies.err;
  EXPECT_EQ(Lines(policies.out), (std::vector<std::string>{
                                      "ARIA_256       ARIA-256 versions=2,1",
                                      "DIGEST_SHA256  SHA-256 versions=1",
                                      "SEED_128       SEED-128 versions=1",
                                  }));
}

TEST_F(Qorctl, StatusWithTheAgentDownFails) {
  StopAgent();
  Outcome status = Qor({"status"});
  EXPECT_NE(status.status, 0);
  EXPECT_EQ(status.out, "agent: unreachable\n");
  ASSERT_EQ(Lines(status.err).size(), 1u) << status.err;
  EXPECT_EQ(status.err.rfind("qorctl: ", 0), 0u);
  EXPECT_EQ(status.err.find("qorctl: 0 "), std::string::npos) << status.err;

  Outcome policies = Qor({"policies"});
  EXPECT_NE(policies.status, 0);
  EXPECT_EQ(policies.err.rfind("qorctl: ", 0), 0u);
}

}  // namespace
