// The agent socket against a hostile stand-in agent: answers that trickle,
// lie about the key version, decrypt to garbage, carry no policy, do not
// match their own hash or are built to exhaust memory; the whole padding of
// every answer; and a damaged, oversized or unopenable emergency file.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "agent/download/download_internal.h"
#include "agent/emergency/emergency_file.h"
#include "agent/emergency/file_secret.h"
#include "agent/policy/key_mgr_parse.h"
#include "agent/policy/policy_writer.h"
#include "agent/socket/client_protocol.h"
#include "agent/socket/qor_socket.h"
#include "qor/config.h"
#include "qor/key_mgr.h"
#include "qor/policy.h"
#include "support/agent_process.h"
#include "support/hostile_agent.h"
#include "support/log_capture.h"
#include "support/test_support.h"

namespace {

namespace wr = qor::agent;
using qor::test::HostileAgent;
using qor::test::HostileReply;
using Clock = std::chrono::steady_clock;

struct MgrDeleter {
  void operator()(KeyMgr* mgr) const {
    if (mgr != nullptr) mgr->Destroy(&mgr);
  }
};
using Mgr = std::unique_ptr<KeyMgr, MgrDeleter>;

wr::Bytes KeyBytes(size_t n, uint8_t first) {
  wr::Bytes key(n);
  for (size_t i = 0; i < n; ++i) key[i] = static_cast<uint8_t>(first + i * 7);
  return key;
}

wr::PolicyDesc AriaPolicy(const std::string& name, uint64_t version) {
  wr::PolicyDesc p;
  p.name = name;
  p.algorithm = "ARIA";
  p.keyBits = 256;
  p.keys = {{version, KeyBytes(32, static_cast<uint8_t>(version))}};
  return p;
}

wr::Bytes Record(const std::vector<wr::PolicyDesc>& policies) {
  wr::PolicySetDesc set;
  set.policies = policies;
  return wr::EncodePolicySet(set);
}

// Answers with |record| sealed, under a length field 4096 bytes longer than
// what is sent: the reader sees the close before the end of the body.
qor::test::HostileScript BreaksOff(const wr::Bytes& record) {
  return [record](uint8_t, const std::string&) {
    HostileReply reply;
    reply.body = record;
    reply.announced = static_cast<uint32_t>(record.size() / 16 * 16 + 16 + 4096);
    return reply;
  };
}

KeyInfo* Find(KeyMgr* mgr, const std::string& name) {
  const DataBuffer key{static_cast<int32_t>(name.size()),
                       reinterpret_cast<unsigned char*>(const_cast<char*>(name.data()))};
  return mgr->GetKeyInfo(mgr, &key);
}

// A socket object whose both agents are |port| (or nothing listens).
class HostileSocket : public ::testing::Test {
 protected:
  void Connect(int port, int timeLimitMs = 1000) {
    std::strcpy(data.home, home.path().c_str());
    config.data = &data;
    socket = QORSocket_Create("127.0.0.1", static_cast<uint16_t>(port), "127.0.0.1",
                              static_cast<uint16_t>(port), timeLimitMs, &error);
    ASSERT_NE(socket, nullptr);
    socket->SetErrorVariable(socket, &error);
  }
  void TearDown() override {
    if (socket != nullptr) socket->Destroy(&socket);
  }
  // The whole key set from the agent(s): 0 and the manager, or the failure.
  int LoadKeySet(Mgr* out) {
    KeyMgr* slot = nullptr;
    const int result = socket->GetKeyMgrFromQORServer(socket, &slot, &config);
    out->reset(slot);
    return result;
  }
  std::string Message() const { return error.message; }

