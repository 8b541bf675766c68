// The key manager: policies by name, the shared IV, the policy hash, clones,
// clearing and teardown.
#include "qor/key_mgr.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/cipher/fixed_secrets.h"
#include "engine/cipher/ua_cipher_internal.h"
#include "engine/core/cipher_object.h"
#include "engine/policy_fixture.h"
#include "qor/hashtable.h"
#include "support/bytes.h"
#include "support/log_capture.h"
#include "support/test_support.h"

namespace {

using qor::test::Buffer;
using qor::test::Bytes;
using qor::test::KeyList;
using qor::test::Mgr;
using qor::test::NewMgr;
using qor::test::PolicyInfoArgs;

KeyInfo* Find(KeyMgr* m, const std::string& name) {
  const DataBuffer n = Buffer(name);
  return m->GetKeyInfo(m, &n);
}

int CheckHash(KeyMgr* m, const Bytes& hash) {
  const DataBuffer h = Buffer(hash);
  return m->CheckPolicyHash(m, &h);
}

TEST(KeyMgr, StartsEmptyWithAZeroPolicyHash) {
  qor::test::LogCapture log;
  ASSERT_TRUE(log.ok());
  Mgr m = NewMgr();
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->GetPolicyCount(m.get()), 0);
  EXPECT_EQ(CheckHash(m.get(), Bytes(88, 0)), 0);
  EXPECT_EQ(CheckHash(m.get(), Bytes(87, 0)), 1);
  EXPECT_NE(log.text().find("CheckPolicyHash [source/Crypto/KeyMgr:"), std::string::npos);
  EXPECT_NE(log.text().find("] >> Policy Hash Length is invalid\n"), std::string::npos);
  EXPECT_EQ(m->CheckPolicyHash(m.get(), nullptr), 1);
  EXPECT_NE(log.text().find("] >> Policy Hash Data is Empty or Null\n"), std::string::npos);
  char** names = reinterpret_cast<char**>(1);
  EXPECT_EQ(m->LoadKeyName(m.get(), &names), 0);
  EXPECT_EQ(names, nullptr);
}

TEST(KeyMgr, PolicyHashComparesAllBytes) {
  qor::test::LogCapture log;
  ASSERT_TRUE(log.ok());
  Mgr m = NewMgr();
  Bytes hash(88);
  for (size_t i = 0; i < hash.size(); ++i) hash[i] = static_cast<uint8_t>(i * 7 + 1);
  m->SetPolicyHash(m.get(), hash.data());
  EXPECT_EQ(CheckHash(m.get(), hash), 0);
  Bytes last = hash;
  last[87] ^= 1;
  EXPECT_NE(CheckHash(m.get(), last), 0);
  EXPECT_NE(CheckHash(m.get(), Bytes(88, 0)), 0);
  m->SetPolicyHash(m.get(), nullptr);  // refused: the stored hash stays
  EXPECT_NE(log.text().find("SetPolicyHash [source/Crypto/KeyMgr:"), std::string::npos);
  EXPECT_EQ(CheckHash(m.get(), hash), 0);
}

