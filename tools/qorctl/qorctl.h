// The commands of qorctl. Each returns the process exit status and, on
// failure, has printed one line "qorctl: <code> <message>" to standard error.
#pragma once

#include <string>
#include <vector>

namespace qorctl {

struct ValueOptions {
  std::string policy;
  std::vector<std::string> values;  // empty: one value per line of standard input
  bool hex = false;                 // binary values, written as hex both ways
  std::string identity1, identity2, identity3;
};

int Encrypt(const ValueOptions& options);
int Decrypt(const ValueOptions& options);
int Status();
int Policies();

// The library echoes its error log lines to standard error when its log level
// asks for it; the log file keeps them, and qorctl's standard error keeps to
// its own one failure line.
void KeepLibraryLogOffStandardError();

// The library's last error as the one failure line; returns 1.
int Fail();
// A failure of qorctl itself, before the library was asked; returns 2.
int Usage(const std::string& message);

}  // namespace qorctl
