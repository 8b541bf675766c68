// Policy records from the writer, read back into a key manager: algorithms,
// key versions, record IVs, access rules, patterns, every keyword, the hash,
// the audit switch, and records that must be refused.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "agent/policy/key_mgr_parse.h"
#include "agent/policy/single_key_reader.h"
#include "agent/policy/policy_writer.h"
#include "engine/policy_fixture.h"
#include "qor/key_mgr.h"
#include "qor/policy.h"
#include "support/bytes.h"
#include "support/log_capture.h"
#include "support/test_support.h"

namespace {

using qor::agent::AccessRuleDesc;
using qor::agent::KeyVersionDesc;
using qor::agent::PolicySetDesc;
using qor::agent::PolicyDesc;
using qor::test::Bytes;

using qor::test::Mgr;

Bytes KeyBytes(uint64_t version, size_t n) {
  return Bytes(n, qor::test::KeyList::KeyByte(static_cast<int64_t>(version)));
}

PolicyDesc Policy(const std::string& name, const std::string& algorithm = "ARIA",
                  uint64_t keyBits = 128) {
  PolicyDesc p;
  p.name = name;
  p.algorithm = algorithm;
  p.keyBits = keyBits;
  p.keys = {KeyVersionDesc{1, KeyBytes(1, keyBits / 8)}};
  return p;
}

Mgr ParseRecord(const Bytes& record, int cryptoMode = QOR_MODE_CBC, int compatibility = 0) {
  Mgr m(KeyMgr_Create(nullptr));
  const DataBuffer r{static_cast<int32_t>(record.size()), const_cast<uint8_t*>(record.data())};
  EXPECT_EQ(KeyMgrParse(&r, m.get(), cryptoMode, compatibility), 1);
  return m;
}

Mgr ParseSet(const PolicySetDesc& set, int cryptoMode = QOR_MODE_CBC, int compatibility = 0) {
  return ParseRecord(qor::agent::EncodePolicySet(set), cryptoMode, compatibility);
}

KeyInfo* Find(KeyMgr* m, const std::string& name) {
  const DataBuffer n = qor::test::Buffer(name);
  return m->GetKeyInfo(m, &n);
}

UACipherUtilData* Data(KeyMgr* m, const std::string& name) {
  KeyInfo* k = Find(m, name);
  return k != nullptr && k->cipher != nullptr ? k->cipher->data : nullptr;
}

// Enciphers |text| with a key version record through its adapter.
Bytes EncryptWith(const CipherUtil* r, const std::string& text) {
  Bytes in(text.begin(), text.end());
  in.resize(text.size() + 64);
  DataBuffer b{static_cast<int32_t>(text.size()), in.data()};
  DataBuffer out{0, nullptr};
  if (EncryptFunctions[r->algType](&b, r->pEKey, r->iv, &out, r->keyVersion, 0, 0) != 0) return {};
  Bytes result(out.data, out.data + out.length);
  std::free(out.data);
  return result;
}

// ---------------------------------------------------------------------------

struct AlgorithmCase {
  const char* algorithm;
  uint64_t keyBits;
  uint32_t code;
  bool block;
};

TEST(PolicyRoundTrip, EveryAlgorithmWithItsKey) {
  const AlgorithmCase cases[] = {
      {"SEED", 128, QOR_ALG_SEED, true},          {"ARIA", 128, QOR_ALG_ARIA128, true},
      {"ARIA", 256, QOR_ALG_ARIA256, true},       {"AES", 128, QOR_ALG_AES128, true},
      {"AES", 256, QOR_ALG_AES256, true},         {"3DES", 128, QOR_ALG_DES3_2KEY, true},
      {"TDES", 192, QOR_ALG_DES3_3KEY, true},     {"LEA", 128, QOR_ALG_LEA128, true},
      {"LEA", 256, QOR_ALG_LEA256, true},         {"SHA256", 128, QOR_ALG_SHA256, false},
      {"SHA512", 128, QOR_ALG_SHA512, false},     {"SHA3256", 128, QOR_ALG_SHA3_256, false},
      {"SHA3512", 128, QOR_ALG_SHA3_512, false},  {"LSH256", 128, QOR_ALG_LSH512_256, false},
      {"LSH512", 128, QOR_ALG_LSH512_512, false},
  };
  PolicySetDesc set;
  for (const AlgorithmCase& c : cases) {
    PolicyDesc p = Policy(std::string(c.algorithm) + "-" + std::to_string(c.keyBits), c.algorithm,
                          c.keyBits);
    p.keys = {KeyVersionDesc{3, KeyBytes(3, c.keyBits / 8)}};
    set.policies.push_back(p);
  }
  Mgr m = ParseSet(set);
  EXPECT_EQ(m->GetPolicyCount(m.get()), static_cast<int>(std::size(cases)));
  for (const AlgorithmCase& c : cases) {
    const std::string name = std::string(c.algorithm) + "-" + std::to_string(c.keyBits);
    KeyInfo* info = Find(m.get(), name);
    ASSERT_NE(info, nullptr) << name;
    EXPECT_EQ(info->policyKind, 4);
    EXPECT_EQ(info->cipher->GetAlgorithmType(&info->cipher), static_cast<int>(c.code)) << name;
    EXPECT_EQ(info->cipher->data->keyLength, static_cast<int32_t>(c.keyBits / 8)) << name;
    if (!c.block) continue;
    // The same key handed straight to the key manager enciphers alike.
    Mgr reference(KeyMgr_Create(nullptr));
    qor::test::PolicyInfoArgs args;
    args.name = name;
    args.algorithm = c.algorithm;
    args.keyLength = static_cast<int32_t>(c.keyBits / 8);
    qor::test::KeyList keys({3}, args.keyLength);
    KeyInfo* ref = qor::test::AddPolicy(reference.get(), args, keys);
    ASSERT_NE(ref, nullptr) << name;
    const Bytes ours = EncryptWith(info->cipher->data->ciphers, "a value of the column");
    EXPECT_FALSE(ours.empty()) << name;
    EXPECT_EQ(ours, EncryptWith(ref->cipher->data->ciphers, "a value of the column")) << name;
  }
}

TEST(PolicyRoundTrip, KeyVersionsInRecordOrder) {
  PolicyDesc p = Policy("versions");
  p.keys = {KeyVersionDesc{0x10007, KeyBytes(7, 16), "active", "2026121012Z", "2030123123Z"},
            KeyVersionDesc{5, KeyBytes(5, 16), "deactive", "12", "1234"},
            KeyVersionDesc{3, KeyBytes(3, 16), "revoked", "", "x"}};
  Mgr m = ParseSet({Bytes(88, 1), {p}});
  UACipherUtilData* d = Data(m.get(), "versions");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->keyCount, 3);
  struct Want {
    int version, status, first, second;
  };
  const Want want[] = {{7, QOR_KEY_ACTIVE, 20261210, 20301231},
                       {5, QOR_KEY_DEACTIVE, 0, 1},
                       {3, QOR_KEY_REVOKED, 0, 0}};
  const CipherUtil* r = d->ciphers;
  for (const Want& w : want) {
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->keyVersion, w.version);
    EXPECT_EQ(r->keyStatus, w.status);
    EXPECT_EQ(r->firstTime, w.first);
    EXPECT_EQ(r->secondTime, w.second);
    EXPECT_EQ(r->useRecordIV, 0);
    r = r->next;
  }
  EXPECT_EQ(r, nullptr);
}

