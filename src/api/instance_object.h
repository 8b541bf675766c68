// The library instance behind the api entry points: its data, its locks and
// the flags that coordinate initialising threads. Only the instance files
// include this; everyone else goes through api/instance.h.
//   instance.cpp         the object, the call prologue, the fork handlers
//   instance_init.cpp    initialisation and the key download callbacks
//   key_set_swap.cpp     the key-set swap and the update stamp
//   instance_status.cpp  clearing and the status queries
#pragma once

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "agent/socket/qor_socket.h"
#include "api/instance.h"
#include "api/instance_testing.h"
#include "api/update_stamp.h"
#include "common/caller_lock.h"
#include "qor/config.h"
#include "qor/key_mgr.h"
#include "service/crypto/qor_crypto.h"

namespace qor::api::state {

inline constexpr char kLogUnit[] = "../QORApi";
inline constexpr char kStampFile[] = "/conf/.qorupdate.dat";
inline constexpr int kSocketTimeLimitMs = 1000;
inline constexpr int kAddKeyTimeLimitMs = 4500;
inline constexpr auto kWaitLimit = std::chrono::seconds(10);
// How often a broken update stamp is opened again and reported again.
inline constexpr int kStampRetryMs = 10000;
// How often calls read a stamp that matched the key set last time: reading
// it costs a system call, which on every call would cost more than the value
// itself. A new set is picked up within this time; right after the stamp
// was opened, and while a swap is due, every call reads it.
inline constexpr int64_t kStampReadEveryMs = 5;
// A failed key-set swap is tried again after 100 ms, doubling up to 5 s while
// it keeps failing; the key set in service keeps serving meanwhile.
inline constexpr int64_t kSwapRetryFirstMs = 100;
inline constexpr int64_t kSwapRetryMaxMs = 5000;

enum LogState : int32_t { kLogConfigured = 0, kLogFallback = 1, kLogNowhere = 2, kLogOff = 3 };

struct InstanceData {
  KeyMgr* keyMgr = nullptr;
  KeyMgr* pendingKeyMgr = nullptr;
  std::atomic<int32_t> initialised{0};
  std::atomic<int32_t> updateReady{0};
  std::atomic<int32_t> configReady{0};
  std::atomic<int32_t> clearing{0};
  std::atomic<int32_t> userSet{0};
  std::atomic<int32_t> logState{0};
  // True once a stamp value was read since the last (re)initialisation:
  // only then does a different value mean the agent published a new set.
  std::atomic<bool> stampKnown{false};
  std::atomic<uint64_t> cachedStamp{0};
  std::atomic<QORApiConf*> config{nullptr};
};

// Milliseconds of the coarse monotonic clock: read without a system call
// and cheaper than the precise one; its tick (1 to 10 ms) is fine for
// spacing stamp reads.
int64_t CoarseMs();

inline int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The one process-wide instance. Its coordination flags are claimed by
// compare-and-swap and every wait on them sleeps on one condition variable;
// the key manager is touched only under API_rwlock.
class Instance {
 public:
  int GetInstanceAuto(bool keepLock = false);
  int CheckConfInitialize();
  int LogInit(QORApiData* configData);
  int UpdateDateInit(QORApiData* configData);
  int UpdateKeyMgr();
  int FindKeyInfo(DataBuffer* keyName, KeyInfo** out);
  int GetUpdate(const char* address, uint16_t port);
  int AddKey(int nameLength, const char* name, int version);
  bool HasKeyVersion(int nameLength, const char* name, int version);
  int AddSpecficKey(const char* address, uint16_t port, int nameLength, const char* name,
                    int version);
  // How a call holds the instance lock: shared normally, alone when the call
  // initialised the instance and runs on the key set it loaded.
  enum class Held { kNone, kShared, kAlone };
  Held EnterCall();
  Held EnterInitialised();
  Held EnterUninitialised();
  bool SwapWhenStampChanged();
  // What one read of the stamp found: the key set matches it (or it cannot
  // be read), a swap is still due, or this call's swap failed.
  enum class StampCheck { kSettled, kPending, kFailed };
  StampCheck CheckStamp();
  void LeaveCall(Held held) {
    if (held == Held::kShared) API_rwlock.unlock_shared();
    if (held == Held::kAlone) API_rwlock.unlock();
  }
  int ClearKeys();
  int Init();
  int IsInit() const { return gData.initialised ? 0 : 1; }
  char* InitResult();
  int LoadKeyName(char*** out);
  int ReconnectFile();
  qor::api::InstanceStatus Status() const {
    return {gData.initialised != 0, gData.configReady != 0,
            giInitMode == static_cast<int32_t>(qor::crypto::TableMode::kAllBypass),
            gData.userSet != 0, gData.logState.load()};
  }
  QORApiData* CurrentConfigData() const { return ConfigData(); }
  int WithKeySet(int (*visit)(KeyMgr* mgr, void* context), void* context);
  QORSocket* CreateAgentSocket(const QORApiData* data, bool secondAgent, int timeLimitMs);
  bool CopyConfigData(QORApiData* out);
  int ChangeConfig(void (*change)(QORApiData* data, void* context), void* context);
  void ClearKeySet(bool dropConfig);
  int FetchKeyVersion(const char* name, int version);

