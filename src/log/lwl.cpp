// lwl: a small log writer. One entry is formatted, stamped, and written with a
// single write call under the writer lock, so entries from concurrent threads
// never interleave and no entry reaches a stream a rotation is closing.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "log/lwl_handle.h"
#include "log/host_info.h"

namespace qor::log {
namespace {

constexpr size_t kMessageSize = 1024;
constexpr size_t kLineSize = 2048;

std::mutex g_writer_lock;

// Time texts shared by all handles, rebuilt at most once per second.
time_t g_cached_sec = -1;
char g_cached_date[32];
char g_cached_time[32];
char g_cached_date_locale[32];
char g_cached_time_locale[32];

const char* LevelName(unsigned int level) {
  static constexpr const char* kNames[] = {"EMERG",  "ALERT", "CRIT", "ERROR",
                                           "WARNING", "NOTICE", "INFO", "DEBUG"};
  return level < 8 ? kNames[level] : "UNKNOWN_PRIORITY";
}

void RefreshTimeTexts(time_t now, const tm& local) {
  if (now == g_cached_sec) return;
  strftime(g_cached_date, sizeof(g_cached_date), "%Y.%m.%d ", &local);
  strftime(g_cached_time, sizeof(g_cached_time), "%H:%M:%S ", &local);
  strftime(g_cached_date_locale, sizeof(g_cached_date_locale), "%x ", &local);
  strftime(g_cached_time_locale, sizeof(g_cached_time_locale), "%X ", &local);
  g_cached_sec = now;
}

bool SameDay(const tm& a, const tm& b) {
  return a.tm_year == b.tm_year && a.tm_mon == b.tm_mon && a.tm_mday == b.tm_mday;
}

bool FileDateIsToday(const char* path, const tm& today) {
  struct stat st;
  if (path[0] == '\0' || stat(path, &st) != 0) return false;
  tm modified;
  localtime_r(&st.st_mtime, &modified);
  return SameDay(modified, today);
}

// Opens baseName.YYYY-MM-DD for today and makes it the handle's stream.
bool OpenDailyFile(lwl_s* h, const tm& today) {
  char name[sizeof(h->fileName)];
  const int n = snprintf(name, sizeof(name), "%s.%04d-%02d-%02d", h->baseName,
                         today.tm_year + 1900, today.tm_mon + 1, today.tm_mday);
  if (n < 0 || static_cast<size_t>(n) >= sizeof(name)) return false;
  FILE* f = OpenLogFile(name);
  if (f == nullptr) return false;
  h->file = f;
  memcpy(h->fileName, name, static_cast<size_t>(n) + 1);
  return true;
}

void CloseStream(lwl_s* h) {
  if (h->file == nullptr) return;
  fflush(h->file);
  if (h->file != stdout && h->file != stderr) fclose(h->file);
  h->file = nullptr;
}

bool RotateBySize(lwl_s* h, const tm& now) {
  char name[sizeof(h->fileName)];
  const int n = snprintf(name, sizeof(name), "%s_%04d%02d%02d_%02d%02d%02d.log", h->baseName,
                         now.tm_year + 1900, now.tm_mon + 1, now.tm_mday, now.tm_hour,
                         now.tm_min, now.tm_sec);
  if (n < 0 || static_cast<size_t>(n) >= sizeof(name)) return false;
  CloseStream(h);
  FILE* f = OpenLogFile(name);
  if (f == nullptr) return false;
  h->file = f;
  memcpy(h->fileName, name, static_cast<size_t>(n) + 1);
  return true;
}

// Day and size rotation before an entry. False: drop the entry.
bool PrepareStream(lwl_s* h, const tm& now) {
  const bool rotating = h->baseName[0] != '\0';
  if (h->file == nullptr) {
    if (rotating && OpenDailyFile(h, now)) {
      h->lastMday = now.tm_mday;
      return true;
    }
    if (!rotating && h->fileName[0] != '\0') h->file = OpenLogFile(h->fileName);
    return true;  // without a stream the entry goes to standard error
  }
  if (h->lastMday == now.tm_mday) {
    ++h->lineCounter;
    if (rotating && h->maxSizeMb > 0 && h->lineCounter % 4096 == 0) {
      struct stat st;
      if (fstat(fileno(h->file), &st) == 0 &&
          st.st_size >= static_cast<off_t>(h->maxSizeMb) * 1048576) {
        return RotateBySize(h, now);
      }
    }
    return true;
  }
  if (rotating && !FileDateIsToday(h->fileName, now)) {
    CloseStream(h);
    if (!OpenDailyFile(h, now)) return false;  // the next entry tries again
  }
  h->lastMday = now.tm_mday;
  return true;
}

// Appends up to |n| bytes of |text| while keeping |reserve| bytes free.
void Append(char* line, size_t& pos, const char* text, size_t n, size_t reserve) {
  const size_t room = kLineSize - reserve > pos ? kLineSize - reserve - pos : 0;
  if (n > room) n = room;
  memcpy(line + pos, text, n);
  pos += n;
}

void AppendText(char* line, size_t& pos, const char* text) {
  if (text != nullptr) Append(line, pos, text, strlen(text), 0);
}

size_t BuildLine(const lwl_s* h, unsigned int level, const char* message, char* line) {
  size_t pos = 0;
  const unsigned int flags = h->flags;
  const bool locale = (flags & LWL_FLAG_LOCALE) != 0;
  if (flags & LWL_FLAG_DATE) AppendText(line, pos, locale ? g_cached_date_locale : g_cached_date);
  if (flags & LWL_FLAG_TIME) AppendText(line, pos, locale ? g_cached_time_locale : g_cached_time);
  if (flags & LWL_FLAG_HOSTIP) {
    AppendText(line, pos, h->hostIp);
    AppendText(line, pos, " ");
  }
  if (flags & LWL_FLAG_HOSTNAME) {
    AppendText(line, pos, h->hostName != nullptr ? h->hostName : "");
    AppendText(line, pos, " ");
  }
  if (flags & LWL_FLAG_IDENT) {
    AppendText(line, pos, h->ident != nullptr ? h->ident : "");
    AppendText(line, pos, " ");
  }
  if (flags & LWL_FLAG_PID) {
    char pid[16];
    snprintf(pid, sizeof(pid), "%10d ", static_cast<int>(getpid()));
    AppendText(line, pos, pid);
  }
  if (flags & LWL_FLAG_LEVEL) {
    AppendText(line, pos, LevelName(level));
    AppendText(line, pos, " ");
  }
  if (kLineSize - pos < 3) {  // no room for ": " and the line feed
    if (pos < kLineSize) memset(line + pos, ' ', kLineSize - pos);
    line[kLineSize - 1] = '\n';
    return kLineSize;
  }
  Append(line, pos, ": ", 2, 1);
  Append(line, pos, message, strlen(message), 1);
  line[pos++] = '\n';
  return pos;
}

}  // namespace

FILE* OpenLogFile(const char* path) {
  const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                      0644);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || fcntl(fd, F_SETFL, O_APPEND) != 0) {
    close(fd);
    return nullptr;
  }
  FILE* f = fdopen(fd, "a");
  if (f == nullptr) close(fd);
  return f;
}