TEST(PolicyRoundTrip, TimeValuesDropTheLastThreeCharacters) {
  const struct {
    std::string text;
    int32_t value;
  } cases[] = {{"", 0},
               {"1", 0},
               {"12", 0},
               {"123", 0},
               {"1234", 1},
               {"2026121012Z", 20261210},
               {"12a4567", 12},
               {std::string(45, '0') + "7ZZ", 0},
               {std::string(44, '0') + "7ZZZ", 7},  // 48 characters: read
               {std::string(46, '0') + "7ZZ", 0},   // 49: too long
               {"9999999999ZZZ", 0},                // beyond 32 bits
               {"2147483647ZZZ", 2147483647}};
  for (const auto& c : cases) {
    BerTlv t{BER_TAG_OCTET_STRING, static_cast<uint32_t>(c.text.size()),
             reinterpret_cast<unsigned char*>(const_cast<char*>(c.text.data()))};
    EXPECT_EQ(Policy_split_item2(&t), c.value) << c.text;
  }
  std::string fortyEight = std::string(44, '0') + "7ZZZ";
  fortyEight[0] = '1';
  BerTlv t{BER_TAG_OCTET_STRING, 48, reinterpret_cast<unsigned char*>(fortyEight.data())};
  EXPECT_EQ(Policy_split_item2(&t), 0) << "45 digits do not fit";
}

TEST(PolicyRoundTrip, RecordIvPolicyMarksEveryVersion) {
  PolicyDesc p = Policy("record");
  p.ivType = "RECORD";
  p.keys = {KeyVersionDesc{2, KeyBytes(2, 16)}, KeyVersionDesc{1, KeyBytes(1, 16)}};
  PolicyDesc q = Policy("policy");
  Mgr m = ParseSet({Bytes(88, 0), {p, q}});
  ASSERT_NE(Find(m.get(), "record"), nullptr);
  EXPECT_EQ(Find(m.get(), "record")->ivType, QOR_IV_RECORD);
  EXPECT_EQ(Find(m.get(), "policy")->ivType, QOR_IV_POLICY);
  for (const CipherUtil* r = Data(m.get(), "record")->ciphers; r != nullptr; r = r->next) {
    EXPECT_EQ(r->useRecordIV, 1);
  }
}

std::vector<std::string> RuleTexts(const AccessRule* r) {
  std::vector<std::string> out;
  for (; r != nullptr; r = r->next) out.push_back(r->pattern);
  return out;
}

