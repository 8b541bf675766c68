// The key download pieces below the instance: the single-key record reader,
// the policy-record answer, the socket's update, append and single-key
// operations against a real agent, and the file helpers kept with them.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "agent/download/download_internal.h"
#include "agent/policy/policy_writer.h"
#include "agent/socket/client_protocol.h"
#include "agent/socket/qor_socket.h"
#include "qor/config.h"
#include "qor/key_download.h"
#include "qor/policy.h"
#include "support/agent_process.h"
#include "support/test_support.h"

namespace {

namespace wr = qor::agent;

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

wr::PolicyDesc AriaPolicy(const std::string& name, std::vector<std::pair<uint64_t, uint8_t>> keys) {
  wr::PolicyDesc p;
  p.name = name;
  p.algorithm = "ARIA";
  p.keyBits = 256;
  for (const auto& [version, first] : keys) p.keys.push_back({version, KeyBytes(32, first)});
  return p;
}

// A key manager holding |policies|, filled through the record parser.
Mgr Load(const std::vector<wr::PolicyDesc>& policies) {
  wr::PolicySetDesc set;
  set.policies = policies;
  const wr::Bytes record = wr::EncodePolicySet(set);
  std::vector<unsigned char> copy(record.begin(), record.end());
  const DataBuffer buffer{static_cast<int32_t>(copy.size()), copy.data()};
  Mgr mgr(KeyMgr_Create(nullptr));
  KeyMgrParse(&buffer, mgr.get(), 0, 0);
  return mgr;
}

KeyInfo* Find(KeyMgr* mgr, const std::string& name) {
  const DataBuffer key{static_cast<int32_t>(name.size()),
                       reinterpret_cast<unsigned char*>(const_cast<char*>(name.data()))};
  return mgr->GetKeyInfo(mgr, &key);
}

// Text-form ciphertext of |plain| under the policy's newest version.
std::string EncryptWith(KeyInfo* info, const std::string& plain) {
  std::vector<unsigned char> in(plain.begin(), plain.end());
  in.resize(plain.size() + 64);
  DataBuffer input{static_cast<int32_t>(plain.size()), in.data()};
  DataBuffer out{0, nullptr};
  UACipherUtil* cipher = info->cipher;
  if (cipher->EncryptToBase64(&cipher, &input, &out) != 0 || out.data == nullptr) return "";
  std::string text(reinterpret_cast<char*>(out.data), static_cast<size_t>(out.length));
  std::free(out.data);
  return text;
}

int AddRecord(KeyInfo* info, const wr::Bytes& record, int version) {
  std::vector<unsigned char> copy(record.begin(), record.end());
  return qor::agent::AddKeyRecord(DataBuffer{static_cast<int32_t>(copy.size()), copy.data()}, info,
                                  0, info->name, version);
}

TEST(KeyRecord, NewVersionJoinsThePolicyWithItsKey) {
  Mgr mgr = Load({AriaPolicy("P", {{1, 0x10}})});
  KeyInfo* info = Find(mgr.get(), "P");
  ASSERT_NE(info, nullptr);
  ASSERT_EQ(AddRecord(info, wr::EncodeKeyRecord({2, KeyBytes(32, 0x20), "deactive"}), 2), 0);
  UACipherUtil* cipher = info->cipher;
  const CipherUtil* added = cipher->GetCipher(&cipher, 2);
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->keyStatus, QOR_KEY_DEACTIVE);
  EXPECT_EQ(added->firstTime, 20260101);
  EXPECT_EQ(cipher->GetLatestKeyVersion(&cipher), 2);
  // The same ciphertext as a policy that had the key from the start.
  Mgr reference = Load({AriaPolicy("P", {{2, 0x20}, {1, 0x10}})});
  EXPECT_EQ(EncryptWith(info, "same key, same value"),
            EncryptWith(Find(reference.get(), "P"), "same key, same value"));
}

TEST(KeyRecord, RecordsThatCannotBeAVersionAddNothing) {
  const wr::Bytes good = wr::EncodeKeyRecord({3, KeyBytes(32, 0x30)});
  const wr::Bytes fields[] = {wr::EncodeNumber(3), wr::EncodeText(std::string(32, 'k')),
                              wr::EncodeText("active"), wr::EncodeText("2026010100Z")};
  struct Case {
    const char* what;
    wr::Bytes record;
  } cases[] = {
      // The key schedule would read past a short key.
      {"key shorter than the policy's", wr::EncodeKeyRecord({3, KeyBytes(31, 0x30)})},
      {"empty key", wr::EncodeKeyRecord({3, {}})},
      {"four fields", wr::EncodeSequence({fields[0], fields[1], fields[2], fields[3]})},
      {"not a sequence", wr::EncodeText("3:key")},
      {"truncated", wr::Bytes(good.begin(), good.begin() + static_cast<long>(good.size() / 2))},
      {"empty", {}},
  };
  for (const Case& c : cases) {
    Mgr mgr = Load({AriaPolicy("P", {{1, 0x10}})});
    KeyInfo* info = Find(mgr.get(), "P");
    EXPECT_EQ(AddRecord(info, c.record, 3), -1) << c.what;
    UACipherUtil* cipher = info->cipher;
    EXPECT_EQ(cipher->GetCipher(&cipher, 3), nullptr) << c.what;
    EXPECT_EQ(cipher->GetLatestKeyVersion(&cipher), 1) << c.what;
  }
}

