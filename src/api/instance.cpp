// The library instance: initialisation on first use, key-set swaps when the
// agent publishes a new stamp, and the small functions that query or reset it.
#include "api/instance.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <shared_mutex>
#include <type_traits>

#include "agent/download/policy_table_lock.h"
#include "agent/socket/qor_socket.h"
#include "api/error_record.h"
#include "api/instance_testing.h"
#include "api/update_stamp.h"
#include "common/error_codes.h"
#include "config/build.h"
#include "config/shared_fields.h"
#include "qor/key_mgr.h"
#include "log/log.h"
#include "qor/config.h"
#include "qor/qostring.h"
#include "service/crypto/qor_crypto.h"

std::atomic<int32_t> Filter_level{0};

namespace {

constexpr char kLogUnit[] = "../QORApi";
constexpr char kStampFile[] = "/conf/.qorupdate.dat";
constexpr int kSocketTimeLimitMs = 1000;
constexpr int kAddKeyTimeLimitMs = 4500;
constexpr auto kWaitLimit = std::chrono::seconds(10);
// How often a broken update stamp is opened again and reported again.
constexpr int kStampRetryMs = 10000;
// A failed key-set swap is tried again after 100 ms, doubling up to 5 s while
// it keeps failing; the key set in service keeps serving meanwhile.
constexpr int64_t kSwapRetryFirstMs = 100;
constexpr int64_t kSwapRetryMaxMs = 5000;

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
  ErrorInfo lastError{};
  // True once a stamp value was read since the last (re)initialisation:
  // only then does a different value mean the agent published a new set.
  std::atomic<bool> stampKnown{false};
  std::atomic<uint64_t> cachedStamp{0};
  std::atomic<QORApiConf*> config{nullptr};
};

int64_t SteadyMs() {
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
  bool EnterCall();
  bool EnterInitialised();
  bool EnterUninitialised();
  bool SwapWhenStampChanged();
  void LeaveCall() { pthread_rwlock_unlock(&API_rwlock); }
  int ClearKeys();
  int Init();
  int IsInit() const { return gData.initialised ? 0 : 1; }
  char* InitResult();
  int LoadKeyName(char*** out);
  int ReconnectFile();
  ErrorInfo* LastError() { return &gData.lastError; }
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
    pthread_rwlock_rdlock(&API_rwlock);
    stampLock_.lock();
  }
  void UnlockAfterFork() {
    stampLock_.unlock();
    pthread_rwlock_unlock(&API_rwlock);
  }
  std::mutex& SignalLock() { return waitLock_; }

  void SetSocketFactory(qor::api::testing::SocketFactory factory) {
    socketFactory_.store(factory != nullptr ? factory : &QORSocket_Create);
  }

 private:
  class WriteLock {
   public:
    explicit WriteLock(pthread_rwlock_t* lock) : lock_(lock) { pthread_rwlock_wrlock(lock_); }
    ~WriteLock() { pthread_rwlock_unlock(lock_); }
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;

   private:
    pthread_rwlock_t* lock_;
  };

  class ReadLock {
   public:
    explicit ReadLock(pthread_rwlock_t* lock) : lock_(lock) { pthread_rwlock_rdlock(lock_); }
    ~ReadLock() { pthread_rwlock_unlock(lock_); }
    ReadLock(const ReadLock&) = delete;
    ReadLock& operator=(const ReadLock&) = delete;

   private:
    pthread_rwlock_t* lock_;
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
  // would hold off a key-set swap or a clear indefinitely. No path takes the
  // read lock while already holding it, so this cannot self-deadlock.
  pthread_rwlock_t API_rwlock = PTHREAD_RWLOCK_WRITER_NONRECURSIVE_INITIALIZER_NP;
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
  std::atomic<int> stampRetryMs_{kStampRetryMs};
  char agentInitResult[50] = {};
  std::atomic<qor::api::testing::SocketFactory> socketFactory_{&QORSocket_Create};
};

// Never destroyed: host threads may still call in while the process exits.
Instance& TheInstance() {
  static Instance* instance = new Instance();
  return *instance;
}

