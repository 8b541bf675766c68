// What this process has open and the agent's update stamp, as several test
// files check and write them.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace qor::test {

// Open descriptors of this process on |path|, or on anything under it when
// it names a directory.
inline int OpenDescriptorsTo(const std::string& path) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    const std::string target = std::filesystem::read_symlink(entry.path(), ec).string();
    if (ec) continue;
    if (target == path || target.rfind(path + "/", 0) == 0) ++count;
  }
  return count;
}

// Writes the update stamp's first |size| bytes in place, as the agent does
// (a mapping of the file sees the change); creates the file and its
// directory when missing.
inline bool WriteStamp(const std::string& path, uint64_t value, size_t size = sizeof(uint64_t)) {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool ok = pwrite(fd, &value, size, 0) == static_cast<ssize_t>(size);
  close(fd);
  return ok;
}

}  // namespace qor::test
