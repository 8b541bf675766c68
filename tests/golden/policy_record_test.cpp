// A policy record and an emergency file written out by hand from the record
// layout, read by the library: every item lands in its option, and the
// policies decrypt the pinned stored values. The library's own policy writer
// plays no part, so a mistake in item order that writer and reader share
// cannot hide here.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "agent/emergency/emergency_file.h"
#include "agent/emergency/file_secret.h"
#include "engine/cipher/fixed_secrets.h"
#include "golden/policy_record.h"
#include "golden/stored_value_cases.h"
#include "qor/key_mgr.h"
#include "qor/policy.h"
#include "qor/policy_file.h"
#include "support/log_capture.h"
#include "support/test_support.h"

namespace {

using qor::test::Bytes;
using qor::test::FromHex;

const std::map<std::string, std::string>& Stored() {
  static const std::map<std::string, std::string> table = {
#include "golden/stored_values.inc"
  };
  return table;
}

struct MgrDeleter {
  void operator()(KeyMgr* m) const { m->Destroy(&m); }
};
using Mgr = std::unique_ptr<KeyMgr, MgrDeleter>;

Mgr Parse(const Bytes& record) {
  Mgr m(KeyMgr_Create(nullptr));
  const DataBuffer r{static_cast<int32_t>(record.size()), const_cast<uint8_t*>(record.data())};
  EXPECT_EQ(KeyMgrParse(&r, m.get(), QOR_MODE_CBC, 0), 1);
  return m;
}

KeyInfo* Find(KeyMgr* m, const char* name) {
  const DataBuffer n{static_cast<int32_t>(std::strlen(name)),
                     reinterpret_cast<unsigned char*>(const_cast<char*>(name))};
  return m->GetKeyInfo(m, &n);
}

// The stored text value |id| decrypted by |policy|.
std::string DecryptStored(KeyInfo* policy, const std::string& id) {
  const auto it = Stored().find(id);
  if (it == Stored().end()) return "no fixture " + id;
  Bytes in(it->second.begin(), it->second.end());
  const size_t n = in.size();
  in.resize(n + 32, 0);
  DataBuffer value{static_cast<int32_t>(n), in.data()};
  DataBuffer out{0, nullptr};
  const int rc = policy->cipher->DecryptFromBase64(&policy->cipher, &value, &out);
  std::string plain = rc < 0 || out.data == nullptr
                          ? "failed(" + std::to_string(rc) + ")"
                          : std::string(reinterpret_cast<char*>(out.data),
                                        static_cast<size_t>(out.length));
  std::free(out.data);
  return plain;
}

std::string Rules(const AccessRule* r) {
  std::string s;
  for (; r != nullptr; r = r->next) s += std::string(r->pattern) + ";";
  return s;
}

TEST(HandWrittenRecord, EveryItemLandsInItsOption) {
  qor::test::LogCapture log;
  ASSERT_TRUE(log.ok());
  const Bytes record = FromHex(qor::golden::kHandWrittenRecordHex);
  ASSERT_EQ(record.size(), 651u);
  Mgr m = Parse(record);
  EXPECT_EQ(m->GetPolicyCount(m.get()), 2);
  Bytes hash(88);
  for (size_t i = 0; i < hash.size(); ++i) hash[i] = static_cast<uint8_t>(0x20 + i);
  const DataBuffer h{88, hash.data()};
  EXPECT_EQ(m->CheckPolicyHash(m.get(), &h), 0);

  KeyInfo* first = Find(m.get(), "aria256.v");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->policyKind, 4);
  EXPECT_EQ(first->ivType, QOR_IV_POLICY);
  const UACipherUtilData* d = first->cipher->data;
  EXPECT_EQ(d->keyLength, 32);
  EXPECT_EQ(d->keyCount, 1);
  const CipherUtil* v = d->ciphers;
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->keyVersion, 0x0102);
  EXPECT_EQ(v->algType, static_cast<uint32_t>(QOR_ALG_ARIA256));
  EXPECT_EQ(v->keyStatus, QOR_KEY_ACTIVE);
  EXPECT_EQ(v->firstTime, 1700000000);
  EXPECT_EQ(v->secondTime, 1800000000);
  EXPECT_EQ(v->useRecordIV, 0);
  EXPECT_EQ(Bytes(v->iv, v->iv + 16),
            Bytes(qor::engine::NC_NEW_FIXED_IV, qor::engine::NC_NEW_FIXED_IV + 16));
  EXPECT_EQ(v->next, nullptr);
  EXPECT_EQ(d->errorProcess, 1);
  EXPECT_EQ(d->nullProcess, 0);
  EXPECT_EQ(d->encDuplication, 0);
  EXPECT_EQ(d->decDuplication, 0);
  EXPECT_EQ(d->hasPattern, 0);
  EXPECT_EQ(d->compatibility, 0);
  EXPECT_EQ(d->decryptCountUnit, 1);
  EXPECT_EQ(d->decryptCnt, 5);
  EXPECT_EQ(d->unauthorizedDecryption, 3);
  EXPECT_EQ(d->prio, 2);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(d->audit[i], 0) << i;
  EXPECT_EQ(d->aclCount, 1);
  ASSERT_NE(d->acl, nullptr);
  EXPECT_EQ(Rules(d->acl->rules1), "alice;");
  EXPECT_EQ(Rules(d->acl->rules2), "db1;db2;");
  EXPECT_EQ(Rules(d->acl->rules3), "");
  EXPECT_EQ(Rules(d->acl->rules4), "1;");
  EXPECT_STREQ(d->acl->dateFrom, "2026-1-1");
  EXPECT_STREQ(d->acl->dateTo, "2026-12-31");
  EXPECT_STREQ(d->acl->timeFrom, "8:00");
  EXPECT_STREQ(d->acl->timeTo, "18:00");
  EXPECT_EQ(d->acl->decryptAllowed, 1);
  EXPECT_EQ(d->acl->encryptAllowed, 0);
  EXPECT_EQ(d->acl->next, nullptr);
  EXPECT_EQ(d->targetExist, 3);
  EXPECT_EQ(d->orgFileHandling, 2);
  EXPECT_STREQ(d->orgBackupExtension, ".orig");
  EXPECT_EQ(d->encFileDelete, 1);
  EXPECT_EQ(d->encDataVerify, 0);
  EXPECT_EQ(d->orgDataVerify, 1);

  KeyInfo* second = Find(m.get(), "exclude.front");
  ASSERT_NE(second, nullptr);
  const UACipherUtilData* e = second->cipher->data;
  EXPECT_EQ(e->keyLength, 16);
  ASSERT_NE(e->ciphers, nullptr);
  EXPECT_EQ(e->ciphers->keyVersion, 0);
  EXPECT_EQ(e->ciphers->algType, static_cast<uint32_t>(QOR_ALG_ARIA128));
  EXPECT_EQ(e->errorProcess, 2);
  EXPECT_EQ(e->hasPattern, 1);
  EXPECT_EQ(e->pattern.type, QOR_PATTERN_EXCLUDE_STRING);
  EXPECT_EQ(e->pattern.position, QOR_POSITION_FRONT);
  EXPECT_STREQ(reinterpret_cast<const char*>(e->pattern.chars), "4");
  EXPECT_EQ(e->aclCount, 0);
  EXPECT_EQ(e->acl, nullptr);
  EXPECT_EQ(e->targetExist, 2);
  EXPECT_EQ(e->orgFileHandling, 1);
  EXPECT_EQ(e->encFileDelete, 0);
  EXPECT_EQ(e->encDataVerify, 1);
  EXPECT_EQ(e->orgDataVerify, 0);
  EXPECT_EQ(log.text().find("not found"), std::string::npos);
}

