#include "request_log.h"

#include <sys/time.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace qor::agent_tool {

bool RequestLog::Open(const std::string& path, std::string* error) {
  if (path.empty()) {
    file_ = stderr;
    return true;
  }
  file_ = std::fopen(path.c_str(), "ae");
  if (file_ == nullptr) {
    *error = "cannot open log " + path + ": " + std::strerror(errno);
    return false;
  }
  owned_ = true;
  return true;
}

RequestLog::~RequestLog() {
  if (owned_ && file_ != nullptr) std::fclose(file_);
}

void RequestLog::Write(const std::string& line) {
  timeval now{};
  gettimeofday(&now, nullptr);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  char stamp[96];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03ld", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<long>(now.tv_usec / 1000));
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_ == nullptr) return;
  std::fprintf(file_, "%s %s\n", stamp, line.c_str());
  std::fflush(file_);
}

void RequestLog::Request(const std::string& peer, int operation, const std::string& outcome) {
  Write("peer=" + peer + " op=" + std::to_string(operation) + " " + outcome);
}

void RequestLog::Event(const std::string& text) { Write(text); }

}  // namespace qor::agent_tool
