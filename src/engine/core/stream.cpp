// Streaming encryption and decryption for large data: the head record (or the
// record of the stated key version) keys a stream context the caller's holder
// keeps between Init and Final.
#include <cstdlib>

#include "engine/core/core.h"
#include "log/log.h"

namespace {
constexpr char kLogUnit[] = "source/Crypto/UACipherUtil";

// The stream tables serve the block ciphers below code 22 only.
bool CanStream(const CipherUtil* record) {
  switch (record->algType) {
    case QOR_ALG_SEED:
    case QOR_ALG_ARIA128:
    case QOR_ALG_DES3_2KEY:
    case QOR_ALG_AES128:
    case QOR_ALG_AES256:
    case QOR_ALG_DES3_2KEY_B:
    case QOR_ALG_ARIA256:
    case QOR_ALG_LEA128:
    case QOR_ALG_LEA256:
      return record->pEKey != nullptr && record->pDKey != nullptr;
    default:
      return false;
  }
}

bool Ready(void** holder, const DataBuffer* out) {
  return holder != nullptr && *holder != nullptr && out != nullptr;
}

// Final always releases the stream context, whatever it returns.
int Finish(void** holder, CipherStreamFinalFn final, DataBuffer* out) {
  int result = qor::engine::core::kFailed;
  if (final != nullptr && out != nullptr) {
    out->length = 0;
    result = final(*holder, out->data, &out->length);
  }
  std::free(*holder);
  *holder = nullptr;
  return result;
}

}  // namespace

namespace qor::engine {

using core::Policy;

int EInit(UACipherUtil** self, void** holder, const unsigned char* iv) {
  Policy policy;
  if (!core::Open(__func__, self, &policy) || holder == nullptr) return core::kFailed;
  if (const int refused = core::RefuseUnusableHead(policy)) return refused;
  if (!CanStream(policy.head)) return core::kFailed;
  return EncryptInitFunctions[policy.head->algType](policy.head->pEKey, holder, iv);
}

int EUpdate(UACipherUtil** self, void** holder, const DataBuffer* in, DataBuffer* out) {
  Policy policy;
  if (!core::Open(__func__, self, &policy) || !Ready(holder, out) || in == nullptr)
    return core::kFailed;
  if (!CanStream(policy.head)) return core::kFailed;
  return EncryptUpdateFunctions[policy.head->algType](*holder, in->data, in->length, out->data,
                                                      &out->length);
}

int EFinal(UACipherUtil** self, void** holder, DataBuffer* out) {
  Policy policy;
  if (holder == nullptr || *holder == nullptr) return core::kFailed;
  const bool usable = core::Open(__func__, self, &policy) && CanStream(policy.head);
  return Finish(holder, usable ? EncryptFinalFunctions[policy.head->algType] : nullptr, out);
}

int DInit(UACipherUtil** self, void** holder, QOR_KeyFetchFn fetch, const unsigned char* iv,
          int keyVersion) {
  Policy policy;
  if (!core::Open(__func__, self, &policy) || holder == nullptr) return core::kFailed;
  CipherUtil* record = policy.head;
  if (policy.head->keyVersion != 0 &&
      core::FindKeyVersion(policy, keyVersion, fetch, &record) != core::Lookup::kFound) {
    QOR_CORE_LOG(log::kCrit, policy,
                 "This key has been revoked and does not support encryption.\n");
    return core::kKeyUnusable;
  }
  if (!CanStream(record)) return core::kFailed;
  return DecryptInitFunctions[record->algType](record->pDKey, holder, iv);
}

int DUpdate(UACipherUtil** self, void** holder, const DataBuffer* in, DataBuffer* out) {
  Policy policy;
  if (!core::Open(__func__, self, &policy) || !Ready(holder, out) || in == nullptr)
    return core::kFailed;
  if (!CanStream(policy.head)) return core::kFailed;
  return DecryptUpdateFunctions[policy.head->algType](*holder, in->data, in->length, out->data,
                                                      &out->length);
}

int DFinal(UACipherUtil** self, void** holder, DataBuffer* out) {
  Policy policy;
  if (holder == nullptr || *holder == nullptr) return core::kFailed;
  const bool usable = core::Open(__func__, self, &policy) && CanStream(policy.head);
  return Finish(holder, usable ? DecryptFinalFunctions[policy.head->algType] : nullptr, out);
}

}  // namespace qor::engine
