// The instance against agents that trickle, refuse at swap time or vanish,
// against QOR_ClearKeys under load, and across a first key rotation: the
// library never stalls past its limits, picks a rotation up once the agent
// answers again, never fails a call for a cleared key set, and keeps every
// value stored under version 0 readable. Every scenario runs in a forked
// child with its own environment.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "agent/policy/policy_writer.h"
#include "api/instance_testing.h"
#include "config/config_test_support.h"
#include "qorapi.h"
#include "support/agent_process.h"
#include "support/hostile_agent.h"
#include "support/test_support.h"

namespace {

namespace wr = qor::agent;
using qor::test::AgentProcess;
using qor::test::Environment;
using qor::test::HostileAgent;
using qor::test::HostileReply;
using qor::test::TempDir;
using Clock = std::chrono::steady_clock;

Environment AgentEnvironment(const std::string& home, int first, int second) {
  return {{"QOR_HOME", home},
          {"QOR_FIRST_AGENT_IP", "127.0.0.1"},
          {"QOR_FIRST_PORT", std::to_string(first)},
          {"QOR_SECOND_PORT", std::to_string(second)},
          {"QOR_LOG_LEVEL", "DEBUG"}};
}

std::string InChild(const Environment& environment, const std::function<std::string()>& body) {
  return qor::test::RunInChild([&] {
    qor::test::ApplyEnvironment(environment);
    return body();
  });
}

std::optional<std::string> Call(bool encrypt, const char* policy, const std::string& in, int mode) {
  std::vector<unsigned char> buffer(in.begin(), in.end());
  buffer.resize(in.size() + 64);
  const DataBuffer out = (encrypt ? QOR_EncryptExUdf : QOR_DecryptExUdf)(
      policy, buffer.data(), static_cast<int>(in.size()), "user", "app", "host", mode);
  if (out.length < 0 || (out.data == nullptr && out.length != 0)) return std::nullopt;
  std::string result(out.data != nullptr ? reinterpret_cast<char*>(out.data) : "",
                     static_cast<size_t>(out.length));
  std::free(out.data);
  return result;
}
std::optional<std::string> Encrypt(const char* policy, const std::string& in, int mode = 0) {
  return Call(true, policy, in, mode);
}
std::optional<std::string> Decrypt(const char* policy, const std::string& in, int mode = 0) {
  return Call(false, policy, in, mode);
}
std::optional<std::string> Lob(bool encrypt, const char* policy, const std::string& in,
                               int binary) {
  std::vector<unsigned char> buffer(in.begin(), in.end());
  buffer.resize(in.size() + 64);
  std::vector<unsigned char> out(in.size() * 2 + 4096);
  const int64_t n = (encrypt ? QOR_EncryptLobEx : QOR_DecryptLobEx)(
      policy, buffer.data(), in.size(), out.data(), binary, 1, "user", "app", "host");
  if (n <= 0) return std::nullopt;
  return std::string(reinterpret_cast<char*>(out.data()), static_cast<size_t>(n));
}
int VersionOf(const std::string& binary) {
  return binary.size() < 3 || static_cast<unsigned char>(binary[2]) != 0xFE
             ? 0
             : (static_cast<unsigned char>(binary[0]) << 8) | static_cast<unsigned char>(binary[1]);
}

wr::Bytes AriaRecord(std::vector<uint64_t> versions) {
  wr::PolicyDesc p;
  p.name = "P";
  p.algorithm = "ARIA";
  p.keyBits = 256;
  for (uint64_t v : versions) p.keys.push_back({v, wr::Bytes(32, static_cast<uint8_t>(0x40 + v))});
  wr::PolicySetDesc set;
  set.policies = {p};
  return wr::EncodePolicySet(set);
}

// In place, as the agent writes it: the library maps the file.
void WriteStamp(const std::string& home, uint64_t value) {
  std::filesystem::create_directories(home + "/conf");
  const int fd = open((home + "/conf/.qorupdate.dat").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  (void)!pwrite(fd, &value, sizeof(value), 0);
  close(fd);
}

class HostileInstance : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directories(home.path() + "/logs"); }
  TempDir home;
};

