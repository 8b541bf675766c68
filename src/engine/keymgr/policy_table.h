// The lock over the policy table of a key set that is already in service, and
// the table operations that take it. Lookups share it; adding the policies an
// append brings holds it alone, so a lookup never walks the table while it
// grows. One lock for every table: only the key set in service is ever
// appended to.
#pragma once

#include "common/sharded_shared_mutex.h"
#include "qor/key_mgr.h"

namespace qor::engine {

ShardedSharedMutex& PolicyTableLock();

// The policy named |name| in |mgr|, or nullptr; under the lock, shared.
KeyInfo* FindPolicy(KeyMgr* mgr, const DataBuffer* name);
// |mgr|'s policy names (see KeyMgr.LoadKeyName); under the lock, shared.
int LoadPolicyNames(KeyMgr* mgr, char*** names);
// Adds to |target| a copy of every policy of |fetched| that |target| lacks;
// the policies |target| holds stay as they are. Under the lock, alone.
void AppendMissingPolicies(KeyMgr* target, KeyMgr* fetched);

}  // namespace qor::engine