  qor::api::testing::InstanceState State();
  void InstallKeySet(KeyMgr* mgr, QORApiConf* config);
  void SetStampRetryInterval(int milliseconds) { stampRetryMs_.store(milliseconds); }
  void LockForFork() {
    API_rwlock.lock_shared();
    stampLock_.lock();
  }
  void UnlockAfterFork() {
    stampLock_.unlock();
    API_rwlock.unlock_shared();
  }
  void UnlockInForkedChild() {
    API_rwlock.AfterForkInChild();
    UnlockAfterFork();
  }
  std::mutex& SignalLock() { return waitLock_; }

  void SetSocketFactory(qor::api::testing::SocketFactory factory) {
    socketFactory_.store(factory != nullptr ? factory : &QORSocket_Create);
  }

 private:
  class WriteLock {
   public:
    explicit WriteLock(CallerLock* lock) : lock_(lock) { lock_->lock(); }
    ~WriteLock() { lock_->unlock(); }
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;

   private:
    CallerLock* lock_;
  };

  class ReadLock {
   public:
    explicit ReadLock(CallerLock* lock) : lock_(lock) { lock_->lock_shared(); }
    ~ReadLock() { lock_->unlock_shared(); }
    ReadLock(const ReadLock&) = delete;
    ReadLock& operator=(const ReadLock&) = delete;

   private:
    CallerLock* lock_;
  };

  // Takes |flag| from 0 to 1; false when another thread holds it.
  static bool Claim(std::atomic<int32_t>& flag) {
    int32_t expected = 0;
    return flag.compare_exchange_strong(expected, 1);
  }
  // Stores |value| in a flag others wait on, and wakes them.
  void Publish(std::atomic<int32_t>& flag, int32_t value) {
    {
      std::lock_guard lock(waitLock_);
      flag.store(value);
    }
    changed_.notify_all();
  }
  template <typename Done>
  bool WaitUpTo10Seconds(Done done) {
    std::unique_lock lock(waitLock_);
    return changed_.wait_for(lock, kWaitLimit, done);
  }
  // Claims |flag|, waiting up to 10 seconds while another thread holds it.
  bool ClaimWithin10Seconds(std::atomic<int32_t>& flag) {
    const auto deadline = std::chrono::steady_clock::now() + kWaitLimit;
    std::unique_lock lock(waitLock_);
    while (!Claim(flag)) {
      if (!changed_.wait_until(lock, deadline, [&] { return flag.load() == 0; })) return false;
    }
    return true;
  }

  QORApiConf* Config() const { return gData.config.load(); }
  QORApiData* ConfigData() const {
    QORApiConf* config = Config();
    return config != nullptr ? config->data : nullptr;
  }
  QORSocket* CreateSocket(const char* address, uint16_t port, int timeLimitMs);
  static void DestroyKeyMgr(KeyMgr** slot) {
    if (*slot != nullptr) (*slot)->Destroy(slot);
    *slot = nullptr;
  }
  int BuildConfig();
  int DownloadInitialKeySet();
  int DownloadReplacement();
  int DestroyAndReplaceKeyMgr();
  int OpenStamp();
  bool RetryStamp(uint64_t* value);
  int InitLocked();
  void RecordFailure(const char* what);

  InstanceData gData;
  // Writers first: with readers preferred, a steady stream of value calls
  // would hold off a key-set swap or a clear indefinitely. Value calls count
  // themselves in per thread without an atomic read-modify-write: on many
  // cores they must not queue on one shared reader count.
  CallerLock API_rwlock;
  std::atomic<int32_t> giInitMode{0};
  std::atomic<int32_t> giCall{0};
  std::atomic<int32_t> giCallEnv{0};
  std::atomic<int32_t> giCallAdd{0};
  // The stamp-triggered swap: one thread at a time, and when it fails, the
  // time of the next attempt and how many failed in a row.
  std::atomic<int32_t> swapping_{0};
  std::atomic<int64_t> swapRetryAtMs_{0};
  std::atomic<int32_t> swapFailures_{0};
  // The stamp whose swap failed last: a different stamp is tried at once.
  std::atomic<uint64_t> failedStamp_{0};
  // One thread (re)initialises at a time; calls that find the instance
  // uninitialised meanwhile wait for its outcome instead of repeating it.
  std::atomic<int32_t> initialising_{0};
  std::atomic<int32_t> lastInitFailed_{0};

  std::mutex waitLock_;
  std::condition_variable changed_;
  // Serialises opening the stamp: initialisation, QOR_ReconnectFile and the
  // retries of a broken stamp.
  std::mutex stampLock_;
  char updateDatePath[1024] = {};
  std::atomic<int32_t> isInitUpdatePath{0};
  qor::api::UpdateStamp stamp_;
  std::atomic<int64_t> nextStampTryMs_{0};
  // When calls next read the stamp (CoarseMs); 0: every call reads it. Its
  // own cache line: every call reads it, a write comes once per interval.
  alignas(64) std::atomic<int64_t> nextStampReadMs_{0};
  std::atomic<int> stampRetryMs_{kStampRetryMs};
  char agentInitResult[50] = {};
  std::atomic<qor::api::testing::SocketFactory> socketFactory_{&QORSocket_Create};
};

// The one process-wide instance.
Instance& TheInstance();

}  // namespace qor::api::state
