// The callbacks through which the pipelines and the cipher core reach the
// instance's key set: find a policy, refresh the set, fetch a missing version.
#pragma once

#include <cstdint>

#include "qor/data_buffer.h"

struct KeyInfo;

// Stores the policy named by |keyName| in |*out|: 0 found, non-zero not found
// (also when no key set is loaded).
using FindKeyInfoFn = int (*)(DataBuffer* keyName, KeyInfo** out);
// Refreshes the key set from the agent at |address|:|port|: 0 ok, -1 failed.
using UpdateKeySetFn = int (*)(const char* address, uint16_t port);
// Fetches key |version| of the policy |name|: 0 ok, 1 failed or nothing
// loaded, -1 another fetch did not finish in time.
using AddKeyFn = int (*)(int nameLength, const char* name, int version);
