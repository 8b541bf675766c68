#include "api/update_stamp.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "common/error_codes.h"
#include "common/error_record.h"
#include "common/regular_file.h"

namespace qor::api {
namespace {

bool ReadAt(int fd, uint64_t* value) {
  ssize_t n;
  do {
    n = pread(fd, value, sizeof(*value), 0);
  } while (n < 0 && errno == EINTR);
  return n == static_cast<ssize_t>(sizeof(*value));
}

}  // namespace

int UpdateStamp::Open(const char* path, ErrorInfo* error, uint64_t* value) {
  const RegularFile file = OpenRegularFile(path);
  if (file.fd < 0) {
    usable_.store(false);
    if (file.notRegular) {
      ErrorSet(error, err::kUpdateStamp, "Failed open [%s]: not a regular file", path);
    } else {
      ErrorSet(error, err::kUpdateStamp, "Failed open [%s]", path);
    }
    return 1;
  }
  uint64_t read = 0;
  if (!ReadAt(file.fd, &read)) {
    close(file.fd);
    usable_.store(false);
    ErrorSet(error, err::kUpdateStamp, "updateDate.dat file size is less than 8Byte");
    return 1;
  }
  // Readers may be in pread on the old descriptor: dup3 swaps the file behind
  // the number in one step, where a close would let the number be reused.
  const int held = fd_.load();
  if (held < 0) {
    fd_.store(file.fd);
  } else {
    if (dup3(file.fd, held, O_CLOEXEC) < 0) {
      close(file.fd);
      usable_.store(false);
      ErrorSet(error, err::kUpdateStamp, "Failed open [%s]", path);
      return 1;
    }
    close(file.fd);
  }
  usable_.store(true);
  *value = read;
  return 0;
}

bool UpdateStamp::Read(uint64_t* value) const {
  if (!usable_.load(std::memory_order_acquire)) return false;
  return ReadAt(fd_.load(std::memory_order_relaxed), value);
}

}  // namespace qor::api