TEST_F(HostileInstance, InitAgainstTricklingAgentsIsBounded) {
  WriteStamp(home.path(), 1);
  const wr::Bytes record = AriaRecord({1});
  HostileAgent agent([&](uint8_t, const std::string&) {
    HostileReply reply;
    reply.body = record;
    reply.byteDelayMs = 30;  // every byte well within 1 s, the answer about 20 s
    return reply;
  });
  EXPECT_EQ(InChild(AgentEnvironment(home.path(), agent.port(), agent.port()), [] {
              const auto started = Clock::now();
              CHILD_CHECK(QOR_Init() == 1);
              // Hang guard: two agents, each cut at 1 s + 2 s (the answer
              // alone would take 20 s each).
              CHILD_CHECK(Clock::now() - started < std::chrono::seconds(20));
              CHILD_CHECK(QOR_GetLastErrorCode() == 4);
              return std::string();
            }),
            "");
}

// Both agents down and no stamp file: the reason the load failed stays the
// last error, not the missing stamp's 2000.
TEST_F(HostileInstance, FailedInitNamesTheAgentNotTheStamp) {
  const int down = qor::test::ClosedPort();
  EXPECT_EQ(InChild(AgentEnvironment(home.path(), down, down), [] {
              CHILD_CHECK(!Encrypt("P", "nothing loads"));
              CHILD_CHECK(QOR_GetLastErrorCode() == 3);
              CHILD_CHECK(std::string(QOR_GetLastErrorMsg()).find("Failed open") ==
                          std::string::npos);
              return std::string();
            }),
            "");
}

// The agent is busy when the stamp changes: that call fails with a reason,
// and the rotation is still picked up once the agent answers, without the
// stamp changing again.
TEST_F(HostileInstance, FailedSwapIsRetriedUntilTheRotationIsPickedUp) {
  WriteStamp(home.path(), 1);
  // The child sets the phase through a file: "0" serves v1, "1" refuses as a
  // busy agent does, "2" serves v2.
  const std::string phaseFile = home.path() + "/phase";
  qor::test::WriteFile(phaseFile, "0");
  const wr::Bytes v1 = AriaRecord({1}), v2 = AriaRecord({2, 1});
  HostileAgent agent([&](uint8_t, const std::string&) {
    HostileReply reply;
    const std::string phase = qor::test::ReadFile(phaseFile);
    if (phase == "1") {
      reply.opcode = 0;
      reply.raw = true;
      const std::string busy = "agent busy";
      reply.body.assign(busy.begin(), busy.end());
    } else {
      reply.body = phase == "2" ? v2 : v1;
    }
    return reply;
  });
  EXPECT_EQ(InChild(AgentEnvironment(home.path(), agent.port(), agent.port()), [&] {
              CHILD_CHECK(VersionOf(Encrypt("P", "before", 1).value_or("")) == 1);
              qor::test::WriteFile(phaseFile, "1");
              WriteStamp(home.path(), 2);
              CHILD_CHECK(!Encrypt("P", "during", 1));
              CHILD_CHECK(qor::api::testing::ReadState().cachedStamp == 1);
              CHILD_CHECK(QOR_GetLastErrorCode() != 0);
              CHILD_CHECK(std::string(QOR_GetLastErrorMsg()).find("agent busy") != std::string::npos);
              // The old key set keeps serving until the retry is due.
              qor::test::WriteFile(phaseFile, "2");
              const auto deadline = Clock::now() + std::chrono::seconds(20);
              int version = 0;
              while (version != 2 && Clock::now() < deadline) {
                version = VersionOf(Encrypt("P", "after", 1).value_or(""));
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
              }
              CHILD_CHECK(version == 2);
              return std::string();
            }),
            "");
}

const std::vector<qor::test::PolicyDesc> kSet = {
    {"ARIA_256", "ARIA", 256, {{1, qor::test::KeyHex(32, 1)}}},
    {"SEED_128", "SEED", 128, {{1, qor::test::KeyHex(16, 2)}}},
};

