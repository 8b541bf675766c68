// qorctl's failure lines: one line on standard error, whatever the library
// itself writes there.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "qorapi.h"
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

int Fail() {
  std::cout << std::flush;
  // Some messages end in a line break of their own; the failure is one line.
  std::string message = QOR_GetLastErrorMsg();
  for (char& c : message) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  while (!message.empty() && message.back() == ' ') message.pop_back();
  std::fprintf(gErrors, "qorctl: %d %s\n", QOR_GetLastErrorCode(), message.c_str());
  std::fflush(gErrors);
  return 1;
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
  return 2;
}

}  // namespace qorctl