  qor::test::TempDir home;
  QORApiData data{};
  QORApiConf config{};
  ErrorInfo error{};
  QORSocket* socket = nullptr;
};

// A trickled answer used to keep the caller as long as each byte came within
// the limit; the limit now holds for the whole exchange.
TEST_F(HostileSocket, TrickledAnswerEndsAtTheExchangeLimit) {
  const wr::Bytes record = Record({AriaPolicy("P", 1)});
  HostileAgent agent([&](uint8_t, const std::string&) {
    HostileReply reply;
    reply.body = record;
    reply.byteDelayMs = 20;  // about 20 s for the whole answer, each byte well within 1 s
    return reply;
  });
  Connect(agent.port(), 500);
  const auto started = Clock::now();
  Mgr mgr;
  EXPECT_NE(LoadKeySet(&mgr), 0);
  const auto took = Clock::now() - started;
  EXPECT_EQ(mgr, nullptr);
  EXPECT_EQ(error.code, 4);
  EXPECT_EQ(Message(), "the time limit expired [500 msec]");
  EXPECT_EQ(agent.requests(), 2);
  // Hang guard, not a speed check: two agents, each cut at 0.5 s + 2 s.
  EXPECT_LT(took, std::chrono::seconds(15));
}

TEST_F(HostileSocket, SlowHeaderAndTrickledHealthAnswerAreNotHealthy) {
  HostileAgent agent([](uint8_t, const std::string&) {
    HostileReply reply;
    reply.body = {1};
    reply.headerDelayMs = 300;
    reply.byteDelayMs = 250;  // header and 16 sealed bytes: about 5.5 s, each wait 0.25 s
    return reply;
  });
  Connect(agent.port(), 1000);
  const auto started = Clock::now();
  EXPECT_NE(socket->HealthCheckAgent(socket), 0);
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(15));
  EXPECT_EQ(error.code, 4);
}

TEST_F(HostileSocket, KeyFetchTakesOnlyTheVersionAskedFor) {
  Mgr mgr(KeyMgr_Create(nullptr));
  const wr::Bytes record = Record({AriaPolicy("P", 1)});
  const DataBuffer buffer{static_cast<int32_t>(record.size()), const_cast<uint8_t*>(record.data())};
  KeyMgrParse(&buffer, mgr.get(), 0, 0);
  HostileAgent agent([](uint8_t, const std::string& payload) {
    HostileReply reply;
    // Asked for 2, answers 9: a version that would then encrypt new values.
    reply.body = wr::EncodeKeyRecord({9, KeyBytes(32, 0x99)});
    EXPECT_EQ(payload, "P:2");
    return reply;
  });
  Connect(agent.port());
  EXPECT_NE(socket->GetSpecficKeyFromQORServer(socket, mgr.get(), &config, 1, "P", 2), 0);
  UACipherUtil* cipher = Find(mgr.get(), "P")->cipher;
  EXPECT_EQ(cipher->GetCipher(&cipher, 9), nullptr);
  EXPECT_EQ(cipher->GetCipher(&cipher, 2), nullptr);
  EXPECT_EQ(cipher->GetLatestKeyVersion(&cipher), 1);
  EXPECT_NE(error.code, 0);
  EXPECT_EQ(Message(), "failed to add the key version [P:2]");
}

// Sealed answers that decrypt but cannot be trusted: none may give a key set.
TEST_F(HostileSocket, AnswersThatAreNoTrustworthyRecordAreRefused) {
  const wr::Bytes good = Record({AriaPolicy("P", 1), AriaPolicy("Q", 3)});
  wr::Bytes tampered = good;
  tampered[tampered.size() - 40] ^= 0x01;  // a byte inside the last policy
  wr::Bytes emptyElements(4u << 20, 0);
  for (size_t i = 0; i < emptyElements.size(); i += 2) emptyElements[i] = 0x04;
  // Large enough to be read while its hash is checked: a mismatch keeps
  // nothing of it, not even the audit switch one of its policies turns on.
  std::vector<wr::PolicyDesc> many;
  for (int i = 0; i < 3000; ++i) many.push_back(AriaPolicy("P" + std::to_string(i), 1));
  many.back().audit = {0xFF, 0xFF, 0xFF, 0xFF};
  wr::Bytes largeTampered = Record(many);
  ASSERT_GE(largeTampered.size(), 512u * 1024);
  largeTampered[largeTampered.size() / 2] ^= 0x01;
  wr::PolicySetDesc noPolicies;
  wr::Bytes badPolicyOnly = wr::EncodePolicyRecord(
      {}, {wr::EncodeSequence({wr::EncodeText("P"), wr::EncodeText("COLUMN")})});
  struct Case {
    const char* what;
    wr::Bytes plain;
    const char* message;
  } cases[] = {
      {"empty", {}, "invalid policy record from the agent answer: the answer is not a policy record"},
      {"garbage", wr::Bytes(300, 0xA5),
       "invalid policy record from the agent answer: the answer is not a policy record"},
      {"truncated", wr::Bytes(good.begin(), good.begin() + static_cast<long>(good.size() / 2)),
       "invalid policy record from the agent answer: the answer is not a policy record"},
      {"tampered", tampered,
       "invalid policy record from the agent answer: the policy record does not match its policy "
       "hash"},
      {"large, tampered", largeTampered,
       "invalid policy record from the agent answer: the policy record does not match its policy "
       "hash"},
      {"no policy", wr::EncodePolicySet(noPolicies),
       "invalid policy record from the agent answer: no policy could be read"},
      {"no hash", badPolicyOnly,
       "invalid policy record from the agent answer: the policy record carries no policy hash"},
      {"4 MiB of empty elements", wr::EncodeSequence({emptyElements}),
       "invalid policy record from the agent answer: the policy record carries no policy hash"},
  };
  const int auditBefore = wr::AuditFlag.load();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HostileAgent agent([&](uint8_t, const std::string&) {
      HostileReply reply;
      reply.body = c.plain;
      return reply;
    });
    if (socket != nullptr) socket->Destroy(&socket);
    Connect(agent.port(), 5000);  // what is refused here is the content, not the pace
    testing::internal::CaptureStdout();
    Mgr mgr;
    const int result = LoadKeySet(&mgr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_NE(result, 0);
    EXPECT_EQ(mgr, nullptr);
    EXPECT_EQ(error.code, 1);
    EXPECT_EQ(Message(), c.message);
    EXPECT_EQ(wr::AuditFlag.load(), auditBefore);
  }
}