// QOR_ClearKeys while threads call: a call that finds the key set cleared
// waits for (or runs) the reload instead of failing "policy could not be found".
TEST_F(HostileInstance, ClearKeysUnderLoadFailsNoCall) {
  if (qor::test::AgentBinary() == nullptr) GTEST_SKIP() << "qor-agent is not built";
  AgentProcess agent(home.path(), kSet);
  ASSERT_TRUE(agent.ok());
  EXPECT_EQ(InChild(AgentEnvironment(home.path(), agent.firstPort(), agent.secondPort()), [] {
              CHILD_CHECK(Encrypt("ARIA_256", "warm up").has_value());
              std::atomic<bool> stop{false};
              std::atomic<int> failures{0}, calls{0}, lastCode{0};
              std::vector<std::thread> threads;
              for (int t = 0; t < 4; ++t) {
                threads.emplace_back([&, t] {
                  for (int i = 0; !stop; ++i) {
                    const char* policy = (t + i) % 2 ? "ARIA_256" : "SEED_128";
                    const std::string plain = "v" + std::to_string(t) + "-" + std::to_string(i);
                    const auto cipher = Encrypt(policy, plain);
                    const auto back = cipher ? Decrypt(policy, *cipher) : std::nullopt;
                    if (!back || *back != plain) {
                      ++failures;
                      lastCode = QOR_GetLastErrorCode();
                    }
                    ++calls;
                  }
                });
              }
              std::thread clearer([&] {
                const auto until = Clock::now() + std::chrono::milliseconds(1500);
                while (Clock::now() < until) {
                  QOR_ClearKeys();
                  std::this_thread::sleep_for(std::chrono::milliseconds(3));
                }
                stop = true;
              });
              clearer.join();
              for (auto& thread : threads) thread.join();
              CHILD_CHECK(calls.load() > 20);
              if (failures.load() != 0) {
                return std::to_string(failures.load()) + " of " + std::to_string(calls.load()) +
                       " calls failed, last code " + std::to_string(lastCode.load());
              }
              return std::string();
            }),
            "");
}

// Values stored while a policy had only version 0 carry no prefix; after the
// first rotation they still decrypt, in every form.
TEST_F(HostileInstance, VersionZeroValuesStayReadableAfterRotation) {
  if (qor::test::AgentBinary() == nullptr) GTEST_SKIP() << "qor-agent is not built";
  const auto set = [](std::vector<int> versions) {
    qor::test::PolicyDesc p{"AES_REC", "AES", 256, {}, "RECORD"};
    qor::test::PolicyDesc q{"ARIA_PLAIN", "ARIA", 128, {}};
    for (int v : versions) {
      p.keys.push_back({v, qor::test::KeyHex(32, 10 + static_cast<unsigned>(v))});
      q.keys.push_back({v, qor::test::KeyHex(16, 20 + static_cast<unsigned>(v))});
    }
    return std::vector<qor::test::PolicyDesc>{p, q};
  };
  AgentProcess agent(home.path(), set({0}));
  ASSERT_TRUE(agent.ok());
  EXPECT_EQ(InChild(AgentEnvironment(home.path(), agent.firstPort(), agent.secondPort()), [&] {
              struct Stored {
                const char* policy;
                int form;  // 0 text, 1 binary, 2 text object, 3 binary object
                std::string plain, cipher;
              };
              std::vector<Stored> stored;
              const std::string big(9000, 'L');
              for (const char* policy : {"AES_REC", "ARIA_PLAIN"}) {
                for (int i = 0; i < 40; ++i) {
                  const std::string plain = "value " + std::to_string(i);
                  stored.push_back({policy, 0, plain, Encrypt(policy, plain).value_or("")});
                  stored.push_back({policy, 1, plain, Encrypt(policy, plain, 1).value_or("")});
                }
                stored.push_back({policy, 2, big, Lob(true, policy, big, 0).value_or("")});
                stored.push_back({policy, 3, big, Lob(true, policy, big, 1).value_or("")});
              }
              for (const Stored& s : stored) CHILD_CHECK(!s.cipher.empty());
              // No version prefix: whole blocks and the record-IV tail (the
              // third byte alone may be 0xFE by chance).
              CHILD_CHECK(stored[1].cipher.size() % 16 == 4);
              CHILD_CHECK(agent.Reload(set({1, 0})));
              const auto deadline = Clock::now() + std::chrono::seconds(20);
              while (VersionOf(Encrypt("AES_REC", "new", 1).value_or("")) != 1 &&
                     Clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
              }
              CHILD_CHECK(VersionOf(Encrypt("AES_REC", "new", 1).value_or("")) == 1);
              int unreadable = 0;
              std::string which;
              for (const Stored& s : stored) {
                const auto back = s.form < 2 ? Decrypt(s.policy, s.cipher, s.form)
                                             : Lob(false, s.policy, s.cipher, s.form - 2);
                if (!back || *back != s.plain) {
                  ++unreadable;
                  which += std::string(" ") + s.policy + "/" + std::to_string(s.form) + "/" +
                           std::to_string(QOR_GetLastErrorCode());
                }
              }
              if (unreadable != 0) {
                return std::to_string(unreadable) + " of " + std::to_string(stored.size()) +
                       " version-0 values unreadable after the rotation:" + which;
              }
              // New values take version 1 and round-trip too.
              const auto fresh = Encrypt("ARIA_PLAIN", "fresh", 1);
              CHILD_CHECK(fresh && VersionOf(*fresh) == 1);
              CHILD_CHECK(Decrypt("ARIA_PLAIN", *fresh, 1).value_or("") == "fresh");
              return std::string();
            }),
            "");
}

