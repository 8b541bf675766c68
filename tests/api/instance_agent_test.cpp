// The instance against real agent processes on loopback: the first call loads
// the key set, the fallbacks to the second agent and the emergency file, a
// stamp change swapping the set under load, a missing key version fetched
// once, an append after a lookup miss, and agents that refuse, stall or hang
// up. Every scenario runs in a forked child with its own environment.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "config/config_test_support.h"
#include "qor/config.h"
#include "qorapi.h"
#include "support/agent_process.h"
#include "support/descriptors.h"
#include "support/test_support.h"

namespace {

using qor::test::AgentProcess;
using qor::test::Environment;
using qor::test::KeyHex;
using qor::test::MisbehavingAgent;
using qor::test::PolicyDesc;
using qor::test::TempDir;

using qor::test::Policy;

const std::vector<PolicyDesc> kBaseSet = {
    Policy("ARIA_256", "ARIA", 256, {1}),
    Policy("SEED_128", "SEED", 128, {1}),
    Policy("AES_256_REC", "AES", 256, {2, 1}),
};

Environment AgentEnvironment(const std::string& home, int first, int second) {
  return {{"QOR_HOME", home},
          {"QOR_FIRST_AGENT_IP", "127.0.0.1"},
          {"QOR_FIRST_PORT", std::to_string(first)},
          {"QOR_SECOND_PORT", std::to_string(second)},
          {"QOR_LOG_LEVEL", "DEBUG"}};
}

// One value call: the result bytes, or nothing when the call failed.
std::optional<std::string> Call(bool encrypt, const char* policy, const std::string& in, int mode) {
  // Encryption pads in place: the buffer has room behind the value.
  std::vector<unsigned char> buffer(in.begin(), in.end());
  buffer.resize(in.size() + 64);
  const DataBuffer out =
      (encrypt ? QOR_EncryptExUdf : QOR_DecryptExUdf)(policy, buffer.data(), static_cast<int>(in.size()),
                                                      "user", "app", "host", mode);
  if (out.length < 0 || out.data == nullptr) return std::nullopt;
  std::string result(reinterpret_cast<char*>(out.data), static_cast<size_t>(out.length));
  std::free(out.data);
  return result;
}
std::optional<std::string> Encrypt(const char* policy, const std::string& in, int mode = 0) {
  return Call(true, policy, in, mode);
}
std::optional<std::string> Decrypt(const char* policy, const std::string& in, int mode = 0) {
  return Call(false, policy, in, mode);
}
bool RoundTrips(const char* policy, const std::string& plain) {
  const auto cipher = Encrypt(policy, plain);
  if (!cipher || *cipher == plain) return false;
  const auto back = Decrypt(policy, *cipher);
  return back && *back == plain;
}
// Key version of a binary-layout value.
int VersionOf(const std::string& binary) {
  return binary.size() < 2 ? -1
                           : (static_cast<unsigned char>(binary[0]) << 8) | static_cast<unsigned char>(binary[1]);
}
int PolicyInitFromNow() { return apiObject != nullptr ? apiObject->data->policyInitFrom : -1; }

std::string ApiLog(const std::string& home) {
  std::string all;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(home + "/logs", ignored)) {
    all += qor::test::ReadFile(entry.path().string());
  }
  return all;
}

using qor::test::InChild;

class InstanceAgent : public ::testing::Test {
 protected:
  void SetUp() override {
    if (qor::test::AgentBinary() == nullptr) GTEST_SKIP() << "qor-agent is not built";
    // The API log opens here, never in its fallback outside the test's directory.
    std::filesystem::create_directories(libHome / "logs");
  }
  // A stamp file of the library's own, so that its mapping leaves the last
  // error to the key download.
  void WriteStamp() { ASSERT_TRUE(qor::test::WriteStamp(libHome / "conf/.qorupdate.dat", 0x0101010101010101)); }
  TempDir libHome;
  TempDir agentHome;
};