TEST(PolicyRoundTrip, AccessRulesWithEveryField) {
  PolicyDesc p = Policy("guarded");
  AccessRuleDesc first;
  first.rules = {std::vector<std::string>{"app", "", "ignored after the empty rule"},
                 std::vector<std::string>{"10.0.", "192.168."},
                 std::vector<std::string>{std::string(127, 'u')},
                 std::vector<std::string>{"2", "3", "4", "5", "6"}};
  first.dateFrom = "2026-1-1";
  first.dateTo = "2026-12-31";
  first.timeFrom = "9:00";
  first.timeTo = "18:30";
  first.decryptAllowed = 1;
  first.encryptAllowed = 0;
  AccessRuleDesc second;  // empty lists and no dates: tests nothing
  second.decryptAllowed = 0;
  second.encryptAllowed = 1;
  p.acl = {first, second};
  p.unauthorizedDecryption = "CIPHERTEXT";
  p.prio = "BLOCK_FIRST";
  p.decryptCnt = 40;
  Mgr m = ParseSet({Bytes(88, 0), {p}});
  UACipherUtilData* d = Data(m.get(), "guarded");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->aclCount, 2);
  EXPECT_EQ(d->unauthorizedDecryption, 3);
  EXPECT_EQ(d->prio, 2);
  EXPECT_EQ(d->decryptCnt, 40);
  const AccessControlData* a = d->acl;
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(RuleTexts(a->rules1), (std::vector<std::string>{"app", ""}));
  EXPECT_EQ(RuleTexts(a->rules2), (std::vector<std::string>{"10.0.", "192.168."}));
  EXPECT_EQ(RuleTexts(a->rules3), (std::vector<std::string>{std::string(127, 'u')}));
  EXPECT_EQ(RuleTexts(a->rules4), (std::vector<std::string>{"2", "3", "4", "5", "6"}));
  EXPECT_STREQ(a->dateFrom, "2026-1-1");
  EXPECT_STREQ(a->dateTo, "2026-12-31");
  EXPECT_STREQ(a->timeFrom, "9:00");
  EXPECT_STREQ(a->timeTo, "18:30");
  EXPECT_EQ(a->decryptAllowed, 1);
  EXPECT_EQ(a->encryptAllowed, 0);
  const AccessControlData* b = a->next;
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->rules1, nullptr);
  EXPECT_EQ(b->rules4, nullptr);
  EXPECT_STREQ(b->dateFrom, "");
  EXPECT_EQ(b->decryptAllowed, 0);
  EXPECT_EQ(b->encryptAllowed, 1);
  EXPECT_EQ(b->next, nullptr);
}

TEST(PolicyRoundTrip, PatternsAndPartialEncryption) {
  struct Case {
    const char* type;
    const char* chars;
    const char* position;
    int hasPattern, wantType, wantPosition;
  };
  const Case cases[] = {{"EXCLUDE_STRING", "-", "FRONT", 1, QOR_PATTERN_EXCLUDE_STRING, 1},
                        {"CHARACTER", "@.", "BACK", 1, QOR_PATTERN_CHARACTER, 2},
                        {"MIDDLE", "3", "ELSEWHERE", 1, QOR_PATTERN_MIDDLE, 0},
                        {"ALL", "-", "FRONT", 0, 0, 0},
                        {"WHATEVER", "-", "FRONT", 0, 0, 0},
                        {"", "-", "FRONT", 0, 0, 0}};
  PolicySetDesc set;
  for (size_t i = 0; i < std::size(cases); ++i) {
    PolicyDesc p = Policy("pattern" + std::to_string(i));
    p.patternType = cases[i].type;
    p.patternChars = cases[i].chars;
    p.position = cases[i].position;
    set.policies.push_back(p);
  }
  Mgr m = ParseSet(set);
  for (size_t i = 0; i < std::size(cases); ++i) {
    UACipherUtilData* d = Data(m.get(), "pattern" + std::to_string(i));
    ASSERT_NE(d, nullptr) << cases[i].type;
    EXPECT_EQ(d->hasPattern, cases[i].hasPattern) << cases[i].type;
    if (cases[i].hasPattern == 0) continue;
    EXPECT_EQ(d->pattern.type, cases[i].wantType) << cases[i].type;
    EXPECT_EQ(d->pattern.position, cases[i].wantPosition) << cases[i].type;
    EXPECT_STREQ(reinterpret_cast<const char*>(d->pattern.chars), cases[i].chars);
  }
}

// Every keyword item: the item's content and the option it must give.
struct KeywordCase {
  const char* item;
  std::function<void(PolicyDesc&)> set;
  std::function<int64_t(KeyInfo*)> get;
  int64_t want;
};

UACipherUtilData* D(KeyInfo* k) { return k->cipher->data; }