TEST_F(HostileSocket, HonestAnswerStillLoads) {
  std::vector<wr::PolicyDesc> many;
  for (int i = 0; i < 3000; ++i) many.push_back(AriaPolicy("P" + std::to_string(i), i % 5 + 1));
  const wr::Bytes small = Record({AriaPolicy("P", 1), AriaPolicy("Q", 3)});
  const wr::Bytes large = Record(many);  // read while its hash is checked
  for (const wr::Bytes* record : {&small, &large}) {
    HostileAgent agent([&](uint8_t, const std::string&) {
      HostileReply reply;
      reply.body = *record;
      reply.byteDelayMs = 0;
      return reply;
    });
    if (socket != nullptr) socket->Destroy(&socket);
    Connect(agent.port(), 5000);
    Mgr mgr;
    ASSERT_EQ(LoadKeySet(&mgr), 0);
    EXPECT_EQ(mgr->GetPolicyCount(mgr.get()), record == &small ? 2 : 3000);
    KeyInfo* last = Find(mgr.get(), record == &small ? "Q" : "P2999");
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->cipher->GetLatestKeyVersion(&last->cipher), record == &small ? 3 : 5);
  }
}

// The first agent breaks off a large answer that is read while it arrives:
// nothing read of it stays, not even the audit switch one of its policies
// turned on, and the second agent's answer is the key set.
TEST_F(HostileSocket, BrokenOffAnswerLeavesNothingBehind) {
  std::vector<wr::PolicyDesc> first;
  std::vector<wr::PolicyDesc> second;
  for (int i = 0; i < 3000; ++i) first.push_back(AriaPolicy("A" + std::to_string(i), 1));
  first[10].audit = {0xFF, 0xFF, 0xFF, 0xFF};
  for (int i = 0; i < 2000; ++i) second.push_back(AriaPolicy("B" + std::to_string(i), 2));
  const wr::Bytes firstRecord = Record(first);
  const wr::Bytes secondRecord = Record(second);
  HostileAgent broken(BreaksOff(firstRecord));
  HostileAgent honest([&](uint8_t, const std::string&) {
    HostileReply reply;
    reply.body = secondRecord;
    return reply;
  });
  std::strcpy(data.home, home.path().c_str());
  config.data = &data;
  socket = QORSocket_Create("127.0.0.1", static_cast<uint16_t>(broken.port()), "127.0.0.1",
                            static_cast<uint16_t>(honest.port()), 5000, &error);
  ASSERT_NE(socket, nullptr);
  socket->SetErrorVariable(socket, &error);
  const int auditBefore = wr::AuditFlag.load();
  Mgr mgr;
  ASSERT_EQ(LoadKeySet(&mgr), 0) << Message();
  EXPECT_EQ(broken.requests(), 1);
  EXPECT_EQ(mgr->GetPolicyCount(mgr.get()), 2000);
  EXPECT_EQ(Find(mgr.get(), "A0"), nullptr);
  ASSERT_NE(Find(mgr.get(), "B1999"), nullptr);
  EXPECT_EQ(wr::AuditFlag.load(), auditBefore);
}