TEST(KeyMgr, AddKeyInfoBuildsThePolicy) {
  auto hmac = [](const DataBuffer*, const DataBuffer*, DataBuffer*) { return 5; };
  Mgr m = NewMgr(hmac);
  qor::test::AclList acl;
  acl.Add().rules1 = qor::test::Rules({"app"});
  PolicyInfoArgs a;
  a.name = "hr.salary";
  a.algorithm = "AES";
  a.keyLength = 32;
  a.errorProcess = 2;
  a.nullProcess = 1;
  a.encDuplication = 1;
  a.decDuplication = 1;
  a.compatibility = 0;
  a.aclCount = 1;
  a.acl = acl.get();
  a.unauthorizedDecryption = 4;
  a.prio = 1;
  a.decryptCnt = 50;
  a.decryptCountUnit = 2;
  a.targetExist = 3;
  a.orgFileHandling = 1;
  a.orgBackupExtension = ".old";
  a.encFileDelete = 1;
  a.encDataVerify = 1;
  a.orgDataVerify = 1;
  a.mode = QOR_MODE_ECB;
  KeyList keys({9, 8}, 32);
  KeyInfo* info = AddPolicy(m.get(), a, keys);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(Find(m.get(), "hr.salary"), info);
  EXPECT_EQ(m->GetPolicyCount(m.get()), 1);
  EXPECT_EQ(info->nameLength, 9);
  EXPECT_STREQ(info->name, "hr.salary");
  EXPECT_EQ(info->policyKind, 4);
  EXPECT_EQ(info->ivType, QOR_IV_POLICY);

  UACipherUtil* c = info->cipher;
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->GetAlgorithmType(&c), QOR_ALG_AES256);
  EXPECT_EQ(c->Hmac, hmac);
  EXPECT_EQ(c->GetKeyLength(&c), 32);
  EXPECT_EQ(c->GetLatestKeyVersion(&c), 9);
  EXPECT_EQ(c->data->ciphers->mode, QOR_MODE_ECB);
  for (const CipherUtil* r = c->data->ciphers; r != nullptr; r = r->next) {
    EXPECT_EQ(std::memcmp(r->iv, qor::engine::NC_NEW_FIXED_IV, 16), 0);
    EXPECT_EQ(r->useRecordIV, 0);
  }
  EXPECT_EQ(c->Geterror_process(&c), 2);
  EXPECT_EQ(c->Getnull_process(&c), 1);
  EXPECT_EQ(c->GetDuplicate(&c), 1);
  EXPECT_EQ(c->data->decDuplication, 1);
  EXPECT_EQ(c->GetCompatibility(&c), 0);
  EXPECT_EQ(c->GetACL_count(&c), 1);
  EXPECT_EQ(c->GetUnauthorizedDecryption(&c), 4);
  EXPECT_EQ(c->Getprio(&c), 1);
  EXPECT_EQ(c->GetDecrypt_cnt(&c), 50);
  EXPECT_EQ(c->data->decryptCountUnit, 2);
  EXPECT_EQ(c->GettargetExist(&c), 3);
  EXPECT_EQ(c->GetorgFileHandling(&c), 1);
  EXPECT_STREQ(c->GetorgBackupExtension(&c), ".old");
  EXPECT_EQ(c->GetencFileDelete(&c), 1);
  EXPECT_EQ(c->GetencDataVerify(&c), 1);
  EXPECT_EQ(c->GetorgDataVerify(&c), 1);
  EXPECT_EQ(c->data->hasPattern, 0);
}

TEST(KeyMgr, PatternTypesAndAuditBytes) {
  struct Case {
    const char* label;
    int32_t partial;
    const char* type;
    int32_t expectedType;  // 0: no pattern block
  } const cases[] = {
      {"exclude", 1, "EXCLUDE_STRING", QOR_PATTERN_EXCLUDE_STRING},
      {"character", 1, "CHARACTER", QOR_PATTERN_CHARACTER},
      {"middle", 1, "MIDDLE", QOR_PATTERN_MIDDLE},
      {"lower case", 1, "middle", 0},
      {"prefix only", 1, "MIDDLE_", 0},
      {"no type", 1, nullptr, 0},
      {"partial off", 0, "MIDDLE", 0},
  };
  Mgr m = NewMgr();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    PolicyInfoArgs a;
    a.name = c.label;
    a.partial = c.partial;
    a.patternType = c.type;
    a.position = QOR_POSITION_FRONT;
    a.patternChars = "-@";
    KeyList keys({1});
    KeyInfo* info = AddPolicy(m.get(), a, keys);
    ASSERT_NE(info, nullptr);
    const UACipherUtilData* d = info->cipher->data;
    EXPECT_EQ(d->hasPattern, c.expectedType != 0 ? 1 : 0);
    EXPECT_EQ(d->pattern.type, c.expectedType);
    if (c.expectedType != 0) {
      EXPECT_EQ(d->pattern.position, QOR_POSITION_FRONT);
      EXPECT_STREQ(reinterpret_cast<const char*>(d->pattern.chars), "-@");
    }
  }

  struct Audit {
    int32_t bytes[4];
    int32_t switches[4];
  } const audits[] = {
      {{255, 0, 254, 255}, {1, 0, 0, 1}},
      {{0, 255, 255, 1}, {0, 1, 1, 0}},
      {{-1, 511, 128, 0}, {1, 1, 0, 0}},  // a byte handed on as a signed or wider value
  };
  int n = 0;
  for (const Audit& au : audits) {
    PolicyInfoArgs a;
    a.name = "audit" + std::to_string(n++);
    std::memcpy(a.audit, au.bytes, sizeof(a.audit));
    KeyList keys({1});
    KeyInfo* info = AddPolicy(m.get(), a, keys);
    ASSERT_NE(info, nullptr);
    int32_t got[4];
    info->cipher->GetAudit(&info->cipher, got);
    EXPECT_EQ(std::vector<int32_t>(got, got + 4),
              std::vector<int32_t>(au.switches, au.switches + 4))
        << a.name;
  }
}

