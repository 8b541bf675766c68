// The library instance: initialisation on first use, key-set swaps when the
// agent publishes a new stamp, and the small functions that query or reset it.
#include "api/instance.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>

#include "agent/socket/qor_socket.h"
#include "common/error_codes.h"
#include "api/error_record.h"
#include "qor/key_mgr.h"
#include "log/log.h"
#include "qor/config.h"
#include "qor/qostring.h"
#include "service/crypto/qor_crypto.h"

InstanceData gData;
pthread_rwlock_t API_rwlock = PTHREAD_RWLOCK_INITIALIZER;
std::atomic<int32_t> giInitMode{0};
std::atomic<int32_t> giCall{0};
std::atomic<int32_t> giCallEnv{0};
std::atomic<int32_t> giCallAdd{0};
std::atomic<int32_t> Filter_level{0};

namespace {

constexpr char kLogUnit[] = "../QORApi";
constexpr char kStampFile[] = "/conf/.qorupdate.dat";
constexpr int kSocketTimeLimitMs = 1000;
constexpr int kAddKeyTimeLimitMs = 4500;

const uint64_t defaultDate = 0;
char updateDatePath[1024];
std::atomic<int32_t> isInitUpdatePath{0};
char agentInitResult[50];

// Serialises the stamp mapping: initialisation and QOR_ReconnectFile may remap.
std::mutex g_stamp_lock;

// Waits until |done| holds or 10 seconds pass. Other threads' work usually
// ends within milliseconds, so the wait looks often instead of once a second.
template <typename Done>
bool WaitUpTo10Seconds(Done done) {
  using namespace std::chrono;
  const auto deadline = steady_clock::now() + seconds(10);
  while (!done()) {
    if (steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(milliseconds(10));
  }
  return true;
}

class WriteLock {
 public:
  WriteLock() { pthread_rwlock_wrlock(&API_rwlock); }
  ~WriteLock() { pthread_rwlock_unlock(&API_rwlock); }
  WriteLock(const WriteLock&) = delete;
  WriteLock& operator=(const WriteLock&) = delete;
};

QORApiData* ConfigData() { return gData.config != nullptr ? gData.config->data : nullptr; }

// Agent socket object for the configured agents, chained to the last error.
QORSocket* CreateSocket(const char* address, uint16_t port, int timeLimitMs) {
  QORApiData* data = ConfigData();
  QORSocket* socket =
      QORSocket_Create(address, port, data->secondAgentIp, data->secondPort, timeLimitMs);
  if (socket != nullptr) socket->SetErrorVariable(socket, &gData.lastError);
  return socket;
}

void DestroyKeyMgr(KeyMgr** slot) {
  if (*slot != nullptr) (*slot)->Destroy(slot);
  *slot = nullptr;
}

// Builds the configuration (the caller decided it must): 0 built, 7011 failed.
int BuildConfig() {
  giCallEnv = 1;
  QORApiConf* config = QORGet_Info(&gData.lastError, Filter_level.load());
  if (config == nullptr) {
    giCallEnv = 0;
    return qor::err::kConfigUnavailable;
  }
  gData.config = config;
  gData.configReady = 1;
  gData.userSet = 0;
  giCallEnv = 0;
  return 0;
}

int DownloadInitialKeySet() {
  if (gData.initialised) return 0;
  if (giCall) {
    return WaitUpTo10Seconds([] { return !giCall.load(); }) && gData.initialised ? 0 : -1;
  }
  giCall = 1;
  QORApiData* data = ConfigData();
  QORSocket* socket = CreateSocket(data->firstAgentIp, data->firstPort, kSocketTimeLimitMs);
  int result = -1;
  if (socket != nullptr) {
    if (socket->GetKeyMgrFromQORServer(socket, &gData.keyMgr, gData.config) == 0) {
      gData.updateReady = 0;
      gData.initialised = 1;
    }
    socket->Destroy(&socket);
    result = gData.initialised ? 0 : -1;
  }
  giCall = 0;
  return result;
}

void UnmapStampLocked(int fd) {
  if (fd >= 0) close(fd);
  isInitUpdatePath = 0;
  gData.updateStamp.store(&defaultDate);
  gData.cachedStamp.store(defaultDate);
}

uint64_t ReadStamp(const uint64_t* stamp) { return __atomic_load_n(stamp, __ATOMIC_RELAXED); }

// Downloads a replacement key set into pendingKeyMgr without holding the
// instance lock: 0 when one is ready to swap in, else -1.
int DownloadReplacement() {
  giCallEnv = 1;
  QORApiData* data = ConfigData();
  QORSocket* socket = CreateSocket(data->firstAgentIp, data->firstPort, kSocketTimeLimitMs);
  const bool connected = socket != nullptr;
  if (connected) {
    if (socket->GetKeyMgrUpdateFromQORServer(socket, &gData.pendingKeyMgr, gData.config) == 0) {
      gData.updateReady = 1;
    }
    socket->Destroy(&socket);
  }
  giCallEnv = 0;
  return connected && gData.updateReady ? 0 : -1;
}

// The swap itself: the only part of an update that holds the write lock.
int DestroyAndReplace_KeyMgr() {
  QOR_LOG(qor::log::kDebug, "Attempting Key update\n");
  WriteLock lock;
  giCall = 1;
  DestroyKeyMgr(&gData.keyMgr);
  giCall = 0;
  if (gData.pendingKeyMgr == nullptr && !gData.updateReady) return 1;
  gData.keyMgr = gData.pendingKeyMgr;
  gData.pendingKeyMgr = nullptr;
  gData.updateReady = 0;
  QOR_LOG_RESULT(qor::log::kInfo, "Key update completed Successfully\n");
  return 0;
}

}  // namespace

int checkConfInitialize() {
  if (gData.configReady) return 0;
  if (!giCallEnv) return 1;
  bool ready = false;
  WaitUpTo10Seconds([&] {
    if (gData.configReady) return ready = true;
    return !giCallEnv.load();
  });
  return ready || gData.configReady ? 0 : -1;
}

int LogInit(QORApiData* configData) {
  gData.logState = 0;
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
  if (QOLog_Init(path, configData->logLevel) == 0) return 0;
  snprintf(path, sizeof(path), "/tmp%s", name);
  if (QOLog_Init(path, configData->logLevel) == 0) {
    gData.logState = 1;
    return 1;
  }
  gData.logState = 2;
  return 2;
}

int updateDateInit(QORApiData* configData) {
  std::lock_guard lock(g_stamp_lock);
  // An earlier mapping is left in place: other threads read the stamp without
  // a lock, and unmapping under them would crash the host. Remaps are rare.
  updateDatePath[0] = '\0';
  x_strcpy(updateDatePath, sizeof(updateDatePath), configData->home);
  x_strcat(updateDatePath, sizeof(updateDatePath), kStampFile);

  const int fd = open(updateDatePath, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    qor::ErrorSet(&gData.lastError, qor::err::kUpdateStamp, "Failed open [%s]", updateDatePath);
    UnmapStampLocked(-1);
    QOR_LOG(qor::log::kCrit, "%s\n", QOR_GetLastErrorMsg());
    return 1;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    qor::ErrorSet(&gData.lastError, qor::err::kUpdateStamp, "Failed get file info");
    UnmapStampLocked(fd);
    return 1;
  }
  if (st.st_size < 8) {
    qor::ErrorSet(&gData.lastError, qor::err::kUpdateStamp, "updateDate.dat file size is less than 8Byte");
    UnmapStampLocked(fd);
    return 1;
  }
  void* mapping = mmap(nullptr, 8, PROT_READ, MAP_SHARED, fd, 0);
  if (mapping == MAP_FAILED) {
    qor::ErrorSet(&gData.lastError, qor::err::kUpdateStamp, "Failed to mmap");
    UnmapStampLocked(fd);
    return 1;
  }
  const auto* stamp = static_cast<const uint64_t*>(mapping);
  gData.cachedStamp.store(ReadStamp(stamp));
  gData.updateStamp.store(stamp);
  isInitUpdatePath = 1;
  close(fd);
  return 0;
}

int QOR_GetInstanceAuto() {
  int result = 0;
  {
    WriteLock lock;
    if (gData.initialised) return 0;
    switch (checkConfInitialize()) {
      case -1:
        result = -1;
        break;
      case 1:
        result = BuildConfig();
        break;
      default:
        break;
    }
    if (result == 0) {
      QORApiData* data = ConfigData();
      QORCrypto_SetConfigData(data);
      if (data->useLog) {
        LogInit(data);
      } else {
        gData.logState = 3;
      }
      result = DownloadInitialKeySet();
      if (data->bypass) {
        if (giInitMode == 0) {
          QORCrypto_Create(&gCrypto, 3);
          giInitMode = 3;
        }
        gData.initialised = 1;
        result = 0;
      } else if (giInitMode == 0) {
        QORCrypto_Create(&gCrypto, 1);
        giInitMode = 1;
      }
      updateDateInit(data);
      gData.clearing = 0;
    }
  }
  QOR_LOG_RESULT(qor::log::kInfo, "Key Init %s\n", result == 0 ? "SUCCESS" : "FAIL");
  QOR_LOG(qor::log::kDebug, "%s\n", __DATE__ " " __TIME__ " - 2.0.26.7");
  return result;
}

int Update_KeyMgr() {
  // One download at a time; a thread that finds one running fails its call
  // like any other failed swap instead of starting a second download.
  static std::mutex update_lock;
  std::unique_lock serial(update_lock, std::try_to_lock);
  if (!serial.owns_lock()) return -1;

  // Without a configuration, or with a replacement already waiting, nothing
  // is downloaded; a waiting replacement is still swapped in.
  int result = 1;
  if (gData.config != nullptr && gData.pendingKeyMgr == nullptr) result = DownloadReplacement();

  if (gData.updateReady) {
    if (DestroyAndReplace_KeyMgr() == 0) return 0;
    result = 1;
  }

  QOR_LOG(qor::log::kError, "failed to Key update\n");
  // A replacement that was never swapped in is released, not dropped.
  DestroyKeyMgr(&gData.pendingKeyMgr);
  gData.updateReady = 0;
  return result;
}

int FindKeyInfo(DataBuffer* keyName, KeyInfo** out) {
  *out = nullptr;
  KeyMgr* mgr = gData.keyMgr;
  if (mgr == nullptr) return 1;
  *out = mgr->GetKeyInfo(mgr, keyName);
  return *out != nullptr ? 0 : 1;
}

int QOR_GetUpdate(const char* address, uint16_t port) {
  if (gData.config == nullptr) return -1;
  QORSocket* socket = CreateSocket(address, port, kSocketTimeLimitMs);
  if (socket == nullptr) return -1;
  if (socket->AppendPolicyFromQORServer(socket, gData.keyMgr, gData.config) == 0) {
    gData.initialised = 1;
    gData.updateReady = 0;
  }
  socket->Destroy(&socket);
  return gData.initialised ? 0 : -1;
}

int AddSpecficKey(const char* address, uint16_t port, int nameLength, const char* name,
                  int version) {
  QORSocket* socket = CreateSocket(address, port, kAddKeyTimeLimitMs);
  if (socket == nullptr) return -1;
  const int result = socket->GetSpecficKeyFromQORServer(socket, gData.keyMgr, gData.config,
                                                        nameLength, name, version);
  socket->Destroy(&socket);
  return result == 0 ? 0 : 1;
}

int QOR_AddKey(int nameLength, const char* name, int version) {
  if (gData.keyMgr == nullptr || gData.config == nullptr) return 1;
  if (giCallAdd && !WaitUpTo10Seconds([] { return !giCallAdd.load(); })) return -1;
  giCallAdd = 1;
  QORApiData* data = ConfigData();
  const int result = AddSpecficKey(data->firstAgentIp, data->firstPort, nameLength, name, version);
  giCallAdd = 0;
  return result;
}

namespace qor::api {

CallGuard::CallGuard() {
  if (gData.initialised) {
    const uint64_t* stamp = gData.updateStamp.load();
    if (stamp != nullptr) {
      const uint64_t now = ReadStamp(stamp);
      uint64_t cached = gData.cachedStamp.load();
      // Only the thread that records the new stamp runs the swap.
      if (now != cached && gData.cachedStamp.compare_exchange_strong(cached, now) &&
          Update_KeyMgr() != 0) {
        return;
      }
    }
  } else if (QOR_GetInstanceAuto() != 0) {
    return;
  }
  while (gData.updateReady || gData.clearing) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  pthread_rwlock_rdlock(&API_rwlock);
  locked_ = true;
}

CallGuard::~CallGuard() {
  if (locked_) pthread_rwlock_unlock(&API_rwlock);
}

}  // namespace qor::api

ErrorInfo* qor::LastErrorRecord() { return &gData.lastError; }

extern "C" {

QOR_API int QOR_ClearKeys(void) {
  gData.clearing = 1;
  {
    WriteLock lock;
    DestroyKeyMgr(&gData.keyMgr);
  }
  gData.initialised = 0;
  gData.clearing = 0;
  return 0;
}

QOR_API int QOR_Init(void) {
  if (gData.initialised) {
    QOR_ClearKeys();
    if (gData.initialised) return 1;
  }
  if (QOR_GetInstanceAuto() != 0) return 1;
  if (Self_Test() == 0) return 0;
  QOR_ClearKeys();
  ErrorInfo_Set(qor::err::kGeneral, "Crypto module verification failed.");
  QOR_LOG(qor::log::kCrit, "Crypto module verification failed.\n");
  return 1;
}

QOR_API int QOR_IsInit(void) { return gData.initialised ? 0 : 1; }

QOR_API char* QOR_InitResult(void) {
  const int n = snprintf(agentInitResult, sizeof(agentInitResult), "Result: %s, Date: ",
                         gData.initialised ? "SUCCESS" : "FAIL");
  QORApiData* data = ConfigData();
  if (data != nullptr && n > 0) {
    const time_t loaded = static_cast<time_t>(data->loadTime);
    tm local;
    localtime_r(&loaded, &local);
    char date[64];
    snprintf(date, sizeof(date), "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
             local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    x_strcat(agentInitResult, sizeof(agentInitResult), date);
  }
  return agentInitResult;
}

QOR_API int QOR_loadKeyName(char*** out) {
  if (!gData.initialised || gData.keyMgr == nullptr) return 0;
  return gData.keyMgr->LoadKeyName(gData.keyMgr, out);
}

QOR_API int QOR_ReconnectFile(void) {
  int result = 0;
  switch (checkConfInitialize()) {
    case -1:
      return -1;
    case 1:
      if (BuildConfig() != 0) return qor::err::kConfigUnavailable;
      result = 1;
      break;
    default:
      break;
  }
  QORCrypto_SetConfigData(ConfigData());
  updateDateInit(ConfigData());
  return result;
}

QOR_API int sync_env(void) { return 0; }

}  // extern "C"
