// Reading one key from a properties file: KEY="value" lines.
#include <cstring>
#include <string>

#include "config/config_internal.h"
#include "qor/config.h"
#include "qor/qostring.h"
#include "qor/qoutil.h"

namespace qor::config {
namespace {

struct KeyRead {
  char* value;
  // The reader hands over lines longer than its buffer in pieces; a piece that
  // continues a comment line is still comment.
  bool continuesLine = false;
  bool lineIsComment = false;
};

int OnPropertiesLine(void* userData, int capacity, char* line, const char* key) {
  auto* read = static_cast<KeyRead*>(userData);
  if (!read->continuesLine) read->lineIsComment = line[0] == '#';
  const size_t n = std::strlen(line);
  read->continuesLine = n > 0 && line[n - 1] != '\n';
  if (read->lineIsComment) return 1;
  return ApiReadValue(read->value, kValueCapacity, line, key);
}

}  // namespace

int ReadPropertiesKey(const char* path, const char* key, char (&value)[kValueCapacity]) {
  value[0] = '\0';
  KeyRead read{value};
  return FileStreamReader_ReadLineEx(path, &OnPropertiesLine, &read, key) == 0 ? 0 : -1;
}

}  // namespace qor::config

extern "C" {

QOR_API int ApiReadValue(void* userData, int capacity, char* line, const char* key) {
  if (userData == nullptr || line == nullptr || key == nullptr || capacity < 1) return 1;
  if (line[0] == '#' || line[0] == '\0') return 1;
  const std::string pattern = std::string(key) + "=";
  char* found = std::strstr(line, pattern.c_str());
  if (found == nullptr) return 1;
  char* rest = found + pattern.size();
  QOString_Trim(rest, std::strlen(rest) + 1);
  const char* open = std::strchr(rest, '"');
  if (open == nullptr) return 1;
  const char* close = std::strchr(open + 1, '"');
  if (close == nullptr) return 1;
  const size_t n = static_cast<size_t>(close - open - 1);
  if (n + 1 > static_cast<size_t>(capacity)) return 1;
  auto* value = static_cast<char*>(userData);
  std::memcpy(value, open + 1, n);
  value[n] = '\0';
  return 0;
}

}  // extern "C"
