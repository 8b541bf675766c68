// Finding the record of a value's key version. The walk (inside GetCipher)
// takes no lock; the fetch's AddKey links new records in under the key lock.
#include "engine/core/core.h"

namespace qor::engine::core {

namespace {

CipherUtil* Walk(const Policy& policy, int version) {
  UACipherUtil* object = *policy.self;
  return object->GetCipher != nullptr ? object->GetCipher(policy.self, version) : nullptr;
}

}  // namespace

CipherUtil* HeldKeyVersion(const Policy& policy, int version) {
  return policy.head->keyVersion == version ? policy.head : Walk(policy, version);
}

Lookup FindKeyVersion(const Policy& policy, int version, QOR_KeyFetchFn fetch, CipherUtil** found) {
  // Most values carry the latest version; records are never unlinked while a
  // value call runs, so the head needs no lock.
  CipherUtil* record = policy.head->keyVersion == version ? policy.head : Walk(policy, version);
  if (record == nullptr && fetch != nullptr) {
    const DataBuffer& name = policy.data->keyName;
    if (fetch(name.length, reinterpret_cast<const char*>(name.data), version) != 0) {
      return Lookup::kUnknown;
    }
    record = Walk(policy, version);
  }
  if (record == nullptr) return Lookup::kUnknown;
  *found = record;
  return record->keyStatus == QOR_KEY_REVOKED ? Lookup::kRevoked : Lookup::kFound;
}

}  // namespace qor::engine::core
