// The keyed cipher object: creators and their options, key versions, record
// IVs kept per thread, key transport and teardown.
#include "qor/ua_cipher_util.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/cipher/fixed_secrets.h"
#include "engine/cipher/record_iv.h"
#include "engine/cipher/ua_cipher_internal.h"
#include "engine/core/cipher_object.h"
#include "engine/core/value_ops.h"
#include "engine/policy_fixture.h"
#include "qor/base64.h"
#include "qor/cipher_util.h"
#include "support/bytes.h"
#include "support/evp_oracle.h"
#include "support/log_capture.h"

namespace {

using qor::test::Buffer;
using qor::test::Bytes;
using qor::test::KeyList;
using qor::test::Policy;
using qor::test::PolicyArgs;

// A version record built as a key download builds one; AddKey takes it over.
CipherUtil* NewVersion(int version, uint32_t algType = QOR_ALG_ARIA128) {
  auto* r = static_cast<CipherUtil*>(std::calloc(1, sizeof(CipherUtil)));
  ChiperUtil_Set(r, version, 0, 0, "active");
  Bytes key(16, KeyList::KeyByte(version));
  Bytes iv(16, 0x5A);
  const DataBuffer k = Buffer(key);
  const DataBuffer v = Buffer(iv);
  EXPECT_EQ(CipherUtil_Create(algType, &k, &v, r), 0);
  return r;
}

Bytes IvOf(const unsigned char* iv) { return Bytes(iv, iv + 16); }

TEST(UACipherUtilCreateEx3, BuildsOneRecordPerKeyInListOrder) {
  PolicyArgs args;
  args.mode = QOR_MODE_ECB;
  KeyList keys({7, 3, 0x10005});
  Policy p(CreateEx3(args, keys));
  ASSERT_TRUE(p);
  // The head is the first entry, whatever the versions; versions keep 16 bits.
  EXPECT_EQ(p.Versions(), (std::vector<int>{7, 3, 5}));
  int i = 0;
  for (const CipherUtil* r = p->data->ciphers; r != nullptr; r = r->next, ++i) {
    EXPECT_EQ(r->algType, QOR_ALG_ARIA128);
    EXPECT_EQ(r->mode, QOR_MODE_ECB);
    EXPECT_EQ(r->keyStatus, QOR_KEY_ACTIVE);
    EXPECT_EQ(r->firstTime, 100 + i);
    EXPECT_EQ(r->secondTime, 200 + i);
    EXPECT_EQ(IvOf(r->iv), args.iv);
    EXPECT_EQ(r->useRecordIV, 0);
    EXPECT_NE(r->pEKey, nullptr);
  }
  EXPECT_EQ(p->GetAlgorithmType(p.self()), QOR_ALG_ARIA128);
  EXPECT_EQ(p->GetLatestKeyVersion(p.self()), 7);
  EXPECT_EQ(p->data->keyCount, 3);
  const DataBuffer name = p->GetKeyName(p.self());
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name.data), static_cast<size_t>(name.length)),
            args.name);
  EXPECT_EQ(name.data[name.length], '\0');
  const DataBuffer usKey = p->GetKeyValue(p.self());
  EXPECT_EQ(usKey.length, 0);
  EXPECT_EQ(usKey.data, nullptr);
}

