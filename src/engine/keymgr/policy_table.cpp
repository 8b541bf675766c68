#include "engine/keymgr/policy_table.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <shared_mutex>

namespace qor::engine {

ShardedSharedMutex& PolicyTableLock() {
  // Never destroyed: host threads may still look policies up while the process exits.
  static ShardedSharedMutex* lock = new ShardedSharedMutex();
  return *lock;
}

KeyInfo* FindPolicy(KeyMgr* mgr, const DataBuffer* name) {
  std::shared_lock lock(PolicyTableLock());
  return mgr->GetKeyInfo(mgr, name);
}

int LoadPolicyNames(KeyMgr* mgr, char*** names) {
  std::shared_lock lock(PolicyTableLock());
  return mgr->LoadKeyName(mgr, names);
}

void AppendMissingPolicies(KeyMgr* target, KeyMgr* fetched) {
  std::unique_lock lock(PolicyTableLock());
  char** names = nullptr;
  const int count = fetched->LoadKeyName(fetched, &names);
  for (int i = 0; i < count && names != nullptr; ++i) {
    if (names[i] == nullptr) continue;
    const DataBuffer name{static_cast<int32_t>(std::strlen(names[i])),
                          reinterpret_cast<unsigned char*>(names[i])};
    if (target->GetKeyInfo(target, &name) != nullptr) continue;
    KeyInfo* entry = fetched->GetKeyInfo(fetched, &name);
    KeyInfo* clone = entry != nullptr ? entry->Clone(entry) : nullptr;
    if (clone != nullptr && target->AppendKeyInfo(target, clone) != 0) clone->Destroy(&clone);
  }
  std::free(names);
}

}  // namespace qor::engine
