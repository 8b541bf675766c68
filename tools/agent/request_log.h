// The agent's own log: one line per request and per event, with local time.
// A log file is rotated by size: LOG becomes LOG.1, LOG.1 becomes LOG.2 and so
// on, and the oldest generation is dropped, so the log never holds more than
// (keep + 1) x maxBytes.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

namespace qor::agent_tool {

class RequestLog {
 public:
  // Appends to |path|; an empty path writes to standard error (never
  // rotated). |maxBytes| 0 turns rotation off; |keep| is at least 1.
  bool Open(const std::string& path, long maxBytes, int keep, std::string* error);
  ~RequestLog();

  void Request(const std::string& peer, int operation, const std::string& outcome);
  void Event(const std::string& text);

 private:
  void Write(const std::string& line);
  void Rotate();  // under mutex_

  std::mutex mutex_;
  std::FILE* file_ = nullptr;
  bool owned_ = false;
  std::string path_;
  long maxBytes_ = 0;
  int keep_ = 1;
  long size_ = 0;
};

}  // namespace qor::agent_tool
