// Key-version records: building the key contexts of one version, releasing them.
#include <cstdlib>
#include <cstring>

#include "common/secure_wipe.h"
#include "engine/adapters/key_contexts.h"
#include "engine/algorithms/algorithm_table.h"
#include "log/log.h"
#include "qor/cipher_util.h"

namespace {

constexpr char kLogUnit[] = "source/Crypto/CipherUtil";

using qor::log::kCrit;
using qor::engine::algorithms::AlgorithmOf;

}  // namespace

extern "C" QOR_API int ChiperUtil_Set(CipherUtil* record, int64_t keyVersion, int32_t firstTime,
                                      int32_t secondTime, const char* status) {
  if (record == nullptr) {
    QOR_LOG(kCrit, "pCiherUtil is null\n");
    return -1;
  }
  record->keyVersion = static_cast<uint16_t>(keyVersion);
  record->firstTime = firstTime;
  record->secondTime = secondTime;
  if (status == nullptr) {
    QOR_LOG(kCrit, "key Status is NULL! set to deactive\n");
    record->keyStatus = QOR_KEY_DEACTIVE;
  } else if (std::strcmp(status, "active") == 0) {
    record->keyStatus = QOR_KEY_ACTIVE;
  } else if (std::strcmp(status, "deactive") == 0) {
    record->keyStatus = QOR_KEY_DEACTIVE;
  } else {
    record->keyStatus = QOR_KEY_REVOKED;
  }
  return 0;
}

extern "C" QOR_API int CipherUtil_Create(uint32_t algType, const DataBuffer* key, const DataBuffer* iv,
                                         CipherUtil* record) {
  if (record == nullptr) {
    QOR_LOG(kCrit, "pCiherUtil is null\n");
    return -1;
  }
  if (key == nullptr || key->length <= 0 || key->data == nullptr) {
    QOR_LOG(kCrit, "pUsKey->length <= 0\n");
    return -1;
  }
  if (iv != nullptr && iv->data != nullptr && iv->length > 0) {
    std::memcpy(record->iv, iv->data, iv->length < 16 ? static_cast<size_t>(iv->length) : 16);
  }
  record->algType = algType;
  record->oneWay = 0;
  const auto& algorithm = AlgorithmOf(algType);
  if (algorithm.create(*key, record) != 0) return -1;
  if (algorithm.oneWay) record->oneWay = 1;
  return 0;
}

extern "C" QOR_API int CipherUtilKey_Destroy(CipherUtil* record) {
  if (record == nullptr) {
    QOR_LOG(kCrit, "pCiherUtil is null\n");
    return -1;
  }
  const auto& algorithm = AlgorithmOf(record->algType);
  if (algorithm.release != nullptr) {
    algorithm.release(record);
  } else {
    using qor::engine::adapters::FreeContext;
    if (record->pDKey != record->pEKey) FreeContext(record->pDKey, algorithm.contextBytes);
    FreeContext(record->pEKey, algorithm.contextBytes);
  }
  record->pEKey = record->pDKey = nullptr;
  record->algType = QOR_ALG_UNKNOWN;
  return 0;
}

extern "C" QOR_API void CipherUtil_Destroy(CipherUtil* first) {
  while (first != nullptr) {
    CipherUtil* next = first->next;
    CipherUtilKey_Destroy(first);
    qor::SecureWipe(first, sizeof(*first));
    std::free(first);
    first = next;
  }
}
