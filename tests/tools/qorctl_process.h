// qorctl as an operator runs it: the built program against a real agent on
// ephemeral loopback ports, the library found through the environment.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/agent_process.h"
#include "support/spawn.h"
#include "support/test_support.h"

namespace qor::test {

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Environment changes for one run: a value sets the variable, nothing unsets it.
using EnvChanges = std::map<std::string, std::optional<std::string>>;

class QorctlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (AgentBinary() == nullptr) GTEST_SKIP() << "qor-agent is not built";
    agent_ = std::make_unique<AgentProcess>(agentHome_.path(), set_);
    ASSERT_TRUE(agent_->ok()) << agent_->log();
    first_ = agent_->firstPort();
    second_ = agent_->secondPort();
    // The library's log goes under its home, not to the fallback in /tmp.
    WriteFile(libHome_ / "logs/.keep", "");
  }

  // Runs qorctl with |args|, |input| on standard input and the library
  // pointed at the agent (then |env| applied).
  Outcome Qor(const std::vector<std::string>& args, const std::string& input = "",
              const EnvChanges& env = {}) {
    WriteFile(libHome_ / "in", input);
    const std::string outPath = libHome_ / "out";
    const std::string errPath = libHome_ / "err";
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
      DieWithParent(parent);
      const int in = open((libHome_ / "in").c_str(), O_RDONLY);
      const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (in < 0 || out < 0 || err < 0) _exit(126);
      dup2(in, 0);
      dup2(out, 1);
      dup2(err, 2);
      PointAtAgent(env);
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

  // In the child: the library's settings for the agent, then |env|.
  void PointAtAgent(const EnvChanges& env) const {
    setenv("QOR_HOME", libHome_.path().c_str(), 1);
    setenv("QOR_FIRST_AGENT_IP", "127.0.0.1", 1);
    setenv("QOR_FIRST_PORT", std::to_string(first_).c_str(), 1);
    setenv("QOR_SECOND_PORT", std::to_string(second_).c_str(), 1);
    for (const auto& [name, value] : env) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }

  void StopAgent() { agent_->Stop(); }

  std::vector<PolicyDesc> set_ = {
      Policy("ARIA_256", "ARIA", 256, {1, 2}, 7),
      Policy("SEED_128", "SEED", 128, {1}, 7),
      Policy("DIGEST_SHA256", "SHA256", 256, {1}, 7),
  };
  TempDir agentHome_;
  TempDir libHome_;
  std::unique_ptr<AgentProcess> agent_;
  int first_ = 0;
  int second_ = 0;
};

}  // namespace qor::test
