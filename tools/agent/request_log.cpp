#include "request_log.h"

#include <sys/time.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace qor::agent_tool {

bool RequestLog::Open(const std::string& path, long maxBytes, int keep, std::string* error) {
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
  path_ = path;
  maxBytes_ = maxBytes > 0 ? maxBytes : 0;
  keep_ = keep > 0 ? keep : 1;
  std::fseek(file_, 0, SEEK_END);
  size_ = std::ftell(file_);
  if (size_ < 0) size_ = 0;
  return true;
}

void RequestLog::Rotate() {
  std::fclose(file_);
  for (int generation = keep_; generation > 1; --generation) {
    std::rename((path_ + "." + std::to_string(generation - 1)).c_str(),
                (path_ + "." + std::to_string(generation)).c_str());
  }
  std::rename(path_.c_str(), (path_ + ".1").c_str());
  // Should the new file not open, the log stops rather than the agent.
  file_ = std::fopen(path_.c_str(), "ae");
  size_ = 0;
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
  const std::string text = std::string(stamp) + " " + line + "\n";
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_ != nullptr && owned_ && maxBytes_ > 0 && size_ > 0 &&
      size_ + static_cast<long>(text.size()) > maxBytes_) {
    Rotate();
  }
  if (file_ == nullptr) return;
  std::fwrite(text.data(), 1, text.size(), file_);
  std::fflush(file_);
  size_ += static_cast<long>(text.size());
}

void RequestLog::Request(const std::string& peer, int operation, const std::string& outcome) {
  Write("peer=" + peer + " op=" + std::to_string(operation) + " " + outcome);
}

void RequestLog::Event(const std::string& text) { Write(text); }

}  // namespace qor::agent_tool
