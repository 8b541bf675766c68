#include "agent_home.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace qor::agent_tool {
namespace {

std::string Errno(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

bool EnsureHome(const std::string& home, std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(home + "/conf", ec);
  if (ec || !std::filesystem::is_directory(home + "/conf")) {
    *error = "cannot create " + home + "/conf: " + ec.message();
    return false;
  }
  return true;
}

std::optional<uint64_t> RewriteStamp(const std::string& home, std::string* error) {
  const std::string path = home + kStampFile;
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = Errno("cannot open", path);
    return std::nullopt;
  }
  uint64_t old = 0;
  const bool hadValue = pread(fd, &old, sizeof old, 0) == static_cast<ssize_t>(sizeof old);
  // Microseconds since the epoch: readable by a person, and a restart gives
  // a new value too. Libraries only compare for inequality.
  uint64_t value = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                             std::chrono::system_clock::now().time_since_epoch())
                                             .count());
  if (hadValue && value == old) ++value;
  const bool ok = pwrite(fd, &value, sizeof value, 0) == static_cast<ssize_t>(sizeof value);
  if (!ok) *error = Errno("cannot write", path);
  close(fd);
  if (!ok) return std::nullopt;
  return value;
}

bool ReplaceFile(const std::string& path, const std::string& content, std::string* error) {
  const std::string temporary = path + ".tmp" + std::to_string(getpid());
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << content;
    out.flush();
    if (!out) {
      *error = "cannot write " + temporary;
      std::remove(temporary.c_str());
      return false;
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    *error = Errno("cannot rename to", path);
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

bool WritePidFile(const std::string& home, std::string* error) {
  return ReplaceFile(home + kPidFile, std::to_string(getpid()) + "\n", error);
}

void RemovePidFile(const std::string& home) {
  // Only our own: a second agent started on the same home may own it now.
  const auto pid = ReadPidFile(home);
  if (pid && *pid == getpid()) std::remove((home + kPidFile).c_str());
}

std::optional<long> ReadPidFile(const std::string& home) {
  std::ifstream in(home + kPidFile);
  long pid = 0;
  if (!(in >> pid) || pid <= 0) return std::nullopt;
  return pid;
}

void WriteStatus(const std::string& home, const std::string& line) {
  std::string ignored;
  ReplaceFile(home + kStatusFile, line + "\n", &ignored);
}

}  // namespace qor::agent_tool