std::vector<KeywordCase> KeywordCases() {
  auto text = [](std::string PolicyDesc::*field, const char* value) {
    return [field, value](PolicyDesc& p) { p.*field = value; };
  };
  auto flag = [](uint8_t PolicyDesc::*field, uint8_t value) {
    return [field, value](PolicyDesc& p) { p.*field = value; };
  };
  auto audit = [](int i, uint8_t value) { return [i, value](PolicyDesc& p) { p.audit[i] = value; }; };
  auto withAcl = [](std::function<void(PolicyDesc&)> inner) {
    return [inner](PolicyDesc& p) {
      p.acl = {AccessRuleDesc{}};
      inner(p);
    };
  };
  auto ivType = [](KeyInfo* k) -> int64_t { return k->ivType; };
  auto errorProcess = [](KeyInfo* k) -> int64_t { return D(k)->errorProcess; };
  auto nullProcess = [](KeyInfo* k) -> int64_t { return D(k)->nullProcess; };
  auto encDup = [](KeyInfo* k) -> int64_t { return D(k)->encDuplication; };
  auto decDup = [](KeyInfo* k) -> int64_t { return D(k)->decDuplication; };
  auto compat = [](KeyInfo* k) -> int64_t { return D(k)->compatibility; };
  auto unit = [](KeyInfo* k) -> int64_t { return D(k)->decryptCountUnit; };
  auto count = [](KeyInfo* k) -> int64_t { return D(k)->decryptCnt; };
  auto unauth = [](KeyInfo* k) -> int64_t { return D(k)->unauthorizedDecryption; };
  auto prio = [](KeyInfo* k) -> int64_t { return D(k)->prio; };
  auto auditOf = [](int i) { return [i](KeyInfo* k) -> int64_t { return D(k)->audit[i]; }; };
  auto target = [](KeyInfo* k) -> int64_t { return D(k)->targetExist; };
  auto orgFile = [](KeyInfo* k) -> int64_t { return D(k)->orgFileHandling; };
  auto encDel = [](KeyInfo* k) -> int64_t { return D(k)->encFileDelete; };
  auto encVer = [](KeyInfo* k) -> int64_t { return D(k)->encDataVerify; };
  auto orgVer = [](KeyInfo* k) -> int64_t { return D(k)->orgDataVerify; };
  auto mode = [](KeyInfo* k) -> int64_t { return D(k)->ciphers->mode; };
  using P = PolicyDesc;
  return {
      {"6 RECORD", text(&P::ivType, "RECORD"), ivType, 2},
      {"6 POLICY", text(&P::ivType, "POLICY"), ivType, 1},
      {"6 empty", text(&P::ivType, ""), ivType, 1},
      {"6 record", text(&P::ivType, "record"), ivType, 1},
      {"8 RETURN_ERROR", text(&P::errorProcess, "RETURN_ERROR"), errorProcess, 1},
      {"8 RETURN_NULL", text(&P::errorProcess, "RETURN_NULL"), errorProcess, 2},
      {"8 other", text(&P::errorProcess, "IGNORE"), errorProcess, 3},
      {"8 empty", text(&P::errorProcess, ""), errorProcess, 3},
      {"9 0", flag(&P::nullProcess, 0), nullProcess, 0},
      {"9 1", flag(&P::nullProcess, 1), nullProcess, 1},
      {"9 0x80", flag(&P::nullProcess, 0x80), nullProcess, 1},
      {"10 ALLOW enc", text(&P::duplication, "ALLOW"), encDup, 0},
      {"10 ALLOW dec", text(&P::duplication, "ALLOW"), decDup, 0},
      {"10 RETURN_INPUT enc", text(&P::duplication, "RETURN_INPUT"), encDup, 1},
      {"10 RETURN_INPUT dec", text(&P::duplication, "RETURN_INPUT"), decDup, 1},
      {"10 other", text(&P::duplication, "REFUSE"), encDup, 2},
      {"10 empty", text(&P::duplication, ""), decDup, 2},
      {"14 ULVEX", text(&P::compatibility, "ULVEX"), compat, 0},
      {"14 other, setting off", text(&P::compatibility, "OTHER"), compat, 1},
      {"14 empty, setting off", text(&P::compatibility, ""), compat, 1},
      {"17 DAY", text(&P::decryptCountUnit, "DAY"), unit, 1},
      {"17 HOUR", text(&P::decryptCountUnit, "HOUR"), unit, 2},
      {"17 other", text(&P::decryptCountUnit, "WEEK"), unit, 0},
      {"19 with rules", withAcl([](P& p) { p.decryptCnt = 300; }), count, 300},
      {"19 beyond 32 bits", withAcl([](P& p) { p.decryptCnt = 1ull << 40; }), count, INT32_MAX},
      {"19 without rules", [](P& p) { p.decryptCnt = 300; }, count, 0},
      {"20 RETURN_NULL", withAcl(text(&P::unauthorizedDecryption, "RETURN_NULL")), unauth, 1},
      {"20 ERROR", withAcl(text(&P::unauthorizedDecryption, "ERROR")), unauth, 2},
      {"20 CIPHERTEXT", withAcl(text(&P::unauthorizedDecryption, "CIPHERTEXT")), unauth, 3},
      {"20 USER_DEFINED1", withAcl(text(&P::unauthorizedDecryption, "USER_DEFINED1")), unauth, 4},
      {"20 USER_DEFINED2", withAcl(text(&P::unauthorizedDecryption, "USER_DEFINED2")), unauth, 5},
      {"20 other", withAcl(text(&P::unauthorizedDecryption, "MASK")), unauth, 0},
      {"20 without rules", text(&P::unauthorizedDecryption, "ERROR"), unauth, 0},
      {"22 ALLOW_FIRST", withAcl(text(&P::prio, "ALLOW_FIRST")), prio, 1},
      {"22 BLOCK_FIRST", withAcl(text(&P::prio, "BLOCK_FIRST")), prio, 2},
      {"22 other", withAcl(text(&P::prio, "FIRST")), prio, 0},
      {"23 255", audit(0, 255), auditOf(0), 1},
      {"23 254", audit(0, 254), auditOf(0), 0},
      {"24 255", audit(1, 255), auditOf(1), 1},
      {"25 255", audit(2, 255), auditOf(2), 1},
      {"26 255", audit(3, 255), auditOf(3), 1},
      {"26 1", audit(3, 1), auditOf(3), 0},
      {"28 BYPASS", text(&P::targetExist, "BYPASS"), target, 1},
      {"28 OVERWRITE", text(&P::targetExist, "OVERWRITE"), target, 2},
      {"28 RENAME", text(&P::targetExist, "RENAME"), target, 3},
      {"28 other", text(&P::targetExist, "SKIP"), target, 4},
      {"28 empty", text(&P::targetExist, ""), target, 4},
      {"29 DELETE", text(&P::orgFileHandling, "DELETE"), orgFile, 1},
      {"29 BACKUP, no extension", text(&P::orgFileHandling, "BACKUP"), orgFile, 0},
      {"29 BACKUP, extension",
       [](P& p) {
         p.orgFileHandling = "BACKUP";
         p.orgBackupExtension = ".bak";
       },
       orgFile, 2},
      {"29 other", text(&P::orgFileHandling, "KEEP"), orgFile, 2},
      {"29 empty", text(&P::orgFileHandling, ""), orgFile, 2},
      {"31", flag(&P::encFileDelete, 1), encDel, 1},
      {"32", flag(&P::encDataVerify, 7), encVer, 7},
      {"33", flag(&P::orgDataVerify, 1), orgVer, 1},
      {"mode from the setting", [](P&) {}, mode, QOR_MODE_CTR},
  };
}

