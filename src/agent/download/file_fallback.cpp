// The fallback when neither agent answers: the emergency policy file under
// the agent home, and the checks every downloaded or file record passes.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdint>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "agent/download/download_internal.h"
#include "agent/emergency/emergency_file.h"
#include "agent/emergency/file_secret.h"
#include "agent/policy/key_mgr_parse.h"
#include "agent/policy/record_check.h"
#include "common/error_codes.h"
#include "common/error_record.h"
#include "log/log.h"
#include "qor/connection.h"
#include "qor/key_download.h"
#include "qor/policy.h"

namespace qor::agent {

namespace {

constexpr char kLogUnit[] = "source/QORSocket";

// The file holds one record as an agent would send it, plus the salt and
// one block of padding: anything larger is not an emergency file.
constexpr int64_t kMaxFileBytes = int64_t{QOR_PACKET_BODY_MAX} + 32 + 16;
// A file that failed is not read again until it or its secret changes, or
// this long has passed: every call would otherwise re-read it while the
// agents are down.
constexpr auto kFailureMemory = std::chrono::seconds(30);
// Below this the hash takes less time than starting a thread for it is worth.
constexpr int32_t kOverlapCheckFrom = 256 * 1024;

// What identifies one version of a file.
struct FileIdentity {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  int64_t modifiedNs = 0;
  int64_t changedNs = 0;
  bool operator==(const FileIdentity&) const = default;
};

FileIdentity IdentityOf(const std::string& path, struct stat* out = nullptr) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return {};
  if (out != nullptr) *out = st;
  return {true,
          st.st_dev,
          st.st_ino,
          st.st_size,
          int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec,
          int64_t{st.st_ctim.tv_sec} * 1000000000 + st.st_ctim.tv_nsec};
}

struct FailedLoad {
  std::string home;
  FileIdentity file;
  FileIdentity secret;
  std::chrono::steady_clock::time_point when;
  int code = 0;
  std::string message;
};

std::mutex& FailedLoadLock() {
  static std::mutex* lock = new std::mutex();
  return *lock;
}
FailedLoad& LastFailedLoad() {
  static FailedLoad* last = new FailedLoad();
  return *last;
}

// The remembered failure for |home| when the files are still as they were.
bool RecallFailure(const std::string& home, int* code, std::string* message) {
  const FileIdentity file = IdentityOf(EmergencyFilePath(home));
  const FileIdentity secret = IdentityOf(FileSecretPath(home));
  std::lock_guard lock(FailedLoadLock());
  const FailedLoad& last = LastFailedLoad();
  if (last.code == 0 || last.home != home || !(last.file == file) || !(last.secret == secret) ||
      std::chrono::steady_clock::now() - last.when > kFailureMemory) {
    return false;
  }
  *code = last.code;
  *message = last.message;
  return true;
}

void RememberFailure(const std::string& home, const ErrorInfo* error) {
  FailedLoad entry;
  entry.home = home;
  entry.file = IdentityOf(EmergencyFilePath(home));
  entry.secret = IdentityOf(FileSecretPath(home));
  entry.when = std::chrono::steady_clock::now();
  {
    std::lock_guard errorLock(ErrorLock());
    const ErrorInfo* end = ErrorChainEnd(const_cast<ErrorInfo*>(error));
    entry.code = end->code != 0 ? end->code : err::kGeneral;
    entry.message = end->message;
  }
  std::lock_guard lock(FailedLoadLock());
  LastFailedLoad() = std::move(entry);
}

void Fail(ErrorInfo* error, const char* message) {
  ErrorSet(error, err::kGeneral, "%s", message);
  QOR_LOG_AS("GetPolicyInfoFromFile", log::kCrit, "%s\n", message);
}

}  // namespace

