#include "common/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace qor {

RegularFile OpenRegularFile(const char* path) {
  RegularFile file;
  if (path == nullptr) {
    file.error = EINVAL;
    return file;
  }
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
  int fd;
  do {
    fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    file.error = errno;
    return file;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    file.error = errno;
    close(fd);
    return file;
  }
  if (!S_ISREG(st.st_mode)) {
    file.notRegular = true;
    file.error = EINVAL;
    close(fd);
    return file;
  }
  // Reads of a regular file never block; the flag goes for tidiness.
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) (void)fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  file.fd = fd;
  return file;
}

std::FILE* OpenRegularStream(const char* path) {
  const RegularFile file = OpenRegularFile(path);
  if (file.fd < 0) {
    errno = file.error;
    return nullptr;
  }
  std::FILE* stream = fdopen(file.fd, "rb");
  if (stream == nullptr) {
    const int e = errno;
    close(file.fd);
    errno = e;
  }
  return stream;
}

}  // namespace qor