TEST(KeyRecord, AVersionThePolicyHoldsIsRefused) {
  Mgr mgr = Load({AriaPolicy("P", {{1, 0x10}})});
  KeyInfo* info = Find(mgr.get(), "P");
  const std::string before = EncryptWith(info, "unchanged");
  EXPECT_EQ(AddRecord(info, wr::EncodeKeyRecord({1, KeyBytes(32, 0x77)}), 1), -1);
  EXPECT_EQ(EncryptWith(info, "unchanged"), before);
}

// The operation-1 answer: decrypted with the session cipher, then parsed.
class PolicyAnswer : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 32; ++i) seed[i] = static_cast<unsigned char>(i * 3);
    qor::agent::DeriveSessionKey(seed, 1, key, iv);
    cipher = qor::agent::CreateSessionCipher(key, iv);
    ASSERT_NE(cipher, nullptr);
  }
  void TearDown() override {
    if (cipher != nullptr) cipher->Destroy(&cipher);
    DestroyPacket(&answer);
  }
  void Seal(const wr::Bytes& plain) {
    DataBuffer body{0, nullptr};
    ASSERT_EQ(qor::agent::EncryptAnswer(cipher, plain.data(), static_cast<int32_t>(plain.size()), &body), 0);
    answer.opcode = 1;
    answer.recordCount = 1;
    answer.length = body.length;
    answer.data = body.data;
  }

  unsigned char seed[32], key[32], iv[16];
  UACipherUtil* cipher = nullptr;
  Packet answer{};
  ErrorInfo error{};
};

TEST_F(PolicyAnswer, FillsTheKeyManager) {
  wr::PolicySetDesc set;
  set.policies = {AriaPolicy("A", {{1, 1}}), AriaPolicy("B", {{4, 2}})};
  Seal(wr::EncodePolicySet(set));
  Mgr mgr(KeyMgr_Create(nullptr));
  ASSERT_EQ(Packet_OpGetKeyinfo2KeyMgr(&answer, mgr.get(), cipher, &error, 0, 0), 1);
  EXPECT_EQ(mgr->GetPolicyCount(mgr.get()), 2);
  EXPECT_NE(Find(mgr.get(), "B"), nullptr);
  EXPECT_EQ(error.code, 0);
}

TEST_F(PolicyAnswer, RefusesWhatItCannotUse) {
  Mgr mgr(KeyMgr_Create(nullptr));
  EXPECT_EQ(Packet_OpGetKeyinfo2KeyMgr(&answer, nullptr, cipher, &error, 0, 0), 0);

  EXPECT_EQ(Packet_OpGetKeyinfo2KeyMgr(&answer, mgr.get(), cipher, &error, 0, 0), 0);
  EXPECT_EQ(error.code, 1);
  EXPECT_STREQ(error.message, "Invalid Packet");

  // Sealed under another request's key.
  unsigned char otherKey[32], otherIv[16];
  qor::agent::DeriveSessionKey(seed, 2, otherKey, otherIv);
  UACipherUtil* other = qor::agent::CreateSessionCipher(otherKey, otherIv);
  wr::PolicySetDesc set;
  set.policies = {AriaPolicy("A", {{1, 1}})};
  Seal(wr::EncodePolicySet(set));
  EXPECT_EQ(Packet_OpGetKeyinfo2KeyMgr(&answer, mgr.get(), other, &error, 0, 0), 0);
  EXPECT_STREQ(error.message, "Record Decrypt Failed");
  EXPECT_EQ(mgr->GetPolicyCount(mgr.get()), 0);
  other->Destroy(&other);
}

// The socket's key operations against a running agent.
class SocketKeyOperations : public ::testing::Test {
 protected:
  void SetUp() override {
    if (qor::test::AgentBinary() == nullptr) GTEST_SKIP() << "qor-agent is not built";
    agent = std::make_unique<qor::test::AgentProcess>(
        home.path(), std::vector<qor::test::PolicyDesc>{
                         {"A", "ARIA", 256, {{2, qor::test::KeyHex(32, 2)}, {1, qor::test::KeyHex(32, 1)}}},
                         {"B", "SEED", 128, {{1, qor::test::KeyHex(16, 3)}}}});
    ASSERT_TRUE(agent->ok());
    std::strcpy(data.home, home.path().c_str());
    config.data = &data;
    socket = QORSocket_Create("127.0.0.1", static_cast<uint16_t>(agent->firstPort()), "127.0.0.1",
                              static_cast<uint16_t>(agent->secondPort()), 1000, &error);
    ASSERT_NE(socket, nullptr);
    socket->SetErrorVariable(socket, &error);
  }
  void TearDown() override {
    if (socket != nullptr) socket->Destroy(&socket);
  }

