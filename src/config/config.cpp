// The configuration object: creation, defaults, the library's directory and
// release.
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "config/config_internal.h"
#include "log/log.h"
#include "qor/config.h"
#include "qor/qostring.h"
#include "qor/qoutil.h"
#include "qor/qoutil_host.h"

namespace {

constexpr char kLogUnit[] = "source/Config/QORApiConf";
constexpr char kLoopback[] = "127.0.0.1";
constexpr uint16_t kFirstPort = 9909;
constexpr uint16_t kSecondPort = 9911;

struct ModuleDirOverrideState {
  std::mutex lock;
  std::optional<std::string> dir;
};

ModuleDirOverrideState& OverrideState() {
  static ModuleDirOverrideState state;
  return state;
}

void SetAgentDefaults(QORApiData* data) {
  x_strcpy(data->firstAgentIp, sizeof(data->firstAgentIp), kLoopback);
  x_strcpy(data->secondAgentIp, sizeof(data->secondAgentIp), kLoopback);
  data->firstPort = kFirstPort;
  data->secondPort = kSecondPort;
  data->cryptoMode = qor::config::kCBC;
}

}  // namespace

namespace qor::config {

void SetModuleDirOverrideForTesting(std::optional<std::string> dir) {
  ModuleDirOverrideState& state = OverrideState();
  std::lock_guard guard(state.lock);
  state.dir = std::move(dir);
}

std::optional<std::string> ModuleDirOverride() {
  ModuleDirOverrideState& state = OverrideState();
  std::lock_guard guard(state.lock);
  return state.dir;
}

}  // namespace qor::config

extern "C" {

const char* const CryptoMode[6] = {"CBC", "ECB", "CTR", "OFB", "CFB", "BYPASS"};
const char* const PolicyInitFrom[4] = {"Nothing", "First Agent", "Second Agent",
                                       "Emergency File"};
QORApiConf* apiObject = nullptr;

QOR_API int QORApiConf_Create(void) {
  return qor::config::Create() != nullptr ? 0 : QOR_CONF_CREATE_ERROR;
}

QOR_API int QORApi_SetCurrentPath(QORApiData* configData) {
  if (configData == nullptr) return 1;
  char dir[PATH_MAX];
  if (std::optional<std::string> forced = qor::config::ModuleDirOverride()) {
    if (forced->empty() || forced->size() >= sizeof(dir)) return 1;
    std::memcpy(dir, forced->c_str(), forced->size() + 1);
  } else if (QOUtil_GetModulePathNameOnly(reinterpret_cast<const void*>(&QORApi_SetCurrentPath),
                                          dir, sizeof(dir)) != 0) {
    return 1;
  }
  if (x_strcpy(configData->moduleDir, sizeof(configData->moduleDir), dir) == nullptr) return 1;
  configData->moduleDirKnown = 1;
  return 0;
}

QOR_API void API_Destroy(QORApiConf* object) {
  if (object == nullptr) return;
  // Builds may run in several threads; the exported pointer is swapped whole.
  QORApiConf* expected = object;
  __atomic_compare_exchange_n(&apiObject, &expected, nullptr, false, __ATOMIC_ACQ_REL,
                              __ATOMIC_ACQUIRE);
  std::free(object->data);
  std::free(object);
}

QOR_API QORApiConf* QORGet_DefaultInfo(void) { return qor::config::BuildDefault(); }

QOR_API QORApiConf* QORGet_AgentLessInfo(void) { return qor::config::BuildAgentLess(); }

}  // extern "C"

namespace qor::config {

QORApiConf* Create() {
  auto* object = static_cast<QORApiConf*>(x_calloc(1, sizeof(QORApiConf)));
  auto* data = static_cast<QORApiData*>(x_calloc(1, sizeof(QORApiData)));
  if (object == nullptr || data == nullptr) {
    std::free(object);
    std::free(data);
    return nullptr;
  }
  data->firstPort = kFirstPort;
  data->secondPort = kSecondPort;
  data->logLevel = QOR_CONF_LOG_INFO;
  data->useLog = 1;
  if (GetIP(data->deviceIp, sizeof(data->deviceIp)) != 0) data->deviceIp[0] = '\0';
  object->data = data;
  object->created = 1;
  __atomic_store_n(&apiObject, object, __ATOMIC_RELEASE);
  return object;
}

QORApiConf* BuildDefault() {
  QORApiConf* object = Create();
  if (object == nullptr) {
    QOR_LOG_AS("QORGet_DefaultInfo", qor::log::kCrit, "Cannot Create Memory Array(E-code %d)\n",
               QOR_CONF_CREATE_ERROR);
    return nullptr;
  }
  QORApiData* data = object->data;
  if (const char* home = std::getenv("HOME"); home != nullptr) {
    x_strcpy(data->home, sizeof(data->home), home);
  }
  SetAgentDefaults(data);
  data->logLevel = QOR_CONF_LOG_INFO;
  QORApi_SetCurrentPath(data);  // only for the reports; failure is not an error here
  return object;
}

QORApiConf* BuildAgentLess() {
  QORApiConf* object = Create();
  if (object == nullptr) {
    QOR_LOG_AS("QORGet_AgentLessInfo", qor::log::kCrit, "Cannot Create Memory Array(E-code %d)\n",
               QOR_CONF_CREATE_ERROR);
    return nullptr;
  }
  QORApiData* data = object->data;
  if (QORApi_SetCurrentPath(data) != 0) {
    API_Destroy(object);
    return nullptr;
  }
  x_strcpy(data->home, sizeof(data->home), data->moduleDir);
  x_strcpy(data->logDir, sizeof(data->logDir), data->moduleDir);
  SetAgentDefaults(data);
  data->useLogDir = 1;
  data->logLevel = QOR_CONF_LOG_DEBUG;
  return object;
}

}  // namespace qor::config
