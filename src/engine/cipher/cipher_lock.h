// The one process-wide lock over the key-version lists of every policy, and
// the head read that value operations may do without it.
#pragma once

#include <pthread.h>

#include <atomic>

#include "qor/ua_cipher_util.h"

namespace qor::engine {

// Write side: AddKey. Readers walk the list without it (key_versions.cpp);
// the read side is left for the fork handlers.
extern pthread_rwlock_t cipher_rwlock;

class CipherWriteLock {
 public:
  CipherWriteLock() { pthread_rwlock_wrlock(&cipher_rwlock); }
  ~CipherWriteLock() { pthread_rwlock_unlock(&cipher_rwlock); }
  CipherWriteLock(const CipherWriteLock&) = delete;
  CipherWriteLock& operator=(const CipherWriteLock&) = delete;
};

// The current (latest) version record, or NULL. AddKey publishes a new head
// with a release store, so a reader without the lock sees a complete record.
inline CipherUtil* HeadRecord(const UACipherUtilData* data) {
  if (data == nullptr) return nullptr;
  return std::atomic_ref<CipherUtil*>(const_cast<UACipherUtilData*>(data)->ciphers)
      .load(std::memory_order_acquire);
}

// The record after |record|: AddKey also publishes into the middle of a list.
inline CipherUtil* NextRecord(const CipherUtil* record) {
  return std::atomic_ref<CipherUtil*>(const_cast<CipherUtil*>(record)->next)
      .load(std::memory_order_acquire);
}

}  // namespace qor::engine
