// The lock over the policy table of a key set that is already in service.
// Lookups share it; adding the policies an append brings holds it alone, so
// a lookup never walks the table while it grows.
#pragma once

#include "common/sharded_shared_mutex.h"

namespace qor::agent {

using qor::ShardedSharedMutex;

ShardedSharedMutex& PolicyTableLock();

}  // namespace qor::agent
