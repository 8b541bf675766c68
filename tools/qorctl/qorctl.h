// The commands of qorctl. Each returns the process exit status and, on
// failure, has printed "qorctl: <code> <message>" to standard error, followed
// by at most one line of context when qorctl knows more than the library said.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace qorctl {

// Exit statuses scripts can rely on.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;    // the library reported a failure
inline constexpr int kExitUsage = 2;     // wrong arguments or input qorctl refuses itself
inline constexpr int kExitNotEqual = 3;  // a check answered "no": hash changed, emergency file

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
int Rewrap(const ValueOptions& options);
int KeyVersion(const ValueOptions& options);
int EncryptFileCommand(const FileOptions& options);
int DecryptFileCommand(const FileOptions& options);
int Status(bool fullReport);
int Policies();
int ShowConf();
int CheckPolicy();
int Version();
int Health();
int SelfTest();
int Reinit();

// The values of a value command: its arguments, or else the lines of standard
// input (a CR before the line feed is dropped). |each| gets the value and its
// 1-based position and returns an exit status; the first non-zero one ends the run.
int ForEachValue(const ValueOptions& options,
                 const std::function<int(const std::string& value, size_t position)>& each);

// The library echoes its error log lines to standard error when its log level
// asks for it; the log file keeps them, and qorctl's standard error keeps to
// its own failure lines.
void KeepLibraryLogOffStandardError();

// The library's last error as the failure line, then a line of context when
// qorctl knows more (|where| is put in front of it); returns kExitFailed.
int Fail(const std::string& where = "");
// The failure line for |code| and |message| (a failure saved earlier).
void PrintFailure(int code, const std::string& message, const std::string& where = "");
// Writes |line| as the one failure line; returns |status|.
int Report(const std::string& line, int status);
// Where the failure lines go (standard error as it was at start).
FILE* ErrorStream();
// A failure of qorctl itself, before the library was asked; returns kExitUsage.
int Usage(const std::string& message);

// Which agents the failed call tried: the health and hash checks ask the
// first agent only, loading the key set asks both and then the emergency
// file; kNamedHere leaves the context to the caller's own text.
enum class Tried { kBothAgentsAndFile, kFirstAgent, kNamedHere };
void SetTried(Tried tried);
// Sets what is tried until it goes out of scope.
class TriedScope {
 public:
  explicit TriedScope(Tried tried) { SetTried(tried); }
  ~TriedScope() { SetTried(Tried::kBothAgentsAndFile); }
  TriedScope(const TriedScope&) = delete;
  TriedScope& operator=(const TriedScope&) = delete;
};

// What the library runs with, as its configuration report shows it (or as
// the environment gives it when no configuration was built).
struct Settings {
  bool known = false;  // false: neither report nor QOR_HOME
  std::string home;
  std::string firstIp, secondIp;
  int firstPort = 0, secondPort = 0;
};
Settings LibrarySettings();
// The library's configuration report, "" when no configuration exists.
std::string ConfigurationReport();
// The library's status report ("all"), initialising on demand; |result| gets
// the initialisation result.
std::string StatusReport(int* result);
// "first agent", "second agent", "emergency file" or "" from a status report.
std::string LoadedFrom(const std::string& report);
// Where that is: the agent's address or the emergency file's path.
std::string LoadedFromWhere(const std::string& from, const Settings& settings);

// Overwrites |bytes| so no plaintext is left in freed memory.
void Wipe(void* bytes, size_t size);

// Hex text <-> bytes for --hex.
bool FromHex(const std::string& text, std::string* out);
std::string ToHex(const std::string& bytes);

}  // namespace qorctl
