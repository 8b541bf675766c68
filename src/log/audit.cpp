// QOAudit: the audit files. Writers hold one process-wide lock shared and
// reserve their bytes with a compare-and-swap, so they never wait for each
// other; only the thread that rotates, and Init and Uninit, hold it exclusively.
// That is what keeps a writer from ever using a descriptor that is being
// closed, or a number the system has already handed to another file.
#include "log/audit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <shared_mutex>
#include <thread>

#include "log/log.h"

namespace qor::log {
namespace {

constexpr char kLogUnit[] = "source/Audit/QOAudit";
constexpr size_t kTextSize = 1024;    // the caller's text: 1023 characters
constexpr size_t kRecordSize = 2048;  // the whole record: 2047
constexpr unsigned int kAuditLevel = 6;
constexpr int kSizeLimitMb = 2;
// Never 0777: anyone on the host could rewrite the trail.
constexpr mode_t kFileMode = 0644;
constexpr mode_t kDirectoryMode = 0777;

struct AuditHandle {
  std::atomic<lwl_s*> logger{nullptr};
  std::atomic<FILE*> stream{nullptr};
};

constinit AuditHandle aLogger;
constinit AuditLogger g_logger{};
constinit AuditExtension g_extension{};

std::shared_mutex& AuditLock() {
  static std::shared_mutex lock;
  return lock;
}

struct AuditFile {
  int fd = -1;
  FILE* stream = nullptr;
};

// Opens |path| for appending. The directory is world-writable, so whatever
// someone else put at that name is refused: a link would carry the records
// and the mode change to another file, a pipe would block the writer.
AuditFile OpenAuditFile(const char* path) {
  const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                      kFileMode);
  if (fd < 0) return {};
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
      fchmod(fd, kFileMode) != 0 || fcntl(fd, F_SETFL, O_APPEND) != 0) {
    close(fd);
    return {};
  }
  const int streamFd = fcntl(fd, F_DUPFD_CLOEXEC, 0);
  FILE* stream = streamFd >= 0 ? fdopen(streamFd, "a") : nullptr;
  if (stream == nullptr) {
    if (streamFd >= 0) close(streamFd);
    close(fd);
    return {};
  }
  setvbuf(stream, nullptr, _IONBF, 0);
  return {fd, stream};
}

void CopyPath(char* to, const char* from) { memcpy(to, from, strlen(from) + 1); }

// Call with the lock held exclusively.
void UninitLocked() {
  AuditExtension& ext = g_extension;
  if (ext.magic == kAuditMagic) {
    if (ext.fd >= 0) close(ext.fd);
    ext.fd = -1;
    ext.magic = 0;
    ext.rotationIndex = 0;
    ext.rotationLock.store(0, std::memory_order_relaxed);
    ext.bytesWritten.store(0, std::memory_order_relaxed);
    ext.sizeLimit = 0;
    ext.path[0] = '\0';
  }
  aLogger.logger.store(nullptr, std::memory_order_release);
  FILE* stream = aLogger.stream.exchange(nullptr, std::memory_order_acq_rel);
  if (stream != nullptr) fclose(stream);
  ReleaseHandleTexts(&g_logger.lwl);
  InitHandle(&g_logger.lwl);
  g_logger.lwl.level = 0;
  g_logger.lwl.file = nullptr;
  g_logger.directory[0] = '\0';
  g_logger.path[0] = '\0';
  g_logger.ext = nullptr;
  ++g_logger.generation;
}

// Starts the next file of the series; call with the lock held exclusively.
// On failure the current file stays open and in use, and the index is kept,
// so the next attempt tries the same name.
bool RotateLocked(AuditExtension& ext) {
  char path[QOAUDIT_PATH_MAX];
  if (build_name(g_logger.directory, ext.startStamp, ext.processId, ext.rotationIndex + 1, path) !=
      0) {
    return false;
  }
  const AuditFile next = OpenAuditFile(path);
  if (next.fd < 0) return false;
  close(ext.fd);
  ext.fd = next.fd;
  ++ext.rotationIndex;
  CopyPath(ext.path, path);
  CopyPath(g_logger.path, path);
  FILE* old = aLogger.stream.exchange(next.stream, std::memory_order_acq_rel);
  g_logger.lwl.file = next.stream;
  if (old != nullptr) fclose(old);
  ext.bytesWritten.store(0, std::memory_order_relaxed);
  return true;
}

void WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the rest of the record is lost
    data += n;
    size -= static_cast<size_t>(n);
  }
}

bool Fits(const AuditExtension& ext, uint64_t bytes, size_t length) {
  // A record always goes into an empty file, even one longer than the limit.
  return ext.sizeLimit == 0 || bytes == 0 || bytes + length <= ext.sizeLimit;
}

