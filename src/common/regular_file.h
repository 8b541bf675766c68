// Opening the files the library only reads (the update stamp, the emergency
// file and its secret) so that nothing planted at their names can stall or
// redirect the host: a FIFO would block open() forever, a device or a
// directory is never what the agent wrote.
#pragma once

#include <cstdio>

namespace qor {

struct RegularFile {
  int fd = -1;          // open for reading, close-on-exec; -1 when refused
  bool notRegular = false;  // the name exists but is not a regular file
  int error = 0;        // errno of a failed open or fstat
};

// Opens |path| read-only without blocking and keeps it only when it is a
// regular file. The caller closes fd.
RegularFile OpenRegularFile(const char* path);

// The same as a stdio stream ("rb"), or nullptr with errno set (EINVAL for a
// name that is not a regular file).
std::FILE* OpenRegularStream(const char* path);

}  // namespace qor
