#include "engine/keymgr/policy_table.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "engine/keymgr/key_mgr_table.h"
#include "qor/hashtable.h"

namespace qor::engine {

ShardedSharedMutex& PolicyTableLock() {
  // Never destroyed: host threads may still look policies up while the process exits.
  static ShardedSharedMutex* lock = new ShardedSharedMutex();
  return *lock;
}

KeyInfo* FindPolicy(KeyMgr* mgr, const DataBuffer* name) { return mgr->GetKeyInfo(mgr, name); }

int LoadPolicyNames(KeyMgr* mgr, char*** names) {
  std::shared_lock lock(PolicyTableLock());
  return mgr->LoadKeyName(mgr, names);
}

void AppendMissingPolicies(KeyMgr* target, KeyMgr* fetched) {
  std::unique_lock lock(PolicyTableLock());
  char** names = nullptr;
  const int count = fetched->LoadKeyName(fetched, &names);
  std::vector<KeyInfo*> added;
  // Names taken in this round: a name the answer carries twice is added once,
  // as when each was added as it came.
  Hashtable* taken = Hashtable_Create(static_cast<uint64_t>(count > 0 ? count : 1));
  for (int i = 0; i < count && names != nullptr; ++i) {
    if (names[i] == nullptr) continue;
    const DataBuffer name{static_cast<int32_t>(std::strlen(names[i])),
                          reinterpret_cast<unsigned char*>(names[i])};
    if (target->GetKeyInfo(target, &name) != nullptr) continue;
    if (taken == nullptr || Hashtable_search(taken, name.length, names[i]) != nullptr) continue;
    KeyInfo* entry = fetched->GetKeyInfo(fetched, &name);
    KeyInfo* clone = entry != nullptr ? entry->Clone(entry) : nullptr;
    if (clone == nullptr) continue;
    if (Hashtable_insert(taken, name.length, names[i], clone, 0, nullptr) != 0) {
      clone->Destroy(&clone);
      continue;
    }
    added.push_back(clone);
  }
  Hashtable_Destroy(taken, 0);
  std::free(names);
  if (PublishWithAdded(target, added.data(), static_cast<int>(added.size())) != 0) {
    for (KeyInfo* clone : added) clone->Destroy(&clone);
  }
}

}  // namespace qor::engine
