// A key rotation as an operator lives it: the agent gets a new key version,
// a running host picks it up at its next call, and `qorctl rewrap` moves the
// stored values to it without the plaintext ever reaching an output.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tools/qorctl_process.h"

namespace {

using qor::test::Lines;
using qor::test::Outcome;
using qor::test::Policy;
using qor::test::PolicyDesc;
using qor::test::WriteFile;

// Plaintexts whose bytes must never show up in rewrap's output.
const std::vector<std::string> kPlain = {"Alex Morgan", "4111-1111-1111-1111", "-12.50",
                                         "one x", std::string(300, 'q')};

PolicyDesc WithIv(PolicyDesc policy, const std::string& ivType) {
  policy.ivType = ivType;
  return policy;
}

PolicyDesc WithErrorHandling(PolicyDesc policy, const std::string& handling) {
  policy.errorHandling = handling;
  return policy;
}

class Rotation : public qor::test::QorctlTest {
 protected:
  Rotation() { set_ = Set(1); }

  // The set with |newest| key versions (1..newest) on the rotating policies;
  // the keys of older versions stay the same across sets.
  static std::vector<PolicyDesc> Set(int newest) {
    std::vector<int> versions;
    for (int v = 1; v <= newest; ++v) versions.push_back(v);
    return {
        Policy("ROTATE_ARIA", "ARIA", 256, versions, 3),
        WithIv(Policy("ROTATE_AES_RECORD_IV", "AES", 256, versions, 4), "RECORD"),
        WithErrorHandling(Policy("ROTATE_RETURN_INPUT", "SEED", 128, versions, 5), "RETURN_INPUT"),
        Policy("DIGITS", "FPE", 128, versions, 6),
        Policy("DIGEST", "SHA256", 256, {1}, 7),
    };
  }

  std::vector<std::string> Encrypt(const std::string& policy, const std::vector<std::string>& plain,
                                   const std::vector<std::string>& flags = {}) {
    std::vector<std::string> args = {"encrypt"};
    args.insert(args.end(), flags.begin(), flags.end());
    args.push_back(policy);
    args.insert(args.end(), plain.begin(), plain.end());
    Outcome run = Qor(args);
    EXPECT_EQ(run.status, 0) << run.err;
    return Lines(run.out);
  }

  std::vector<std::string> Versions(const std::vector<std::string>& stored,
                                    const std::vector<std::string>& flags = {}) {
    std::string input;
    for (const std::string& value : stored) input += value + "\n";
    std::vector<std::string> args = {"key-version"};
    args.insert(args.end(), flags.begin(), flags.end());
    Outcome run = Qor(args, input);
    EXPECT_EQ(run.status, 0) << run.err;
    return Lines(run.out);
  }

  static void ExpectNoPlaintext(const Outcome& run) {
    for (const std::string& plain : kPlain) {
      EXPECT_EQ(run.out.find(plain), std::string::npos) << plain;
      EXPECT_EQ(run.err.find(plain), std::string::npos) << plain;
    }
  }
};

std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return out;
}

TEST_F(Rotation, RewrapMovesTextAndBinaryValuesToTheNewestVersion) {
  for (const char* policy : {"ROTATE_ARIA", "ROTATE_AES_RECORD_IV"}) {
    SCOPED_TRACE(policy);
    ASSERT_TRUE(agent_->Reload(Set(1)));
    const std::vector<std::string> old = Encrypt(policy, kPlain);
    ASSERT_EQ(Versions(old), std::vector<std::string>(kPlain.size(), "1"));

    ASSERT_TRUE(agent_->Reload(Set(2)));
    // An empty line (an empty column value) stays empty, in its place.
    std::vector<std::string> input = old;
    input.insert(input.begin() + 2, "");
    Outcome rewrap = Qor({"rewrap", policy}, Joined(input));
    ASSERT_EQ(rewrap.status, 0) << rewrap.err;
    EXPECT_EQ(rewrap.err, "");
    ExpectNoPlaintext(rewrap);
    std::vector<std::string> fresh = Lines(rewrap.out);
    ASSERT_EQ(fresh.size(), input.size());
    EXPECT_EQ(fresh[2], "");
    fresh.erase(fresh.begin() + 2);
    EXPECT_EQ(Versions(fresh), std::vector<std::string>(kPlain.size(), "2"));
    for (size_t i = 0; i < fresh.size(); ++i) EXPECT_NE(fresh[i], old[i]);

    Outcome back = Qor({"decrypt", policy}, Joined(fresh));
    ASSERT_EQ(back.status, 0) << back.err;
    EXPECT_EQ(Lines(back.out), kPlain);
    // The old values still decrypt: the old version is kept.
    EXPECT_EQ(Lines(Qor({"decrypt", policy}, Joined(old)).out), kPlain);
  }

  // Binary values, as hex, through arguments.
  ASSERT_TRUE(agent_->Reload(Set(1)));
  const std::vector<std::string> binary = Encrypt("ROTATE_ARIA", {"00ff10", "0a0d"}, {"--hex"});
  ASSERT_TRUE(agent_->Reload(Set(3)));
  Outcome rewrap = Qor({"rewrap", "--hex", "ROTATE_ARIA", binary[0], binary[1]});
  ASSERT_EQ(rewrap.status, 0) << rewrap.err;
  EXPECT_EQ(Versions(Lines(rewrap.out), {"--hex"}), (std::vector<std::string>{"3", "3"}));
  Outcome back = Qor({"decrypt", "--hex", "ROTATE_ARIA"}, rewrap.out);
  EXPECT_EQ(Lines(back.out), (std::vector<std::string>{"00ff10", "0a0d"}));
}

