// File copy with the policy's rule for an existing target.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/trace.h"
#include "qor/qoutil.h"

namespace {

constexpr char kLogUnit[] = "source/Common/QOUtil";
constexpr size_t kBlockSize = 65535;
constexpr size_t kMaxRenamedPath = 4095;

using File = std::unique_ptr<FILE, int (*)(FILE*)>;

bool Exists(const char* path) {
  struct stat st {};
  return stat(path, &st) == 0;
}

bool IsOpenFile(FILE* open, const char* path) {
  struct stat a {};
  struct stat b {};
  return fstat(fileno(open), &a) == 0 && stat(path, &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

// First of "target.1", "target.2", ... that does not exist; empty when the
// name would grow past the path limit.
std::string FreeRenamedTarget(const char* target) {
  for (int n = 1; n > 0; ++n) {
    std::string candidate = std::string(target) + "." + std::to_string(n);
    if (candidate.size() > kMaxRenamedPath) return {};
    if (!Exists(candidate.c_str())) return candidate;
  }
  return {};
}

}  // namespace

extern "C" {

QOR_API int QOUtil_Copy(const char* source, const char* target, int mode) {
  if (source == nullptr) {
    QOR_TRACE(qor::log::kError, "Source file is null\n");
    return 0;
  }
  if (target == nullptr) {
    QOR_TRACE(qor::log::kError, "Destination file is null\n");
    return 0;
  }
  if (std::strcmp(source, target) == 0) return 1;

  File in(std::fopen(source, "rb"), &std::fclose);
  if (!in) {
    QOR_TRACE(qor::log::kError, "Can not open src file : %s\n", source);
    return 0;
  }

  std::string destination = target;
  if (Exists(target)) {
    if (mode == QOUTIL_TARGET_BYPASS) return 1;
    if (mode == QOUTIL_TARGET_REFUSE) {
      QOR_TRACE(qor::log::kError, "The target file exists : %s\n", target);
      return 0;
    }
    if (mode == QOUTIL_TARGET_RENAME) {
      destination = FreeRenamedTarget(target);
      if (destination.empty()) {
        QOR_TRACE(qor::log::kError, "Can not open destination file : %s\n", target);
        return 0;
      }
    }
  }

  // The target may be the source under another name (a link, "./"):
  // opening it for writing would empty the source before a byte is copied.
  if (IsOpenFile(in.get(), destination.c_str())) return 1;

  File out(std::fopen(destination.c_str(), "wb"), &std::fclose);
  if (!out) {
    QOR_TRACE(qor::log::kError, "Can not open destination file : %s\n", destination.c_str());
    return 0;
  }

  std::vector<unsigned char> block(kBlockSize);
  bool failed = false;
  for (;;) {
    const size_t n = std::fread(block.data(), 1, block.size(), in.get());
    if (n == 0) break;
    if (std::fwrite(block.data(), 1, n, out.get()) != n) {
      failed = true;
      break;
    }
  }
  // A read error or a write the system only refuses on flush must not pass
  // for a finished copy.
  if (std::ferror(in.get()) != 0) failed = true;
  if (std::fclose(out.release()) != 0) failed = true;
  if (failed) {
    QOR_TRACE(qor::log::kError, "Target file write failure : %s\n", destination.c_str());
    std::remove(destination.c_str());
    return 0;
  }
  return 1;
}

}  // extern "C"