  qor::test::TempDir home;
  std::unique_ptr<qor::test::AgentProcess> agent;
  QORApiData data{};
  QORApiConf config{};
  ErrorInfo error{};
  QORSocket* socket = nullptr;
};

TEST_F(SocketKeyOperations, UpdateNeedsAnEmptySlot) {
  KeyMgr* held = KeyMgr_Create(nullptr);
  KeyMgr* slot = held;
  EXPECT_NE(socket->GetKeyMgrUpdateFromQORServer(socket, &slot, &config), 0);
  EXPECT_EQ(slot, held);
  EXPECT_STREQ(error.message, "KeyMgr Already exists");
  held->Destroy(&held);

  slot = nullptr;
  ASSERT_EQ(socket->GetKeyMgrUpdateFromQORServer(socket, &slot, &config), 0);
  Mgr loaded(slot);
  EXPECT_EQ(loaded->GetPolicyCount(loaded.get()), 2);
  EXPECT_EQ(data.policyInitFrom, 1);
  EXPECT_NE(data.loadTime, 0);
}

TEST_F(SocketKeyOperations, FailedLoadKeepsTheKeySetItWouldReplace) {
  Mgr mine = Load({AriaPolicy("MINE", {{1, 9}})});
  KeyMgr* slot = mine.get();
  agent->Stop();
  qor::test::TempDir noFile;  // the agent's home holds an emergency file
  std::strcpy(data.home, noFile.path().c_str());
  EXPECT_NE(socket->GetKeyMgrFromQORServer(socket, &slot, &config), 0);
  ASSERT_EQ(slot, mine.get());
  EXPECT_NE(Find(slot, "MINE"), nullptr);
}

TEST_F(SocketKeyOperations, AppendAddsOnlyWhatIsMissing) {
  Mgr mine = Load({AriaPolicy("A", {{7, 9}})});
  KeyInfo* ownA = Find(mine.get(), "A");
  const std::string before = EncryptWith(ownA, "kept");
  ASSERT_EQ(socket->AppendPolicyFromQORServer(socket, mine.get(), &config), 0);
  EXPECT_EQ(Find(mine.get(), "A"), ownA);
  EXPECT_EQ(EncryptWith(ownA, "kept"), before);
  EXPECT_NE(Find(mine.get(), "B"), nullptr);
  EXPECT_EQ(mine->GetPolicyCount(mine.get()), 2);
}

TEST_F(SocketKeyOperations, SingleKeyGoesToThePolicyItNames) {
  Mgr mine = Load({AriaPolicy("A", {{1, 9}})});
  KeyInfo* a = Find(mine.get(), "A");
  ASSERT_EQ(socket->GetSpecficKeyFromQORServer(socket, mine.get(), &config, 1, "A", 2), 0);
  UACipherUtil* cipher = a->cipher;
  EXPECT_NE(cipher->GetCipher(&cipher, 2), nullptr);
  // A policy the key set does not hold: nothing added, success.
  EXPECT_EQ(socket->GetSpecficKeyFromQORServer(socket, mine.get(), &config, 1, "B", 1), 0);
  EXPECT_EQ(Find(mine.get(), "B"), nullptr);
  // A version the agent does not know.
  EXPECT_NE(socket->GetSpecficKeyFromQORServer(socket, mine.get(), &config, 1, "A", 9), 0);
  EXPECT_EQ(cipher->GetCipher(&cipher, 9), nullptr);
  EXPECT_EQ(agent->RequestsSettled(3, 4), 4);  // the unknown version was asked of both ports
}

TEST(DownloadFileHelpers, ReadAndWholeFileWrite) {
  qor::test::TempDir dir;
  const std::string path = dir / "data.bin";
  const unsigned char bytes[] = {1, 0, 2, 0, 3};
  ASSERT_EQ(Packet_writeFile(bytes, sizeof(bytes), path.c_str()), 1);
  unsigned char* data = nullptr;
  size_t length = 0;
  ASSERT_EQ(readFileData(path.c_str(), &data, &length), 0);
  ASSERT_EQ(length, sizeof(bytes));
  EXPECT_EQ(std::memcmp(data, bytes, length), 0);
  EXPECT_EQ(data[length], 0);
  std::free(data);

  EXPECT_EQ(readFileData((dir / "missing").c_str(), &data, &length), 1);
  EXPECT_EQ(readFileData(dir.path().c_str(), &data, &length), 1);
  EXPECT_EQ(Packet_writeFile(bytes, sizeof(bytes), (dir / "no/such/dir/file").c_str()), 0);
}

TEST(DownloadFileHelpers, BlankTexts) {
  const struct {
    const char* text;
    int blank;
  } cases[] = {{"", 1}, {" \t\r\n", 1}, {"\x01\x1f ", 1}, {" x ", 0}, {"\x21", 0}, {"\xc3\xa9", 0}};
  for (const auto& c : cases) EXPECT_EQ(isWhitespace(c.text), c.blank) << c.text;
  EXPECT_EQ(isWhitespace(nullptr), 1);
}

}  // namespace