// Appends |record| to the current file, rotating first when it would not fit.
// Enters and leaves with |shared| held (or released when the writer is gone).
void Append(std::shared_lock<std::shared_mutex>& shared, const char* record, size_t length) {
  AuditExtension& ext = g_extension;
  const uint64_t generation = g_logger.generation;
  for (;;) {
    uint64_t bytes = ext.bytesWritten.load(std::memory_order_relaxed);
    if (Fits(ext, bytes, length)) {
      if (!ext.bytesWritten.compare_exchange_weak(bytes, bytes + length,
                                                  std::memory_order_relaxed)) {
        continue;
      }
      WriteAll(ext.fd, record, length);
      return;
    }
    uint64_t expected = 0;
    const bool rotator =
        ext.rotationLock.compare_exchange_strong(expected, 1, std::memory_order_acquire);
    shared.unlock();
    if (rotator) {
      std::unique_lock exclusive(AuditLock());
      if (g_logger.generation != generation) return;  // torn down meanwhile
      bool rotated = true;
      if (!Fits(ext, ext.bytesWritten.load(std::memory_order_relaxed), length)) {
        rotated = RotateLocked(ext);
      }
      ext.rotationLock.store(0, std::memory_order_release);
      if (!rotated) return;  // the record is dropped
    } else {
      // The extension lives in static storage: safe to watch without the lock.
      while (ext.rotationLock.load(std::memory_order_acquire) != 0) {
        std::this_thread::yield();
        std::this_thread::yield();
      }
    }
    shared.lock();
    if (g_logger.generation != generation) return;
  }
}

}  // namespace
}  // namespace qor::log

using namespace qor::log;

// Fork: the child must not inherit the lock held, nor a rotation half done.
void qor::log::LockAuditForFork() {
  for (;;) {
    AuditLock().lock();
    if (g_extension.rotationLock.load(std::memory_order_acquire) == 0) return;
    // A rotator holds the word and waits for this lock: let it finish.
    AuditLock().unlock();
    std::this_thread::yield();
  }
}

void qor::log::UnlockAuditAfterFork() { AuditLock().unlock(); }