TEST_F(InstanceAgent, FirstCallLoadsTheKeySetFromTheFirstAgent) {
  AgentProcess agent(agentHome.path(), kBaseSet);
  ASSERT_TRUE(agent.ok());
  EXPECT_EQ(InChild(AgentEnvironment(libHome.path(), agent.firstPort(), agent.secondPort()), [] {
              CHILD_CHECK(QOR_IsInit() == 1);
              for (const char* policy : {"ARIA_256", "SEED_128", "AES_256_REC"}) {
                CHILD_CHECK(RoundTrips(policy, "4111-1111-1111-1111"));
              }
              CHILD_CHECK(QOR_IsInit() == 0);
              CHILD_CHECK(PolicyInitFromNow() == 1);
              // The newest version encrypts.
              CHILD_CHECK(VersionOf(Encrypt("AES_256_REC", "x", 1).value_or("")) == 2);
              return std::string();
            }),
            "");
  EXPECT_EQ(agent.RequestsSettled(1, 1), 1);
}

TEST_F(InstanceAgent, SecondAgentServesWhenTheFirstIsDown) {
  AgentProcess agent(agentHome.path(), kBaseSet);
  ASSERT_TRUE(agent.ok());
  const int down = qor::test::ClosedPort();
  EXPECT_EQ(InChild(AgentEnvironment(libHome.path(), down, agent.secondPort()), [&] {
              CHILD_CHECK(RoundTrips("ARIA_256", "second agent"));
              CHILD_CHECK(PolicyInitFromNow() == 2);
              CHILD_CHECK(ApiLog(libHome.path()).find("Success to get policy Second Agent") !=
                          std::string::npos);
              return std::string();
            }),
            "");
}

TEST_F(InstanceAgent, EachAgentGetsARequestWithItsOwnSeed) {
  MisbehavingAgent first(MisbehavingAgent::Kind::kRefuse);
  MisbehavingAgent second(MisbehavingAgent::Kind::kRefuse);
  ASSERT_GT(first.port(), 0);
  ASSERT_GT(second.port(), 0);
  EXPECT_EQ(InChild(AgentEnvironment(libHome.path(), first.port(), second.port()), [] {
              CHILD_CHECK(!Encrypt("ARIA_256", "nobody answers"));
              CHILD_CHECK(QOR_IsInit() == 1);
              return std::string();
            }),
            "");
  ASSERT_EQ(first.requests(), 1);
  ASSERT_EQ(second.requests(), 1);
  const std::string a = first.body(0), b = second.body(0);
  ASSERT_EQ(a.size(), 48u);
  ASSERT_EQ(b.size(), 48u);
  EXPECT_EQ(a.substr(0, 16), b.substr(0, 16));  // the fixed fields
  EXPECT_NE(a.substr(16), b.substr(16));        // the seeds
  // The refusal's text goes to the log.
  EXPECT_NE(ApiLog(libHome.path()).find("Receive Message [policy request refused]"),
            std::string::npos);
}

TEST_F(InstanceAgent, RefusingFirstAgentFallsBackToTheSecond) {
  MisbehavingAgent first(MisbehavingAgent::Kind::kRefuse);
  AgentProcess agent(agentHome.path(), kBaseSet);
  ASSERT_TRUE(agent.ok());
  EXPECT_EQ(InChild(AgentEnvironment(libHome.path(), first.port(), agent.firstPort()), [] {
              CHILD_CHECK(RoundTrips("SEED_128", "refused first"));
              CHILD_CHECK(PolicyInitFromNow() == 2);
              return std::string();
            }),
            "");
}

// Both agents down: the emergency file under the home decides.
TEST_F(InstanceAgent, BothAgentsDownWithoutEmergencyFileFails) {
  WriteStamp();
  const int down1 = qor::test::ClosedPort(), down2 = qor::test::ClosedPort();
  EXPECT_EQ(InChild(AgentEnvironment(libHome.path(), down1, down2), [] {
              CHILD_CHECK(!Encrypt("ARIA_256", "no keys"));
              CHILD_CHECK(QOR_IsInit() == 1);
              CHILD_CHECK(QOR_GetLastErrorCode() == 3);
              // The next call tries again rather than serving an empty set.
              CHILD_CHECK(!Encrypt("ARIA_256", "no keys"));
              CHILD_CHECK(QOR_IsInit() == 1);
              return std::string();
            }),
            "");
}

