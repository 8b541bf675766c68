// The audit writer's records: an lwl handle with an extension that owns the
// file, its name and its rotation. Both live in static storage for the life of
// the process, so a thread still holding the handle after QOAudit_Uninit reads
// valid memory (and finds the extension invalid).
#pragma once

#include <atomic>
#include <cstdint>

#include "log/lwl_handle.h"
#include "qor/qoaudit.h"

namespace qor::log {

// Taken before a fork and released after it in both processes, so the child
// starts with the audit writer idle.
void LockAuditForFork();
void UnlockAuditAfterFork();

inline constexpr uint32_t kAuditMagic = 0xA17D17;

struct AuditExtension {
  uint32_t magic;
  unsigned long processId;
  char startStamp[32];
  uint64_t rotationIndex;
  // 1 while one writer rotates; the others wait for it instead of queueing
  // on the exclusive lock.
  std::atomic<uint64_t> rotationLock;
  int fd;
  char path[QOAUDIT_PATH_MAX];
  // Writers reserve their record's bytes here before writing, so a file never
  // passes its limit.
  std::atomic<uint64_t> bytesWritten;
  uint64_t sizeLimit;  // 0: never rotate
};

struct AuditLogger {
  lwl_s lwl;  // first: the audit logger is handed out as an lwl handle
  char directory[512];
  char path[QOAUDIT_PATH_MAX];
  AuditExtension* ext;
  // Bumped by every Init and Uninit: a writer that let go of the lock can tell
  // whether the writer it started with still exists.
  uint64_t generation;
};

}  // namespace qor::log
