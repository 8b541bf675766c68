// The emergency policy file: its format against OpenSSL, the installation
// secret, every way the load can fail, and the policy key info container.
#include "qor/policy_file.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/sha.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "agent/emergency/emergency_file.h"
#include "agent/emergency/file_secret.h"
#include "agent/policy/policy_writer.h"
#include "qor/key_mgr.h"
#include "qor/policy.h"
#include "qor/ua_cipher_util.h"
#include "support/bytes.h"
#include "support/evp_oracle.h"
#include "support/log_capture.h"
#include "support/test_support.h"

namespace {

using qor::agent::EmergencyLoad;
using qor::test::Bytes;

Bytes SampleRecord() {
  qor::agent::PolicySetDesc set;
  set.hash = Bytes(88, 0x5C);
  qor::agent::PolicyDesc p;
  p.name = "emergency.column";
  p.keys = {qor::agent::KeyVersionDesc{4, Bytes(16, 0x44)}};
  set.policies = {p};
  return qor::agent::EncodePolicySet(set);
}

std::string AsString(const Bytes& b) { return std::string(b.begin(), b.end()); }
Bytes AsBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// The file as the format says, built with OpenSSL: salt, then ARIA-256-CBC
// under SHA-384(secret || salt).
Bytes OracleFile(const Bytes& secret, const Bytes& salt, const Bytes& record) {
  Bytes material = secret;
  material.insert(material.end(), salt.begin(), salt.end());
  unsigned char digest[48];
  SHA384(material.data(), material.size(), digest);
  const Bytes key(digest, digest + 32);
  Bytes file = salt;
  const Bytes cipher = qor::test::EvpCrypt(EVP_aria_256_cbc(), true, true, key, digest + 32, record);
  file.insert(file.end(), cipher.begin(), cipher.end());
  return file;
}

Bytes OracleRead(const Bytes& secret, const Bytes& file) {
  const Bytes salt(file.begin(), file.begin() + 32);
  Bytes material = secret;
  material.insert(material.end(), salt.begin(), salt.end());
  unsigned char digest[48];
  SHA384(material.data(), material.size(), digest);
  return qor::test::EvpCrypt(EVP_aria_256_cbc(), false, true, Bytes(digest, digest + 32),
                             digest + 32, Bytes(file.begin() + 32, file.end()));
}

class EmergencyFile : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(log_.ok());
    ASSERT_EQ(mkdir((home_.path() + "/conf").c_str(), 0700), 0);
  }
  std::string home() const { return home_.path(); }
  std::string datPath() const { return qor::agent::EmergencyFilePath(home()); }
  void PutSecret(const Bytes& secret) const {
    qor::test::WriteFile(qor::agent::FileSecretPath(home()), AsString(secret));
    chmod(qor::agent::FileSecretPath(home()).c_str(), 0600);
  }
  EmergencyLoad Load(DataBuffer* record) {
    error_ = ErrorInfo{};
    return qor::agent::LoadEmergencyPolicy(home(), record, &error_);
  }

  qor::test::LogCapture log_;
  qor::test::TempDir home_;
  ErrorInfo error_{};
};