// A key set read while it arrived but then not taken (the update finds a key
// set already in place) leaves the audit switch as it was.
TEST_F(HostileSocket, ARefusedUpdateLeavesTheAuditSwitchAlone) {
  std::vector<wr::PolicyDesc> many;
  for (int i = 0; i < 1600; ++i) many.push_back(AriaPolicy("P" + std::to_string(i), 1));
  many[5].audit = {0xFF, 0xFF, 0xFF, 0xFF};
  const wr::Bytes record = Record(many);
  // Streamed, and decrypted on the reading thread: the auditing policy is
  // read with the first pieces, before the update looks at its slot.
  ASSERT_GE(record.size(), 256u * 1024);
  ASSERT_LT(record.size(), 512u * 1024);
  HostileAgent agent([&](uint8_t, const std::string&) {
    HostileReply reply;
    reply.body = record;
    return reply;
  });
  Connect(agent.port(), 5000);
  const int auditBefore = wr::AuditFlag.load();
  Mgr existing(KeyMgr_Create(nullptr));
  KeyMgr* slot = existing.get();
  EXPECT_EQ(socket->GetKeyMgrUpdateFromQORServer(socket, &slot, &config), 1);
  EXPECT_EQ(Message(), "KeyMgr Already exists");
  EXPECT_EQ(slot, existing.get());
  EXPECT_EQ(wr::AuditFlag.load(), auditBefore);
}

// Every padding byte is checked, not only the last: a body whose padding is
// wrong anywhere does not decrypt.
TEST(AnswerPadding, EveryPaddingByteIsChecked) {
  unsigned char seed[32], key[32], iv[16];
  for (int i = 0; i < 32; ++i) seed[i] = static_cast<unsigned char>(i + 1);
  wr::DeriveSessionKey(seed, 1, key, iv);
  UACipherUtil* cipher = wr::CreateSessionCipher(key, iv);
  ASSERT_NE(cipher, nullptr);
  struct Case {
    std::vector<uint8_t> lastBytes;  // the end of the plain block, padding included
    bool accepted;
  } cases[] = {
      {{3, 3, 3}, true},   {{1}, true},         {{9, 3, 3}, false},
      {{3, 9, 3}, false},  {{0, 2}, false},     {{16}, false},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> plain(32, 'x');
    std::copy(c.lastBytes.begin(), c.lastBytes.end(), plain.end() - static_cast<long>(c.lastBytes.size()));
    if (c.lastBytes == std::vector<uint8_t>{16}) std::fill(plain.begin() + 16, plain.end() - 1, 'y');
    const qor::test::Bytes body = qor::test::EvpCrypt(
        EVP_aria_256_cbc(), true, false, qor::test::Bytes(key, key + 32), iv, plain);
    Packet answer{};
    answer.opcode = 1;
    answer.length = static_cast<int32_t>(body.size());
    answer.data = const_cast<uint8_t*>(body.data());
    DataBuffer out{0, nullptr};
    EXPECT_EQ(wr::DecryptAnswer(cipher, answer, &out) == 0, c.accepted)
        << testing::PrintToString(c.lastBytes);
    std::free(out.data);
  }
  cipher->Destroy(&cipher);
}

// ---- The emergency file -------------------------------------------------

class DamagedEmergencyFile : public HostileSocket {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(home.path() + "/conf");
    ASSERT_EQ(wr::EnsureFileSecret(home.path(), secret), wr::SecretStatus::kOk);
    std::vector<wr::PolicyDesc> policies;
    for (int i = 0; i < 12; ++i) policies.push_back(AriaPolicy("POLICY_" + std::to_string(i), 1 + i));
    ASSERT_EQ(wr::WriteEmergencyPolicyFile(DatPath(), Record(policies), secret), 0);
    good = qor::test::ReadFile(DatPath());
    // Both agents down: the load goes to the file.
    Connect(qor::test::ClosedPort());
  }
  std::string DatPath() const { return wr::EmergencyFilePath(home.path()); }
  // A new file in place of the old one, as the agent writes it.
  void Replace(const std::string& content) {
    qor::test::WriteFile(DatPath() + ".new", content);
    std::filesystem::rename(DatPath() + ".new", DatPath());
  }

  unsigned char secret[16];
  std::string good;
};

// An answer broken off after part of it was read, and no second agent: the
// file's key set is loaded as it is, with nothing of the answer mixed in.
TEST_F(DamagedEmergencyFile, ABrokenOffAnswerLeavesTheFileSetAlone) {
  std::vector<wr::PolicyDesc> partial;
  for (int i = 0; i < 3000; ++i) partial.push_back(AriaPolicy("A" + std::to_string(i), 1));
  const wr::Bytes record = Record(partial);
  HostileAgent broken(BreaksOff(record));
  socket->Destroy(&socket);
  socket = QORSocket_Create("127.0.0.1", static_cast<uint16_t>(broken.port()), "127.0.0.1",
                            static_cast<uint16_t>(qor::test::ClosedPort()), 5000, &error);
  ASSERT_NE(socket, nullptr);
  Mgr mgr;
  ASSERT_EQ(LoadKeySet(&mgr), 0) << Message();
  EXPECT_EQ(broken.requests(), 1);
  EXPECT_EQ(mgr->GetPolicyCount(mgr.get()), 12);
  EXPECT_EQ(Find(mgr.get(), "A0"), nullptr);
}