void InitHandle(lwl_s* handle) {
  memset(handle, 0, sizeof(*handle));
  handle->level = 7;
  handle->file = stdout;
  handle->lastMday = -1;
}

void ReleaseHandleTexts(lwl_s* handle) {
  free(handle->ident);
  free(handle->hostName);
  handle->ident = nullptr;
  handle->hostName = nullptr;
}

void LockWriter() { g_writer_lock.lock(); }
void UnlockWriter() { g_writer_lock.unlock(); }

}  // namespace qor::log

using namespace qor::log;

void qor::log::WriteLogV(lwl_s* handle, unsigned int level, const char* format, va_list args) {
  if (handle == nullptr || level > handle->level) return;
  char message[kMessageSize];
  vsnprintf(message, sizeof(message), format, args);

  const time_t now = time(nullptr);
  tm local;
  localtime_r(&now, &local);
  char line[kLineSize];

  std::lock_guard lock(g_writer_lock);
  RefreshTimeTexts(now, local);
  if (!PrepareStream(handle, local)) return;
  const size_t length = BuildLine(handle, level, message, line);
  FILE* out = handle->file != nullptr ? handle->file : stderr;
  fwrite(line, 1, length, out);
  if (out != stderr && (handle->level == 7 || handle->level <= 3)) {
    fwrite(line, 1, length, stderr);
    fflush(stderr);
  }
  fflush(out);
}