TEST_F(InstanceAgent, BothAgentsDownLoadsTheEmergencyFile) {
  {
    // The agent leaves its emergency file behind in the library's home.
    AgentProcess agent(libHome.path(), kBaseSet);
    ASSERT_TRUE(agent.ok());
  }
  ASSERT_TRUE(std::filesystem::exists(libHome / "conf/agent.dat"));
  const int down1 = qor::test::ClosedPort(), down2 = qor::test::ClosedPort();
  EXPECT_EQ(InChild(AgentEnvironment(libHome.path(), down1, down2), [&] {
              for (const char* policy : {"ARIA_256", "SEED_128", "AES_256_REC"}) {
                CHILD_CHECK(RoundTrips(policy, "from the file"));
              }
              CHILD_CHECK(PolicyInitFromNow() == 3);
              CHILD_CHECK(ApiLog(libHome.path()).find("Success to get policy Emergency File") !=
                          std::string::npos);
              return std::string();
            }),
            "");
}

// A file that is there but does not decrypt gives no key set at all: the load
// fails with the reason instead of reporting success with no policies.
TEST_F(InstanceAgent, EmergencyFileThatDoesNotDecryptFailsTheLoad) {
  WriteStamp();
  {
    AgentProcess agent(libHome.path(), kBaseSet);
    ASSERT_TRUE(agent.ok());
  }
  std::string file = qor::test::ReadFile(libHome / "conf/agent.dat");
  ASSERT_GT(file.size(), 32u);
  file[3] ^= 0x01;  // the salt: the derived key changes
  qor::test::WriteFile(libHome / "conf/agent.dat", file);
  const int down1 = qor::test::ClosedPort(), down2 = qor::test::ClosedPort();
  EXPECT_EQ(InChild(AgentEnvironment(libHome.path(), down1, down2), [] {
              CHILD_CHECK(!Encrypt("ARIA_256", "no keys"));
              CHILD_CHECK(QOR_IsInit() == 1);
              CHILD_CHECK(QOR_GetLastErrorCode() == 1);
              CHILD_CHECK(std::string(QOR_GetLastErrorMsg()) == "failed to ReadPolicyFile");
              CHILD_CHECK(PolicyInitFromNow() != 3);
              return std::string();
            }),
            "");
}

TEST_F(InstanceAgent, SlowAgentEndsAtTheTimeLimit) {
  WriteStamp();
  MisbehavingAgent silent(MisbehavingAgent::Kind::kSilent);
  EXPECT_EQ(InChild(AgentEnvironment(libHome.path(), silent.port(), silent.port()), [] {
              // Each agent gets one request that ends at the configured limit
              // (the message names it); the count of requests is checked below.
              CHILD_CHECK(!Encrypt("ARIA_256", "late"));
              CHILD_CHECK(QOR_GetLastErrorCode() == 4);
              CHILD_CHECK(std::string(QOR_GetLastErrorMsg()) == "the time limit expired [1000 msec]");
              return std::string();
            }),
            "");
  EXPECT_EQ(silent.requests(), 2);
}

TEST_F(InstanceAgent, AgentClosingMidBodyLoadsNothing) {
  MisbehavingAgent closing(MisbehavingAgent::Kind::kCloseMidBody);
  EXPECT_EQ(InChild(AgentEnvironment(libHome.path(), closing.port(), qor::test::ClosedPort()), [] {
              CHILD_CHECK(!Encrypt("ARIA_256", "cut short"));
              CHILD_CHECK(QOR_IsInit() == 1);
              CHILD_CHECK(QOR_GetLastErrorCode() != 0);
              return std::string();
            }),
            "");
}