TEST(PolicyKeywords, EachItemGivesItsOption) {
  const std::vector<KeywordCase> cases = KeywordCases();
  PolicySetDesc set;
  for (size_t i = 0; i < cases.size(); ++i) {
    PolicyDesc p = Policy("kw" + std::to_string(i));
    cases[i].set(p);
    set.policies.push_back(p);
  }
  Mgr m = ParseSet(set, QOR_MODE_CTR, 0);
  ASSERT_EQ(m->GetPolicyCount(m.get()), static_cast<int>(cases.size()));
  for (size_t i = 0; i < cases.size(); ++i) {
    KeyInfo* k = Find(m.get(), "kw" + std::to_string(i));
    ASSERT_NE(k, nullptr) << cases[i].item;
    EXPECT_EQ(cases[i].get(k), cases[i].want) << "item " << cases[i].item;
  }
}

TEST(PolicyKeywords, CompatibilityFollowsTheSettingUnlessUlvex) {
  PolicyDesc empty = Policy("empty");
  empty.compatibility = "";
  PolicyDesc other = Policy("other");
  other.compatibility = "DB";
  PolicyDesc ulvex = Policy("ulvex");
  for (int setting : {0, 1}) {
    Mgr m = ParseSet({Bytes(88, 0), {empty, other, ulvex}}, QOR_MODE_CBC, setting);
    EXPECT_EQ(Data(m.get(), "empty")->compatibility, setting != 0 ? 2 : 1);
    EXPECT_EQ(Data(m.get(), "other")->compatibility, setting != 0 ? 2 : 1);
    EXPECT_EQ(Data(m.get(), "ulvex")->compatibility, 0);
  }
}

TEST(PolicyKeywords, BackupExtensionIsKept) {
  PolicyDesc p = Policy("backup");
  p.orgFileHandling = "BACKUP";
  p.orgBackupExtension = ".orig";
  Mgr m = ParseSet({Bytes(88, 0), {p}});
  EXPECT_STREQ(Data(m.get(), "backup")->orgBackupExtension, ".orig");
}

// ---------------------------------------------------------------------------
// The record as a whole.

TEST(PolicyRecord, HashIsStoredPaddedOrReported) {
  qor::test::LogCapture log;
  ASSERT_TRUE(log.ok());
  Bytes hash(88);
  for (size_t i = 0; i < hash.size(); ++i) hash[i] = static_cast<uint8_t>(i + 1);
  {
    Mgr m = ParseSet({hash, {}});
    EXPECT_EQ(m->GetPolicyCount(m.get()), 0);
    const DataBuffer h = qor::test::Buffer(hash);
    EXPECT_EQ(m->CheckPolicyHash(m.get(), &h), 0);
  }
  {
    Mgr m = ParseSet({Bytes{9, 8, 7}, {Policy("p")}});
    Bytes padded(88, 0);
    padded[0] = 9;
    padded[1] = 8;
    padded[2] = 7;
    const DataBuffer h = qor::test::Buffer(padded);
    EXPECT_EQ(m->CheckPolicyHash(m.get(), &h), 0);
    EXPECT_EQ(m->GetPolicyCount(m.get()), 1);
  }
  {
    // No hash element: the key manager reports it and keeps zeros.
    const Bytes record = qor::agent::EncodeSequence(
        {qor::agent::EncodeSequence({qor::agent::EncodeSequence(
            qor::agent::EncodePolicyItems(Policy("p")))})});
    Mgr m = ParseRecord(record);
    EXPECT_EQ(m->GetPolicyCount(m.get()), 1);
    const Bytes zeros(88, 0);
    const DataBuffer zero = qor::test::Buffer(zeros);
    EXPECT_EQ(m->CheckPolicyHash(m.get(), &zero), 0);
    EXPECT_NE(log.text().find("Policy Hash Data is Empty or Null"), std::string::npos);
  }
}

TEST(PolicyRecord, SameNameTwiceAddsTheFirst) {
  PolicyDesc first = Policy("twin", "AES", 128);
  PolicyDesc second = Policy("twin", "SEED", 128);
  Mgr m = ParseSet({Bytes(88, 0), {first, second}});
  KeyInfo* k = Find(m.get(), "twin");
  ASSERT_NE(k, nullptr);
  EXPECT_EQ(k->cipher->GetAlgorithmType(&k->cipher), QOR_ALG_AES128);
}