// Agent socket object for the configured agents, chained to the last error.
QORSocket* Instance::CreateSocket(const char* address, uint16_t port, int timeLimitMs) {
  QORApiData* data = ConfigData();
  QORSocket* socket = socketFactory_.load()(address, port, data->secondAgentIp, data->secondPort,
                                            timeLimitMs, &gData.lastError);
  if (socket != nullptr) socket->SetErrorVariable(socket, &gData.lastError);
  return socket;
}

QORSocket* Instance::CreateAgentSocket(const QORApiData* data, bool secondAgent,
                                       int timeLimitMs) {
  QORSocket* socket =
      socketFactory_.load()(data->firstAgentIp, data->firstPort,
                            secondAgent ? data->secondAgentIp : nullptr,
                            secondAgent ? data->secondPort : 0, timeLimitMs, &gData.lastError);
  if (socket != nullptr) socket->SetErrorVariable(socket, &gData.lastError);
  return socket;
}

// The read lock keeps QOR_ClearKeys and swaps out; the table lock keeps an
// append from growing the table under the visitor.
int Instance::WithKeySet(int (*visit)(KeyMgr* mgr, void* context), void* context) {
  ReadLock lock(&API_rwlock);
  std::shared_lock tableLock(qor::agent::PolicyTableLock());
  return visit(gData.initialised ? gData.keyMgr : nullptr, context);
}

// Builds the configuration; the caller holds giCallEnv. 0 built, 7011 failed.
int Instance::BuildConfig() {
  QORApiConf* config = qor::config::Build(&gData.lastError, Filter_level.load());
  if (config == nullptr) {
    Publish(giCallEnv, 0);
    return qor::err::kConfigUnavailable;
  }
  gData.config.store(config);
  gData.userSet = 0;
  Publish(gData.configReady, 1);
  Publish(giCallEnv, 0);
  return 0;
}

int Instance::CheckConfInitialize() {
  if (gData.configReady) return 0;
  if (Claim(giCallEnv)) {
    // The builder may have finished between the two tests.
    if (!gData.configReady) return 1;
    Publish(giCallEnv, 0);
    return 0;
  }
  WaitUpTo10Seconds([&] { return gData.configReady.load() != 0 || giCallEnv.load() == 0; });
  return gData.configReady ? 0 : -1;
}

