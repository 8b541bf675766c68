// The agent's own log: one line per request and per event, with local time.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

namespace qor::agent_tool {

class RequestLog {
 public:
  // Appends to |path|; an empty path writes to standard error.
  bool Open(const std::string& path, std::string* error);
  ~RequestLog();

  void Request(const std::string& peer, int operation, const std::string& outcome);
  void Event(const std::string& text);

 private:
  void Write(const std::string& line);

  std::mutex mutex_;
  std::FILE* file_ = nullptr;
  bool owned_ = false;
};

}  // namespace qor::agent_tool
