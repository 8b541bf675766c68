// QOLog: the process-wide API log front end over one lwl handle.
#include <sys/stat.h>

#include <atomic>
#include <clocale>
#include <cstring>
#include <ctime>

#include "common/trace.h"
#include "log/log.h"
#include "log/lwl_handle.h"

using namespace qor::log;

namespace {

// The front end's handle lives in static storage: a thread that fetched the
// handle just before a re-initialisation still points at valid memory.
lwl_s g_handle_storage;
std::atomic<lwl_s*> g_handle{nullptr};
// Level of the open log, or -1: the one comparison done before any formatting.
std::atomic<int> g_enabled_level{-1};

struct LevelMapping {
  Level level;
  unsigned int flags;
};

// Configured levels as documented for QOLog_Init.
enum ConfiguredLevel : int { kConfiguredInfo = 1, kConfiguredDebug = 2, kConfiguredError = 3 };

constexpr unsigned int kLineFlags = LWL_FLAG_API | LWL_FLAG_DATE | LWL_FLAG_TIME | LWL_FLAG_LEVEL;
constexpr unsigned int kDebugLineFlags = kLineFlags | LWL_FLAG_PID;

LevelMapping MapConfiguredLevel(int configured) {
  switch (configured) {
    case kConfiguredDebug: return {kDebug, kDebugLineFlags};
    case kConfiguredInfo: return {kInfo, kLineFlags};
    case kConfiguredError: return {kError, kLineFlags};
    default: return {kCrit, kLineFlags};  // NONE: failures at levels 0 to 2 still go out
  }
}

// The common layer's log lines go through the same handle.
void WriteTrace(int level, const char* format, va_list args) {
  WriteLogV(g_handle.load(std::memory_order_acquire), static_cast<unsigned int>(level), format,
            args);
}

}  // namespace


extern "C" {

QOR_API void QOLog_Uninit(void) {
  LockWriter();
  g_enabled_level.store(-1, std::memory_order_release);
  g_handle.store(nullptr, std::memory_order_release);
  lwl_s* h = &g_handle_storage;
  ReleaseHandleTexts(h);
  if (h->file != nullptr && h->file != stdout && h->file != stderr) fclose(h->file);
  InitHandle(h);
  // A writer still holding the old pointer writes nothing at levels above 0.
  h->level = 0;
  h->file = nullptr;
  UnlockWriter();
}

QOR_API int QOLog_Init(const char* path, int configuredLevel) {
  if (path == nullptr || path[0] == '\0') return 1;
  setlocale(LC_TIME, "");
  QOLog_Uninit();

  const size_t length = strlen(path);
  lwl_s* h = &g_handle_storage;
  if (length + 11 + 1 > sizeof(h->fileName)) return 1;

  const time_t now = time(nullptr);
  tm today;
  localtime_r(&now, &today);
  LockWriter();
  InitHandle(h);
  h->file = nullptr;
  snprintf(h->fileName, sizeof(h->fileName), "%s.%04d-%02d-%02d", path, today.tm_year + 1900,
           today.tm_mon + 1, today.tm_mday);
  FILE* file = OpenLogFile(h->fileName);
  if (file == nullptr) {
    g_handle.store(h, std::memory_order_release);  // a handle without a stream
    UnlockWriter();
    return 1;
  }
  memcpy(h->baseName, path, length + 1);
  const LevelMapping mapping = MapConfiguredLevel(configuredLevel);
  UnlockWriter();
  lwl_set_attributes(h, LWL_ATTR_FLAGS, mapping.flags, LWL_ATTR_STREAM, file, LWL_ATTR_LEVEL,
                     static_cast<unsigned int>(mapping.level), 0);
  h->lastMday = today.tm_mday;
  chmod(h->fileName, 0644);
  g_handle.store(h, std::memory_order_release);
  g_enabled_level.store(static_cast<int>(mapping.level), std::memory_order_release);
  qor::trace::Install(&QOLog_IsEnable, &WriteTrace);
  return 0;
}

}  // extern "C"

// Standard error as the API log, for when no log file can be had: the lines
// still reach whoever runs the host, and no file is created anywhere else.
int qor::log::InitToStandardError(int configuredLevel) {
  setlocale(LC_TIME, "");
  QOLog_Uninit();
  lwl_s* h = &g_handle_storage;
  const time_t now = time(nullptr);
  tm today;
  localtime_r(&now, &today);
  LockWriter();
  InitHandle(h);
  const LevelMapping mapping = MapConfiguredLevel(configuredLevel);
  UnlockWriter();
  lwl_set_attributes(h, LWL_ATTR_FLAGS, mapping.flags, LWL_ATTR_STREAM, stderr, LWL_ATTR_LEVEL,
                     static_cast<unsigned int>(mapping.level), 0);
  h->lastMday = today.tm_mday;
  g_handle.store(h, std::memory_order_release);
  g_enabled_level.store(static_cast<int>(mapping.level), std::memory_order_release);
  qor::trace::Install(&QOLog_IsEnable, &WriteTrace);
  return 0;
}

extern "C" {

QOR_API int QOLog_IsEnable(int level) {
  return level >= 0 && level <= g_enabled_level.load(std::memory_order_acquire) ? 1 : 0;
}

QOR_API lwl_t* QOLog_GetHandle(void) { return g_handle.load(std::memory_order_acquire); }

QOR_API const char* QOLog_GetPath(void) {
  // Initialisation and the daily rotation rewrite the name under the writer
  // lock; each thread gets its own stable copy taken under it.
  thread_local char path[sizeof(lwl_s::fileName)];
  LockWriter();
  const lwl_s* h = g_handle.load(std::memory_order_acquire);
  if (h != nullptr) {
    std::memcpy(path, h->fileName, sizeof(path));
    path[sizeof(path) - 1] = '\0';
  } else {
    path[0] = '\0';
  }
  UnlockWriter();
  return path;
}

}  // extern "C"
