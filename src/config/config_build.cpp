// Building the configuration from the environment or the default properties
// file, completed by the user-defined properties file under the home.
#include <strings.h>
#include <unistd.h>

#include <cstdio>
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

// A setting that cannot work is refused with its name and value: a home that
// does not fit would leave every path at the file-system root (and audit
// off), and a port number above 65535 would silently wrap to another port.
// Values are quoted at most this long.
constexpr int kQuotedMost = 200;

bool RefuseSetting(ErrorInfo* record, const char* name, const char* value, const char* why) {
  const char* text = value != nullptr ? value : "";
  const int length = static_cast<int>(strnlen(text, kQuotedMost + 1));
  char message[512];
  std::snprintf(message, sizeof(message), "Invalid %s [%.*s%s]: %s", name,
                length > kQuotedMost ? kQuotedMost : length, text,
                length > kQuotedMost ? "..." : "", why);
  qor::ErrorSet(record, QOR_CONF_ERROR, "%s", message);
  QOR_LOG_AS("QORGet_Info", qor::log::kCrit, "%s\n", message);
  return false;
}

// Copies a home directory that fits, or refuses it.
bool SetHome(QORApiData* data, const char* value, ErrorInfo* record) {
  if (Empty(value)) return RefuseSetting(record, "QOR_HOME", value, "the agent home is empty");
  if (x_strcpy(data->home, sizeof(data->home), value) == nullptr) {
    return RefuseSetting(record, "QOR_HOME", value, "longer than 254 characters");
  }
  return true;
}

// A decimal port number from 1 to 65535 (blanks around it allowed), or a
// refusal.
bool SetPort(uint16_t* port, const char* name, const char* value, ErrorInfo* record) {
  const char* p = value != nullptr ? value : "";
  while (*p == ' ' || *p == '\t') ++p;
  long n = 0;
  int digits = 0;
  for (; *p >= '0' && *p <= '9' && n <= 65535; ++p, ++digits) n = n * 10 + (*p - '0');
  while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') ++p;
  if (digits == 0 || *p != '\0' || n < 1 || n > 65535) {
    return RefuseSetting(record, name, value, "not a port number from 1 to 65535");
  }
  *port = static_cast<uint16_t>(n);
  return true;
}

// Sets an address field: the default first, then |value| when it fits, so a
// value that is too long leaves the default in place.
template <size_t N>
void SetAddress(char (&field)[N], const char* fallback, const char* value) {
  char copy[N];
  std::memcpy(copy, fallback, std::strlen(fallback) + 1);  // fallback may be |field| itself
  std::memcpy(field, copy, std::strlen(copy) + 1);
  if (!Empty(value)) x_strcpy(field, N, value);
}

// Environment mode. 0 done; 1 when QOR_HOME is unset, 2 when a setting is
// refused (error set for both).
int QORApi_GetFromEnv(QORApiData* data, ErrorInfo* record) {
  const char* bypass = std::getenv("QOR_BYPASS");
  data->bypass = (bypass != nullptr && strcasecmp(bypass, "TRUE") == 0) ? 1 : 0;

  const char* home = std::getenv("QOR_HOME");
  if (home == nullptr) {
    qor::ErrorSet(record, QOR_CONF_ERROR, "%s", kNoEnvironment);
    return 1;
  }
  if (!SetHome(data, home, record)) return 2;

  SetAddress(data->firstAgentIp, kLoopback, std::getenv("QOR_FIRST_AGENT_IP"));
  SetAddress(data->secondAgentIp, data->firstAgentIp, std::getenv("QOR_SECOND_AGENT_IP"));

  const char* firstPort = std::getenv("QOR_FIRST_PORT");
  data->firstPort = 9909;
  if (!Empty(firstPort) && !SetPort(&data->firstPort, "QOR_FIRST_PORT", firstPort, record)) {
    return 2;
  }
  const char* secondPort = std::getenv("QOR_SECOND_PORT");
  data->secondPort = 9911;
  if (!Empty(secondPort) && !SetPort(&data->secondPort, "QOR_SECOND_PORT", secondPort, record)) {
    return 2;
  }

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
  if (!SetHome(data, value, record)) return -1;

  if (!required("QOR_FIRST_AGENT_IP", false)) return -1;
  SetAddress(data->firstAgentIp, kLoopback, value);
  if (!required("QOR_SECOND_AGENT_IP", false)) return -1;
  SetAddress(data->secondAgentIp, data->firstAgentIp, value);

  if (!required("QOR_FIRST_PORT", true)) return -1;
  if (!SetPort(&data->firstPort, "QOR_FIRST_PORT", value, record)) return -1;
  if (!required("QOR_SECOND_PORT", true)) return -1;
  if (!SetPort(&data->secondPort, "QOR_SECOND_PORT", value, record)) return -1;

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
  if (fromEnvironment) {
    const int fromEnv = QORApi_GetFromEnv(data, &local);
    // A setting that is there but cannot work is not replaced by the file's.
    if (fromEnv == 2 || (fromEnv != 0 && data->moduleDirKnown == 0)) {
      API_Destroy(object);
      return nullptr;
    }
    if (fromEnv != 0) fromFile = true;
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
