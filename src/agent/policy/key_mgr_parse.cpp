// Turns a whole policy record into key manager entries: parse, read each
// policy, map its keywords to option codes and hand it to AddKeyInfo.
#include "agent/policy/key_mgr_parse.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "agent/policy/policy_in_place.h"
#include "agent/policy/tlv_list.h"
#include "log/log.h"
#include "qor/policy.h"

namespace {
constexpr char kLogUnit[] = "source/PolicyStv3.6";
}  // namespace

namespace qor::agent {

std::atomic<int> AuditFlag{0};

namespace {

bool Is(const char* text, const char* keyword) {
  return text != nullptr && std::strcmp(text, keyword) == 0;
}

struct Keyword {
  const char* text;
  int32_t code;
};

template <size_t N>
int32_t Lookup(const char* text, const Keyword (&table)[N], int32_t otherwise) {
  for (const Keyword& k : table) {
    if (Is(text, k.text)) return k.code;
  }
  return otherwise;
}

}  // namespace

int32_t IvTypeOf(const char* text) { return Is(text, "RECORD") ? 2 : 1; }

int32_t ErrorProcessOf(const char* text) {
  static constexpr Keyword kTable[] = {{"RETURN_ERROR", 1}, {"RETURN_NULL", 2}};
  return Lookup(text, kTable, 3);
}

int32_t DuplicationOf(const char* text) {
  static constexpr Keyword kTable[] = {{"ALLOW", 0}, {"RETURN_INPUT", 1}};
  return Lookup(text, kTable, 2);
}

int32_t PositionOf(const char* text) {
  static constexpr Keyword kTable[] = {{"FRONT", 1}, {"BACK", 2}};
  return Lookup(text, kTable, 0);
}

int32_t CompatibilityOf(const char* text, int32_t configCompatibility) {
  if (Is(text, "ULVEX")) return 0;
  return configCompatibility != 0 ? 2 : 1;
}

int32_t DecryptCountUnitOf(const char* text) {
  static constexpr Keyword kTable[] = {{"DAY", 1}, {"HOUR", 2}};
  return Lookup(text, kTable, 0);
}

int32_t UnauthorizedDecryptionOf(const char* text) {
  static constexpr Keyword kTable[] = {{"RETURN_NULL", 1},
                                       {"ERROR", 2},
                                       {"CIPHERTEXT", 3},
                                       {"USER_DEFINED1", 4},
                                       {"USER_DEFINED2", 5}};
  return Lookup(text, kTable, 0);
}

int32_t PrioOf(const char* text) {
  static constexpr Keyword kTable[] = {{"ALLOW_FIRST", 1}, {"BLOCK_FIRST", 2}};
  return Lookup(text, kTable, 0);
}

int32_t TargetExistOf(const char* text) {
  static constexpr Keyword kTable[] = {{"BYPASS", 1}, {"OVERWRITE", 2}, {"RENAME", 3}};
  return Lookup(text, kTable, 4);
}

int32_t OrgFileHandlingOf(const char* text, const char* backupExtension) {
  if (Is(text, "DELETE")) return 1;
  if (Is(text, "BACKUP") && (backupExtension == nullptr || backupExtension[0] == 0)) return 0;
  return 2;
}

namespace {

int32_t Clamp32(uint64_t v) { return v > INT32_MAX ? INT32_MAX : static_cast<int32_t>(v); }

}  // namespace

void AddParsedPolicy(KeyMgr* mgr, const PolicyData& p, uint32_t nameLength, int32_t cryptoMode,
                     int32_t configCompatibility) {
  const bool partial = !Is(p.patternType, "ALL");
  bool audit = false;
  for (uint8_t a : p.audit) audit = audit || a == 0xFF;
  if (audit) AuditFlag.store(1, std::memory_order_relaxed);

  const DataBuffer name{static_cast<int32_t>(nameLength),
                        reinterpret_cast<unsigned char*>(p.name)};
  const DataBuffer chars{p.patternCharsLength, reinterpret_cast<unsigned char*>(p.patternChars)};
  const int32_t dup = DuplicationOf(p.duplication);
  mgr->AddKeyInfo(mgr, &name, p.algorithm, 4, IvTypeOf(p.ivType), ErrorProcessOf(p.errorProcess),
                  static_cast<int32_t>(p.keyBits / 8), p.keyCount & 0xFFFF, p.keys,
                  p.firstVersionFlag, partial ? 1 : 0, partial ? p.patternType : nullptr,
                  partial ? PositionOf(p.position) : 0,
                  partial && p.patternChars != nullptr ? &chars : nullptr, p.nullProcess != 0 ? 1 : 0,
                  dup, dup, CompatibilityOf(p.compatibility, configCompatibility), 0, p.aclCount,
                  p.acl, UnauthorizedDecryptionOf(p.unauthorizedDecryption), PrioOf(p.prio),
                  p.audit[0], p.audit[1], p.audit[2], p.audit[3],
                  DecryptCountUnitOf(p.decryptCountUnit), Clamp32(p.decryptCnt),
                  TargetExistOf(p.targetExist),
                  OrgFileHandlingOf(p.orgFileHandling, p.orgBackupExtension),
                  p.orgBackupExtension, p.encFileDelete, p.encDataVerify, p.orgDataVerify,
                  cryptoMode);
}

namespace {

void Parse(const DataBuffer* record, KeyMgr* mgr, int32_t cryptoMode, int32_t compatibility) {
  // The elements point into the caller's record, which outlives the parse and
  // is only read: every item the key manager keeps is copied out of it.
  std::vector<BerTlvNode> nodes;
  const bool any = record != nullptr && record->data != nullptr && record->length > 0;
  BerTlvNode* head =
      any ? ParseTlvBlock(record->data, static_cast<uint32_t>(record->length), &nodes) : nullptr;
  const auto count = static_cast<uint32_t>(nodes.size());

  const BerTlv* hash = nullptr;
  const uint32_t policies = Policy_count(head, count, &hash);
  if (hash != nullptr) {
    // A short hash is zero-filled: it then matches no agent hash, so the next
    // check reloads rather than reading past the value.
    unsigned char padded[QOR_POLICY_HASH_SIZE] = {0};
    std::memcpy(padded, hash->value,
                hash->length < QOR_POLICY_HASH_SIZE ? hash->length : QOR_POLICY_HASH_SIZE);
    mgr->SetPolicyHash(mgr, padded);
  } else {
    mgr->SetPolicyHash(mgr, nullptr);
  }

  std::vector<const BerTlvNode*> ids(policies);
  const uint32_t idCount = Policy_getIDList(head, count, ids.data());
  // Each name resolves to its first policy in the list, as a search from the
  // front would; the index keeps a large set from costing a scan per policy.
  std::unordered_map<std::string_view, uint32_t> firstByName;
  firstByName.reserve(idCount);
  for (uint32_t i = 0; i < idCount; ++i) {
    const BerTlv* nameItem = Policy_getName(ids[i]);
    if (nameItem == nullptr) continue;
    firstByName.emplace(
        std::string_view(reinterpret_cast<const char*>(nameItem->value), nameItem->length), i);
  }
  // The host's standard output is not ours: a skipped policy is counted and
  // logged once.
  uint32_t skipped = 0;
  std::vector<char> texts;  // one policy's text items at a time
  for (uint32_t i = 0; i < idCount; ++i) {
    const BerTlv* nameItem = Policy_getName(ids[i]);
    if (nameItem == nullptr) {
      ++skipped;
      continue;
    }
    const auto found = firstByName.find(
        std::string_view(reinterpret_cast<const char*>(nameItem->value), nameItem->length));
    const uint32_t first = found != firstByName.end() ? found->second : 0;
    PolicyData parsed;
    bool read = false;
    try {
      read = ReadPolicyInPlace(ids[first], &parsed, &texts);
    } catch (const std::bad_alloc&) {
      read = false;  // this policy only, as when its copies could not be made
    }
    if (!read) {
      ++skipped;
      continue;
    }
    AddParsedPolicy(mgr, parsed, nameItem->length, cryptoMode, compatibility);
    ReleasePolicyInPlace(&parsed);
  }
  if (skipped != 0) {
    QOR_LOG(qor::log::kCrit, "not found pPolicyData [%u of %u policies skipped]\n", skipped,
            idCount);
  }
}

}  // namespace
}  // namespace qor::agent

extern "C" int KeyMgrParse(const DataBuffer* record, KeyMgr* mgr, int32_t cryptoMode,
                           int32_t compatibility) {
  if (mgr == nullptr || mgr->AddKeyInfo == nullptr) {
    QOR_LOG(qor::log::kCrit, "Null Pointer Exception\n");
    return 1;
  }
  try {
    qor::agent::Parse(record, mgr, cryptoMode, compatibility);
  } catch (const std::bad_alloc&) {
    QOR_LOG(qor::log::kCrit, "Memory Allocation Failed.\n");
  }
  return 1;
}