TEST_F(DamagedEmergencyFile, IntactFileLoadsEveryPolicy) {
  Mgr mgr;
  ASSERT_EQ(LoadKeySet(&mgr), 0);
  EXPECT_EQ(mgr->GetPolicyCount(mgr.get()), 12);
  EXPECT_EQ(data.policyInitFrom, 3);
}

// One flipped byte anywhere in the record: refused, never a set with
// policies missing or a wrong key.
TEST_F(DamagedEmergencyFile, AFlippedByteAnywhereIsRefused) {
  std::vector<size_t> positions;
  for (size_t at = 32; at < good.size(); at += 13) positions.push_back(at);
  positions.push_back(good.size() - 1);
  positions.push_back(good.size() - 17);
  for (size_t at : positions) {
    std::string file = good;
    file[at] = static_cast<char>(file[at] ^ 0x20);
    Replace(file);
    Mgr mgr;
    EXPECT_NE(LoadKeySet(&mgr), 0) << "byte " << at;
    EXPECT_EQ(mgr, nullptr) << "byte " << at;
    EXPECT_EQ(error.code, 1) << "byte " << at;
  }
}

TEST_F(DamagedEmergencyFile, EachCauseSaysWhatFailed) {
  // A missing secret, as the README promises.
  std::filesystem::rename(wr::FileSecretPath(home.path()), home.path() + "/key.aside");
  Mgr mgr;
  EXPECT_NE(LoadKeySet(&mgr), 0);
  EXPECT_EQ(Message().rfind("failed to read the emergency file secret", 0), 0u) << Message();
  std::filesystem::rename(home.path() + "/key.aside", wr::FileSecretPath(home.path()));

  // A file that cannot be read as one.
  std::filesystem::remove(DatPath());
  std::filesystem::create_directories(DatPath());
  EXPECT_NE(LoadKeySet(&mgr), 0);
  EXPECT_EQ(Message().rfind("the emergency policy file is not a regular file", 0), 0u) << Message();
  std::filesystem::remove(DatPath());

  // Far larger than any record (sparse: no disk is used).
  Replace(good);
  ASSERT_EQ(truncate(DatPath().c_str(), off_t{80} << 20), 0);
  EXPECT_NE(LoadKeySet(&mgr), 0);
  EXPECT_EQ(Message().rfind("the emergency policy file is too large", 0), 0u) << Message();

  // A file that does not decrypt.
  std::string wrongSalt = good;
  wrongSalt[3] = static_cast<char>(wrongSalt[3] ^ 1);
  Replace(wrongSalt);
  EXPECT_NE(LoadKeySet(&mgr), 0);
  EXPECT_EQ(Message(), "failed to ReadPolicyFile");
}

// A failed file is not read and decrypted again on every call while it stays
// as it is; a new file is read at once.
TEST_F(DamagedEmergencyFile, FailedLoadIsRememberedUntilTheFileChanges) {
  std::string broken = good;
  broken[good.size() / 2] = static_cast<char>(broken[good.size() / 2] ^ 1);
  Replace(broken);
  qor::test::LogCapture log;
  ASSERT_TRUE(log.ok());
  Mgr mgr;
  EXPECT_NE(LoadKeySet(&mgr), 0);
  const std::string first = Message();
  EXPECT_EQ(first.rfind("invalid policy record from the emergency policy file", 0), 0u) << first;
  for (int i = 0; i < 2; ++i) {
    EXPECT_NE(LoadKeySet(&mgr), 0);
    EXPECT_EQ(error.code, 1);
    EXPECT_EQ(Message(), first);
  }
  // Each load that reads the file logs its failure under the loader's name.
  const std::string text = log.text();
  size_t reads = 0;
  for (size_t at = text.find("GetPolicyInfoFromFile ["); at != std::string::npos;
       at = text.find("GetPolicyInfoFromFile [", at + 1)) {
    ++reads;
  }
  EXPECT_EQ(reads, 1u) << text;
  Replace(good);
  ASSERT_EQ(LoadKeySet(&mgr), 0);
  EXPECT_EQ(mgr->GetPolicyCount(mgr.get()), 12);
}

}  // namespace
