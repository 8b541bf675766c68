// The policy table of a key set that is already in service. Lookups take no
// lock: an append publishes a grown copy of the table in one store and keeps
// the old one until the key set is cleared or destroyed, which the instance
// does only after every call has left. The lock serialises appenders; the
// few readers that list the table or fork the process take it shared. One
// lock for every table: only the key set in service is ever appended to.
#pragma once

#include "common/sharded_shared_mutex.h"
#include "qor/key_mgr.h"

namespace qor::engine {

ShardedSharedMutex& PolicyTableLock();

// The policy named |name| in |mgr|, or nullptr.
KeyInfo* FindPolicy(KeyMgr* mgr, const DataBuffer* name);
// |mgr|'s policy names (see KeyMgr.LoadKeyName); under the lock, shared.
int LoadPolicyNames(KeyMgr* mgr, char*** names);
// Adds to |target| a copy of every policy of |fetched| that |target| lacks;
// the policies |target| holds stay as they are. Under the lock, alone.
void AppendMissingPolicies(KeyMgr* target, KeyMgr* fetched);

}  // namespace qor::engine