extern "C" {

QOR_API int build_name(const char* directory, const char* stamp, unsigned long processId,
                       unsigned long rotationIndex, char* pathOut) {
  if (directory == nullptr || stamp == nullptr || pathOut == nullptr) return -1;
  const size_t length = strlen(directory);
  const char* separator = length > 0 && directory[length - 1] == '/' ? "" : "/";
  char path[QOAUDIT_PATH_MAX];
  const int n = snprintf(path, sizeof(path), "%s%s%s_p%lu_t%s_r%lu.dat", directory, separator,
                         "audit", processId, stamp, rotationIndex);
  // 1024 bytes with the terminator is already too long.
  if (n < 0 || static_cast<size_t>(n) + 1 >= sizeof(path)) return -1;
  memcpy(pathOut, path, static_cast<size_t>(n) + 1);
  return 0;
}

QOR_API void QOAudit_Uninit(void) {
  std::unique_lock exclusive(AuditLock());
  UninitLocked();
}

QOR_API int QOAudit_Init(const char* agentHome) {
  if (agentHome == nullptr || agentHome[0] == '\0') return -1;
  std::unique_lock exclusive(AuditLock());
  if (aLogger.logger.load(std::memory_order_acquire) != nullptr) return -1;

  char directory[sizeof(g_logger.directory)];
  const int n = snprintf(directory, sizeof(directory), "%s/audit", agentHome);
  struct stat st;
  const bool fits = n >= 0 && static_cast<size_t>(n) < sizeof(directory);
  if (!fits || (stat(directory, &st) != 0 &&
                ((mkdir(directory, kDirectoryMode) != 0 && errno != EEXIST) ||
                 stat(directory, &st) != 0))) {
    QOR_LOG(kCrit, "Can not make AUDIT PATH\n");
    return -2;
  }
  if (!S_ISDIR(st.st_mode) || access(directory, W_OK | X_OK) != 0) {
    QOR_LOG(kCrit, "Can not access AUDIT PATH\n");
    return -3;
  }

  AuditLogger& logger = g_logger;
  AuditExtension& ext = g_extension;
  InitHandle(&logger.lwl);
  logger.lwl.file = nullptr;
  CopyPath(logger.directory, directory);
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  ext.magic = kAuditMagic;
  ext.fd = -1;
  ext.processId = static_cast<unsigned long>(getpid());
  snprintf(ext.startStamp, sizeof(ext.startStamp), "%llu",
           static_cast<unsigned long long>(now.tv_sec) * 1000000000ULL +
               static_cast<unsigned long long>(now.tv_nsec));
  ext.rotationIndex = 0;
  ext.rotationLock.store(0, std::memory_order_relaxed);

  if (build_name(logger.directory, ext.startStamp, ext.processId, 0, ext.path) != 0) {
    QOR_LOG(kCrit, "Audit build_name Failed.\n");
    UninitLocked();
    return 0;
  }
  const AuditFile file = OpenAuditFile(ext.path);
  if (file.fd < 0) {
    QOR_LOG(kCrit, "Audit File Create Failed.\n");
    UninitLocked();
    return 0;
  }
  ext.fd = file.fd;
  ext.bytesWritten.store(0, std::memory_order_relaxed);
  CopyPath(logger.path, ext.path);
  logger.ext = &ext;
  lwl_set_attributes(&logger.lwl, LWL_ATTR_FLAGS, LWL_FLAG_AUDIT, LWL_ATTR_STREAM, file.stream,
                     LWL_ATTR_LEVEL, kAuditLevel, LWL_ATTR_MAXSIZE_MB, kSizeLimitMb, 0);
  ext.sizeLimit = static_cast<uint64_t>(logger.lwl.maxSizeMb) << 20;
  ++logger.generation;
  aLogger.stream.store(file.stream, std::memory_order_release);
  aLogger.logger.store(&logger.lwl, std::memory_order_release);
  return 0;
}

QOR_API void lwl_audit_write(lwl_t* logger, unsigned int level, const char* format, ...) {
  if (logger == nullptr || logger != &g_logger.lwl || format == nullptr) return;
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  std::shared_lock shared(AuditLock());
  const AuditExtension* ext = g_logger.ext;
  if (ext == nullptr || ext->magic != kAuditMagic || level > g_logger.lwl.level) return;

  char text[kTextSize];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  const unsigned long long seconds = static_cast<unsigned long long>(now.tv_sec);
  const unsigned long long nanos = static_cast<unsigned long long>(now.tv_nsec);
  char record[kRecordSize];
  const int n = snprintf(record, sizeof(record), "%s,%llu,%llu:", text,
                         seconds * 1000ULL + nanos / 1000000ULL, seconds * 1000000000ULL + nanos);
  if (n <= 0) return;
  const size_t length = static_cast<size_t>(n) < sizeof(record) ? static_cast<size_t>(n)
                                                                  : sizeof(record) - 1;
  Append(shared, record, length);
}

QOR_API int QOLog_Audit_IsEnable(void) {
  return aLogger.logger.load(std::memory_order_acquire) != nullptr &&
                 aLogger.stream.load(std::memory_order_acquire) != nullptr
             ? 1
             : 0;
}

QOR_API lwl_t* QOLog_Audit_GetHandle(void) {
  return aLogger.logger.load(std::memory_order_acquire);
}

QOR_API const char* QOAudit_GetPath(void) {
  // A rotation rewrites the path; each thread gets its own stable copy.
  thread_local char path[QOAUDIT_PATH_MAX];
  std::shared_lock shared(AuditLock());
  if (aLogger.logger.load(std::memory_order_acquire) == nullptr) return "";
  CopyPath(path, g_logger.path);
  return path;
}

}  // extern "C"

namespace {

constexpr int kAuditEncrypt = 1;
constexpr int kAuditDecrypt = 2;
constexpr int kAuditSuccess = 1;
constexpr int kAuditFailure = 0;

}  // namespace

extern "C" {

void Audit_Writer(const char* keyName, int operation, int outcome, const char* tag,
                  const int32_t* encryptFlags, const int32_t* decryptFlags) {
  const int32_t* flags = operation == kAuditEncrypt   ? encryptFlags
                         : operation == kAuditDecrypt ? decryptFlags
                                                 : nullptr;
  if (flags == nullptr || (outcome != kAuditSuccess && outcome != kAuditFailure)) return;
  // flags[0] audits successes, flags[1] failures.
  if (flags[outcome == kAuditSuccess ? 0 : 1] != 1 || QOLog_Audit_IsEnable() == 0) return;

  const char direction = operation == kAuditEncrypt ? 'E' : 'D';
  const char* name = keyName != nullptr ? keyName : "";
  char line[1024];
  if (outcome == kAuditSuccess) {
    std::snprintf(line, sizeof(line), "%s,%c,S,S", name, direction);
  } else {
    // A failure without a classified cause leaves the tag field empty.
    std::snprintf(line, sizeof(line), "%s,%c,F,%s", name, direction, tag != nullptr ? tag : "");
  }
  lwl_audit_write(QOLog_Audit_GetHandle(), kAuditLevel, "%s", line);
}

}  // extern "C"
