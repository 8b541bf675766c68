// qorctl's failure lines on standard error, whatever the library itself
// writes there: the library's code and message on one line, then at most one
// line of context.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "qorapi.h"
#include "context.h"
#include "qorctl.h"

namespace qorctl {

namespace {
// Where qorctl's own failure lines go: standard error as it was at start.
FILE* gErrors = stderr;
}  // namespace

void KeepLibraryLogOffStandardError() {
  std::fflush(stderr);
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null < 0) return;
  const int saved = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  FILE* errors = saved >= 0 ? fdopen(saved, "w") : nullptr;
  if (errors == nullptr) {
    if (saved >= 0) close(saved);
    close(null);
    return;
  }
  dup2(null, STDERR_FILENO);
  close(null);
  gErrors = errors;
}

namespace {

// The library's message on one line: a message that goes on after a line
// break (3015 adds where the key set came from) keeps that tail in
// parentheses, without the arrows that set it apart in the log.
std::string Tidy(const std::string& message) {
  std::string head;
  std::string tail;
  size_t start = 0;
  bool first = true;
  while (start <= message.size()) {
    size_t end = message.find_first_of("\r\n", start);
    if (end == std::string::npos) end = message.size();
    std::string part = message.substr(start, end - start);
    const size_t from = part.find_first_not_of(" \t");
    part = from == std::string::npos ? "" : part.substr(from);
    while (!part.empty() && (part.back() == ' ' || part.back() == '\t')) part.pop_back();
    if (!first && part.rfind(">>>", 0) == 0) {
      part = part.substr(3);
      part.erase(0, part.find_first_not_of(' '));
    }
    if (first) {
      head = part;
      first = false;
    } else if (!part.empty()) {
      tail += (tail.empty() ? "" : "; ") + part;
    }
    start = end + 1;
  }
  if (tail.empty()) return head;
  return head.empty() ? tail : head + " (" + tail + ")";
}

}  // namespace

void PrintFailure(int code, const std::string& message, const std::string& where) {
  std::cout << std::flush;
  std::fprintf(gErrors, "qorctl: %d %s\n", code, Tidy(message).c_str());
  std::string context = ContextFor(code, message);
  if (!where.empty()) context = where + (context.empty() ? "" : "; " + context);
  if (!context.empty()) std::fprintf(gErrors, "qorctl: %s\n", context.c_str());
  std::fflush(gErrors);
}

int Fail(const std::string& where) {
  PrintFailure(QOR_GetLastErrorCode(), QOR_GetLastErrorMsg(), where);
  return kExitFailed;
}

int Report(const std::string& line, int status) {
  std::cout << std::flush;
  std::fprintf(gErrors, "%s\n", line.c_str());
  std::fflush(gErrors);
  return status;
}

FILE* ErrorStream() { return gErrors; }

int Usage(const std::string& message) {
  std::cout << std::flush;
  std::fprintf(gErrors, "qorctl: %s\n", message.c_str());
  std::fflush(gErrors);
  return kExitUsage;
}

}  // namespace qorctl