// Pattern characters that do not fit the block are not stored at all.
TEST(KeyMgr, OverlongPatternCharactersAreDropped) {
  Mgr m = NewMgr();
  PolicyInfoArgs a;
  a.partial = 1;
  a.patternType = "CHARACTER";
  a.patternChars = std::string(300, '#');
  KeyList keys({1});
  KeyInfo* info = AddPolicy(m.get(), a, keys);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->cipher->data->pattern.type, QOR_PATTERN_CHARACTER);
  EXPECT_EQ(info->cipher->data->pattern.chars[0], 0);
}

TEST(KeyMgr, UnknownAlgorithmCreatesNothing) {
  qor::test::LogCapture log;
  ASSERT_TRUE(log.ok());
  Mgr m = NewMgr();
  PolicyInfoArgs a;
  a.algorithm = "AES";
  a.keyLength = 24;
  KeyList keys({1}, 24);
  EXPECT_EQ(AddPolicy(m.get(), a, keys), nullptr);
  EXPECT_EQ(m->GetPolicyCount(m.get()), 0);
  EXPECT_EQ(Find(m.get(), a.name), nullptr);
  EXPECT_NE(log.text().find("] >> Unknown Algorithm\n"), std::string::npos);
  EXPECT_NE(log.text().find("AddKeyInfo [source/Crypto/KeyMgr:"), std::string::npos);
  EXPECT_NE(log.text().find("] >> UACipherUtil Create Failed\n"), std::string::npos);
}

// Under an IV type of RECORD every version carries the tail from the start,
// including versions fetched later.
TEST(KeyMgr, RecordPoliciesUseRecordIvOnEveryVersion) {
  Mgr m = NewMgr();
  PolicyInfoArgs a;
  a.ivType = QOR_IV_RECORD;
  KeyList keys({3, 2, 1});
  KeyInfo* info = AddPolicy(m.get(), a, keys);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->ivType, QOR_IV_RECORD);
  UACipherUtil* c = info->cipher;
  int records = 0;
  for (const CipherUtil* r = c->data->ciphers; r != nullptr; r = r->next, ++records) {
    EXPECT_EQ(r->useRecordIV, 1) << "version " << r->keyVersion;
  }
  EXPECT_EQ(records, 3);

  auto* fetched = static_cast<CipherUtil*>(std::calloc(1, sizeof(CipherUtil)));
  ChiperUtil_Set(fetched, 4, 0, 0, "active");
  const Bytes key(16, 0x44);
  const DataBuffer k = Buffer(key);
  const DataBuffer iv{16, const_cast<unsigned char*>(qor::engine::NC_NEW_FIXED_IV)};
  ASSERT_EQ(CipherUtil_Create(QOR_ALG_ARIA128, &k, &iv, fetched), 0);
  ASSERT_EQ(c->AddKey(&c, fetched), 0);
  EXPECT_EQ(c->GetCipher(&c, 4)->useRecordIV, 1);
}

TEST(KeyMgr, SameNameTwiceFindsTheNewest) {
  Mgr m = NewMgr();
  PolicyInfoArgs a;
  KeyList first({1});
  KeyList second({2});
  KeyInfo* older = AddPolicy(m.get(), a, first);
  KeyInfo* newer = AddPolicy(m.get(), a, second);
  ASSERT_NE(older, nullptr);
  ASSERT_NE(newer, nullptr);
  EXPECT_EQ(m->GetPolicyCount(m.get()), 2);
  EXPECT_EQ(Find(m.get(), a.name), newer);
}

TEST(KeyMgr, LookupsAndNames) {
  Mgr m = NewMgr();
  for (const char* name : {"alpha", "Beta", "gamma.col"}) {
    PolicyInfoArgs a;
    a.name = name;
    KeyList keys({1});
    ASSERT_NE(AddPolicy(m.get(), a, keys), nullptr);
  }
  EXPECT_NE(Find(m.get(), "Beta"), nullptr);
  EXPECT_EQ(Find(m.get(), "beta"), nullptr);  // names compare exactly by default
  EXPECT_EQ(Find(m.get(), "gamma"), nullptr);
  EXPECT_EQ(m->GetKeyInfo(m.get(), nullptr), nullptr);
  char** names = nullptr;
  ASSERT_EQ(m->LoadKeyName(m.get(), &names), 3);
  std::vector<std::string> listed;
  for (int i = 0; i < 3; ++i) listed.emplace_back(names[i] != nullptr ? names[i] : "");
  std::free(names);
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, (std::vector<std::string>{"Beta", "alpha", "gamma.col"}));
}