// The agent publishes a new key set (new version) while 8 threads encrypt and
// decrypt: the set is swapped under them and no call fails.
TEST_F(InstanceAgent, StampChangeSwapsTheKeySetUnderLoad) {
  // One home: the agent rewrites the stamp the library watches.
  AgentProcess agent(libHome.path(), kBaseSet);
  ASSERT_TRUE(agent.ok());
  const std::vector<PolicyDesc> updated = {
      Policy("ARIA_256", "ARIA", 256, {2, 1}),
      Policy("SEED_128", "SEED", 128, {2, 1}),
      Policy("AES_256_REC", "AES", 256, {3, 2, 1}),
  };
  EXPECT_EQ(InChild(AgentEnvironment(libHome.path(), agent.firstPort(), agent.secondPort()), [&] {
              CHILD_CHECK(RoundTrips("ARIA_256", "warm up"));
              std::atomic<bool> stop{false};
              std::atomic<int> failures{0}, calls{0}, newest{0};
              std::vector<std::thread> threads;
              for (int t = 0; t < 8; ++t) {
                threads.emplace_back([&, t] {
                  const char* policies[] = {"ARIA_256", "SEED_128", "AES_256_REC"};
                  for (int i = 0; !stop.load(); ++i) {
                    const char* policy = policies[(t + i) % 3];
                    const std::string plain = "value-" + std::to_string(t) + "-" + std::to_string(i);
                    const auto cipher = Encrypt(policy, plain, 1);
                    const auto back = cipher ? Decrypt(policy, *cipher, 1) : std::nullopt;
                    if (!back || *back != plain) ++failures;
                    if (cipher && std::string(policy) == "ARIA_256" && VersionOf(*cipher) == 2) ++newest;
                    ++calls;
                  }
                });
              }
              // Calls run before, during and after the swap: wait for counts,
              // not for time. The deadline only guards against a hang.
              const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(120);
              const auto waitFor = [&](const std::function<bool()>& done) {
                while (!done() && std::chrono::steady_clock::now() < guard) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
              };
              waitFor([&] { return calls.load() >= 60; });
              const bool reloaded = agent.Reload(updated);
              waitFor([&] { return newest.load() > 0; });
              const int atSwap = calls.load();
              waitFor([&] { return calls.load() >= atSwap + 60; });
              stop = true;
              for (auto& thread : threads) thread.join();
              CHILD_CHECK(reloaded);
              CHILD_CHECK(newest.load() > 0);
              CHILD_CHECK(failures.load() == 0);
              CHILD_CHECK(calls.load() > 100);
              CHILD_CHECK(VersionOf(Encrypt("AES_256_REC", "after", 1).value_or("")) == 3);
              return std::string();
            }),
            "");
  EXPECT_EQ(agent.RequestsSettled(1, 2), 2);
}

// A value under a version the loaded set lacks: the first agent (the set
// without it) refuses the single-key request, the second serves it, once,
// even when 8 threads miss it together.
TEST_F(InstanceAgent, MissingKeyVersionIsFetchedOnce) {
  TempDir fullHome;
  AgentProcess withoutV2(agentHome.path(), {Policy("ARIA_256", "ARIA", 256, {1})});
  AgentProcess full(fullHome.path(), {Policy("ARIA_256", "ARIA", 256, {2, 1})});
  ASSERT_TRUE(withoutV2.ok());
  ASSERT_TRUE(full.ok());

  // A value under version 2, made where version 2 is known.
  struct Value {
    int length;
    char bytes[256];
  };
  const auto made = qor::test::RunInChildFor<Value>([&] {
    qor::test::ApplyEnvironment(AgentEnvironment(libHome.path(), full.firstPort(), full.secondPort()));
    Value value{-1, {}};
    const auto cipher = Encrypt("ARIA_256", "under version two", 1);
    if (cipher && VersionOf(*cipher) == 2 && cipher->size() <= sizeof(value.bytes)) {
      value.length = static_cast<int>(cipher->size());
      std::memcpy(value.bytes, cipher->data(), cipher->size());
    }
    return value;
  });
  ASSERT_TRUE(made.has_value());
  ASSERT_GT(made->length, 0);
  const std::string value(made->bytes, static_cast<size_t>(made->length));
  const int fetchesBefore = full.Requests(3);

  EXPECT_EQ(InChild(AgentEnvironment(libHome.path(), withoutV2.firstPort(), full.secondPort()), [&] {
              CHILD_CHECK(VersionOf(Encrypt("ARIA_256", "v1 here", 1).value_or("")) == 1);
              std::atomic<int> wrong{0};
              std::vector<std::thread> threads;
              for (int t = 0; t < 8; ++t) {
                threads.emplace_back([&] {
                  const auto back = Decrypt("ARIA_256", value, 1);
                  if (!back || *back != "under version two") ++wrong;
                });
              }
              for (auto& thread : threads) thread.join();
              CHILD_CHECK(wrong.load() == 0);
              return std::string();
            }),
            "");
  EXPECT_EQ(withoutV2.RequestsSettled(3, 1), 1);
  EXPECT_EQ(full.RequestsSettled(3, fetchesBefore + 1) - fetchesBefore, 1);
}

