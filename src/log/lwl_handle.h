// The lwl handle layout, shared by the writer and the API log front end.
#pragma once

#include <cstdarg>
#include <cstdio>

#include "qor/qolog.h"

struct lwl_s {
  unsigned int level;
  char* ident;
  unsigned int flags;
  FILE* file;
  char baseName[512];
  char fileName[512];
  char hostIp[16];
  char* hostName;
  int maxSizeMb;
  // Rotation state kept per handle, so that every log rotates on its own day.
  int lastMday;
  unsigned long lineCounter;
};

namespace qor::log {

// Resets |handle| to the defaults of a new handle (level 7, stdout, no flags).
void InitHandle(lwl_s* handle);
// Releases the owned texts of |handle| (not the handle, not the stream).
void ReleaseHandleTexts(lwl_s* handle);

// Serialises the process-wide writer state, rotations and every write.
void LockWriter();
void UnlockWriter();

// Opens a log file for appending: never through a symbolic link (a link
// planted in the log directory would make the host append to any file it may
// write), never a FIFO or device, never inherited by a child program.
// nullptr when refused.
FILE* OpenLogFile(const char* path);

// lwl_write_log with the arguments already gathered.
void WriteLogV(lwl_s* handle, unsigned int level, const char* format, va_list args);

}  // namespace qor::log
