// The instance side of the setters and of the reports that reset it: copying
// and changing the configuration, clearing the key set, fetching one key version.
#include "api/instance_object.h"

#include <cstring>

#include "common/error_codes.h"
#include "common/last_error.h"
#include "config/build.h"
#include "config/shared_fields.h"

namespace qor::api::state {

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
    qor::ErrorSet(qor::LastErrorRecord(), qor::err::kConfigMemory,
                  "Config Instance is busy: another thread keeps building it");
    return -1;
  }
  if (Config() == nullptr) {
    QORApiConf* config = qor::config::Build(qor::LastErrorRecord(), Filter_level.load());
    if (config == nullptr) config = qor::config::BuildDefault();
    if (config == nullptr) {
      qor::ErrorSet(qor::LastErrorRecord(), qor::err::kConfigMemory,
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

}  // namespace qor::api::state

using qor::api::state::TheInstance;

namespace qor::api {

bool CopyConfigData(QORApiData* out) { return TheInstance().CopyConfigData(out); }
int ChangeConfig(void (*change)(QORApiData* data, void* context), void* context) {
  return TheInstance().ChangeConfig(change, context);
}
void ClearKeySet(bool dropConfig) { TheInstance().ClearKeySet(dropConfig); }
int FetchKeyVersion(const char* name, int version) {
  return TheInstance().FetchKeyVersion(name, version);
}

}  // namespace qor::api