TEST(KeyMgr, IgnoreCaseLookups) {
  const std::string failure = qor::test::RunInChild([]() -> std::string {
    Hashtable_SetIgnoreCaseKeyName(1);
    Mgr m = NewMgr();
    PolicyInfoArgs a;
    a.name = "Policy_Mixed";
    KeyList keys({1});
    KeyInfo* info = AddPolicy(m.get(), a, keys);
    CHILD_CHECK(info != nullptr);
    CHILD_CHECK(Find(m.get(), "policy_mixed") == info);
    CHILD_CHECK(Find(m.get(), "POLICY_MIXED") == info);
    CHILD_CHECK(Find(m.get(), "Policy_Mixed") == info);
    CHILD_CHECK(Find(m.get(), "Policy_Mixe") == nullptr);
    return "";
  });
  EXPECT_EQ(failure, "");
}

// Lookups of one name follow every change that could alter their answer,
// however often the same name was looked up before on this thread.
TEST(KeyMgr, RepeatedLookupsFollowNewerEntriesClearsAndOtherSets) {
  Mgr m = NewMgr();
  PolicyInfoArgs a;
  a.name = "column.a";
  KeyList keys({1});
  KeyInfo* first = AddPolicy(m.get(), a, keys);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(Find(m.get(), "column.a"), first);
  EXPECT_EQ(Find(m.get(), "column.a"), first);
  KeyInfo* newer = AddPolicy(m.get(), a, keys);  // the newest of equal names wins
  ASSERT_NE(newer, nullptr);
  EXPECT_EQ(Find(m.get(), "column.a"), newer);
  EXPECT_EQ(Find(m.get(), "column.b"), nullptr);

  Mgr other = NewMgr();
  KeyInfo* elsewhere = AddPolicy(other.get(), a, keys);
  EXPECT_EQ(Find(other.get(), "column.a"), elsewhere);
  EXPECT_EQ(Find(m.get(), "column.a"), newer);

  ASSERT_NE(m->Clear(m.get()), nullptr);
  EXPECT_EQ(Find(m.get(), "column.a"), nullptr);
  KeyInfo* again = AddPolicy(m.get(), a, keys);
  EXPECT_EQ(Find(m.get(), "column.a"), again);
  // A name longer than the thread keeps still finds its policy every time.
  a.name = std::string(200, 'n');
  KeyInfo* longName = AddPolicy(m.get(), a, keys);
  EXPECT_EQ(Find(m.get(), a.name), longName);
  EXPECT_EQ(Find(m.get(), a.name), longName);
  EXPECT_EQ(Find(m.get(), std::string(199, 'n')), nullptr);

  // A set freed and another made (possibly at the same address) never
  // answers with the freed one's policy.
  other.reset();
  Mgr fresh = NewMgr();
  EXPECT_EQ(Find(fresh.get(), "column.a"), nullptr);
}

TEST(KeyMgr, RepeatedLookupsFollowTheIgnoreCaseSwitch) {
  const std::string failure = qor::test::RunInChild([]() -> std::string {
    Mgr m = NewMgr();
    PolicyInfoArgs a;
    a.name = "Mixed";
    KeyList keys({1});
    KeyInfo* info = AddPolicy(m.get(), a, keys);
    CHILD_CHECK(info != nullptr);
    CHILD_CHECK(Find(m.get(), "Mixed") == info);
    CHILD_CHECK(Find(m.get(), "mixed") == nullptr);
    Hashtable_SetIgnoreCaseKeyName(1);
    Mgr folded = NewMgr();
    KeyInfo* lower = AddPolicy(folded.get(), a, keys);
    CHILD_CHECK(Find(folded.get(), "MIXED") == lower);
    CHILD_CHECK(Find(folded.get(), "mixed") == lower);
    Hashtable_SetIgnoreCaseKeyName(0);
    CHILD_CHECK(Find(folded.get(), "MIXED") == nullptr);
    return "";
  });
  EXPECT_EQ(failure, "");
}