extern "C" {

QOR_API lwl_t* lwl_alloc(void) {
  auto* handle = static_cast<lwl_s*>(malloc(sizeof(lwl_s)));
  if (handle != nullptr) InitHandle(handle);
  return handle;
}

QOR_API void lwl_free(lwl_t* handle) {
  if (handle == nullptr) return;
  ReleaseHandleTexts(handle);
  free(handle);
}

QOR_API int lwl_set_attributes(lwl_t* handle, ...) {
  if (handle == nullptr) return -1;
  va_list args;
  va_start(args, handle);
  int result = 0;
  for (int attribute = va_arg(args, int); attribute != 0; attribute = va_arg(args, int)) {
    switch (attribute) {
      case LWL_ATTR_LEVEL: {
        const unsigned int level = va_arg(args, unsigned int);
        if (level > 7) result = -1;
        else handle->level = level;
        break;
      }
      case LWL_ATTR_IDENT: {
        const char* ident = va_arg(args, const char*);
        free(handle->ident);
        handle->ident = ident != nullptr ? strdup(ident) : nullptr;
        break;
      }
      case LWL_ATTR_FLAGS: {
        const unsigned int flags = va_arg(args, unsigned int);
        if (flags != handle->flags && (flags & (LWL_FLAG_HOSTIP | LWL_FLAG_HOSTNAME))) {
          LookUpHost(handle);
        }
        handle->flags = flags;
        break;
      }
      case LWL_ATTR_STREAM:
        handle->file = va_arg(args, FILE*);
        break;
      case LWL_ATTR_HOSTNAME: {
        const char* name = va_arg(args, const char*);
        free(handle->hostName);
        handle->hostName = name != nullptr ? strdup(name) : nullptr;
        break;
      }
      case LWL_ATTR_MAXSIZE_MB:
        handle->maxSizeMb = va_arg(args, int);
        break;
      default:
        result = -1;
        break;
    }
    if (result != 0) break;
  }
  va_end(args);
  return result;
}

QOR_API void lwl_write_log(lwl_t* handle, unsigned int level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  qor::log::WriteLogV(handle, level, format, args);
  va_end(args);
}

QOR_API unsigned int lwl_get_log_level(lwl_t* handle) {
  return handle != nullptr ? handle->level : 0;
}

QOR_API FILE* lwl_get_default_log_file(lwl_t* handle) {
  return handle != nullptr ? handle->file : nullptr;
}

QOR_API const char* lwl_get_hostname(lwl_t* handle) {
  return handle != nullptr ? handle->hostName : nullptr;
}

QOR_API int make_unique(const char* text, char* out) {
  if (out == nullptr) return -1;
  const size_t length = text != nullptr ? strlen(text) : 0;
  const size_t take = length < 15 ? length : 15;
  memset(out, '0', 15 - take);
  if (take > 0) memcpy(out + 15 - take, text + length - take, take);
  out[15] = '\0';
  return 0;
}

}  // extern "C"
