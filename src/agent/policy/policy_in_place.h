// A policy read for the key manager without a heap block per text item.
#pragma once

#include <vector>

#include "qor/policy.h"

namespace qor::agent {

// Reads the policy at |policy| into |out| as Policy_getPolicy reads it, with
// every text item copied into |texts| instead of a heap block of its own; the
// texts stay valid until |texts| is used again, the keys and access rules are
// owned by |out| (ReleasePolicyInPlace). False when the policy is unreadable;
// |out| then holds nothing. May throw std::bad_alloc.
bool ReadPolicyInPlace(const BerTlvNode* policy, PolicyData* out, std::vector<char>* texts);
// Releases what ReadPolicyInPlace left owned by |p| and clears it.
void ReleasePolicyInPlace(PolicyData* p);

}  // namespace qor::agent
