// The commands of qorctl. Each returns the process exit status and, on
// failure, has printed one line "qorctl: <code> <message>" to standard error.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace qorctl {

struct ValueOptions {
  std::string policy;
  std::vector<std::string> values;  // empty: one value per line of standard input
  bool hex = false;                 // binary values, written as hex both ways
  std::string identity1, identity2, identity3;
};

struct FileOptions {
  std::string policy;
  std::string source;
  std::string target;  // empty: in place
  std::string identity1, identity2, identity3;
  bool quiet = false;  // no progress line even on a terminal
};

int Encrypt(const ValueOptions& options);
int Decrypt(const ValueOptions& options);
int EncryptFileCommand(const FileOptions& options);
int DecryptFileCommand(const FileOptions& options);
int Status();
int Policies();

// The library echoes its error log lines to standard error when its log level
// asks for it; the log file keeps them, and qorctl's standard error keeps to
// its own one failure line.
void KeepLibraryLogOffStandardError();

// The library's last error as the one failure line; returns 1.
int Fail();
// Writes |line| as the one failure line; returns |status|.
int Report(const std::string& line, int status);
// Where the failure lines go (standard error as it was at start).
FILE* ErrorStream();
// A failure of qorctl itself, before the library was asked; returns 2.
int Usage(const std::string& message);

}  // namespace qorctl
