// Building the configuration from the environment or the default properties
// file, completed by the user-defined properties file under the home.
#include <strings.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "common/error_record.h"
#include "config/config_internal.h"
#include "log/log.h"
#include "qor/config.h"
#include "qor/qostring.h"

namespace {

constexpr char kLogUnit[] = "source/Config/QORApiConf";

constexpr char kDefaultProperties[] = "/UlvexDefaultConfig.properties";
constexpr char kUserProperties[] = "/conf/UlvexUserDefineConfig.properties";
constexpr char kLoopback[] = "127.0.0.1";

constexpr char kNoCurrentPath[] = "Can not get current path, please check";
constexpr char kNoEnvironment[] = "Can not get environment variable, please check";
constexpr char kNoConfigFile[] = "Cannot access the Config file. Please check.";
constexpr char kRequiredValue[] = "The required value in the file is not set. Please check.";

using qor::config::kValueCapacity;

bool StartsWith(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

bool Empty(const char* text) { return text == nullptr || text[0] == '\0'; }

uint16_t LogLevelOf(const char* value) {
  if (value == nullptr) return QOR_CONF_LOG_INFO;
  if (StartsWith(value, "ERROR")) return QOR_CONF_LOG_ERROR;
  if (StartsWith(value, "DEBUG")) return QOR_CONF_LOG_DEBUG;
  if (StartsWith(value, "NONE")) return QOR_CONF_LOG_NONE;
  return QOR_CONF_LOG_INFO;
}

int DecimalOf(const char* value) { return x_atoi(value, x_strlen(value)); }

// Sets an address field: the default first, then |value| when it fits, so a
// value that is too long leaves the default in place.
template <size_t N>
void SetAddress(char (&field)[N], const char* fallback, const char* value) {
  char copy[N];
  std::memcpy(copy, fallback, std::strlen(fallback) + 1);  // fallback may be |field| itself
  std::memcpy(field, copy, std::strlen(copy) + 1);
  if (!Empty(value)) x_strcpy(field, N, value);
}

// Environment mode. 0 done; 1 when QOR_HOME is unset (error already set).
int QORApi_GetFromEnv(QORApiData* data, ErrorInfo* record) {
  const char* bypass = std::getenv("QOR_BYPASS");
  data->bypass = (bypass != nullptr && strcasecmp(bypass, "TRUE") == 0) ? 1 : 0;

  const char* home = std::getenv("QOR_HOME");
  if (home == nullptr) {
    qor::ErrorSet(record, QOR_CONF_ERROR, "%s", kNoEnvironment);
    return 1;
  }
  x_strcpy(data->home, sizeof(data->home), home);

  SetAddress(data->firstAgentIp, kLoopback, std::getenv("QOR_FIRST_AGENT_IP"));
  SetAddress(data->secondAgentIp, data->firstAgentIp, std::getenv("QOR_SECOND_AGENT_IP"));

  const char* firstPort = std::getenv("QOR_FIRST_PORT");
  data->firstPort = Empty(firstPort) ? 9909 : static_cast<uint16_t>(DecimalOf(firstPort));
  const char* secondPort = std::getenv("QOR_SECOND_PORT");
  data->secondPort = Empty(secondPort) ? 9911 : static_cast<uint16_t>(DecimalOf(secondPort));

  data->logLevel = LogLevelOf(std::getenv("QOR_LOG_LEVEL"));

  data->cryptoMode = qor::config::kCBC;
  if (std::getenv("QOR_CRYPTO_MODE") != nullptr) {
    if (const char* bmt = std::getenv("QOR_BMT"); bmt != nullptr) {
      const int mode = DecimalOf(bmt);
      // Negative values are refused too: the mode indexes the name table.
      if (!qor::config::SupportedCryptoMode(mode)) {
        QOR_LOG(qor::log::kDebug, "Encryption mode is not supported [%d]\n", mode);
      } else {
        data->cryptoMode = mode;
      }
    }
  }

  const char* useLog = std::getenv("QOR_USE_LOG");
  if (useLog != nullptr && StartsWith(useLog, "FALSE")) data->useLog = 0;
  return 0;
}

// File mode. 0 done; -1 failed (error set unless the failure is a silent one).
int QORApi_GetFromFile(QORApiData* data, ErrorInfo* record, int mode) {
  char path[qor::config::kMaxPropertiesPath + 1] = {};
  if (x_strcpy(path, sizeof(path), data->moduleDir) == nullptr && data->moduleDir[0] != '\0') {
    qor::ErrorSet(record, QOR_CONF_ERROR, "%s", kRequiredValue);
    return -1;
  }
  if (x_strcat(path, sizeof(path), kDefaultProperties) == nullptr) {
    qor::ErrorSet(record, QOR_CONF_ERROR, "%s", kRequiredValue);
    return -1;
  }
  if (access(path, F_OK) != 0) {
    // A positive odd host kind reaches this point only after the environment
    // failed, and keeps that message.
    if (mode % 2 == 1) return -1;
    qor::ErrorSet(record, QOR_CONF_ERROR, "%s", kNoConfigFile);
    return -1;
  }

  char value[kValueCapacity];
  auto required = [&](const char* key, bool nonEmpty) {
    if (qor::config::ReadPropertiesKey(path, key, value) != 0 || (nonEmpty && value[0] == '\0')) {
      qor::ErrorSet(record, QOR_CONF_ERROR, "%s", kRequiredValue);
      return false;
    }
    return true;
  };
  auto optional = [&](const char* key) {
    return qor::config::ReadPropertiesKey(path, key, value) == 0 && value[0] != '\0';
  };

  data->bypass = (optional("QOR_BYPASS") && strcasecmp(value, "TRUE") == 0) ? 1 : 0;

  if (!required("QOR_HOME", true)) return -1;
  x_strcpy(data->home, sizeof(data->home), value);

  if (!required("QOR_FIRST_AGENT_IP", false)) return -1;
  SetAddress(data->firstAgentIp, kLoopback, value);
  if (!required("QOR_SECOND_AGENT_IP", false)) return -1;
  SetAddress(data->secondAgentIp, data->firstAgentIp, value);

  if (!required("QOR_FIRST_PORT", true)) return -1;
  data->firstPort = static_cast<uint16_t>(DecimalOf(value));
  if (!required("QOR_SECOND_PORT", true)) return -1;
  data->secondPort = static_cast<uint16_t>(DecimalOf(value));

  if (!required("QOR_LOG_LEVEL", false)) return -1;
  data->logLevel = LogLevelOf(value);

  data->cryptoMode = qor::config::kCBC;
  if (optional("QOR_CRYPTO_MODE")) {
    const int cryptoMode = DecimalOf(value);
    data->cryptoMode = qor::config::SupportedCryptoMode(cryptoMode) ? cryptoMode : qor::config::kCBC;
  }

  if (optional("QOR_USE_LOG") && StartsWith(value, "FALSE")) data->useLog = 0;
  return 0;
}

// QOR_COMPATIBILITY from the user-defined file; a missing file is no error.
void ReadUserDefined(QORApiData* data) {
  if (data->home[0] == '\0') return;
  char path[qor::config::kMaxPropertiesPath + 1] = {};
  if (x_strcpy(path, sizeof(path), data->home) == nullptr ||
      x_strcat(path, sizeof(path), kUserProperties) == nullptr) {
    return;
  }
  char value[kValueCapacity];
  if (qor::config::ReadPropertiesKey(path, "QOR_COMPATIBILITY", value) != 0) return;
  data->compatibility = StartsWith(value, "TRUE") ? 1 : 0;
}

}  // namespace

namespace qor::config {

QORApiConf* Build(ErrorInfo* errorRecord, int mode) {
  QORApiConf* object = Create();
  if (object == nullptr) {
    QOR_LOG_AS("QORGet_Info", qor::log::kCrit, "Cannot Create Memory Array(E-code %d)\n",
               QOR_CONF_CREATE_ERROR);
    return nullptr;
  }
  QORApiData* data = object->data;

  // Errors go through a record of our own placed in front of the caller's
  // chain, which starts out clean.
  ErrorInfo local{};
  local.next = errorRecord;
  qor::ErrorClearChain(&local);

  const bool positiveOdd = mode % 2 == 1;
  bool fromEnvironment = false;
  if (QORApi_SetCurrentPath(data) == 0) {
    fromEnvironment = mode == 0 || positiveOdd;
  } else if (mode % 2 == 0) {
    qor::ErrorSet(&local, QOR_CONF_ERROR, "%s", kNoCurrentPath);
    API_Destroy(object);
    return nullptr;
  } else if (positiveOdd) {
    fromEnvironment = true;
  } else {
    API_Destroy(object);
    return nullptr;
  }

  bool fromFile = !fromEnvironment;
  if (fromEnvironment && QORApi_GetFromEnv(data, &local) != 0) {
    if (data->moduleDirKnown == 0) {
      API_Destroy(object);
      return nullptr;
    }
    fromFile = true;
  }
  if (fromFile && QORApi_GetFromFile(data, &local, mode) != 0) {
    API_Destroy(object);
    return nullptr;
  }

  ReadUserDefined(data);
  return object;
}

}  // namespace qor::config

extern "C" {

QOR_API QORApiConf* QORGet_Info(ErrorInfo* errorRecord, int mode) {
  return qor::config::Build(errorRecord, mode);
}

}  // extern "C"