TEST(PolicyRecord, ReadsOnePolicyByName) {
  PolicyDesc p = Policy("named");
  p.keys = {KeyVersionDesc{0x10000, KeyBytes(0, 16)}, KeyVersionDesc{4, KeyBytes(4, 16)}};
  p.item2 = "COLUMN";
  Bytes record = qor::agent::EncodePolicySet({Bytes(88, 0), {Policy("other"), p}});
  uint32_t count = 0;
  BerTlvNode* list =
      Parse_Tlv(record.data(), static_cast<uint32_t>(record.size()), 0, &count, nullptr);
  const BerTlv* hash = nullptr;
  ASSERT_EQ(Policy_count(list, count, &hash), 2u);
  ASSERT_NE(hash, nullptr);
  EXPECT_EQ(hash->length, 88u);
  const BerTlvNode* ids[2] = {nullptr, nullptr};
  ASSERT_EQ(Policy_getIDList(list, count, ids), 2u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(Policy_getAlgorithm(ids[1])->value),
                        Policy_getAlgorithm(ids[1])->length),
            "COLUMN");
  PolicyData* parsed = nullptr;
  ASSERT_EQ(Policy_getPolicy(ids, 2, "named", 5, &parsed), 1);
  EXPECT_STREQ(parsed->name, "named");
  EXPECT_EQ(parsed->keyCount, 2);
  EXPECT_EQ(parsed->firstVersionFlag, 0) << "the low 16 bits of 0x10000 are 0";
  EXPECT_EQ(parsed->keys->version, 0x10000);
  EXPECT_EQ(parsed->patternChars, nullptr) << "item 12 is not read under ALL";
  freePolicy(&parsed);
  EXPECT_EQ(parsed, nullptr);
  EXPECT_EQ(Policy_getPolicy(ids, 2, "name", 4, &parsed), 0);
  EXPECT_EQ(Policy_getPolicy(ids, 2, "namedx", 6, &parsed), 0);
  EXPECT_EQ(parsed, nullptr);
  BerTlv_free(list);
}

// ---------------------------------------------------------------------------
// Malformed policies: each is skipped, the good policy after it still loads.

struct Malformed {
  const char* name;
  std::function<Bytes()> policy;  // the encoded bad policy, named "bad"
};

Bytes Items(const std::function<void(std::vector<Bytes>&)>& change,
            const std::function<void(PolicyDesc&)>& edit = nullptr) {
  PolicyDesc p = Policy("bad");
  if (edit) edit(p);
  std::vector<Bytes> items = qor::agent::EncodePolicyItems(p);
  change(items);
  return qor::agent::EncodeSequence(items);
}

Bytes Edited(const std::function<void(PolicyDesc&)>& edit) {
  return Items([](std::vector<Bytes>&) {}, edit);
}

std::vector<Malformed> MalformedCases() {
  using qor::agent::EncodeNumber;
  using qor::agent::EncodeSequence;
  using qor::agent::EncodeText;
  using qor::agent::EncodeTlv;
  return {
      {"32 items", [] { return Items([](auto& i) { i.pop_back(); }); }},
      {"only 5 items", [] { return Items([](auto& i) { i.resize(5); }); }},
      {"item 2 constructed", [] { return Items([](auto& i) { i[1] = EncodeSequence({EncodeText("x")}); }); }},
      {"item 4 constructed", [] { return Items([](auto& i) { i[3] = EncodeSequence({EncodeNumber(128)}); }); }},
      {"item 4 nine bytes", [] { return Items([](auto& i) { i[3] = EncodeTlv(0x02, Bytes(9, 1)); }); }},
      {"item 4 beyond 32 bits", [] { return Items([](auto& i) { i[3] = EncodeNumber(1ull << 40); }); }},
      {"item 5 empty", [] { return Items([](auto& i) { i[4] = EncodeSequence({}); }); }},
      {"item 5 a text", [] { return Items([](auto& i) { i[4] = EncodeText("keys"); }); }},
      {"item 9 constructed", [] { return Items([](auto& i) { i[8] = EncodeSequence({}); }); }},
      {"item 19 nine bytes", [] { return Items([](auto& i) { i[18] = EncodeTlv(0x02, Bytes(9, 0)); }); }},
      {"item 33 constructed", [] { return Items([](auto& i) { i[32] = EncodeSequence({}); }); }},
      {"key record of four fields",
       [] {
         return Items([](auto& i) {
           i[4] = EncodeSequence({EncodeSequence({EncodeNumber(1), EncodeTlv(0x04, Bytes(16, 1)),
                                                  EncodeText("active"), EncodeText("1234")})});
         });
       }},
      {"key record not a SEQUENCE",
       [] { return Items([](auto& i) { i[4] = EncodeSequence({EncodeText("key")}); }); }},
      {"key shorter than the key length",
       [] { return Edited([](PolicyDesc& p) { p.keys[0].key.resize(15); }); }},
      {"second key shorter than the key length",
       [] {
         return Edited([](PolicyDesc& p) {
           p.keyBits = 256;
           p.keys = {KeyVersionDesc{2, Bytes(32, 2)}, KeyVersionDesc{1, Bytes(16, 1)}};
         });
       }},
      {"rule text of 128 characters",
       [] {
         return Edited([](PolicyDesc& p) {
           p.acl = {AccessRuleDesc{}};
           p.acl[0].rules[2] = {std::string(128, 'r')};
         });
       }},
      {"date text of 16 characters",
       [] {
         return Edited([](PolicyDesc& p) {
           p.acl = {AccessRuleDesc{}};
           p.acl[0].dateTo = "2026-12-31-23:59";
         });
       }},
      {"rule list not a SEQUENCE",
       [] {
         return Items(
             [](auto& i) {
               Bytes entry = EncodeSequence({EncodeText("app"), EncodeSequence({}), EncodeSequence({}),
                                             EncodeSequence({}), EncodeText(""), EncodeText(""),
                                             EncodeText(""), EncodeText(""), EncodeTlv(1, {1}),
                                             EncodeTlv(1, {1})});
               i[26] = EncodeSequence({entry});
             });
       }},
      {"access rule entry of nine fields",
       [] {
         return Items([](auto& i) {
           Bytes entry = EncodeSequence({EncodeSequence({}), EncodeSequence({}), EncodeSequence({}),
                                         EncodeSequence({}), EncodeText(""), EncodeText(""),
                                         EncodeText(""), EncodeText(""), EncodeTlv(1, {1})});
           i[26] = EncodeSequence({entry});
         });
       }},
      {"item length beyond its policy",
       [] {
         return Items([](auto& i) {
           Bytes& last = i.back();  // a flag claiming two bytes where one is
           last[1] = 2;
         });
       }},
  };
}

