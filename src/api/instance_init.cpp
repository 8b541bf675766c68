// Initialisation of the library instance on first use (configuration, log,
// key set, crypto service table) and the callbacks through which the crypto
// service reaches the key set and fetches what it lacks.
#include "api/instance_object.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <type_traits>

#include "common/error_codes.h"
#include "common/error_record.h"
#include "common/last_error.h"
#include "config/build.h"
#include "engine/keymgr/policy_table.h"
#include "log/log.h"
#include "qor/qostring.h"
#include "service/table/service_table.h"

namespace qor::api::state {

// Builds the configuration; the caller holds giCallEnv. 0 built, 7011 failed.
int Instance::BuildConfig() {
  QORApiConf* config = qor::config::Build(qor::LastErrorRecord(), Filter_level.load());
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

// Gives the last error a code and message when a failure set none, so a
// caller never sees -1 with code 0.
void Instance::RecordFailure(const char* what) {
  bool recorded;
  {
    std::lock_guard lock(qor::ErrorLock());
    recorded = qor::ErrorChainEnd(qor::LastErrorRecord())->code != 0;
  }
  if (!recorded) qor::ErrorSet(qor::LastErrorRecord(), qor::err::kGeneral, "%s", what);
}

namespace {
// Copies the newest entry of the last error into |code| and |message|.
void TakeLastError(int* code, char (&message)[QOR_ERROR_MESSAGE_SIZE]) {
  std::lock_guard lock(qor::ErrorLock());
  const ErrorInfo* end = qor::ErrorChainEnd(qor::LastErrorRecord());
  *code = end->code;
  std::memcpy(message, end->message, sizeof(message));
  message[sizeof(message) - 1] = '\0';
}
}  // namespace

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
  // The stamp is taken before the download: a rotation the agent publishes
  // while the set downloads is then still ahead of it and swaps in on the
  // next call. Read after, it would be taken as already loaded and the
  // rotation never picked up.
  qor::ErrorClearChain(qor::LastErrorRecord());
  int stampCode = 0;
  char stampMessage[QOR_ERROR_MESSAGE_SIZE] = {0};
  if (UpdateDateInit(data) != 0) TakeLastError(&stampCode, stampMessage);
  qor::ErrorClearChain(qor::LastErrorRecord());
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
  } else if (stampCode != 0) {
    qor::ErrorSet(qor::LastErrorRecord(), stampCode, "%s", stampMessage);
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
  API_rwlock.lock();
  if (gData.initialised) {
    if (!keepLock) API_rwlock.unlock();
    return 0;
  }
  const int result = InitLocked();
  if (result != 0 || !keepLock) API_rwlock.unlock();
  QOR_LOG_RESULT_AS("QOR_GetInstanceAuto", qor::log::kInfo, "Key Init %s\n",
                    result == 0 ? "SUCCESS" : "FAIL");
  QOR_LOG_AS("QOR_GetInstanceAuto", qor::log::kDebug, "%s\n",
             __DATE__ " " __TIME__ " - 2.0.26.7");
  return result;
}

// The first call, or a call that found the key set cleared: initialises and
// runs the call under the write lock it initialised with, so every such call
// gets to use a key set even while QOR_ClearKeys keeps clearing it.
Instance::Held Instance::EnterInitialised() {
  return GetInstanceAuto(/*keepLock=*/true) == 0 ? Held::kAlone : Held::kNone;
}

// The instance is not initialised (first call, or the key set was cleared):
// one thread initialises, the others wait for it and then use its key set;
// they fail with its reason when it failed. Bounded by the 10-second wait;
// past it a call initialises on its own, so it always gets its turn.
Instance::Held Instance::EnterUninitialised() {
  const auto deadline = std::chrono::steady_clock::now() + kWaitLimit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (Claim(initialising_)) {
      const Held held = EnterInitialised();
      lastInitFailed_ = held != Held::kNone ? 0 : 1;
      Publish(initialising_, 0);
      return held;
    }
    {
      std::unique_lock lock(waitLock_);
      changed_.wait_until(lock, deadline, [&] { return initialising_.load() == 0; });
    }
    if (!gData.initialised) {
      if (lastInitFailed_ != 0) return Held::kNone;
      continue;
    }
    API_rwlock.lock_shared();
    if (gData.initialised) return Held::kShared;
    API_rwlock.unlock_shared();  // cleared again meanwhile
  }
  return EnterInitialised();
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

// Agent socket object for the configured agents, chained to the last error.
QORSocket* Instance::CreateSocket(const char* address, uint16_t port, int timeLimitMs) {
  QORApiData* data = ConfigData();
  QORSocket* socket = socketFactory_.load()(address, port, data->secondAgentIp, data->secondPort,
                                            timeLimitMs, qor::LastErrorRecord());
  if (socket != nullptr) socket->SetErrorVariable(socket, qor::LastErrorRecord());
  return socket;
}

QORSocket* Instance::CreateAgentSocket(const QORApiData* data, bool secondAgent,
                                       int timeLimitMs) {
  QORSocket* socket =
      socketFactory_.load()(data->firstAgentIp, data->firstPort,
                            secondAgent ? data->secondAgentIp : nullptr,
                            secondAgent ? data->secondPort : 0, timeLimitMs, qor::LastErrorRecord());
  if (socket != nullptr) socket->SetErrorVariable(socket, qor::LastErrorRecord());
  return socket;
}

int Instance::FindKeyInfo(DataBuffer* keyName, KeyInfo** out) {
  *out = nullptr;
  KeyMgr* mgr = gData.keyMgr;
  if (mgr == nullptr) return 1;
  // An append after another thread's miss may be growing the table.
  *out = qor::engine::FindPolicy(mgr, keyName);
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
  std::shared_lock tableLock(qor::engine::PolicyTableLock());
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

}  // namespace qor::api::state

using qor::api::state::TheInstance;

std::atomic<int32_t> Filter_level{0};

int checkConfInitialize() { return TheInstance().CheckConfInitialize(); }
int LogInit(QORApiData* configData) { return TheInstance().LogInit(configData); }
int QOR_GetInstanceAuto() { return TheInstance().GetInstanceAuto(); }
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

QORSocket* CreateAgentSocket(const QORApiData* data, bool secondAgent, int timeLimitMs) {
  return TheInstance().CreateAgentSocket(data, secondAgent, timeLimitMs);
}

}  // namespace qor::api

extern "C" {

QOR_API int QOR_Init(void) { return TheInstance().Init(); }

}  // extern "C"