TEST(HandWrittenRecord, PoliciesDecryptThePinnedValues) {
  Mgr m = Parse(FromHex(qor::golden::kHandWrittenRecordHex));
  KeyInfo* aria = Find(m.get(), "aria256.v");
  KeyInfo* exclude = Find(m.get(), "exclude.front");
  ASSERT_NE(aria, nullptr);
  ASSERT_NE(exclude, nullptr);
  EXPECT_EQ(DecryptStored(aria, "aria256.v.text"), "900101-1234567");
  EXPECT_EQ(DecryptStored(aria, "aria256.v.block.text"), "sixteen bytes!!!");
  EXPECT_EQ(DecryptStored(exclude, "exclude.front.text"), "1234567890abcdef");
}

TEST(HandWrittenEmergencyFile, LoadsTheRecordFromTheAgentHome) {
  qor::test::LogCapture log;
  ASSERT_TRUE(log.ok());
  qor::test::TempDir home;
  const Bytes secret = FromHex(qor::golden::kEmergencySecretHex);
  const Bytes file = FromHex(qor::golden::kEmergencyFileHex);
  qor::test::WriteFile(qor::agent::FileSecretPath(home.path()),
                       std::string(secret.begin(), secret.end()));
  ASSERT_EQ(chmod(qor::agent::FileSecretPath(home.path()).c_str(), 0600), 0);
  qor::test::WriteFile(qor::agent::EmergencyFilePath(home.path()),
                       std::string(file.begin(), file.end()));

  ErrorInfo error{};
  DataBuffer record{0, nullptr};
  ASSERT_EQ(qor::agent::LoadEmergencyPolicy(home.path(), &record, &error),
            qor::agent::EmergencyLoad::kOk)
      << error.message;
  EXPECT_EQ(Bytes(record.data, record.data + record.length),
            FromHex(qor::golden::kHandWrittenRecordHex));
  Mgr m(KeyMgr_Create(nullptr));
  EXPECT_EQ(KeyMgrParse(&record, m.get(), QOR_MODE_CBC, 0), 1);
  std::free(record.data);
  KeyInfo* aria = Find(m.get(), "aria256.v");
  ASSERT_NE(aria, nullptr);
  EXPECT_EQ(DecryptStored(aria, "aria256.v.text"), "900101-1234567");
}

