// Opens the API log at DEBUG in a temporary directory for the life of the
// object; text() returns what was written so far.
#pragma once

#include <cstdio>
#include <string>

#include "qor/qolog.h"
#include "support/test_support.h"

namespace qor::test {

class LogCapture {
 public:
  LogCapture() { ok_ = QOLog_Init((dir_ / "api.log").c_str(), 2) == 0; }
  ~LogCapture() { QOLog_Uninit(); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

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

}  // namespace qor::test