TEST_F(EmergencyFile, AgentSecretIsCreatedOnceWithOwnerOnlyAccess) {
  unsigned char secret[16];
  unsigned char again[16];
  std::string why;
  ASSERT_EQ(qor::agent::ReadFileSecret(home(), secret, &why), qor::agent::SecretStatus::kMissing);
  EXPECT_NE(why.find("agent.key"), std::string::npos);
  ASSERT_EQ(qor::agent::EnsureFileSecret(home(), secret), qor::agent::SecretStatus::kOk);
  struct stat st {};
  ASSERT_EQ(stat(qor::agent::FileSecretPath(home()).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_size, 16);
  ASSERT_EQ(qor::agent::EnsureFileSecret(home(), again), qor::agent::SecretStatus::kOk);
  EXPECT_EQ(std::memcmp(secret, again, 16), 0) << "an existing secret is never replaced";
  ASSERT_EQ(qor::agent::ReadFileSecret(home(), again), qor::agent::SecretStatus::kOk);
  EXPECT_EQ(std::memcmp(secret, again, 16), 0);
  // A home without conf/ gets one.
  qor::test::TempDir bare;
  EXPECT_EQ(qor::agent::EnsureFileSecret(bare.path(), again), qor::agent::SecretStatus::kOk);
}

TEST_F(EmergencyFile, WriteThenLoadGivesTheRecordAndThePolicies) {
  unsigned char secret[16];
  ASSERT_EQ(qor::agent::EnsureFileSecret(home(), secret), qor::agent::SecretStatus::kOk);
  const Bytes record = SampleRecord();
  ASSERT_EQ(qor::agent::WriteEmergencyPolicyFile(datPath(), record, secret), 0);
  struct stat st {};
  ASSERT_EQ(stat(datPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(IsPolicyFile(datPath().c_str()), 1);

  // The bytes on disk are what the format says.
  const Bytes file = AsBytes(qor::test::ReadFile(datPath()));
  EXPECT_EQ(OracleRead(Bytes(secret, secret + 16), file), record);

  DataBuffer loaded{0, nullptr};
  ASSERT_EQ(Load(&loaded), EmergencyLoad::kOk);
  ASSERT_EQ(loaded.length, static_cast<int32_t>(record.size()));
  EXPECT_EQ(Bytes(loaded.data, loaded.data + loaded.length), record);
  EXPECT_EQ(loaded.data[loaded.length], 0);
  KeyMgr* mgr = KeyMgr_Create(nullptr);
  EXPECT_EQ(KeyMgrParse(&loaded, mgr, 0, 0), 1);
  EXPECT_EQ(mgr->GetPolicyCount(mgr), 1);
  mgr->Destroy(&mgr);
  std::free(loaded.data);
}

TEST_F(EmergencyFile, ReadsAFileBuiltByAnIndependentImplementation) {
  const Bytes secret = qor::test::FromHex("000102030405060708090a0b0c0d0e0f");
  Bytes salt(32);
  for (size_t i = 0; i < salt.size(); ++i) salt[i] = static_cast<uint8_t>(0xA0 + i);
  const Bytes record = SampleRecord();
  qor::test::WriteFile(datPath(), AsString(OracleFile(secret, salt, record)));
  DataBuffer out{0, nullptr};
  ASSERT_EQ(ReadPolicyFile(datPath().c_str(), &out, secret.data(), salt.data()), 0);
  EXPECT_EQ(Bytes(out.data, out.data + out.length), record);
  std::free(out.data);

  // Any changed salt byte changes the key.
  for (size_t i : {0u, 17u, 31u}) {
    Bytes other = salt;
    other[i] ^= 0x01;
    DataBuffer none{0, nullptr};
    EXPECT_NE(ReadPolicyFile(datPath().c_str(), &none, secret.data(), other.data()), 0) << i;
    EXPECT_EQ(none.data, nullptr);
  }
}

TEST_F(EmergencyFile, MissingFileFailsTheLoad) {
  PutSecret(Bytes(16, 1));
  DataBuffer out{0, nullptr};
  EXPECT_EQ(Load(&out), EmergencyLoad::kNoFile);
  EXPECT_EQ(out.data, nullptr);
  EXPECT_EQ(error_.code, 1);
  EXPECT_NE(std::string(error_.message).find("failed to open the emergency policy file"),
            std::string::npos);
  EXPECT_EQ(IsPolicyFile(datPath().c_str()), 0);
  EXPECT_EQ(IsPolicyFile(nullptr), 0);
}

TEST_F(EmergencyFile, MissingOrBrokenSecretFailsWithItsOwnMessage) {
  const Bytes secret(16, 7);
  ASSERT_EQ(qor::agent::WriteEmergencyPolicyFile(datPath(), SampleRecord(), secret.data()), 0);
  DataBuffer out{0, nullptr};
  EXPECT_EQ(Load(&out), EmergencyLoad::kNoSecret);
  EXPECT_EQ(error_.code, 1);
  EXPECT_NE(std::string(error_.message).find("failed to read the emergency file secret"),
            std::string::npos);
  EXPECT_NE(std::string(error_.message).find("agent.key"), std::string::npos);

  PutSecret(Bytes(15, 7));  // one byte short
  EXPECT_EQ(Load(&out), EmergencyLoad::kNoSecret);
  EXPECT_NE(std::string(error_.message).find("16 expected"), std::string::npos);
  std::filesystem::remove(qor::agent::FileSecretPath(home()));
  std::filesystem::create_directory(qor::agent::FileSecretPath(home()));  // not a file
  EXPECT_EQ(Load(&out), EmergencyLoad::kNoSecret);
  EXPECT_EQ(out.data, nullptr);
  std::filesystem::remove(qor::agent::FileSecretPath(home()));
  PutSecret(secret);
  ASSERT_EQ(Load(&out), EmergencyLoad::kOk);
  std::free(out.data);
}

TEST_F(EmergencyFile, WrongSecretIsNeverTakenForARecord) {
  // CBC padding alone lets about one wrong key in sixteen "decrypt"; each of
  // these secrets must still be refused.
  const Bytes right(16, 0x11);
  ASSERT_EQ(qor::agent::WriteEmergencyPolicyFile(datPath(), SampleRecord(), right.data()), 0);
  const Bytes file = AsBytes(qor::test::ReadFile(datPath()));
  std::mt19937 rng(11);
  int refused = 0;
  for (int i = 0; i < 200; ++i) {
    const Bytes wrong = qor::test::RandomBytes(rng, 16);
    DataBuffer out{0, nullptr};
    const int rc = ReadPolicyFile(datPath().c_str(), &out, wrong.data(), file.data());
    EXPECT_NE(rc, 0) << i;
    EXPECT_EQ(out.data, nullptr) << i;
    refused += rc != 0;
  }
  EXPECT_EQ(refused, 200);
  PutSecret(Bytes(16, 0x12));
  DataBuffer out{0, nullptr};
  EXPECT_EQ(Load(&out), EmergencyLoad::kUnreadable);
  EXPECT_STREQ(error_.message, "failed to ReadPolicyFile");
  EXPECT_NE(log_.text().find("GetPolicyInfoFromFile"), std::string::npos);
}

TEST_F(EmergencyFile, CorruptedFilesAreRefused) {
  const Bytes secret(16, 0x21);
  PutSecret(secret);
  Bytes salt(32, 0x33);
  const Bytes good = OracleFile(secret, salt, SampleRecord());
  struct Case {
    const char* name;
    Bytes file;
  };
  Bytes firstBlock = good;
  firstBlock[32 + 3] ^= 0x80;  // garbles the record's first block
  Bytes lastBlock = good;
  lastBlock.back() ^= 0x5A;  // garbles the padding
  const Case cases[] = {
      {"salt only", Bytes(good.begin(), good.begin() + 32)},
      {"shorter than the salt", Bytes(good.begin(), good.begin() + 20)},
      {"empty", Bytes{}},
      {"cut inside a block", Bytes(good.begin(), good.end() - 5)},
      {"first block changed", firstBlock},
      {"padding changed", lastBlock},
  };
  for (const Case& c : cases) {
    qor::test::WriteFile(datPath(), AsString(c.file));
    DataBuffer out{0, nullptr};
    EXPECT_EQ(Load(&out), EmergencyLoad::kUnreadable) << c.name;
    EXPECT_EQ(out.data, nullptr) << c.name;
    EXPECT_STREQ(error_.message, "failed to ReadPolicyFile") << c.name;
  }
  EXPECT_NE(log_.text().find("Reading error.[" + datPath() + " file read]"), std::string::npos);
}

TEST_F(EmergencyFile, OpenFailureIsLogged) {
  DataBuffer out{0, nullptr};
  const unsigned char zeros[32] = {0};
  EXPECT_EQ(ReadPolicyFile((home() + "/none.dat").c_str(), &out, zeros, zeros), -1);
  EXPECT_NE(log_.text().find("file open error [open mode:rb]\n\tcause : [2]"), std::string::npos);
  EXPECT_EQ(ReadPolicyFile(nullptr, &out, zeros, zeros), -1);
  EXPECT_EQ(ReadPolicyFile(datPath().c_str(), &out, nullptr, zeros), -1);
}

// ---------------------------------------------------------------------------
// The policy key info container rides on the server cipher's value
// operations; a broken server cipher fails the round trip with that reason.

bool ServerCipherWorks() {
  UACipherUtil* server = ServerKACU_Create(nullptr);
  unsigned char probe[48] = {'x'};
  DataBuffer in{1, probe};
  DataBuffer out{0, nullptr};
  const int rc = server != nullptr ? server->EncryptToBase64(&server, &in, &out) : -1;
  std::free(out.data);
  ServerKACU_Free(&server);
  return rc >= 0;
}

TEST_F(EmergencyFile, PolicyKeyInfoRoundTrip) {
  ASSERT_TRUE(ServerCipherWorks()) << "the server cipher cannot encrypt";
  Bytes body(300);
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<uint8_t>(i * 13);
  Packet packet{7, 1, static_cast<int32_t>(body.size()), body.data(), nullptr};
  const Bytes first(16, 0xF1), second(16, 0xF2);
  const std::string path = home() + "/keyinfo.dat";
  ASSERT_EQ(WritePolicyFile(path.c_str(), &packet, first.data(), second.data()), 0);

  const Bytes raw = qor::agent::DecodePolicyKeyInfoText(qor::test::ReadFile(path));
  ASSERT_FALSE(raw.empty());
  // The plain form stores the length big-endian: 300 is 00 00 01 2C.
  UACipherUtil* server = ServerKACU_Create(nullptr);
  Bytes scratch = raw;
  scratch.resize(raw.size() + 32);
  DataBuffer in{static_cast<int32_t>(raw.size()), scratch.data()};
  DataBuffer plain{0, nullptr};
  ASSERT_EQ(server->Decrypt_API(&server, &in, &plain), 0);
  ASSERT_EQ(plain.length, 41 + 300);
  EXPECT_EQ(Bytes(plain.data, plain.data + 4), AsBytes("1.01"));
  EXPECT_EQ(Bytes(plain.data + 37, plain.data + 41), (Bytes{0, 0, 1, 0x2C}));
  std::free(plain.data);

  const DataBuffer text{static_cast<int32_t>(raw.size()), const_cast<uint8_t*>(raw.data())};
  Packet back{};
  unsigned char a[16], b[16];
  ASSERT_EQ(ReadPolicyKeyInfo(&text, &back, a, b), 0);
  EXPECT_EQ(Bytes(a, a + 16), first);
  EXPECT_EQ(Bytes(b, b + 16), second);
  EXPECT_EQ(back.opcode, 7);
  EXPECT_EQ(back.recordCount, 1);
  ASSERT_EQ(back.length, 300);
  EXPECT_EQ(Bytes(back.data, back.data + 300), body);
  EXPECT_EQ(back.data[300], 0);
  std::free(back.data);

  // Another version: result 0 and nothing filled.
  Bytes other(41 + 8 + 32, 0);
  std::memcpy(other.data(), "1.02", 4);
  DataBuffer otherIn{41 + 8, other.data()};
  DataBuffer otherOut{0, nullptr};
  ASSERT_EQ(server->Encrypt_API(&server, &otherIn, &otherOut), 0);
  const DataBuffer otherText = otherOut;
  Packet untouched{};
  unsigned char c[16] = {0x77};
  EXPECT_EQ(ReadPolicyKeyInfo(&otherText, &untouched, c, b), 0);
  EXPECT_EQ(untouched.data, nullptr);
  EXPECT_EQ(c[0], 0x77);
  std::free(otherOut.data);
  ServerKACU_Free(&server);
}

TEST_F(EmergencyFile, PolicyKeyInfoRefusals) {
  const Bytes first(16, 1);
  const std::string path = home() + "/keyinfo.dat";
  Packet empty{};
  EXPECT_EQ(WritePolicyFile(path.c_str(), &empty, first.data(), first.data()), -1);
  EXPECT_EQ(WritePolicyFile(path.c_str(), nullptr, first.data(), first.data()), -1);
  EXPECT_NE(log_.text().find("Policy info is null.\n"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(path));
  unsigned char body[4] = {1, 2, 3, 4};
  Packet small{1, 1, 4, body, nullptr};
  EXPECT_EQ(WritePolicyFile((home() + "/no/such/dir/f").c_str(), &small, first.data(),
                            first.data()),
            -1);
  Packet out{};
  unsigned char a[16], b[16];
  EXPECT_EQ(ReadPolicyKeyInfo(nullptr, &out, a, b), -1);
  const DataBuffer none{0, body};
  EXPECT_EQ(ReadPolicyKeyInfo(&none, &out, a, b), -1);
  EXPECT_EQ(out.data, nullptr);
}

}  // namespace
