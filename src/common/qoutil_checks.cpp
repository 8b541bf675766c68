// Small yes/no checks on pointers, texts, numbers and paths.
#include <sys/stat.h>

#include <cstring>
#include <ctime>

#include "common/trace.h"
#include "qor/qoutil.h"

namespace {

constexpr char kLogUnit[] = "source/Common/QOUtil";

bool IsDecimal(char c) { return c >= '0' && c <= '9'; }

bool IsHex(char c) {
  return IsDecimal(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

extern "C" {

QOR_API int QOUtil_isNull(const void* p) { return p == nullptr ? 1 : 0; }

QOR_API int QOUtil_isNotNull(const void* p) { return p != nullptr ? 1 : 0; }

QOR_API int QOUtil_isNullOrEmpty(const char* text) {
  return (text == nullptr || text[0] == '\0') ? 1 : 0;
}

QOR_API int QOUtil_isNullString(const char* text) { return QOUtil_isNullOrEmpty(text); }

QOR_API int QOUtil_isDigit(const char* text) {
  if (text == nullptr) return 0;
  for (; *text != '\0'; ++text) {
    if (!IsDecimal(*text)) return 0;
  }
  return 1;
}

QOR_API int QOUtil_IsValidPortNumber(int port) { return (port >= 1 && port <= 65534) ? 1 : 0; }

// Exactly four dot-separated decimal numbers, each 0 to 255, and nothing else:
// a scanf-style reading would let numbers wrap around 2^32 and accept blanks,
// signs and trailing text.
QOR_API int QOUtil_IsValidIPAddress(const char* text) {
  if (text == nullptr) return 0;
  const char* p = text;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (*p != '.') return 0;
      ++p;
    }
    if (!IsDecimal(*p)) return 0;
    unsigned value = 0;
    for (; IsDecimal(*p); ++p) {
      value = value * 10 + static_cast<unsigned>(*p - '0');
      if (value > 255) return 0;
    }
  }
  return *p == '\0' ? 1 : 0;
}

QOR_API int QOUtil_IsInvalidMacAddress(const char* text) {
  if (text == nullptr) return 0;
  int count = 0;
  for (; text[count] != '\0'; ++count) {
    if (count >= 12 || !IsHex(text[count])) return 0;
  }
  return count == 12 ? 1 : 0;
}

QOR_API int QOUtil_IsRelativePath(const char* path) {
  if (path == nullptr || path[0] == '\0' || path[1] == '\0') return 0;
  return path[0] != '/' ? 1 : 0;
}

QOR_API int QOUtil_IsDirectory(const char* path) {
  if (path == nullptr) {
    QOR_TRACE(qor::log::kCrit, "Null Pointer Exception\n");
    return -1;
  }
  char buffer[260];
  const size_t n = strnlen(path, sizeof(buffer));
  if (n == 0 || n >= sizeof(buffer)) return -1;
  std::memcpy(buffer, path, n + 1);
  // "/" alone stays the root rather than becoming an empty path.
  if (n > 1 && buffer[n - 1] == '/') buffer[n - 1] = '\0';
  struct stat st {};
  if (lstat(buffer, &st) != 0) return -1;
  return S_ISDIR(st.st_mode) ? 0 : -1;
}

QOR_API time_t QOUtil_GetLastModifiedFileTime(const char* path) {
  if (path == nullptr) return 0;
  struct stat st {};
  if (lstat(path, &st) != 0) return 0;
  return st.st_mtime;
}

QOR_API int QOUtil_IsExpired(time_t start, int minutes) {
  const time_t end = start + static_cast<time_t>(minutes) * 60;
  const time_t now = time(nullptr);
  QOR_TRACE(qor::log::kDebug, " eTime:%d, curTime:%d\n", static_cast<int>(end),
            static_cast<int>(now));
  return now >= end ? 1 : 0;
}

}  // extern "C"