TEST(KeyMgr, CloneTakesOverTheCipher) {
  Mgr source = NewMgr();
  Mgr target = NewMgr();
  PolicyInfoArgs a;
  a.name = "shared";
  a.ivType = QOR_IV_RECORD;
  KeyList keys({6});
  KeyInfo* original = AddPolicy(source.get(), a, keys);
  ASSERT_NE(original, nullptr);
  UACipherUtil* cipher = original->cipher;
  KeyInfo* clone = original->Clone(original);
  ASSERT_NE(clone, nullptr);
  EXPECT_EQ(original->cipher, nullptr);
  EXPECT_EQ(clone->cipher, cipher);
  EXPECT_NE(clone->name, original->name);
  EXPECT_STREQ(clone->name, "shared");
  EXPECT_EQ(clone->nameLength, 6);
  EXPECT_EQ(clone->policyKind, 4);
  EXPECT_EQ(clone->ivType, QOR_IV_RECORD);
  EXPECT_EQ(target->AppendKeyInfo(target.get(), clone), 0);
  EXPECT_EQ(target->AppendKeyInfo(target.get(), nullptr), 1);

  source.reset();  // destroys the source record, which no longer owns the cipher
  KeyInfo* found = Find(target.get(), "shared");
  ASSERT_EQ(found, clone);
  UACipherUtil* c = found->cipher;
  EXPECT_EQ(c->GetLatestKeyVersion(&c), 6);
  const DataBuffer name = c->GetKeyName(&c);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name.data), 6), "shared");
}

TEST(KeyMgr, ClearKeepsTheHashAndEmptiesTheTable) {
  Mgr m = NewMgr();
  const Bytes hash(88, 0xAB);
  m->SetPolicyHash(m.get(), hash.data());
  PolicyInfoArgs a;
  KeyList keys({1});
  ASSERT_NE(AddPolicy(m.get(), a, keys), nullptr);
  ASSERT_EQ(m->GetPolicyCount(m.get()), 1);
  EXPECT_NE(m->Clear(m.get()), nullptr);
  EXPECT_EQ(m->GetPolicyCount(m.get()), 0);
  EXPECT_EQ(Find(m.get(), a.name), nullptr);
  EXPECT_EQ(CheckHash(m.get(), hash), 0);
  KeyInfo* again = AddPolicy(m.get(), a, keys);  // usable after a clear
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(std::memcmp(again->cipher->data->ciphers->iv, qor::engine::NC_NEW_FIXED_IV, 16), 0);
}

TEST(KeyMgr, DestroyClearsThePointerAndLogsTheWipe) {
  qor::test::LogCapture log;
  ASSERT_TRUE(log.ok());
  KeyMgr* m = KeyMgr_Create(nullptr);
  ASSERT_NE(m, nullptr);
  PolicyInfoArgs a;
  KeyList keys({1});
  ASSERT_NE(AddPolicy(m, a, keys), nullptr);
  m->Destroy(&m);
  EXPECT_EQ(m, nullptr);
  EXPECT_NE(log.text().find("Destroy [source/Crypto/KeyMgr:"), std::string::npos);
  EXPECT_NE(log.text().find("] >> encryption key zeroizaiton\n"), std::string::npos);
}

// The record owns its cipher from the call on: a refused record releases it
// (once), so the caller must not.
std::vector<std::string> g_releasedNames;
void RecordRelease(const unsigned char* bytes, size_t length) {
  g_releasedNames.emplace_back(reinterpret_cast<const char*>(bytes), length);
}

TEST(KeyInfoCreate, RefusedRecordReleasesTheCipher) {
  KeyList keys({1});
  qor::test::PolicyArgs args;
  args.name = "abc";
  UACipherUtil* cipher = CreateEx3(args, keys);
  ASSERT_NE(cipher, nullptr);
  g_releasedNames.clear();
  qor::engine::SetReleasedKeyBytesObserver(RecordRelease);
  const DataBuffer empty{0, nullptr};
  EXPECT_EQ(KeyInfo_Create(&empty, QOR_ALG_ARIA128, 4, QOR_IV_POLICY, cipher), nullptr);
  qor::engine::SetReleasedKeyBytesObserver(nullptr);
  EXPECT_EQ(g_releasedNames, std::vector<std::string>{"\x01\x01\x01"});
  EXPECT_EQ(KeyInfo_Create(&empty, QOR_ALG_ARIA128, 4, QOR_IV_POLICY, nullptr), nullptr);

  const std::string name = "p1";
  const DataBuffer n = Buffer(name);
  KeyList keys2({1});
  KeyInfo* info = KeyInfo_Create(&n, QOR_ALG_ARIA128, 4, QOR_IV_RECORD, CreateEx3(args, keys2));
  ASSERT_NE(info, nullptr);
  EXPECT_STREQ(info->name, "p1");
  EXPECT_EQ(info->ivType, QOR_IV_RECORD);
  info->Destroy(&info);
  EXPECT_EQ(info, nullptr);
}

}  // namespace