// Each option goes to its own field and nowhere else.
TEST(UACipherUtilCreateEx3, EachOptionReachesItsGetter) {
  struct Field {
    const char* label;
    int32_t PolicyArgs::*arg;
    int32_t UACipherUtilData::*field;
    UAGetIntFn UACipherUtil::*getter;  // NULL: no getter, the field is read
    int32_t value;
  } const fields[] = {
      {"keyLength", &PolicyArgs::keyLength, &UACipherUtilData::keyLength,
       &UACipherUtil::GetKeyLength, 32},
      {"nullProcess", &PolicyArgs::nullProcess, &UACipherUtilData::nullProcess,
       &UACipherUtil::Getnull_process, 1},
      {"errorProcess", &PolicyArgs::errorProcess, &UACipherUtilData::errorProcess,
       &UACipherUtil::Geterror_process, 1},
      {"targetExist", &PolicyArgs::targetExist, &UACipherUtilData::targetExist,
       &UACipherUtil::GettargetExist, 3},
      {"orgFileHandling", &PolicyArgs::orgFileHandling, &UACipherUtilData::orgFileHandling,
       &UACipherUtil::GetorgFileHandling, 1},
      {"encFileDelete", &PolicyArgs::encFileDelete, &UACipherUtilData::encFileDelete,
       &UACipherUtil::GetencFileDelete, 1},
      {"encDataVerify", &PolicyArgs::encDataVerify, &UACipherUtilData::encDataVerify,
       &UACipherUtil::GetencDataVerify, 1},
      {"orgDataVerify", &PolicyArgs::orgDataVerify, &UACipherUtilData::orgDataVerify,
       &UACipherUtil::GetorgDataVerify, 1},
      {"decryptCountUnit", &PolicyArgs::decryptCountUnit, &UACipherUtilData::decryptCountUnit,
       nullptr, 2},
  };
  auto read = [](Policy& p, const Field& f) {
    return f.getter != nullptr ? (p.get()->*f.getter)(p.self()) : p->data->*f.field;
  };
  const PolicyArgs defaults;
  for (const Field& changed : fields) {
    SCOPED_TRACE(changed.label);
    PolicyArgs args;
    args.*changed.arg = changed.value;
    if (changed.arg == &PolicyArgs::keyLength) args.algType = QOR_ALG_ARIA256;
    KeyList keys({1}, args.keyLength);
    Policy p(CreateEx3(args, keys));
    ASSERT_TRUE(p);
    for (const Field& f : fields) {
      EXPECT_EQ(read(p, f), f.arg == changed.arg ? changed.value : defaults.*f.arg) << f.label;
    }
  }
}