// A host that keeps running across the rotation: one qorctl process fed one
// value at a time picks up the new version at its next call.
TEST_F(Rotation, ARunningProcessPicksUpTheRotationAtItsNextCall) {
  WriteFile(agentHome_ / "logs/.keep", "");
  int toChild[2];
  int fromChild[2];
  ASSERT_EQ(pipe(toChild), 0);
  ASSERT_EQ(pipe(fromChild), 0);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    qor::test::DieWithParent(parent);
    dup2(toChild[0], 0);
    dup2(fromChild[1], 1);
    close(toChild[1]);
    close(fromChild[0]);
    // The library watches the update stamp under its home: the agent's.
    PointAtAgent({{"QOR_HOME", agentHome_.path()}});
    execl(QOR_QORCTL_BINARY, "qorctl", "encrypt", "ROTATE_ARIA", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(toChild[0]);
  close(fromChild[1]);
  // One value in, one stored value out (with a hang guard).
  auto ask = [&](const std::string& value) {
    const std::string line = value + "\n";
    EXPECT_EQ(write(toChild[1], line.data(), line.size()), static_cast<ssize_t>(line.size()));
    std::string answer;
    char c = 0;
    pollfd ready{fromChild[0], POLLIN, 0};
    while (poll(&ready, 1, 20000) == 1 && read(fromChild[0], &c, 1) == 1 && c != '\n') answer += c;
    return answer;
  };
  const std::string before = ask("first value");
  ASSERT_TRUE(agent_->Reload(Set(2)));
  const std::string after = ask("second value");
  close(toChild[1]);
  int status = 0;
  waitpid(pid, &status, 0);
  close(fromChild[0]);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  EXPECT_EQ(Versions({before, after}), (std::vector<std::string>{"1", "2"}));
  Outcome back = Qor({"decrypt", "ROTATE_ARIA", before, after});
  EXPECT_EQ(Lines(back.out), (std::vector<std::string>{"first value", "second value"}));
}

// What rewrap refuses, and where it stops: nothing after a failure is
// written, nothing before it is lost, and no failure prints a plaintext.
TEST_F(Rotation, RewrapRefusesWhatItCannotMoveSafely) {
  struct Case {
    const char* what;
    std::vector<std::string> args;
    std::string input;
    int status;
    std::string err;
  };
  const std::vector<std::string> aria = Encrypt("ROTATE_ARIA", {kPlain[0], kPlain[1]});
  const std::vector<std::string> seed = Encrypt("ROTATE_RETURN_INPUT", {kPlain[0]});
  ASSERT_TRUE(agent_->Reload(Set(2)));
  const Case cases[] = {
      {"digit policy", {"rewrap", "DIGITS", "ABCD"}, "", 2,
       "qorctl: DIGITS is a digit (FPE) policy: its values carry no key version, so there is no "
       "telling which key made them\n"},
      {"digest policy", {"rewrap", "DIGEST", "abc"}, "", 2,
       "qorctl: DIGEST is a digest (SHA-256) policy: digests cannot be decrypted, so they cannot "
       "be rewrapped\n"},
      {"unknown policy", {"rewrap", "NOPE"}, aria[0] + "\n", 1,
       "qorctl: 3015 The policy id [NOPE] could not be found.\n"
       "qorctl: the 5 policies loaded from the first agent at 127.0.0.1:" +
           std::to_string(first_) +
           " do not include 'NOPE' (names are case-sensitive; qorctl policies lists them)\n"},
      {"a value that is not one", {"rewrap", "ROTATE_ARIA"},
       aria[0] + "\nnot a stored value\n" + aria[1] + "\n", 1,
       "qorctl: 3031 key or data check(length 18, policy ROTATE_ARIA)\n"
       "qorctl: stopped at value 2; the 1 value(s) before it were written\n"},
      // This policy hands back the input when decryption fails: re-encrypting
      // that would bury the stored value under a second layer.
      {"error handling that returns the input", {"rewrap", "ROTATE_RETURN_INPUT"},
       seed[0] + "\n" + aria[0] + "\n", 1,
       "qorctl: stopped at value 2; the 1 value(s) before it were written: it did not decrypt "
       "under ROTATE_RETURN_INPUT (the policy's error handling returned the input)\n"},
      {"bad hex", {"rewrap", "--hex", "ROTATE_ARIA", "0g"}, "", 2, "qorctl: value 1 is not hex\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Outcome run = Qor(c.args, c.input);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err, c.err);
    ExpectNoPlaintext(run);
    // Only whole, checked values before the failure reach the output.
    const std::vector<std::string> written = Lines(run.out);
    EXPECT_LE(written.size(), 1u);
    if (!written.empty()) {
      EXPECT_EQ(Versions(written), std::vector<std::string>{"2"});
    }
  }
}

}  // namespace