// A policy key info container as WritePolicyFile stores it ("$." and Base64
// of the plain form under the server cipher), written once from the library
// and checked with the openssl tool: ARIA-256-CBC, PKCS#7, key = the 16-byte
// server key twice, IV = the server IV, plain form "1.01", 16 x F1, 16 x F2,
// 07, 00 00 00 28, A0..C7. It must be written the same way again and read
// back into the same fields.
constexpr char kContainerText[] =
    "$.yfmAVejco6xf4trRAr1EZDRFFbYoBav+WLqcepJ7lrKIvsSebNGA/qJPsO1lHT2worXtJtIGik9U633k0OneSZHO"
    "VnejP8jfnPneKGQijkwQGdi8ZeNWQAcYVKqTj63f";

TEST(PolicyKeyInfoContainer, IsWrittenAsPinnedAndReadBack) {
  qor::test::TempDir dir;
  Bytes body(40);
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<uint8_t>(0xA0 + i);
  Packet packet{7, 1, static_cast<int32_t>(body.size()), body.data(), nullptr};
  const Bytes first(16, 0xF1), second(16, 0xF2);
  const std::string path = dir / "keyinfo.dat";
  ASSERT_EQ(WritePolicyFile(path.c_str(), &packet, first.data(), second.data()), 0);
  const std::string text = qor::test::ReadFile(path);
  EXPECT_EQ(text, kContainerText);

  const Bytes raw = qor::agent::DecodePolicyKeyInfoText(kContainerText);
  ASSERT_FALSE(raw.empty());
  const DataBuffer in{static_cast<int32_t>(raw.size()), const_cast<uint8_t*>(raw.data())};
  Packet back{};
  unsigned char a[16], b[16];
  ASSERT_EQ(ReadPolicyKeyInfo(&in, &back, a, b), 0);
  EXPECT_EQ(Bytes(a, a + 16), first);
  EXPECT_EQ(Bytes(b, b + 16), second);
  EXPECT_EQ(back.opcode, 7);
  ASSERT_EQ(back.length, 40);
  EXPECT_EQ(Bytes(back.data, back.data + back.length), body);
  std::free(back.data);
}

}  // namespace