TEST(UACipherUtilCreateEx3, AccessOptionsOnlyWithRulesAndAuditHalves) {
  qor::test::AclList acl;
  acl.Add().rules1 = qor::test::Rules({"app"});
  struct Case {
    const char* label;
    int32_t aclCount;
    uint64_t pair1, pair2;
    int32_t unauthorized, prio, decryptCnt;  // expected
    int32_t audit[4];
  } const cases[] = {
      {"no rules", 0, 0x0000000100000000ull, 0x1, 0, 0, 0, {0, 1, 1, 0}},
      {"negative count", -1, 0x1, 0x0000000100000000ull, 0, 0, 0, {1, 0, 0, 1}},
      {"one rule", 1, 0x0000000100000001ull, 0, 3, 2, 10, {1, 1, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    PolicyArgs args;
    args.aclCount = c.aclCount;
    args.acl = acl.get();
    args.unauthorizedDecryption = 3;
    args.prio = 2;
    args.decryptCnt = 10;
    args.auditPair1 = c.pair1;
    args.auditPair2 = c.pair2;
    KeyList keys({1});
    Policy p(CreateEx3(args, keys));
    ASSERT_TRUE(p);
    EXPECT_EQ(p->GetACL_count(p.self()), c.aclCount > 0 ? c.aclCount : 0);
    EXPECT_EQ(p->GetUnauthorizedDecryption(p.self()), c.unauthorized);
    EXPECT_EQ(p->Getprio(p.self()), c.prio);
    EXPECT_EQ(p->GetDecrypt_cnt(p.self()), c.decryptCnt);
    EXPECT_EQ(p->GetACL(p.self()) != nullptr, c.aclCount > 0);
    int32_t audit[4] = {-1, -1, -1, -1};
    p->GetAudit(p.self(), audit);
    EXPECT_EQ(std::vector<int32_t>(audit, audit + 4), std::vector<int32_t>(c.audit, c.audit + 4));
  }
}

TEST(UACipherUtilCreateEx3, CopiesRulesPatternAndTexts) {
  qor::test::AclList acl;
  AccessControlData& e1 = acl.Add();
  e1.rules1 = qor::test::Rules({"app", "batch"});
  e1.rules4 = qor::test::Rules({"2", "3"});
  std::strcpy(e1.dateFrom, "2026-1-1");
  std::strcpy(e1.dateTo, "2026-12-31");
  std::strcpy(e1.timeTo, "18:00");  // no time-from: the pair is not a rule
  e1.decryptAllowed = 1;
  AccessControlData& e2 = acl.Add();
  e2.rules2 = qor::test::Rules({"host"});
  std::strcpy(e2.dateTo, "2027-1-1");  // no date-from
  std::strcpy(e2.timeFrom, "9:00");
  std::strcpy(e2.timeTo, "17:30");
  e2.encryptAllowed = 1;

  PatternBlock pattern{};
  pattern.type = QOR_PATTERN_CHARACTER;
  pattern.position = QOR_POSITION_BACK;
  std::strcpy(reinterpret_cast<char*>(pattern.chars), "@");

  PolicyArgs args;
  args.aclCount = 2;
  args.acl = acl.get();
  args.pattern = &pattern;
  std::string extension = ".orig";
  args.orgBackupExtension = extension.c_str();
  KeyList keys({1});
  Policy p(CreateEx3(args, keys));
  ASSERT_TRUE(p);
  extension = "xxxxx";  // the object holds its own copies

  EXPECT_STREQ(p->GetorgBackupExtension(p.self()), ".orig");
  EXPECT_EQ(p->data->hasPattern, 1);
  EXPECT_EQ(std::memcmp(&p->data->pattern, &pattern, sizeof(pattern)), 0);

  const AccessControlData* c1 = p->GetACL(p.self());
  ASSERT_NE(c1, nullptr);
  ASSERT_NE(c1, acl.get());
  ASSERT_NE(c1->rules1, nullptr);
  EXPECT_NE(c1->rules1, e1.rules1);
  EXPECT_STREQ(c1->rules1->pattern, "app");
  ASSERT_NE(c1->rules1->next, nullptr);
  EXPECT_STREQ(c1->rules1->next->pattern, "batch");
  EXPECT_EQ(c1->rules1->next->next, nullptr);
  EXPECT_EQ(c1->rules2, nullptr);
  ASSERT_NE(c1->rules4, nullptr);
  EXPECT_STREQ(c1->rules4->next->pattern, "3");
  EXPECT_STREQ(c1->dateFrom, "2026-1-1");
  EXPECT_STREQ(c1->dateTo, "2026-12-31");
  EXPECT_STREQ(c1->timeFrom, "");
  EXPECT_STREQ(c1->timeTo, "");
  EXPECT_EQ(c1->decryptAllowed, 1);
  EXPECT_EQ(c1->encryptAllowed, 0);

  const AccessControlData* c2 = c1->next;
  ASSERT_NE(c2, nullptr);
  EXPECT_STREQ(c2->rules2->pattern, "host");
  EXPECT_STREQ(c2->dateTo, "");
  EXPECT_STREQ(c2->timeFrom, "9:00");
  EXPECT_STREQ(c2->timeTo, "17:30");
  EXPECT_EQ(c2->encryptAllowed, 1);
  EXPECT_EQ(c2->next, nullptr);
}

TEST(UACipherUtilCreateEx3, WithoutPatternOrExtension) {
  PolicyArgs args;
  args.orgBackupExtension = nullptr;
  KeyList keys({1});
  Policy p(CreateEx3(args, keys));
  ASSERT_TRUE(p);
  EXPECT_EQ(p->data->hasPattern, 0);
  EXPECT_TRUE(qor::test::AllZero(p->data->pattern));
  EXPECT_STREQ(p->GetorgBackupExtension(p.self()), "");
  EXPECT_EQ(p->GetDuplicate(p.self()), 0);
  EXPECT_EQ(p->GetCompatibility(p.self()), 0);
  EXPECT_EQ(p->IsPeriodicKey(p.self()), 0);
  EXPECT_EQ(p->GetKeyStatus(p.self()), 0);
  EXPECT_EQ(p->GetKeyAvailable(p.self()), 0);
  EXPECT_EQ(p->GetKeyPeriod(p.self()), 0);
  EXPECT_EQ(p->GetPatternInfo(p.self()), nullptr);
}

TEST(UACipherUtilCreateEx3, RefusedArguments) {
  qor::test::LogCapture log;
  ASSERT_TRUE(log.ok());
  struct Case {
    const char* label;
    std::string name;
    uint32_t algType;
    int keyLength;
    bool noKeys;
    int32_t keyCount;  // -1: as many as the list
    const char* message;
  } const cases[] = {
      {"no name", "", QOR_ALG_ARIA128, 16, false, -1,
       "UACipherUtil_CreateEx3 [source/Crypto/UACipherUtil:"},
      {"count 0", "p", QOR_ALG_ARIA128, 16, false, 0,
       "] >> pKCU->key count not one or more. count :0\n"},
      {"no list", "p", QOR_ALG_ARIA128, 16, true, 2,
       "] >> pKCU->key count not one or more. count :2\n"},
      {"unknown code", "p", QOR_ALG_UNKNOWN, 16, false, -1,
       "] >> CipherUtil_create Failed(algType:0)\n"},
      {"LEA key of 20 bytes", "p", QOR_ALG_LEA128, 20, false, -1,
       "] >> CipherUtil_create Failed(algType:15)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    PolicyArgs args;
    args.name = c.name;
    args.algType = c.algType;
    args.keyLength = c.keyLength;
    KeyList keys({3, 2}, c.keyLength);
    KeyList none(std::initializer_list<int64_t>{});
    EXPECT_EQ(CreateEx3(args, c.noKeys ? none : keys, c.keyCount), nullptr);
    EXPECT_NE(log.text().find(c.message), std::string::npos) << log.text();
  }
  EXPECT_NE(log.text().find("] >> pKCU->keyName.value malloc failed, length:0\n"),
            std::string::npos);
}

// The second key of the list fails: the first record must not leak (the
// sanitizer build checks that).
TEST(UACipherUtilCreateEx3, LaterKeyFailureReleasesEarlierRecords) {
  KeyList keys({2, 1});
  const_cast<KeyEntry*>(keys.head()->next)->key = nullptr;
  PolicyArgs args;
  args.algType = QOR_ALG_LEA128;  // LEA reads the key: a missing one fails
  EXPECT_EQ(CreateEx3(args, keys), nullptr);
}

TEST(UACipherUtilSingleKey, CreatorsKeepTheKeyAndOneVersion) {
  const Bytes key = qor::test::FromHex("000102030405060708090a0b0c0d0e0f");
  const Bytes iv(16, 0x11);
  const DataBuffer k = Buffer(key);
  const DataBuffer v = Buffer(iv);
  auto hmac = [](const DataBuffer*, const DataBuffer*, DataBuffer*) { return 7; };
  struct Case {
    const char* label;
    UACipherUtil* object;
    QOR_HmacFn expectedHmac;
  } const cases[] = {
      {"CreateEx with HMAC", UACipherUtil_CreateEx(QOR_ALG_SEED, &k, &v, hmac), hmac},
      {"CreateEx without", UACipherUtil_CreateEx(QOR_ALG_SEED, &k, &v, nullptr), doHMACDigest},
      {"deprecated", UACipherUtil_Create_deprecated(QOR_ALG_SEED, &k, &v), doHMACDigest},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Policy p(c.object);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->Hmac, c.expectedHmac);
    const DataBuffer usKey = p->GetKeyValue(p.self());
    ASSERT_EQ(usKey.length, 16);
    EXPECT_NE(usKey.data, key.data());
    EXPECT_EQ(Bytes(usKey.data, usKey.data + 16), key);
    EXPECT_EQ(p->GetKeyLength(p.self()), 0);
    EXPECT_EQ(p->GetKeyName(p.self()).data, nullptr);
    EXPECT_EQ(p.Versions(), std::vector<int>{0});
    const CipherUtil* head = p->data->ciphers;
    EXPECT_EQ(head->keyStatus, QOR_KEY_ACTIVE);
    EXPECT_EQ(head->mode, QOR_MODE_CBC);
    EXPECT_EQ(head->algType, QOR_ALG_SEED);
    EXPECT_EQ(IvOf(head->iv), iv);
    EXPECT_EQ(p->data->nullProcess, 0);
    EXPECT_EQ(p->data->hasPattern, 0);
  }
}

TEST(UACipherUtilSingleKey, RefusedKeysAndCodes) {
  qor::test::LogCapture log;
  ASSERT_TRUE(log.ok());
  const Bytes key(16, 1);
  const DataBuffer k = Buffer(key);
  const DataBuffer empty{0, nullptr};
  EXPECT_EQ(UACipherUtil_CreateEx(QOR_ALG_SEED, nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(UACipherUtil_CreateEx(QOR_ALG_SEED, &empty, nullptr, nullptr), nullptr);
  EXPECT_NE(log.text().find("Create [source/Crypto/UACipherUtil:"), std::string::npos);
  EXPECT_NE(log.text().find("] >> pKCU->UsKey.value malloc failed, length:0\n"), std::string::npos);
  EXPECT_EQ(UACipherUtil_Create_deprecated(QOR_ALG_TICN, &k, nullptr), nullptr);
  EXPECT_NE(log.text().find("] >> CipherUtil_create Failed(algType:25)\n"), std::string::npos);
}

TEST(ServerKey, AriaUnderTheFixedKeyAndIv) {
  UACipherUtil* server = ServerKACU_Create(nullptr);
  ASSERT_NE(server, nullptr);
  EXPECT_EQ(server->GetAlgorithmType(&server), QOR_ALG_ARIA256);
  const DataBuffer key = server->GetKeyValue(&server);
  ASSERT_EQ(key.length, 16);
  EXPECT_EQ(std::memcmp(key.data, qor::engine::NC_NEW_FIXED_SERVER_KEY, 16), 0);
  EXPECT_EQ(std::memcmp(server->data->ciphers->iv, qor::engine::NC_NEW_FIXED_SERVER_IV, 16), 0);
  EXPECT_EQ(server->Hmac, doHMACDigest);
  ServerKACU_Free(&server);
  EXPECT_EQ(server, nullptr);
  ServerKACU_Free(&server);  // a second release is harmless
  ServerKACU_Free(nullptr);
}

TEST(UACipherUtilOperations, EverySlotButTheSpareOneIsFilled) {
  KeyList keys({1});
  Policy p(CreateEx3(PolicyArgs(), keys));
  ASSERT_TRUE(p);
  UACipherUtil copy = *p.get();
  constexpr size_t kSlots = (sizeof(UACipherUtil) - sizeof(void*)) / sizeof(void*);
  static_assert(kSlots == 49, "the operation table has 49 slots");
  void* slots[kSlots];
  std::memcpy(slots, reinterpret_cast<const char*>(&copy) + sizeof(void*), sizeof(slots));
  const size_t spare = (offsetof(UACipherUtil, reserved) - sizeof(void*)) / sizeof(void*);
  for (size_t i = 0; i < kSlots; ++i) {
    EXPECT_EQ(slots[i] == nullptr, i == spare) << "slot " << i;
  }
  // The value slots are the core's operations.
  EXPECT_EQ(copy.Encrypt_API, qor::engine::Encrypt_API);
  EXPECT_EQ(copy.Decrypt_API, qor::engine::Decrypt_API);
  EXPECT_EQ(copy.EncryptToBase64, qor::engine::EncryptToBase64);
  EXPECT_EQ(copy.DecryptFromBase64, qor::engine::DecryptFromBase64);
  EXPECT_EQ(copy.EncryptToBase64_ACC, qor::engine::EncryptToBase64_ACC);
  EXPECT_EQ(copy.Encrypt_API_ACC, qor::engine::Encrypt_API_ACC);
  EXPECT_EQ(copy.DecryptFromBase64_ACC, qor::engine::DecryptFromBase64_ACC);
  EXPECT_EQ(copy.Decrypt_API_ACC, qor::engine::Decrypt_API_ACC);
  EXPECT_EQ(copy.Encrypt_API_Init, qor::engine::Encrypt_API_Init);
  EXPECT_EQ(copy.Encrypt_API_Update, qor::engine::Encrypt_API_Update);
  EXPECT_EQ(copy.Encrypt_API_Final, qor::engine::Encrypt_API_Final);
  EXPECT_EQ(copy.Decrypt_API_Init, qor::engine::Decrypt_API_Init);
  EXPECT_EQ(copy.Decrypt_API_Update, qor::engine::Decrypt_API_Update);
  EXPECT_EQ(copy.Decrypt_API_Final, qor::engine::Decrypt_API_Final);
}

TEST(UACipherUtilOptions, SettersAndMissingObjects) {
  KeyList keys({1});
  Policy p(CreateEx3(PolicyArgs(), keys));
  ASSERT_TRUE(p);
  EXPECT_EQ(UACipherUtil_SetEncDuplication(p.self(), 1), 0);
  EXPECT_EQ(UACipherUtil_SetDecDuplication(p.self(), 2), 0);
  EXPECT_EQ(UACipherUtil_SetNullEncryption(p.self(), 1), 0);
  p->SetCompatibility(p.self(), 3);
  EXPECT_EQ(p->GetDuplicate(p.self()), 1);  // the encrypt side
  EXPECT_EQ(p->data->decDuplication, 2);
  EXPECT_EQ(p->Getnull_process(p.self()), 1);
  EXPECT_EQ(p->GetCompatibility(p.self()), 3);
  p->SetPatternInfo(p.self(), "front");
  p->SetPatternInfo(p.self(), "back");
  EXPECT_STREQ(p->GetPatternInfo(p.self()), "back");
  p->SetPatternInfo(p.self(), nullptr);
  EXPECT_EQ(p->GetPatternInfo(p.self()), nullptr);

  qor::test::LogCapture log;
  ASSERT_TRUE(log.ok());
  UACipherUtil* none = nullptr;
  UACipherUtil** missing[] = {nullptr, &none};
  for (UACipherUtil** m : missing) {
    EXPECT_EQ(UACipherUtil_SetEncDuplication(m, 1), -1);
    EXPECT_EQ(UACipherUtil_SetDecDuplication(m, 1), -1);
    EXPECT_EQ(UACipherUtil_SetNullEncryption(m, 1), -1);
    EXPECT_EQ(UACipherUtil_SetRecordIV(m, nullptr), -1);
    EXPECT_EQ(p->IsPeriodicKey(m), -1);
    EXPECT_EQ(p->GetAlgorithmType(m), 0);
    EXPECT_EQ(p->GetLatestKeyVersion(m), 0);
    EXPECT_EQ(p->GetKeyLength(m), 0);
    EXPECT_EQ(p->Getprio(m), 0);
    EXPECT_EQ(p->GetKeyValue(m).data, nullptr);
    EXPECT_EQ(p->GetKeyName(m).data, nullptr);
    EXPECT_EQ(p->GetACL(m), nullptr);
    EXPECT_EQ(p->GetRecordIV(m), nullptr);
    EXPECT_EQ(p->GetCipher(m, 1), nullptr);
    EXPECT_EQ(p->GetorgBackupExtension(m), nullptr);
    int32_t audit[4] = {9, 9, 9, 9};
    p->GetAudit(m, audit);
    EXPECT_TRUE(qor::test::AllZero(audit));
    p->SetCompatibility(m, 1);
    p->SetPatternInfo(m, "x");
    p->Destroy(m);
  }
  EXPECT_NE(log.text().find("UACipherUtil_SetEncDuplication [source/Crypto/UACipherUtil:"),
            std::string::npos);
  EXPECT_NE(log.text().find("UACipherUtil_SetRecordIV [source/Crypto/UACipherUtil:"),
            std::string::npos);
  EXPECT_NE(log.text().find("] >> Null Pointer Exception\n"), std::string::npos);
}

class KeyVersions : public ::testing::Test {
 protected:
  void SetUp() override {
    p_.reset(CreateEx3(PolicyArgs(), head_));
    ASSERT_TRUE(p_);
  }
  int Add(CipherUtil* r) {
    const int rc = p_->AddKey(p_.self(), r);
    if (rc != 0) CipherUtil_Destroy(r);
    return rc;
  }
  KeyList head_{2};
  Policy p_;
};

TEST_F(KeyVersions, AddKeepsDescendingOrderAndRefusesDuplicates) {
  qor::test::LogCapture log;
  ASSERT_TRUE(log.ok());
  EXPECT_EQ(Add(NewVersion(3)), 0);
  EXPECT_EQ(Add(NewVersion(5)), 0);
  EXPECT_EQ(Add(NewVersion(4)), 0);
  EXPECT_EQ(p_.Versions(), (std::vector<int>{5, 4, 3, 2}));
  EXPECT_EQ(Add(NewVersion(4)), -1);
  EXPECT_NE(log.text().find("AddKey [source/Crypto/UACipherUtil:"), std::string::npos);
  EXPECT_NE(log.text().find("] >> [AddKey] Duplicate key version detected: 4\n\n"),
            std::string::npos);
  EXPECT_EQ(Add(NewVersion(1)), 0);  // below every version: at the end
  EXPECT_EQ(p_.Versions(), (std::vector<int>{5, 4, 3, 2, 1}));
  EXPECT_EQ(p_->GetLatestKeyVersion(p_.self()), 5);
  EXPECT_EQ(p_->AddKey(p_.self(), nullptr), -1);
}

TEST_F(KeyVersions, GetCipherFindsExactVersionsOnly) {
  ASSERT_EQ(Add(NewVersion(7)), 0);
  const CipherUtil* r = p_->GetCipher(p_.self(), 7);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->keyVersion, 7);
  EXPECT_EQ(p_->GetCipher(p_.self(), 2), p_->data->ciphers->next);
  EXPECT_EQ(p_->GetCipher(p_.self(), 3), nullptr);
  EXPECT_EQ(p_->GetCipher(p_.self(), 0), nullptr);
}

// A version fetched later carries the tail exactly when the policy's do.
TEST_F(KeyVersions, NewVersionTakesTheHeadRecordIvFlag) {
  for (int flag : {0, 1}) {
    p_->data->ciphers->useRecordIV = flag;
    const int version = 10 + flag;
    CipherUtil* r = NewVersion(version);
    r->useRecordIV = 1 - flag;
    ASSERT_EQ(Add(r), 0);
    EXPECT_EQ(p_->GetCipher(p_.self(), version)->useRecordIV, flag);
  }
}

TEST_F(KeyVersions, ConcurrentAddsAndLookups) {
  constexpr int kThreads = 8;
  constexpr int kPerThread = 40;
  std::atomic<int> duplicates{0};
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::vector<int> versions;
      for (int i = 0; i < kPerThread; ++i) versions.push_back(1 + t + kThreads * i);
      std::shuffle(versions.begin(), versions.end(), std::mt19937(t));
      int latestSeen = 0;
      for (int v : versions) {
        CipherUtil* r = NewVersion(v);
        if (p_->AddKey(p_.self(), r) != 0) {
          CipherUtil_Destroy(r);
          ++duplicates;  // only version 2 is there already
          continue;
        }
        const CipherUtil* found = p_->GetCipher(p_.self(), v);
        if (found != r) ++failures;
        const int latest = p_->GetLatestKeyVersion(p_.self());
        if (latest < latestSeen || latest < v) ++failures;
        latestSeen = latest;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(duplicates.load(), 1);
  const std::vector<int> versions = p_.Versions();
  ASSERT_EQ(versions.size(), static_cast<size_t>(kThreads * kPerThread));
  for (size_t i = 0; i < versions.size(); ++i) {
    EXPECT_EQ(versions[i], kThreads * kPerThread - static_cast<int>(i));
  }
}

class KeyTransport : public ::testing::Test {
 protected:
  void SetUp() override {
    const DataBuffer k = Buffer(policyKey_);
    const DataBuffer v = Buffer(iv_);
    p_.reset(UACipherUtil_CreateEx(QOR_ALG_ARIA128, &k, &v, nullptr));
    ASSERT_TRUE(p_);
  }
  // The Base64 text of |key| encrypted under the policy key with |iv|,
  // followed by |tail| when one is given.
  std::string Wrap(const Bytes& key, const uint8_t* iv, const Bytes& tail = {}) {
    Bytes c = qor::test::EvpCrypt(EVP_aria_128_cbc(), true, true, policyKey_, iv, key);
    c.insert(c.end(), tail.begin(), tail.end());
    char* text = nullptr;
    const int n = QOR_Base64Encode(c.data(), static_cast<int>(c.size()), &text, 1);
    std::string s(text, static_cast<size_t>(n));
    std::free(text);
    return s;
  }
  int Unwrap(const std::string& text, Bytes* key) {
    DataBuffer in = Buffer(text);
    DataBuffer out{0, nullptr};
    const int rc = p_->DecryptKeyFromBase64(p_.self(), &in, &out, 0);
    if (rc == 0 && out.data != nullptr) key->assign(out.data, out.data + out.length);
    std::free(out.data);
    return rc;
  }
  Bytes policyKey_ = qor::test::FromHex("8899aabbccddeeff0011223344556677");
  Bytes iv_ = Bytes(16, 0x3C);
  Policy p_;
};

TEST_F(KeyTransport, DecryptsWithThePolicyKey) {
  const Bytes key = qor::test::FromHex("0f0e0d0c0b0a09080706050403020100aabbccdd");
  Bytes out;
  ASSERT_EQ(Unwrap(Wrap(key, iv_.data()), &out), 0);
  EXPECT_EQ(out, key);
}

// With a record IV the tail rebuilds the IV for this call only.
TEST_F(KeyTransport, RecordIvTailStaysWithTheCall) {
  ASSERT_EQ(UACipherUtil_SetRecordIV(p_.self(), nullptr), 0);
  qor::engine::TakePendingRecordIv(p_.get(), nullptr);
  const uint32_t recordIv = 0xA1B2C3D4;
  unsigned char callIv[16];
  qor::engine::MakeCallIv(iv_.data(), recordIv, callIv);
  Bytes tail(4);
  std::memcpy(tail.data(), &recordIv, 4);
  const Bytes key(32, 0x77);
  Bytes out;
  ASSERT_EQ(Unwrap(Wrap(key, callIv, tail), &out), 0);
  EXPECT_EQ(out, key);
  EXPECT_EQ(IvOf(p_->data->ciphers->iv), iv_);
}

TEST_F(KeyTransport, RefusedInputs) {
  qor::test::LogCapture log;
  ASSERT_TRUE(log.ok());
  Bytes out;
  EXPECT_EQ(Unwrap("", &out), -1);
  EXPECT_NE(log.text().find("] >> Encrypted Data is Empty or Null\n"), std::string::npos);
  EXPECT_EQ(Unwrap("!!!!", &out), -1);
  EXPECT_NE(log.text().find("] >> QOR_Base64Decode Failed [data length:-1]\n"), std::string::npos);
  DataBuffer o{0, nullptr};
  EXPECT_EQ(p_->DecryptKeyFromBase64(p_.self(), nullptr, &o, 0), -1);
}

// Key names and single keys are overwritten with 0x01 before they are freed.
std::mutex g_releasedMutex;
std::vector<Bytes> g_released;
void RecordRelease(const unsigned char* bytes, size_t length) {
  std::lock_guard<std::mutex> lock(g_releasedMutex);
  g_released.emplace_back(bytes, bytes + length);
}

class ReleasedKeyBytes : public ::testing::Test {
 protected:
  void SetUp() override {
    g_released.clear();
    qor::engine::SetReleasedKeyBytesObserver(RecordRelease);
  }
  void TearDown() override { qor::engine::SetReleasedKeyBytesObserver(nullptr); }
};

TEST_F(ReleasedKeyBytes, DestroyOverwritesNameAndKey) {
  KeyList keys({1});
  PolicyArgs args;
  args.name = "hr.salary";
  UACipherUtil* named = CreateEx3(args, keys);
  ASSERT_NE(named, nullptr);
  named->Destroy(&named);
  EXPECT_EQ(named, nullptr);

  const Bytes key(24, 0xC5);
  const DataBuffer k = Buffer(key);
  UACipherUtil* single = UACipherUtil_CreateEx(QOR_ALG_DES3_3KEY, &k, nullptr, nullptr);
  ASSERT_NE(single, nullptr);
  single->Destroy(&single);
  EXPECT_EQ(single, nullptr);

  ASSERT_EQ(g_released.size(), 2u);
  EXPECT_EQ(g_released[0], Bytes(args.name.size(), 0x01));
  EXPECT_EQ(g_released[1], Bytes(key.size(), 0x01));
}

}  // namespace
