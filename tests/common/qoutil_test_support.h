// Temporary directories, small file helpers and a log capture for the
// utility and configuration tests.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "qor/qolog.h"

namespace qortest {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qor_util_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Opens the API log at DEBUG in a temporary directory for the life of the
// object; text() returns what was written so far.
class LogCapture {
 public:
  LogCapture() { ok_ = QOLog_Init((dir_ / "api.log").c_str(), 2) == 0; }
  ~LogCapture() { QOLog_Uninit(); }
  bool ok() const { return ok_; }
  std::string text() const {
    lwl_t* handle = QOLog_GetHandle();
    if (handle != nullptr && lwl_get_default_log_file(handle) != nullptr) {
      std::fflush(lwl_get_default_log_file(handle));
    }
    return ReadFile(QOLog_GetPath());
  }

 private:
  TempDir dir_;
  bool ok_ = false;
};

}  // namespace qortest
