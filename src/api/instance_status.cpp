// Clearing the key set and the queries that report on the instance.
#include "api/instance_object.h"

#include <cstdio>
#include <ctime>

#include "config/shared_fields.h"
#include "engine/keymgr/policy_table.h"
#include "qor/qostring.h"

namespace qor::api::state {

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
  return qor::engine::LoadPolicyNames(gData.keyMgr, out);
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

}  // namespace qor::api::state

using qor::api::state::TheInstance;

namespace qor::api {

namespace testing {
InstanceState ReadState() { return TheInstance().State(); }
void InstallKeySet(KeyMgr* mgr, QORApiConf* config) { TheInstance().InstallKeySet(mgr, config); }
void SetSocketFactory(SocketFactory factory) { TheInstance().SetSocketFactory(factory); }
}  // namespace testing

InstanceStatus ReadStatus() { return TheInstance().Status(); }
QORApiData* CurrentConfigData() { return TheInstance().CurrentConfigData(); }

}  // namespace qor::api

extern "C" {

QOR_API int QOR_ClearKeys(void) { return TheInstance().ClearKeys(); }
QOR_API int QOR_IsInit(void) { return TheInstance().IsInit(); }
QOR_API char* QOR_InitResult(void) { return TheInstance().InitResult(); }
QOR_API int QOR_loadKeyName(char*** out) { return TheInstance().LoadKeyName(out); }
QOR_API int sync_env(void) { return 0; }

}  // extern "C"