// Runs under the write lock.
int Instance::DownloadInitialKeySet() {
  if (gData.initialised) return 0;
  if (!Claim(giCall)) {
    return WaitUpTo10Seconds([&] { return giCall.load() == 0; }) && gData.initialised ? 0 : -1;
  }
  QORApiData* data = ConfigData();
  QORSocket* socket = CreateSocket(data->firstAgentIp, data->firstPort, kSocketTimeLimitMs);
  int result = -1;
  if (socket != nullptr) {
    if (socket->GetKeyMgrFromQORServer(socket, &gData.keyMgr, Config()) == 0) {
      Publish(gData.updateReady, 0);
      gData.initialised = 1;
    }
    socket->Destroy(&socket);
    result = gData.initialised ? 0 : -1;
  }
  Publish(giCall, 0);
  return result;
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

int Instance::LogInit(QORApiData* configData) {
  gData.logState = kLogConfigured;
  char directory[512] = {0};
  if (configData->useLogDir) {
    x_strcpy(directory, sizeof(directory), configData->logDir);
  } else {
    snprintf(directory, sizeof(directory), "%s/logs", configData->home);
  }
  const int level = Filter_level.load();
  const char* name = (level == 1 || level == 2)   ? "/qor_filter.log"
                     : (level == 3 || level == 4) ? "/qor_ude.log"
                                                  : "/qor_api.log";
  char path[640];
  snprintf(path, sizeof(path), "%s%s", directory, name);
  if (QOLog_Init(path, configData->logLevel) == 0) return kLogConfigured;
  // Not a fixed name in a shared directory such as /tmp: anyone could plant
  // a link or a FIFO there ahead of us.
  if (qor::log::InitToStandardError(configData->logLevel) == 0) {
    gData.logState = kLogFallback;
    QOR_LOG_AS("LogInit", qor::log::kCrit,
               "cannot open the log file [%s]; logging to standard error\n", path);
    return kLogFallback;
  }
  gData.logState = kLogNowhere;
  return kLogNowhere;
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
  uint64_t value = 0;
  if (stamp_.Open(updateDatePath, &gData.lastError, &value) != 0) {
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

// Gives the last error a code and message when a failure set none, so a
// caller never sees -1 with code 0.
void Instance::RecordFailure(const char* what) {
  bool recorded;
  {
    std::lock_guard lock(qor::ErrorLock());
    recorded = qor::ErrorChainEnd(&gData.lastError)->code != 0;
  }
  if (!recorded) qor::ErrorSet(&gData.lastError, qor::err::kGeneral, "%s", what);
}

// Steps 2 to 9 of the initialisation; the caller holds the write lock.
int Instance::InitLocked() {
  int result = 0;
  switch (CheckConfInitialize()) {
    case -1:
      result = -1;
      break;
    case 1:
      result = BuildConfig();
      break;
    default:
      break;
  }
  if (result != 0) return result;
  QORApiData* data = ConfigData();
  QORCrypto_SetConfigData(data);
  if (data->useLog) {
    LogInit(data);
  } else {
    gData.logState = kLogOff;
  }
  qor::ErrorClearChain(&gData.lastError);
  result = DownloadInitialKeySet();
  if (data->bypass) {
    if (giInitMode == 0) {
      QORCrypto_Create(&gCrypto, qor::crypto::TableMode::kAllBypass);
      giInitMode = static_cast<int32_t>(qor::crypto::TableMode::kAllBypass);
    }
    gData.initialised = 1;
    result = 0;
  } else if (giInitMode == 0) {
    QORCrypto_Create(&gCrypto, qor::crypto::TableMode::kReal);
    giInitMode = static_cast<int32_t>(qor::crypto::TableMode::kReal);
  }
  if (result != 0) {
    // The reason the key set could not be loaded (agents, emergency file)
    // stays the last error; a missing stamp file is the lesser news.
    RecordFailure("failed to load the key set");
    int code;
    char message[sizeof(gData.lastError.message)];
    {
      std::lock_guard lock(qor::ErrorLock());
      const ErrorInfo* end = qor::ErrorChainEnd(&gData.lastError);
      code = end->code;
      std::memcpy(message, end->message, sizeof(message));
    }
    message[sizeof(message) - 1] = '\0';
    UpdateDateInit(data);
    qor::ErrorSet(&gData.lastError, code, "%s", message);
  } else {
    UpdateDateInit(data);
  }
  // Stamps seen before this key set was loaded are not swaps to retry.
  swapFailures_ = 0;
  swapRetryAtMs_ = 0;
  Publish(gData.clearing, 0);
  return result;
}

// With |keepLock| the write lock stays held when the instance is initialised
// on return (result 0), for the caller to run its call on that key set.
int Instance::GetInstanceAuto(bool keepLock) {
  pthread_rwlock_wrlock(&API_rwlock);
  if (gData.initialised) {
    if (!keepLock) pthread_rwlock_unlock(&API_rwlock);
    return 0;
  }
  const int result = InitLocked();
  if (result != 0 || !keepLock) pthread_rwlock_unlock(&API_rwlock);
  QOR_LOG_RESULT_AS("QOR_GetInstanceAuto", qor::log::kInfo, "Key Init %s\n",
                    result == 0 ? "SUCCESS" : "FAIL");
  QOR_LOG_AS("QOR_GetInstanceAuto", qor::log::kDebug, "%s\n",
             __DATE__ " " __TIME__ " - 2.0.26.7");
  return result;
}

int Instance::UpdateKeyMgr() {
  // One download at a time: a second caller is told so, with a reason.
  if (!Claim(giCallEnv)) {
    qor::ErrorSet(&gData.lastError, qor::err::kGeneral,
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

int Instance::FindKeyInfo(DataBuffer* keyName, KeyInfo** out) {
  *out = nullptr;
  KeyMgr* mgr = gData.keyMgr;
  if (mgr == nullptr) return 1;
  // An append after another thread's miss may be growing the table.
  std::shared_lock tableLock(qor::agent::PolicyTableLock());
  *out = mgr->GetKeyInfo(mgr, keyName);
  return *out != nullptr ? 0 : 1;
}

int Instance::GetUpdate(const char* address, uint16_t port) {
  if (Config() == nullptr) return -1;
  QORSocket* socket = CreateSocket(address, port, kSocketTimeLimitMs);
  if (socket == nullptr) return -1;
  if (socket->AppendPolicyFromQORServer(socket, gData.keyMgr, Config()) == 0) {
    gData.initialised = 1;
    Publish(gData.updateReady, 0);
  }
  socket->Destroy(&socket);
  return gData.initialised ? 0 : -1;
}

int Instance::AddSpecficKey(const char* address, uint16_t port, int nameLength, const char* name,
                            int version) {
  QORSocket* socket = CreateSocket(address, port, kAddKeyTimeLimitMs);
  if (socket == nullptr) return -1;
  const int result = socket->GetSpecficKeyFromQORServer(socket, gData.keyMgr, Config(),
                                                        nameLength, name, version);
  socket->Destroy(&socket);
  return result == 0 ? 0 : 1;
}

// True when the policy |name| already holds key version |version|.
bool Instance::HasKeyVersion(int nameLength, const char* name, int version) {
  KeyMgr* mgr = gData.keyMgr;
  if (mgr == nullptr || mgr->GetKeyInfo == nullptr) return false;
  const DataBuffer keyName{nameLength, reinterpret_cast<unsigned char*>(const_cast<char*>(name))};
  std::shared_lock tableLock(qor::agent::PolicyTableLock());
  KeyInfo* info = mgr->GetKeyInfo(mgr, &keyName);
  UACipherUtil* cipher = info != nullptr ? info->cipher : nullptr;
  return cipher != nullptr && cipher->GetCipher != nullptr &&
         cipher->GetCipher(&cipher, version) != nullptr;
}

int Instance::AddKey(int nameLength, const char* name, int version) {
  if (gData.keyMgr == nullptr || Config() == nullptr) return 1;
  if (!ClaimWithin10Seconds(giCallAdd)) return -1;
  // Threads that missed the same version together fetch it once: the ones
  // that waited find it added.
  if (name != nullptr && nameLength > 0 && HasKeyVersion(nameLength, name, version)) {
    Publish(giCallAdd, 0);
    return 0;
  }
  QORApiData* data = ConfigData();
  const int result = AddSpecficKey(data->firstAgentIp, data->firstPort, nameLength, name, version);
  Publish(giCallAdd, 0);
  return result;
}

// Runs the swap when the stamp moved away from the key set in service. Only
// one thread swaps; the others keep serving from the current set. A failed
// swap leaves the stamp unconsumed and is retried after a back-off. False
// only for the call whose swap failed (its reason is the last error).
bool Instance::SwapWhenStampChanged() {
  uint64_t now = 0;
  if (!stamp_.Read(&now) && !RetryStamp(&now)) return true;
  if (!gData.stampKnown.load()) {
    // Readable for the first time since initialisation: nothing to compare
    // with yet.
    gData.cachedStamp.store(now);
    gData.stampKnown.store(true);
    return true;
  }
  // The back-off holds for the stamp that failed; a new stamp is a new
  // rotation and is tried at once.
  const auto due = [&] {
    return now != failedStamp_.load() || SteadyMs() >= swapRetryAtMs_.load();
  };
  if (now == gData.cachedStamp.load() || !due()) return true;
  if (!Claim(swapping_)) return true;
  bool ok = true;
  if (now != gData.cachedStamp.load() && due()) {
    qor::ErrorClearChain(&gData.lastError);
    if (UpdateKeyMgr() == 0) {
      // The set just loaded is at least as new as |now|; a stamp written
      // during the download is still ahead and swaps again.
      gData.cachedStamp.store(now);
      swapFailures_ = 0;
      swapRetryAtMs_ = 0;
    } else {
      const int failures = std::min(swapFailures_.fetch_add(1) + 1, 16);
      const int64_t delay = std::min(kSwapRetryFirstMs << std::min(failures - 1, 10),
                                     kSwapRetryMaxMs);
      swapRetryAtMs_ = SteadyMs() + delay;
      failedStamp_ = now;
      RecordFailure("failed to Key update");
      ok = false;
    }
  }
  swapping_.store(0);
  return ok;
}

// The first call, or a call that found the key set cleared: initialises and
// runs the call under the write lock it initialised with, so every such call
// gets to use a key set even while QOR_ClearKeys keeps clearing it.
bool Instance::EnterInitialised() { return GetInstanceAuto(/*keepLock=*/true) == 0; }

// The instance is not initialised (first call, or the key set was cleared):
// one thread initialises, the others wait for it and then use its key set;
// they fail with its reason when it failed. Bounded by the 10-second wait;
// past it a call initialises on its own, so it always gets its turn.
bool Instance::EnterUninitialised() {
  const auto deadline = std::chrono::steady_clock::now() + kWaitLimit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (Claim(initialising_)) {
      const bool ok = EnterInitialised();
      lastInitFailed_ = ok ? 0 : 1;
      Publish(initialising_, 0);
      return ok;
    }
    {
      std::unique_lock lock(waitLock_);
      changed_.wait_until(lock, deadline, [&] { return initialising_.load() == 0; });
    }
    if (!gData.initialised) {
      if (lastInitFailed_ != 0) return false;
      continue;
    }
    pthread_rwlock_rdlock(&API_rwlock);
    if (gData.initialised) return true;
    pthread_rwlock_unlock(&API_rwlock);  // cleared again meanwhile
  }
  return EnterInitialised();
}

bool Instance::EnterCall() {
  if (!gData.initialised) return EnterUninitialised();
  if (!SwapWhenStampChanged()) return false;
  // Nothing pending is the common case: it must not cost every call the
  // process-wide wait lock, which would line all callers up behind it.
  if (gData.updateReady != 0 || gData.clearing != 0) {
    std::unique_lock lock(waitLock_);
    changed_.wait(lock, [&] { return gData.updateReady == 0 && gData.clearing == 0; });
  }
  pthread_rwlock_rdlock(&API_rwlock);
  if (gData.initialised) return true;
  // QOR_ClearKeys ran between the checks and the lock: wait for the
  // re-initialisation (or run it) instead of failing on an empty key set.
  pthread_rwlock_unlock(&API_rwlock);
  return EnterUninitialised();
}

int Instance::ClearKeys() {
  Publish(gData.clearing, 1);
  {
    WriteLock lock(&API_rwlock);
    DestroyKeyMgr(&gData.keyMgr);
    // Cleared in the same step: a reader that gets the lock next must not
    // take the empty key set for a loaded one.
    gData.initialised = 0;
  }
  Publish(gData.clearing, 0);
  return 0;
}

int Instance::Init() {
  if (gData.initialised) {
    ClearKeys();
    if (gData.initialised) return 1;
  }
  if (GetInstanceAuto() != 0) return 1;
  if (Self_Test() == 0) return 0;
  ClearKeys();
  ErrorInfo_Set(qor::err::kGeneral, "Crypto module verification failed.");
  QOR_LOG_AS("QOR_Init", qor::log::kCrit, "Crypto module verification failed.\n");
  return 1;
}

char* Instance::InitResult() {
  const int n = snprintf(agentInitResult, sizeof(agentInitResult), "Result: %s, Date: ",
                         gData.initialised ? "SUCCESS" : "FAIL");
  QORApiData data;
  if (CopyConfigData(&data) && n > 0) {
    const time_t loaded = static_cast<time_t>(data.loadTime);
    tm local;
    localtime_r(&loaded, &local);
    char date[64];
    snprintf(date, sizeof(date), "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
             local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    x_strcat(agentInitResult, sizeof(agentInitResult), date);
  }
  return agentInitResult;
}

// Under the read lock: QOR_ClearKeys may otherwise free the key set mid-listing.
int Instance::LoadKeyName(char*** out) {
  ReadLock lock(&API_rwlock);
  if (!gData.initialised || gData.keyMgr == nullptr) return 0;
  std::shared_lock tableLock(qor::agent::PolicyTableLock());
  return gData.keyMgr->LoadKeyName(gData.keyMgr, out);
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

qor::api::testing::InstanceState Instance::State() {
  ReadLock lock(&API_rwlock);
  return {gData.initialised,  gData.updateReady, gData.configReady, gData.clearing,
          gData.userSet,      gData.logState,    giCall,            giCallEnv,
          giCallAdd,          giInitMode,        gData.stampKnown ? 1 : 0,
          gData.cachedStamp,  gData.keyMgr};
}

void Instance::InstallKeySet(KeyMgr* mgr, QORApiConf* config) {
  WriteLock lock(&API_rwlock);
  DestroyKeyMgr(&gData.keyMgr);
  gData.keyMgr = mgr;
  gData.config.store(config);
  Publish(gData.configReady, config != nullptr ? 1 : 0);
  gData.initialised = 1;
}

// Field by field: a download may be storing its load time and source meanwhile.
bool Instance::CopyConfigData(QORApiData* out) {
  ReadLock lock(&API_rwlock);
  const QORApiData* data = ConfigData();
  if (data == nullptr) return false;
  std::memcpy(out->home, data->home, sizeof(out->home));
  std::memcpy(out->firstAgentIp, data->firstAgentIp, sizeof(out->firstAgentIp));
  std::memcpy(out->secondAgentIp, data->secondAgentIp, sizeof(out->secondAgentIp));
  out->firstPort = data->firstPort;
  out->secondPort = data->secondPort;
  out->logLevel = data->logLevel;
  std::memcpy(out->deviceIp, data->deviceIp, sizeof(out->deviceIp));
  std::memcpy(out->moduleDir, data->moduleDir, sizeof(out->moduleDir));
  std::memcpy(out->logDir, data->logDir, sizeof(out->logDir));
  out->loadTime = qor::config::LoadTime(data);
  out->useLog = data->useLog;
  out->compatibility = data->compatibility;
  out->useLogDir = data->useLogDir;
  out->bypass = data->bypass;
  out->policyInitFrom = qor::config::PolicyInitFromOf(data);
  out->moduleDirKnown = data->moduleDirKnown;
  out->cryptoMode = data->cryptoMode;
  return true;
}

// Holding giCallEnv keeps builds and replacement downloads out; the write
// lock keeps every entry point out, so no call reads a half-written address.
int Instance::ChangeConfig(void (*change)(QORApiData* data, void* context), void* context) {
  if (!ClaimWithin10Seconds(giCallEnv)) {
    qor::ErrorSet(&gData.lastError, qor::err::kConfigMemory,
                  "Config Instance is busy: another thread keeps building it");
    return -1;
  }
  if (Config() == nullptr) {
    QORApiConf* config = qor::config::Build(&gData.lastError, Filter_level.load());
    if (config == nullptr) config = qor::config::BuildDefault();
    if (config == nullptr) {
      qor::ErrorSet(&gData.lastError, qor::err::kConfigMemory,
                    "Config Instance Memory Allocation Failed");
      Publish(giCallEnv, 0);
      return -1;
    }
    gData.config.store(config);
    gData.userSet = 0;
    Publish(gData.configReady, 1);
  }
  {
    WriteLock lock(&API_rwlock);
    QORApiData* data = ConfigData();
    QORCrypto_SetConfigData(data);
    change(data, context);
    gData.userSet = 1;
  }
  Publish(giCallEnv, 0);
  return 0;
}

void Instance::ClearKeySet(bool dropConfig) {
  // Same order as a setter (giCallEnv, then the write lock). Nothing to
  // release when no configuration is ready: an initialisation may be
  // waiting for giCallEnv under the write lock to build one.
  const bool ownsBuild = dropConfig && gData.configReady && ClaimWithin10Seconds(giCallEnv);
  Publish(gData.clearing, 1);
  {
    WriteLock lock(&API_rwlock);
    DestroyKeyMgr(&gData.keyMgr);
    gData.initialised = 0;
    if (ownsBuild) {
      QORApiConf* config = gData.config.exchange(nullptr);
      QORCrypto_SetConfigData(nullptr);
      Publish(gData.configReady, 0);
      if (config != nullptr) API_Destroy(config);
    }
  }
  if (ownsBuild) Publish(giCallEnv, 0);
  Publish(gData.clearing, 0);
}

int Instance::FetchKeyVersion(const char* name, int version) {
  if (gData.keyMgr == nullptr || Config() == nullptr) return 1;
  if (!ClaimWithin10Seconds(giCallAdd)) return -1;
  if (gData.updateReady != 0 || gData.clearing != 0) {
    std::unique_lock lock(waitLock_);
    changed_.wait(lock, [&] { return gData.updateReady == 0 && gData.clearing == 0; });
  }
  int result = 1;
  {
    ReadLock lock(&API_rwlock);
    QORApiData* data = ConfigData();
    if (name != nullptr && gData.initialised && gData.keyMgr != nullptr && data != nullptr) {
      result = AddSpecficKey(data->firstAgentIp, data->firstPort,
                             static_cast<int>(std::strlen(name)), name, version);
    }
  }
  Publish(giCallAdd, 0);
  return result;
}

}  // namespace

int checkConfInitialize() { return TheInstance().CheckConfInitialize(); }
int LogInit(QORApiData* configData) { return TheInstance().LogInit(configData); }
int updateDateInit(QORApiData* configData) { return TheInstance().UpdateDateInit(configData); }
int QOR_GetInstanceAuto() { return TheInstance().GetInstanceAuto(); }
int Update_KeyMgr() { return TheInstance().UpdateKeyMgr(); }
int FindKeyInfo(DataBuffer* keyName, KeyInfo** out) {
  return TheInstance().FindKeyInfo(keyName, out);
}
int QOR_GetUpdate(const char* address, uint16_t port) {
  return TheInstance().GetUpdate(address, port);
}
int AddSpecficKey(const char* address, uint16_t port, int nameLength, const char* name,
                  int version) {
  return TheInstance().AddSpecficKey(address, port, nameLength, name, version);
}
int QOR_AddKey(int nameLength, const char* name, int version) {
  return TheInstance().AddKey(nameLength, name, version);
}

static_assert(std::is_same_v<decltype(&FindKeyInfo), FindKeyInfoFn>);
static_assert(std::is_same_v<decltype(&QOR_GetUpdate), UpdateKeySetFn>);
static_assert(std::is_same_v<decltype(&QOR_AddKey), AddKeyFn>);

namespace qor::api {

CallGuard::CallGuard() : locked_(TheInstance().EnterCall()) {}

CallGuard::~CallGuard() {
  if (locked_) TheInstance().LeaveCall();
}

namespace testing {
InstanceState ReadState() { return TheInstance().State(); }
void InstallKeySet(KeyMgr* mgr, QORApiConf* config) { TheInstance().InstallKeySet(mgr, config); }
void SetSocketFactory(SocketFactory factory) { TheInstance().SetSocketFactory(factory); }
void SetStampRetryInterval(int milliseconds) {
  TheInstance().SetStampRetryInterval(milliseconds);
}
}  // namespace testing

InstanceStatus ReadStatus() { return TheInstance().Status(); }
void LockInstanceForFork() { TheInstance().LockForFork(); }
void UnlockInstanceAfterFork() { TheInstance().UnlockAfterFork(); }
void LockInstanceSignalsForFork() { TheInstance().SignalLock().lock(); }
void UnlockInstanceSignalsAfterFork() { TheInstance().SignalLock().unlock(); }
QORApiData* CurrentConfigData() { return TheInstance().CurrentConfigData(); }
int WithKeySet(int (*visit)(KeyMgr* mgr, void* context), void* context) {
  return TheInstance().WithKeySet(visit, context);
}
QORSocket* CreateAgentSocket(const QORApiData* data, bool secondAgent, int timeLimitMs) {
  return TheInstance().CreateAgentSocket(data, secondAgent, timeLimitMs);
}
bool CopyConfigData(QORApiData* out) { return TheInstance().CopyConfigData(out); }
int ChangeConfig(void (*change)(QORApiData* data, void* context), void* context) {
  return TheInstance().ChangeConfig(change, context);
}
void ClearKeySet(bool dropConfig) { TheInstance().ClearKeySet(dropConfig); }
int FetchKeyVersion(const char* name, int version) {
  return TheInstance().FetchKeyVersion(name, version);
}

}  // namespace qor::api

ErrorInfo* qor::LastErrorRecord() { return TheInstance().LastError(); }

extern "C" {

QOR_API int QOR_ClearKeys(void) { return TheInstance().ClearKeys(); }
QOR_API int QOR_Init(void) { return TheInstance().Init(); }
QOR_API int QOR_IsInit(void) { return TheInstance().IsInit(); }
QOR_API char* QOR_InitResult(void) { return TheInstance().InitResult(); }
QOR_API int QOR_loadKeyName(char*** out) { return TheInstance().LoadKeyName(out); }
QOR_API int QOR_ReconnectFile(void) { return TheInstance().ReconnectFile(); }
QOR_API int sync_env(void) { return 0; }

}  // extern "C"