FileRecord GetPolicyInfoFromFile(const char* home, DataBuffer* record, ErrorInfo* errorRecord) {
  *record = {0, nullptr};
  const std::string homeText = home != nullptr ? home : "";
  const std::string path = EmergencyFilePath(homeText);
  struct stat st {};
  // No file leaves the agents' connection error as the reason.
  if (!IdentityOf(path, &st).exists) return FileRecord::kMissing;

  int code = 0;
  std::string message;
  if (RecallFailure(homeText, &code, &message)) {
    ErrorSet(errorRecord, code, "%s", message.c_str());
    return FileRecord::kUnreadable;
  }
  if (!S_ISREG(st.st_mode) || st.st_size > kMaxFileBytes) {
    char text[512];
    std::snprintf(text, sizeof(text),
                  S_ISREG(st.st_mode)
                      ? "the emergency policy file is too large [%s: %lld bytes, limit %lld]"
                      : "the emergency policy file is not a regular file [%s]",
                  path.c_str(), static_cast<long long>(st.st_size),
                  static_cast<long long>(kMaxFileBytes));
    Fail(errorRecord, text);
    RememberFailure(homeText, errorRecord);
    return FileRecord::kUnreadable;
  }
  // Each cause keeps its own message: a missing secret, a file that cannot
  // be opened, a record that does not decrypt.
  switch (LoadEmergencyPolicy(homeText, record, errorRecord)) {
    case EmergencyLoad::kOk:
      return FileRecord::kRead;
    case EmergencyLoad::kNoFile:
    case EmergencyLoad::kNoSecret:
    case EmergencyLoad::kUnreadable:
      break;
  }
  *record = {0, nullptr};
  RememberFailure(homeText, errorRecord);
  return FileRecord::kUnreadable;
}

void NoteFailedFileLoad(const char* home, const ErrorInfo* error) {
  RememberFailure(home != nullptr ? home : "", error);
}

bool LoadCheckedRecord(const DataBuffer& record, KeyMgr* mgr, int32_t cryptoMode,
                       int32_t compatibility, ErrorInfo* error, const char* function,
                       const char* source) {
  const bool any = record.data != nullptr && record.length > 0;
  // A large record into an empty key manager is read while another core
  // checks its hash; nothing read is kept unless the check passes.
  const bool overlap = any && record.length >= kOverlapCheckFrom && mgr->GetPolicyCount(mgr) == 0;
  RecordCheck check = RecordCheck::kNotARecord;
  bool parsed = false;
  if (overlap) {
    const int auditBefore = AuditFlag.load();
    try {
      std::jthread checker(
          [&] { check = CheckPolicyRecord(record.data, static_cast<size_t>(record.length)); });
      KeyMgrParse(&record, mgr, cryptoMode, compatibility);
      checker.join();
      parsed = true;
    } catch (const std::system_error&) {
      // No thread to be had (nothing was read yet): the check comes first below.
    }
    if (parsed && check != RecordCheck::kOk) {
      mgr->Clear(mgr);
      mgr->SetPolicyHash(mgr, nullptr);
      AuditFlag.store(auditBefore);
    }
  }
  if (!parsed && any) check = CheckPolicyRecord(record.data, static_cast<size_t>(record.length));
  if (check != RecordCheck::kOk) {
    ErrorSet(error, err::kGeneral, "invalid policy record from the %s: %s", source,
             RecordCheckText(check));
    QOR_LOG_AS(function, log::kCrit, "invalid policy record from the %s: %s\n", source,
               RecordCheckText(check));
    return false;
  }
  if (!parsed) KeyMgrParse(&record, mgr, cryptoMode, compatibility);
  if (mgr->GetPolicyCount(mgr) < 1) {
    // An empty key set would pass for a loaded one and fail every value.
    ErrorSet(error, err::kGeneral, "invalid policy record from the %s: no policy could be read",
             source);
    QOR_LOG_AS(function, log::kCrit, "invalid policy record from the %s: no policy could be read\n",
               source);
    return false;
  }
  return true;
}

}  // namespace qor::agent