// An empty value under a compatibility policy (no "$." form), with and
// without a middle pattern, in text and binary form: it comes back empty, not
// as the marker byte the pipeline stores for it.
TEST_F(HostileInstance, EmptyValuesRoundTripAsEmpty) {
  WriteStamp(home.path(), 1);
  const auto policy = [](const std::string& name, bool middle) {
    wr::PolicyDesc p;
    p.name = name;
    p.algorithm = "LEA";
    p.keyBits = 128;
    p.keys = {{1, wr::Bytes(16, 0x17)}};
    p.compatibility = "STANDARD";
    if (middle) {
      p.patternType = "MIDDLE";
      p.patternChars = "3,4";
      p.position = "FRONT";
    }
    return p;
  };
  wr::PolicySetDesc set;
  set.policies = {policy("STD_MIDDLE", true), policy("STD_WHOLE", false)};
  const wr::Bytes record = wr::EncodePolicySet(set);
  HostileAgent agent([&](uint8_t, const std::string&) {
    HostileReply reply;
    reply.body = record;
    return reply;
  });
  EXPECT_EQ(InChild(AgentEnvironment(home.path(), agent.port(), agent.port()), [] {
              for (const char* name : {"STD_MIDDLE", "STD_WHOLE"}) {
                for (int mode : {0, 1}) {
                  unsigned char none[64] = {0};
                  const DataBuffer cipher =
                      QOR_EncryptExUdf(name, none, 0, "user", "app", "host", mode);
                  CHILD_CHECK(cipher.length >= 0);
                  std::vector<unsigned char> stored(cipher.data, cipher.data + cipher.length);
                  std::free(cipher.data);
                  stored.resize(stored.size() + 64);
                  const DataBuffer back = QOR_DecryptExUdf(
                      name, stored.data(), cipher.length, "user", "app", "host", mode);
                  // Empty: length 0, or -3 for an empty input left clear.
                  const bool empty = back.length == 0 || (cipher.length == 0 && back.length == -3);
                  std::free(back.data);
                  if (!empty) {
                    return std::string(name) + " mode " + std::to_string(mode) +
                           ": an empty value came back with length " + std::to_string(back.length);
                  }
                }
                // A one-character value is still itself.
                CHILD_CHECK(Decrypt(name, Encrypt(name, "x", 1).value_or(""), 1) == "x");
              }
              return std::string();
            }),
            "");
}

}  // namespace