// A policy the loaded set lacks: the lookup miss appends what the agent has
// now, and the policies already loaded stay as they were.
TEST_F(InstanceAgent, LookupMissAppendsNewPolicies) {
  AgentProcess agent(agentHome.path(), {Policy("ARIA_256", "ARIA", 256, {1})});
  ASSERT_TRUE(agent.ok());
  EXPECT_EQ(InChild(AgentEnvironment(libHome.path(), agent.firstPort(), agent.secondPort()), [&] {
              const auto before = Encrypt("ARIA_256", "kept", 1);
              CHILD_CHECK(before && VersionOf(*before) == 1);
              CHILD_CHECK(!Encrypt("SEED_NEW", "not yet"));
              // The agent's home is not the library's: no stamp change, so
              // only the miss brings the new policy in.
              CHILD_CHECK(agent.Reload({Policy("ARIA_256", "ARIA", 256, {2, 1}, 7),
                                        Policy("SEED_NEW", "SEED", 128, {1})}));
              CHILD_CHECK(RoundTrips("SEED_NEW", "appended"));
              // The loaded policy was not replaced by the agent's newer one.
              const auto after = Encrypt("ARIA_256", "kept", 1);
              CHILD_CHECK(after && VersionOf(*after) == 1);
              CHILD_CHECK(Decrypt("ARIA_256", *before, 1).value_or("") == "kept");
              return std::string();
            }),
            "");
}

// An append that grows the policy table runs while 8 threads look policies
// up in it: every lookup still finds its policy and every value round-trips.
TEST_F(InstanceAgent, AppendGrowsThePolicyTableUnderConcurrentLookups) {
  AgentProcess agent(agentHome.path(), {Policy("ARIA_256", "ARIA", 256, {1})});
  ASSERT_TRUE(agent.ok());
  std::vector<PolicyDesc> many = {Policy("ARIA_256", "ARIA", 256, {1})};
  for (int i = 0; i < 600; ++i) many.push_back(Policy("P" + std::to_string(i), "SEED", 128, {1}));
  EXPECT_EQ(InChild(AgentEnvironment(libHome.path(), agent.firstPort(), agent.secondPort()), [&] {
              CHILD_CHECK(RoundTrips("ARIA_256", "warm up"));
              CHILD_CHECK(agent.Reload(many));
              std::atomic<bool> stop{false};
              std::atomic<int> failures{0};
              std::vector<std::thread> threads;
              for (int t = 0; t < 8; ++t) {
                threads.emplace_back([&] {
                  while (!stop.load()) {
                    if (!RoundTrips("ARIA_256", "looked up during the append")) ++failures;
                  }
                });
              }
              std::this_thread::sleep_for(std::chrono::milliseconds(50));
              const bool appended = RoundTrips("P300", "brought in by the miss");
              std::this_thread::sleep_for(std::chrono::milliseconds(50));
              stop = true;
              for (auto& thread : threads) thread.join();
              CHILD_CHECK(appended);
              CHILD_CHECK(failures.load() == 0);
              CHILD_CHECK(RoundTrips("P599", "already there"));
              return std::string();
            }),
            "");
  // One initial load and one append: no lookup during the append missed.
  EXPECT_EQ(agent.RequestsSettled(1, 2), 2);
}

}  // namespace
