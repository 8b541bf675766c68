// The library instance itself, the per-call prologue every entry point runs
// and the fork handlers' view of its locks.
#include "api/instance_object.h"

#include <shared_mutex>

#include "engine/keymgr/policy_table.h"

namespace qor::api::state {

// Never destroyed: host threads may still call in while the process exits.
Instance& TheInstance() {
  static Instance* instance = new Instance();
  return *instance;
}

// The read lock keeps QOR_ClearKeys and swaps out; the table lock keeps an
// append from growing the table under the visitor.
int Instance::WithKeySet(int (*visit)(KeyMgr* mgr, void* context), void* context) {
  ReadLock lock(&API_rwlock);
  std::shared_lock tableLock(qor::engine::PolicyTableLock());
  return visit(gData.initialised ? gData.keyMgr : nullptr, context);
}

Instance::Held Instance::EnterCall() {
  if (!gData.initialised) return EnterUninitialised();
  if (!SwapWhenStampChanged()) return Held::kNone;
  // Nothing pending is the common case: it must not cost every call the
  // process-wide wait lock, which would line all callers up behind it.
  if (gData.updateReady != 0 || gData.clearing != 0) {
    std::unique_lock lock(waitLock_);
    changed_.wait(lock, [&] { return gData.updateReady == 0 && gData.clearing == 0; });
  }
  API_rwlock.lock_shared();
  if (gData.initialised) return Held::kShared;
  // QOR_ClearKeys ran between the checks and the lock: wait for the
  // re-initialisation (or run it) instead of failing on an empty key set.
  API_rwlock.unlock_shared();
  return EnterUninitialised();
}

}  // namespace qor::api::state

using qor::api::state::TheInstance;

namespace qor::api {

using Held = qor::api::state::Instance::Held;

CallGuard::CallGuard() : held_(static_cast<int>(TheInstance().EnterCall())) {}

CallGuard::~CallGuard() { TheInstance().LeaveCall(static_cast<Held>(held_)); }

void LockInstanceForFork() { TheInstance().LockForFork(); }
void UnlockInstanceAfterFork() { TheInstance().UnlockAfterFork(); }
void UnlockInstanceInForkedChild() { TheInstance().UnlockInForkedChild(); }
void LockInstanceSignalsForFork() { TheInstance().SignalLock().lock(); }
void UnlockInstanceSignalsAfterFork() { TheInstance().SignalLock().unlock(); }
int WithKeySet(int (*visit)(KeyMgr* mgr, void* context), void* context) {
  return TheInstance().WithKeySet(visit, context);
}

}  // namespace qor::api
