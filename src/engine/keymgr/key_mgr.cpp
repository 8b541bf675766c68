// The key manager: every policy of the current key set by name, the IV all of
// them share, the agent's policy hash and the HMAC function handed to each.
#include "qor/key_mgr.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/secure_wipe.h"
#include "engine/cipher/fixed_secrets.h"
#include "engine/keymgr/key_mgr_table.h"
#include "log/log.h"
#include "qor/hashtable.h"

namespace {

constexpr char kLogUnit[] = "source/Crypto/KeyMgr";
constexpr uint64_t kTableSize = 16;

// A table replaced by a grown copy while calls may still be walking it. It is
// freed when the key set is cleared or destroyed, which the instance does only
// once every call has left.
struct RetiredTable {
  Hashtable* table;
  RetiredTable* next;
};

struct KeyMgrData {
  // Lookups read it without a lock (TableOf); once the key set is in service
  // it is only ever replaced whole (PublishWithAdded), never changed in place.
  Hashtable* table;
  RetiredTable* retired;
  // Changes whenever a lookup could find something else or the policies
  // could be freed: every insert in place, every clear. Never reused, so a
  // thread's cached lookup of a key set that is gone cannot match.
  uint64_t generation;
  unsigned char iv[16];
  unsigned char policyHash[QOR_POLICY_HASH_SIZE];
  QOR_HmacFn hmac;
};

KeyMgrData* DataOf(KeyMgr* mgr) {
  return mgr != nullptr ? static_cast<KeyMgrData*>(mgr->data) : nullptr;
}

std::atomic<uint64_t> gGenerations{0};

void NewGeneration(KeyMgrData* data) {
  std::atomic_ref<uint64_t>(data->generation)
      .store(gGenerations.fetch_add(1, std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

// This thread's last policy found, by the caller's name bytes. Database
// callers look the same column's policy up value after value, and the table
// search costs as much as the cipher work on a short value. Appends never
// change what an existing name finds (they add only missing names), so only
// a new generation makes an entry stale.
constexpr int32_t kCachedNameMost = 64;
struct LookupCache {
  uint64_t generation;  // 0: nothing cached
  KeyInfo* info;
  int32_t length;
  int32_t ignoreCase;
  char name[kCachedNameMost];
};
constinit thread_local LookupCache t_lookup{};

Hashtable* TableOf(KeyMgrData* data) {
  return std::atomic_ref<Hashtable*>(data->table).load(std::memory_order_acquire);
}

void SetTable(KeyMgrData* data, Hashtable* table) {
  std::atomic_ref<Hashtable*>(data->table).store(table, std::memory_order_release);
}

void FreeRetired(KeyMgrData* data) {
  while (RetiredTable* r = data->retired) {
    data->retired = r->next;
    Hashtable_Destroy(r->table, 0);  // the values live on in the newer table
    std::free(r);
  }
}

// The table's release function for its KeyInfo values.
void ReleaseKeyInfo(void** value) {
  auto* info = static_cast<KeyInfo*>(*value);
  if (info != nullptr && info->Destroy != nullptr) info->Destroy(&info);
  *value = nullptr;
}

int32_t AuditSwitch(int32_t auditByte) { return static_cast<uint8_t>(auditByte) == 0xFF ? 1 : 0; }

// The pattern type of a partial policy, 0 when the text names none.
int32_t PatternType(const char* text) {
  if (std::strcmp(text, "EXCLUDE_STRING") == 0) return QOR_PATTERN_EXCLUDE_STRING;
  if (std::strcmp(text, "CHARACTER") == 0) return QOR_PATTERN_CHARACTER;
  if (std::strcmp(text, "MIDDLE") == 0) return QOR_PATTERN_MIDDLE;
  return QOR_PATTERN_NONE;
}

KeyInfo* AddKeyInfo(KeyMgr* mgr, const DataBuffer* name, const char* algorithm, int64_t policyKind,
                    int64_t ivType, int32_t errorProcess, int32_t keyLength, int32_t keyCount,
                    const KeyEntry* keys, int32_t /*firstVersionFlag*/, int32_t partial,
                    const char* patternType, int32_t position, const DataBuffer* patternChars,
                    int32_t nullProcess, int32_t encDuplication, int32_t decDuplication,
                    int32_t compatibility, int32_t /*unused*/, int32_t aclCount,
                    const AccessControlData* acl, int32_t unauthorizedDecryption, int32_t prio,
                    int32_t audit1, int32_t audit2, int32_t audit3, int32_t audit4,
                    int32_t decryptCountUnit, int32_t decryptCnt, int32_t targetExist,
                    int32_t orgFileHandling, const char* orgBackupExtension, int32_t encFileDelete,
                    int32_t encDataVerify, int32_t orgDataVerify, int32_t mode) {
  KeyMgrData* data = DataOf(mgr);
  if (data == nullptr || data->table == nullptr) {
    QOR_LOG(qor::log::kCrit, "Null Pointer Exception\n");
    return nullptr;
  }
  const uint32_t algType = GetCryptoAlgorithmType(algorithm, keyLength);
  const DataBuffer iv{16, data->iv};

  PatternBlock pattern{};
  bool hasPattern = false;
  if (partial != 0 && patternType != nullptr) {
    pattern.type = PatternType(patternType);
    hasPattern = pattern.type != QOR_PATTERN_NONE;
    pattern.position = position;
    // The characters fit with their terminator, or none are kept.
    if (patternChars != nullptr && patternChars->data != nullptr && patternChars->length > 0 &&
        patternChars->length <= 256) {
      std::memcpy(pattern.chars, patternChars->data, static_cast<size_t>(patternChars->length));
    }
  }

  const uint64_t auditPair1 = static_cast<uint32_t>(AuditSwitch(audit1)) |
                              (static_cast<uint64_t>(AuditSwitch(audit2)) << 32);
  const uint64_t auditPair2 = static_cast<uint32_t>(AuditSwitch(audit3)) |
                              (static_cast<uint64_t>(AuditSwitch(audit4)) << 32);

  UACipherUtil* cipher = UACipherUtil_CreateEx3(
      algType, name, keyLength, keyCount, keys, &iv, data->hmac, hasPattern ? &pattern : nullptr,
      nullProcess, aclCount, acl, unauthorizedDecryption, prio, errorProcess, auditPair1,
      auditPair2, decryptCnt, targetExist, orgFileHandling, orgBackupExtension, encFileDelete,
      encDataVerify, orgDataVerify, mode, decryptCountUnit);
  if (cipher == nullptr) {
    QOR_LOG(qor::log::kCrit, "UACipherUtil Create Failed\n");
    return nullptr;
  }
  UACipherUtil_SetEncDuplication(&cipher, encDuplication);
  UACipherUtil_SetDecDuplication(&cipher, decDuplication);
  cipher->SetCompatibility(&cipher, compatibility);
  // Every version of a record-IV policy carries the tail from the start, so a
  // process that decrypts before it ever encrypts still strips it.
  if (ivType == QOR_IV_RECORD) {
    for (CipherUtil* r = cipher->data->ciphers; r != nullptr; r = r->next) r->useRecordIV = 1;
  }

  // KeyInfo_Create releases the cipher itself when it fails.
  KeyInfo* info = KeyInfo_Create(name, algType, policyKind, ivType, cipher);
  if (info == nullptr) {
    QOR_LOG(qor::log::kCrit, "KeyInfo Create Failed\n");
    return nullptr;
  }
  NewGeneration(data);
  if (Hashtable_insert(data->table, info->nameLength, info->name, info, algType, ReleaseKeyInfo) !=
      0) {
    QOR_LOG(qor::log::kCrit, "Memory Allocation Failed.\n");
    info->Destroy(&info);
    return nullptr;
  }
  return info;
}

int AppendKeyInfo(KeyMgr* mgr, KeyInfo* info) {
  KeyMgrData* data = DataOf(mgr);
  if (data == nullptr || data->table == nullptr || info == nullptr || info->name == nullptr) {
    return 1;
  }
  UACipherUtil* cipher = info->cipher;
  const uint64_t algType =
      cipher != nullptr ? static_cast<uint64_t>(cipher->GetAlgorithmType(&cipher)) : 0;
  NewGeneration(data);
  return Hashtable_insert(data->table, info->nameLength, info->name, info, algType,
                          ReleaseKeyInfo) == 0
             ? 0
             : 1;
}

KeyInfo* GetKeyInfo(KeyMgr* mgr, const DataBuffer* name) {
  KeyMgrData* data = DataOf(mgr);
  Hashtable* table = data != nullptr ? TableOf(data) : nullptr;
  if (table == nullptr || name == nullptr || name->data == nullptr || name->length <= 0) {
    return nullptr;
  }
  const uint64_t generation =
      std::atomic_ref<uint64_t>(data->generation).load(std::memory_order_relaxed);
  const int32_t ignoreCase = Hashtable_GetIgnoreCaseKeyName();
  LookupCache& cache = t_lookup;
  if (cache.generation == generation && cache.length == name->length &&
      cache.ignoreCase == ignoreCase &&
      std::memcmp(cache.name, name->data, static_cast<size_t>(name->length)) == 0) {
    return cache.info;
  }
  auto* info = static_cast<KeyInfo*>(
      Hashtable_search(table, name->length, reinterpret_cast<const char*>(name->data)));
  // Misses are not kept: the next call may append the policy.
  if (info != nullptr && name->length <= kCachedNameMost) {
    cache.generation = generation;
    cache.info = info;
    cache.length = name->length;
    cache.ignoreCase = ignoreCase;
    std::memcpy(cache.name, name->data, static_cast<size_t>(name->length));
  }
  return info;
}

void SetPolicyHash(KeyMgr* mgr, const unsigned char* hash) {
  KeyMgrData* data = DataOf(mgr);
  if (data == nullptr || hash == nullptr) {
    QOR_LOG(qor::log::kCrit, "Policy Hash Data is Empty or Null\n");
    return;
  }
  std::memcpy(data->policyHash, hash, QOR_POLICY_HASH_SIZE);
}

int CheckPolicyHash(KeyMgr* mgr, const DataBuffer* hash) {
  KeyMgrData* data = DataOf(mgr);
  if (data == nullptr || hash == nullptr || hash->data == nullptr || hash->length == 0) {
    QOR_LOG(qor::log::kCrit, "Policy Hash Data is Empty or Null\n");
    return 1;
  }
  if (hash->length != QOR_POLICY_HASH_SIZE) {
    QOR_LOG(qor::log::kCrit, "Policy Hash Length is invalid\n");
    return 1;
  }
  return std::memcmp(data->policyHash, hash->data, QOR_POLICY_HASH_SIZE);
}

int LoadKeyName(KeyMgr* mgr, char*** names) {
  KeyMgrData* data = DataOf(mgr);
  if (data == nullptr) {
    if (names != nullptr) *names = nullptr;
    return 0;
  }
  return Hashtable_LoadKeyNames(TableOf(data), names);
}

int GetPolicyCount(KeyMgr* mgr) {
  KeyMgrData* data = DataOf(mgr);
  Hashtable* table = data != nullptr ? TableOf(data) : nullptr;
  return table != nullptr ? static_cast<int>(Hashtable_Count(table)) : 0;
}

void* Clear(KeyMgr* mgr) {
  KeyMgrData* data = DataOf(mgr);
  if (data == nullptr) return nullptr;
  InitInternalRecordIV();
  std::memcpy(data->iv, qor::engine::NC_NEW_FIXED_IV, sizeof(data->iv));
  NewGeneration(data);
  FreeRetired(data);
  Hashtable_Destroy(data->table, 1);
  SetTable(data, Hashtable_Create(kTableSize));
  if (data->table == nullptr) QOR_LOG(qor::log::kCrit, "Memory Allocation Failed.\n");
  return data->table;
}

void Destroy(KeyMgr** mgr) {
  if (mgr == nullptr || *mgr == nullptr) return;
  if (KeyMgrData* data = DataOf(*mgr)) {
    qor::SecureWipe(data->iv, sizeof(data->iv));
    qor::SecureWipe(data->policyHash, sizeof(data->policyHash));
    FreeRetired(data);
    Hashtable_Destroy(data->table, 1);
    qor::SecureWipe(data, sizeof(*data));
    std::free(data);
  }
  qor::SecureWipe(*mgr, sizeof(**mgr));
  std::free(*mgr);
  *mgr = nullptr;
  QOR_LOG(qor::log::kDebug, "encryption key zeroizaiton\n");
}

}  // namespace

namespace qor::engine {

int PublishWithAdded(KeyMgr* mgr, KeyInfo* const* added, int count) {
  KeyMgrData* data = DataOf(mgr);
  if (data == nullptr || data->table == nullptr || count < 0 || (count > 0 && added == nullptr)) {
    return 1;
  }
  if (count == 0) return 0;
  // Taken first: without it the old table could be neither kept nor freed.
  auto* retired = static_cast<RetiredTable*>(std::malloc(sizeof(RetiredTable)));
  if (retired == nullptr) return 1;
  Hashtable* old = data->table;
  Hashtable* fresh = Hashtable_Create(Hashtable_Count(old) + static_cast<uint64_t>(count));
  bool ok = fresh != nullptr;
  // Each chain is copied oldest first, so that several entries of one name
  // keep their newest-first order.
  std::vector<HashEntry*> chain;
  for (uint64_t i = 0; ok && i < old->tablelength; ++i) {
    chain.clear();
    for (HashEntry* e = old->table[i]; e != nullptr; e = e->next) chain.push_back(e);
    for (auto e = chain.rbegin(); ok && e != chain.rend(); ++e) {
      const HashKey* key = (*e)->key;
      const HashValue* value = (*e)->value;
      ok = Hashtable_insert(fresh, static_cast<int32_t>(key->length), key->data, value->data,
                            value->type, value->release) == 0;
    }
  }
  for (int i = 0; ok && i < count; ++i) {
    KeyInfo* info = added[i];
    UACipherUtil* cipher = info != nullptr ? info->cipher : nullptr;
    const uint64_t algType =
        cipher != nullptr ? static_cast<uint64_t>(cipher->GetAlgorithmType(&cipher)) : 0;
    ok = info != nullptr && info->name != nullptr &&
         Hashtable_insert(fresh, info->nameLength, info->name, info, algType, ReleaseKeyInfo) == 0;
  }
  if (!ok) {
    Hashtable_Destroy(fresh, 0);  // the values still belong to the old table and the caller
    std::free(retired);
    QOR_LOG(qor::log::kCrit, "Memory Allocation Failed.\n");
    return 1;
  }
  SetTable(data, fresh);
  *retired = RetiredTable{old, data->retired};
  data->retired = retired;
  return 0;
}

}  // namespace qor::engine

extern "C" {

KeyMgr* KeyMgr_Create(QOR_HmacFn hmac) {
  auto* mgr = static_cast<KeyMgr*>(std::calloc(1, sizeof(KeyMgr)));
  auto* data = static_cast<KeyMgrData*>(std::calloc(1, sizeof(KeyMgrData)));
  if (mgr == nullptr || data == nullptr) {
    QOR_LOG(qor::log::kCrit, "Memory Allocation Failed.\n");
    std::free(mgr);
    std::free(data);
    return nullptr;
  }
  mgr->data = data;
  mgr->AddKeyInfo = AddKeyInfo;
  mgr->AppendKeyInfo = AppendKeyInfo;
  mgr->GetKeyInfo = GetKeyInfo;
  mgr->SetPolicyHash = SetPolicyHash;
  mgr->CheckPolicyHash = CheckPolicyHash;
  mgr->LoadKeyName = LoadKeyName;
  mgr->GetPolicyCount = GetPolicyCount;
  mgr->Clear = Clear;
  mgr->Destroy = Destroy;
  NewGeneration(data);
  InitInternalRecordIV();
  std::memcpy(data->iv, qor::engine::NC_NEW_FIXED_IV, sizeof(data->iv));
  data->table = Hashtable_Create(kTableSize);
  if (data->table == nullptr) {
    QOR_LOG(qor::log::kCrit, "Memory Allocation Failed.\n");
    Destroy(&mgr);
    return nullptr;
  }
  data->hmac = hmac;
  return mgr;
}

}  // extern "C"
