// Growing the policy table of a key set that is in service.
#pragma once

#include "qor/key_mgr.h"

namespace qor::engine {

// Publishes a copy of |mgr|'s table with |added| in it, in one store, so that
// lookups never see a table being changed and need no lock; the old table is
// kept until the key set is cleared or destroyed. On success the table owns
// the added policies; on failure (1) nothing changed and they stay the
// caller's. Appenders must be serialised by the caller.
int PublishWithAdded(KeyMgr* mgr, KeyInfo* const* added, int count);

}  // namespace qor::engine
