// Key versions of a policy: a list kept in descending version order, extended
// under cipher_rwlock and read without it. Records are only ever linked in,
// each with a release store after its fields, and none is unlinked before
// the whole key set goes: a reader walking with acquire loads always sees
// complete records, and value calls never queue on a shared lock word.
#include <atomic>

#include "engine/cipher/cipher_lock.h"
#include "engine/cipher/ua_cipher_internal.h"
#include "log/log.h"

namespace qor::engine {

pthread_rwlock_t cipher_rwlock = PTHREAD_RWLOCK_INITIALIZER;

namespace {

constexpr char kLogUnit[] = "source/Crypto/UACipherUtil";

// Links are published with release stores: value operations read the head
// without the lock, and must never see a record before its fields.
void Publish(CipherUtil*& link, CipherUtil* record) {
  std::atomic_ref<CipherUtil*>(link).store(record, std::memory_order_release);
}

}  // namespace

int GetLatestKeyVersion(UACipherUtil** self) {
  const CipherUtil* head = HeadRecord(DataOf(self));
  return head != nullptr ? head->keyVersion : 0;
}

CipherUtil* GetCipher(UACipherUtil** self, int version) {
  const UACipherUtilData* data = DataOf(self);
  if (data == nullptr) return nullptr;
  for (CipherUtil* r = HeadRecord(data); r != nullptr; r = NextRecord(r)) {
    if (r->keyVersion == static_cast<uint16_t>(version)) return r;
  }
  return nullptr;
}

int AddKey(UACipherUtil** self, CipherUtil* record) {
  UACipherUtilData* data = DataOf(self);
  if (data == nullptr || record == nullptr) {
    QOR_LOG(qor::log::kCrit, "Null Pointer Exception\n");
    return -1;
  }
  CipherWriteLock lock;
  for (const CipherUtil* r = data->ciphers; r != nullptr; r = r->next) {
    if (r->keyVersion == record->keyVersion) {
      QOR_LOG(qor::log::kDebug, "[AddKey] Duplicate key version detected: %d\n\n",
              static_cast<int>(record->keyVersion));
      return -1;
    }
  }
  CipherUtil* head = data->ciphers;
  if (head != nullptr) {
    // A version fetched for a record-IV policy must strip the tail like the rest.
    record->useRecordIV =
        std::atomic_ref<int32_t>(head->useRecordIV).load(std::memory_order_relaxed);
  }
  if (head == nullptr || record->keyVersion > head->keyVersion) {
    record->next = head;
    Publish(data->ciphers, record);
    return 0;
  }
  CipherUtil* before = head;
  while (before->next != nullptr && before->next->keyVersion > record->keyVersion) {
    before = before->next;
  }
  record->next = before->next;
  Publish(before->next, record);
  return 0;
}

}  // namespace qor::engine
