// Swapping in the key set the agent publishes: the update stamp every call
// compares, the download of a replacement outside the instance lock, and the
// swap itself under it.
#include "api/instance_object.h"

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "common/error_codes.h"
#include "common/error_record.h"
#include "common/last_error.h"
#include "config/build.h"
#include "log/log.h"
#include "qor/qostring.h"

namespace qor::api::state {

int64_t CoarseMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Downloads a replacement key set into pendingKeyMgr without holding the
// instance lock: 0 when one is ready to swap in, else -1.
int Instance::DownloadReplacement() {
  QORApiData* data = ConfigData();
  QORSocket* socket = CreateSocket(data->firstAgentIp, data->firstPort, kSocketTimeLimitMs);
  if (socket == nullptr) return -1;
  if (socket->GetKeyMgrUpdateFromQORServer(socket, &gData.pendingKeyMgr, Config()) == 0) {
    Publish(gData.updateReady, 1);
  }
  socket->Destroy(&socket);
  return gData.updateReady ? 0 : -1;
}

// The swap itself: the only part of an update that holds the write lock.
int Instance::DestroyAndReplaceKeyMgr() {
  QOR_LOG_AS("DestroyAndReplace_KeyMgr", qor::log::kDebug, "Attempting Key update\n");
  {
    WriteLock lock(&API_rwlock);
    giCall = 1;
    DestroyKeyMgr(&gData.keyMgr);
    giCall = 0;
    if (gData.pendingKeyMgr == nullptr && !gData.updateReady) return 1;
    gData.keyMgr = gData.pendingKeyMgr;
    gData.pendingKeyMgr = nullptr;
    Publish(gData.updateReady, 0);
  }
  QOR_LOG_RESULT_AS("DestroyAndReplace_KeyMgr", qor::log::kInfo,
                    "Key update completed Successfully\n");
  return 0;
}

int Instance::UpdateDateInit(QORApiData* configData) {
  std::lock_guard lock(stampLock_);
  updateDatePath[0] = '\0';
  x_strcpy(updateDatePath, sizeof(updateDatePath), configData->home);
  x_strcat(updateDatePath, sizeof(updateDatePath), kStampFile);
  gData.stampKnown.store(false);
  gData.cachedStamp.store(0);
  return OpenStamp();
}

// Opens the stamp at updateDatePath and takes its value as the one the key
// set matches. The caller holds stampLock_.
int Instance::OpenStamp() {
  nextStampReadMs_.store(0);
  uint64_t value = 0;
  if (stamp_.Open(updateDatePath, qor::LastErrorRecord(), &value) != 0) {
    isInitUpdatePath = 0;
    nextStampTryMs_.store(SteadyMs() + stampRetryMs_.load());
    QOR_LOG_AS("updateDateInit", qor::log::kCrit, "%s\n", QOR_GetLastErrorMsg());
    return 1;
  }
  gData.cachedStamp.store(value);
  gData.stampKnown.store(true);
  isInitUpdatePath = 1;
  return 0;
}

// A stamp that cannot be read is opened again now and then, and reported
// each time it still fails: without it no key-set swap can ever happen, and
// that must not go unnoticed. True with |*value| once it reads again.
bool Instance::RetryStamp(uint64_t* value) {
  const int64_t now = SteadyMs();
  int64_t due = nextStampTryMs_.load();
  if (now < due || !nextStampTryMs_.compare_exchange_strong(due, now + stampRetryMs_.load())) {
    return false;
  }
  std::unique_lock lock(stampLock_, std::try_to_lock);
  if (!lock.owns_lock() || updateDatePath[0] == '\0') return false;
  // The report goes to the log; the last error belongs to the caller's call.
  ErrorInfo report{};
  uint64_t opened = 0;
  if (stamp_.Open(updateDatePath, &report, &opened) != 0) {
    QOR_LOG_AS("updateDateInit", qor::log::kCrit, "%s; key-set updates are not seen\n",
               report.message);
    return false;
  }
  QOR_LOG_RESULT_AS("updateDateInit", qor::log::kInfo, "update stamp [%s] readable again\n",
                    updateDatePath);
  isInitUpdatePath = 1;
  *value = opened;
  return true;
}

int Instance::UpdateKeyMgr() {
  // One download at a time: a second caller is told so, with a reason.
  if (!Claim(giCallEnv)) {
    qor::ErrorSet(qor::LastErrorRecord(), qor::err::kGeneral,
                  "failed to Key update: another key update is running");
    return -1;
  }

  // Without a configuration, or with a replacement already waiting, nothing
  // is downloaded; a waiting replacement is still swapped in.
  int result = 1;
  if (Config() != nullptr && gData.pendingKeyMgr == nullptr) result = DownloadReplacement();

  if (gData.updateReady) {
    if (DestroyAndReplaceKeyMgr() == 0) {
      Publish(giCallEnv, 0);
      return 0;
    }
    result = 1;
  }

  QOR_LOG_AS("Update_KeyMgr", qor::log::kError, "failed to Key update\n");
  // A replacement that was never swapped in is released, not dropped.
  DestroyKeyMgr(&gData.pendingKeyMgr);
  Publish(gData.updateReady, 0);
  Publish(giCallEnv, 0);
  return result;
}

// Runs the swap when the stamp moved away from the key set in service. Only
// one thread swaps; the others keep serving from the current set. A failed
// swap leaves the stamp unconsumed and is retried after a back-off. False
// only for the call whose swap failed (its reason is the last error).
bool Instance::SwapWhenStampChanged() {
  // Between reads a call writes nothing shared: one thread per interval
  // moves the time on and reads.
  const int64_t now = CoarseMs();
  int64_t due = nextStampReadMs_.load(std::memory_order_relaxed);
  if (now < due) return true;
  const int64_t every = std::min<int64_t>(kStampReadEveryMs, stampRetryMs_.load());
  if (due != 0 && !nextStampReadMs_.compare_exchange_strong(due, now + every)) return true;
  const StampCheck check = CheckStamp();
  if (check != StampCheck::kSettled) {
    // While a swap is due (one thread may be downloading it) every call
    // looks again; the time is not written again and again meanwhile.
    if (nextStampReadMs_.load(std::memory_order_relaxed) != 0) nextStampReadMs_.store(0);
  } else if (due == 0) {
    int64_t expected = 0;
    nextStampReadMs_.compare_exchange_strong(expected, now + every);
  }
  return check != StampCheck::kFailed;
}

Instance::StampCheck Instance::CheckStamp() {
  uint64_t now = 0;
  if (!stamp_.Read(&now) && !RetryStamp(&now)) return StampCheck::kSettled;
  if (!gData.stampKnown.load()) {
    // Readable for the first time since initialisation: nothing to compare
    // with yet.
    gData.cachedStamp.store(now);
    gData.stampKnown.store(true);
    return StampCheck::kSettled;
  }
  // The back-off holds for the stamp that failed; a new stamp is a new
  // rotation and is tried at once.
  const auto due = [&] {
    return now != failedStamp_.load() || SteadyMs() >= swapRetryAtMs_.load();
  };
  if (now == gData.cachedStamp.load()) return StampCheck::kSettled;
  if (!due() || !Claim(swapping_)) return StampCheck::kPending;
  StampCheck check = StampCheck::kPending;
  if (now != gData.cachedStamp.load() && due()) {
    qor::ErrorClearChain(qor::LastErrorRecord());
    if (UpdateKeyMgr() == 0) {
      // The set just loaded is at least as new as |now|; a stamp written
      // during the download is still ahead and swaps again.
      gData.cachedStamp.store(now);
      swapFailures_ = 0;
      swapRetryAtMs_ = 0;
      check = StampCheck::kSettled;
    } else {
      const int failures = std::min(swapFailures_.fetch_add(1) + 1, 16);
      const int64_t delay = std::min(kSwapRetryFirstMs << std::min(failures - 1, 10),
                                     kSwapRetryMaxMs);
      swapRetryAtMs_ = SteadyMs() + delay;
      failedStamp_ = now;
      RecordFailure("failed to Key update");
      check = StampCheck::kFailed;
    }
  }
  swapping_.store(0);
  return check;
}

int Instance::ReconnectFile() {
  int result = 0;
  switch (CheckConfInitialize()) {
    case -1:
      return -1;
    case 1:
      if (BuildConfig() != 0) return qor::err::kConfigUnavailable;
      result = 1;
      break;
    default:
      break;
  }
  // A report may have released the configuration meanwhile.
  ReadLock lock(&API_rwlock);
  QORApiData* data = ConfigData();
  if (data == nullptr) return -1;
  QORCrypto_SetConfigData(data);
  UpdateDateInit(data);
  return result;
}

}  // namespace qor::api::state

using qor::api::state::TheInstance;

int updateDateInit(QORApiData* configData) { return TheInstance().UpdateDateInit(configData); }
int Update_KeyMgr() { return TheInstance().UpdateKeyMgr(); }

namespace qor::api::testing {
void SetStampRetryInterval(int milliseconds) {
  TheInstance().SetStampRetryInterval(milliseconds);
}
}  // namespace qor::api::testing

extern "C" {

QOR_API int QOR_ReconnectFile(void) { return TheInstance().ReconnectFile(); }

}  // extern "C"
