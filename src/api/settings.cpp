// Setters that change the configuration after it was read from its sources.
// Addresses and ports take effect at the next agent connection; home, log and
// bypass settings at the next initialisation. The process environment is left
// alone: another thread may be reading it, and the configuration is what the
// library runs with.
#include <strings.h>

#include <cstring>

#include "api/error_record.h"
#include "api/instance.h"
#include "common/error_codes.h"
#include "qor/config.h"
#include "qorapi.h"

namespace {

// Copies |text| with its terminator when it fits |size| bytes; false otherwise.
bool FitsIn(size_t size, const char* text) { return std::strlen(text) < size; }

void StoreText(char* field, size_t size, const char* text) {
  if (FitsIn(size, text)) std::memcpy(field, text, std::strlen(text) + 1);
}

int RefuseNull() {
  qor::ErrorSet(qor::LastErrorRecord(), qor::err::kNullArgument, "argument value cannot be null");
  return -1;
}

// A text setter: refuses a null text (3001) and a text its field cannot hold
// (3001, nothing changed), else changes the configuration with |change|.
int SetText(const char* text, size_t fieldSize, const char* what,
            void (*change)(QORApiData* data, void* context)) {
  if (text == nullptr) return RefuseNull();
  if (!FitsIn(fieldSize, text)) {
    qor::ErrorSet(qor::LastErrorRecord(), qor::err::kNullArgument,
                  "argument value is too long for the %s (at most %zu bytes)", what,
                  fieldSize - 1);
    return -1;
  }
  return qor::api::ChangeConfig(change, const_cast<char*>(text));
}

int SetNumber(int value, void (*change)(QORApiData* data, void* context)) {
  return qor::api::ChangeConfig(change, &value);
}

int Number(void* context) { return *static_cast<int*>(context); }
const char* Text(void* context) { return static_cast<const char*>(context); }

uint16_t LogLevelOf(const char* name) {
  if (strcasecmp(name, "ERROR") == 0) return QOR_CONF_LOG_ERROR;
  if (strcasecmp(name, "DEBUG") == 0) return QOR_CONF_LOG_DEBUG;
  if (strcasecmp(name, "NONE") == 0) return QOR_CONF_LOG_NONE;
  return QOR_CONF_LOG_INFO;
}

}  // namespace

extern "C" {

QOR_API void QOR_Filter_set(int level) { Filter_level.store(level); }

QOR_API int QOR_SetAgentHome(const char* home) {
  return SetText(home, sizeof(QORApiData::home), "agent home", [](QORApiData* data, void* c) {
    StoreText(data->home, sizeof(data->home), Text(c));
  });
}

QOR_API int QOR_SetFirstPort(int port) {
  return SetNumber(port, [](QORApiData* data, void* c) {
    data->firstPort = static_cast<uint16_t>(Number(c));
  });
}

QOR_API int QOR_SetSecondPort(int port) {
  return SetNumber(port, [](QORApiData* data, void* c) {
    data->secondPort = static_cast<uint16_t>(Number(c));
  });
}

QOR_API int QOR_SetLogLevel(const char* level) {
  if (level == nullptr) return RefuseNull();
  const int value = LogLevelOf(level);
  return SetNumber(value, [](QORApiData* data, void* c) {
    data->logLevel = static_cast<uint16_t>(Number(c));
  });
}

QOR_API int QOR_SetLogDir(const char* directory) {
  return SetText(directory, sizeof(QORApiData::logDir), "log directory",
                 [](QORApiData* data, void* c) {
                   StoreText(data->logDir, sizeof(data->logDir), Text(c));
                   data->useLogDir = 1;
                 });
}

QOR_API int QOR_SetFirstIp(const char* address) {
  return SetText(address, sizeof(QORApiData::firstAgentIp), "agent address",
                 [](QORApiData* data, void* c) {
                   StoreText(data->firstAgentIp, sizeof(data->firstAgentIp), Text(c));
                   StoreText(data->secondAgentIp, sizeof(data->secondAgentIp), Text(c));
                 });
}

QOR_API int QOR_SetSecondIp(const char* address) {
  return SetText(address, sizeof(QORApiData::secondAgentIp), "agent address",
                 [](QORApiData* data, void* c) {
                   StoreText(data->secondAgentIp, sizeof(data->secondAgentIp), Text(c));
                 });
}

// Only switches logging off: a host cannot turn on a log its configuration
// switched off.
QOR_API int QOR_SetUseLog(int flag) {
  return SetNumber(flag, [](QORApiData* data, void* c) {
    if (Number(c) == 0) data->useLog = 0;
  });
}

}  // extern "C"
