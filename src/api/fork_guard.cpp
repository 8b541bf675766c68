// The library's locks around fork(), taken in the one order every path that
// nests them follows: instance, key-set refresh, policy table, key versions,
// random generator, audit, log writer, error records, instance signals.
#include "api/fork_guard.h"

#include <pthread.h>

#include <mutex>

#include "engine/keymgr/policy_table.h"
#include "api/instance.h"
#include "common/error_record.h"
#include "engine/cipher/cipher_lock.h"
#include "log/audit.h"
#include "log/lwl_handle.h"
#include "primitives/random/random_fork.h"
#include "service/crypto/qor_crypto.h"

namespace {

void Prepare() {
  qor::api::LockInstanceForFork();
  qor::crypto::KeyMgrRefreshLock().lock();
  qor::engine::PolicyTableLock().lock_shared();
  pthread_rwlock_rdlock(&qor::engine::cipher_rwlock);
  qor::random::LockForFork();
  qor::log::LockAuditForFork();
  qor::log::LockWriter();
  qor::ErrorLock().lock();
  qor::api::LockInstanceSignalsForFork();
}

// The parent and the child let go in the same order; the instance lock
// differs in the child (see UnlockInstanceInForkedChild).
void ReleaseWith(void (*releaseInstance)()) {
  qor::api::UnlockInstanceSignalsAfterFork();
  qor::ErrorLock().unlock();
  qor::log::UnlockWriter();
  qor::log::UnlockAuditAfterFork();
  qor::random::UnlockAfterFork();
  pthread_rwlock_unlock(&qor::engine::cipher_rwlock);
  qor::engine::PolicyTableLock().unlock_shared();
  qor::crypto::KeyMgrRefreshLock().unlock();
  releaseInstance();
}

void ReleaseInParent() { ReleaseWith(&qor::api::UnlockInstanceAfterFork); }
void ReleaseInChild() { ReleaseWith(&qor::api::UnlockInstanceInForkedChild); }

}  // namespace

namespace qor::api {

void InstallForkHandlers() {
  static const bool installed = pthread_atfork(&Prepare, &ReleaseInParent, &ReleaseInChild) == 0;
  (void)installed;
}

}  // namespace qor::api