TEST(PolicyMalformed, UnreadablePoliciesAreSkipped) {
  qor::test::LogCapture log;
  ASSERT_TRUE(log.ok());
  for (const Malformed& c : MalformedCases()) {
    const Bytes good = qor::agent::EncodeSequence(qor::agent::EncodePolicyItems(Policy("good")));
    const Bytes record = qor::agent::EncodePolicyRecord(Bytes(88, 0), {c.policy(), good});
    testing::internal::CaptureStdout();
    Mgr m = ParseRecord(record);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(Find(m.get(), "bad"), nullptr) << c.name;
    EXPECT_NE(Find(m.get(), "good"), nullptr) << c.name;
    // The host's standard output stays untouched; the log says it once.
    EXPECT_EQ(out, "") << c.name;
  }
  EXPECT_NE(log.text().find("Packet data invalid; initialization failed.\n"), std::string::npos);
  EXPECT_NE(log.text().find("not found pPolicyData [1 of 2 policies skipped]"), std::string::npos);
}

TEST(PolicyMalformed, ShortPolicyAtTheEndOfTheList) {
  // The last element of the record: reading items by position would walk off the list.
  PolicyDesc p = Policy("last");
  std::vector<Bytes> items = qor::agent::EncodePolicyItems(p);
  items.resize(3);
  const Bytes record =
      qor::agent::EncodePolicyRecord(Bytes(88, 0), {qor::agent::EncodeSequence(items)});
  testing::internal::CaptureStdout();
  Mgr m = ParseRecord(record);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(m->GetPolicyCount(m.get()), 0);
}

TEST(PolicyMalformed, EveryTruncationOfARecord) {
  PolicyDesc a = Policy("alpha", "AES", 256);
  a.keys = {KeyVersionDesc{2, Bytes(32, 2)}, KeyVersionDesc{1, Bytes(32, 1)}};
  a.acl = {AccessRuleDesc{}};
  a.acl[0].rules[0] = {"app"};
  PolicyDesc b = Policy("beta");
  const Bytes record = qor::agent::EncodePolicySet({Bytes(88, 3), {a, b}});
  testing::internal::CaptureStdout();
  for (size_t n = 0; n <= record.size(); ++n) {
    Bytes cut(record.begin(), record.begin() + static_cast<std::ptrdiff_t>(n));
    Mgr m = ParseRecord(cut);
    const int count = m->GetPolicyCount(m.get());
    ASSERT_LE(count, 2) << n;
    // The outer SEQUENCE claims the whole record: any cut drops everything in it.
    if (n < record.size()) {
      EXPECT_EQ(count, 0) << n;
    } else {
      EXPECT_EQ(count, 2);
    }
  }
  testing::internal::GetCapturedStdout();
  Mgr none = ParseRecord({});
  EXPECT_EQ(none->GetPolicyCount(none.get()), 0);
  EXPECT_EQ(KeyMgrParse(nullptr, none.get(), 0, 0), 1);
  EXPECT_EQ(KeyMgrParse(nullptr, nullptr, 0, 0), 1);
}

TEST(PolicyMalformed, CorruptedBytesNeverCrash) {
  PolicyDesc a = Policy("alpha");
  a.acl = {AccessRuleDesc{}};
  a.acl[0].rules = {std::vector<std::string>{"a"}, {"b"}, {"c"}, {"1"}};
  const Bytes record = qor::agent::EncodePolicySet({Bytes(88, 3), {a, Policy("beta")}});
  std::mt19937 rng(7);
  testing::internal::CaptureStdout();
  for (int round = 0; round < 300; ++round) {
    Bytes changed = record;
    for (int k = 0; k < 3; ++k) changed[rng() % changed.size()] = static_cast<uint8_t>(rng());
    Mgr m = ParseRecord(changed);
    EXPECT_LE(m->GetPolicyCount(m.get()), 2);
  }
  testing::internal::GetCapturedStdout();
}

// ---------------------------------------------------------------------------

TEST(PolicyAudit, AnyAuditItemSwitchesAuditingOnForGood) {
  const std::string failure = qor::test::RunInChild([]() -> std::string {
    qor::agent::AuditFlag.store(0);  // earlier tests in this process may have set it
    ParseSet({Bytes(88, 0), {Policy("quiet")}});
    CHILD_CHECK(qor::agent::AuditFlag.load() == 0);
    PolicyDesc almost = Policy("almost");
    almost.audit = {254, 1, 0, 128};
    ParseSet({Bytes(88, 0), {almost}});
    CHILD_CHECK(qor::agent::AuditFlag.load() == 0);
    PolicyDesc loud = Policy("loud");
    loud.audit[2] = 255;
    ParseSet({Bytes(88, 0), {Policy("quiet"), loud}});
    CHILD_CHECK(qor::agent::AuditFlag.load() == 1);
    ParseSet({Bytes(88, 0), {Policy("quiet")}});
    CHILD_CHECK(qor::agent::AuditFlag.load() == 1);
    return "";
  });
  EXPECT_EQ(failure, "");
}

TEST(PolicyAudit, UnreadablePolicyDoesNotSwitchAuditingOn) {
  const std::string failure = qor::test::RunInChild([]() -> std::string {
    qor::agent::AuditFlag.store(0);
    PolicyDesc bad = Policy("bad");
    bad.audit[0] = 255;
    bad.keys[0].key.resize(3);
    testing::internal::CaptureStdout();
    ParseSet({Bytes(88, 0), {bad}});
    testing::internal::GetCapturedStdout();
    CHILD_CHECK(qor::agent::AuditFlag.load() == 0);
    return "";
  });
  EXPECT_EQ(failure, "");
}

// ---------------------------------------------------------------------------

TEST(KeyRecord, SingleKeyAnswerParsesToFiveFields) {
  KeyVersionDesc k{0x20009, Bytes(16, 0xAB), "deactive", "2026121012Z", "2027010100Z"};
  Bytes record = qor::agent::EncodeKeyRecord(k);
  uint32_t count = 0;
  BerTlvNode* list =
      Parse_Tlv(record.data(), static_cast<uint32_t>(record.size()), 0, &count, nullptr);
  ASSERT_EQ(count, 6u);
  EXPECT_EQ(list->tlv.tag, BER_TAG_SEQUENCE);
  const BerTlvNode* f = list->next;
  uint64_t version = 0;
  for (uint32_t i = 0; i < f->tlv.length; ++i) version = (version << 8) | f->tlv.value[i];
  EXPECT_EQ(version & 0xFFFF, 9u);
  f = f->next;
  EXPECT_EQ(Bytes(f->tlv.value, f->tlv.value + f->tlv.length), k.key);
  f = f->next;
  char* status = Policy_split_item(&f->tlv);
  EXPECT_STREQ(status, "deactive");
  std::free(status);
  EXPECT_EQ(Policy_split_item2(&f->next->tlv), 20261210);
  EXPECT_EQ(Policy_split_item2(&f->next->next->tlv), 20270101);
  BerTlv_free(list);
}

TEST(KeyRecord, ReadKeyRecordChecksShapeAndKeyLength) {
  using qor::agent::EncodeNumber;
  using qor::agent::EncodeSequence;
  using qor::agent::EncodeText;
  using qor::agent::EncodeTlv;
  KeyVersionDesc k{0x10003, Bytes(32, 0x5A), "active", "2026121012Z", "1234"};
  const Bytes good = qor::agent::EncodeKeyRecord(k);
  {
    qor::agent::KeyRecord r;
    ASSERT_TRUE(qor::agent::ReadKeyRecord(good.data(), good.size(), 32, &r));
    EXPECT_EQ(r.version, 0x10003);
    EXPECT_EQ(r.key, k.key);
    EXPECT_EQ(r.status, "active");
    EXPECT_EQ(r.firstTime, 20261210);
    EXPECT_EQ(r.secondTime, 1);
  }
  const Bytes key16 = Bytes(16, 1);
  const struct {
    const char* name;
    Bytes record;
    uint32_t keyBytes;
  } refused[] = {
      {"key shorter than the policy's", good, 33},
      {"four fields",
       EncodeSequence({EncodeNumber(1), EncodeTlv(4, key16), EncodeText("active"), EncodeText("1234")}),
       16},
      {"a field constructed",
       EncodeSequence({EncodeNumber(1), EncodeSequence({EncodeTlv(4, key16)}), EncodeText("active"),
                       EncodeText("1234"), EncodeText("1234")}),
       16},
      {"version of nine bytes",
       EncodeSequence({EncodeTlv(2, Bytes(9, 1)), EncodeTlv(4, key16), EncodeText("active"),
                       EncodeText("1234"), EncodeText("1234")}),
       16},
      {"not a SEQUENCE", EncodeText("key"), 0},
      {"cut short", Bytes(good.begin(), good.end() - 1), 32},
      {"empty", Bytes{}, 0},
  };
  for (const auto& c : refused) {
    qor::agent::KeyRecord r;
    EXPECT_FALSE(qor::agent::ReadKeyRecord(c.record.data(), c.record.size(), c.keyBytes, &r))
        << c.name;
  }
}

}  // namespace
