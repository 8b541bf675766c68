// The frame both file pipelines share.
#include "service/file/file_run.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "common/error_codes.h"
#include "common/error_record.h"
#include "log/log.h"
#include "qor/qoutil.h"
#include "service/crypto/qor_crypto.h"
#include "service/file/file_ops.h"

namespace {

constexpr char kLogUnit[] = "source/QORCrypto";
constexpr int kReturnInput = 3;
// How much written output waits before the run starts the disk on it.
constexpr off_t kWriteBehindStep = 8 << 20;

// Copies what fits of |text| into |out| of |size| bytes, zero-terminated.
void CopyText(char* out, size_t size, const char* text) {
  const size_t n = strnlen(text, size - 1);
  std::memcpy(out, text, n);
  out[n] = '\0';
}

bool SameFile(const char* a, const char* b) {
  struct stat sa;
  struct stat sb;
  return stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

long long SizeOf(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

}  // namespace

namespace qor::file {

Run::Run(FileResult* result, ErrorInfo* errorRecord, const char* source, const char* target,
         const char* logFunction)
    : result_(result), source_(source), target_(target), logFunction_(logFunction) {
  local_.code = 0;
  local_.message[0] = '\0';
  local_.next = errorRecord;
  qor::ErrorClearChain(&local_);
  result_->time = static_cast<int64_t>(std::time(nullptr));
  const QORApiData* data = qor::crypto::ConfigData();
  if (data != nullptr) {
    CopyText(result_->deviceAddress, sizeof(result_->deviceAddress), data->deviceIp);
  }
  if (source_ != nullptr && stat(source_, &sourceStat_) == 0) {
    haveSourceStat_ = true;
    sourceSize_ = static_cast<int64_t>(sourceStat_.st_size);
  }
}

Run::~Run() {
  CloseSource();
  if (out_ != nullptr) std::fclose(out_);
}

void Run::CopyTag(const char* tag) {
  std::memset(result_->tag, 0, sizeof(result_->tag));
  if (tag != nullptr) CopyText(result_->tag, sizeof(result_->tag), tag);
}

void Run::SetTag(const char* tag) { CopyTag(tag); }

void Run::Fail(const char* tag, int code) {
  CopyTag(tag);
  result_->code = code;
}

void Run::Finish(const char* tag, int code) {
  CopyTag(tag);
  result_->code = code;
}

bool Run::AllocateBuffers() {
  // One read more than the source holds sees its end, even if it grew.
  piece_ = kPiece;
  if (sourceSize_ >= 0 && static_cast<uint64_t>(sourceSize_) < kPiece - kSmallestPiece) {
    piece_ = (static_cast<size_t>(sourceSize_) / kSmallestPiece + 1) * kSmallestPiece;
  }
  for (int pair = 0; pair < 2; ++pair) {
    input_[pair].reset(static_cast<unsigned char*>(std::malloc(piece_)));
    output_[pair].reset(static_cast<unsigned char*>(std::malloc(piece_ + kOutputSlack)));
  }
  if (input_[0] && input_[1] && output_[0] && output_[1]) return true;
  QOR_LOG_AS(logFunction_, qor::log::kCrit, "Memory Allocation Failed.\n");
  qor::ErrorSet(errors(), qor::err::kInternal, "Memory Allocation Failed.");
  return false;
}

bool Run::FindPolicy(int keyNameLength, const char* keyName, FindKeyInfoFn find,
                     UpdateKeySetFn update) {
  info_ = GetPolicy(keyNameLength, keyName, find, update, errors());
  object_ = info_ != nullptr ? info_->cipher : nullptr;
  return object_ != nullptr;
}

int Run::OpenOutput(int targetExist) {
  if (source_ == nullptr || target_ == nullptr) {
    qor::ErrorSet(errors(), qor::err::kGeneral, "Failed to Open : %s", "");
    return -1;
  }
  inPlace_ = std::strcmp(source_, target_) == 0 || SameFile(source_, target_);
  if (!inPlace_) return OpenTarget(target_, errors(), &out_, targetExist, false, &opened_);
  switch (targetExist) {
    case QOR_TARGET_OVERWRITE:
      swap_ = std::string(target_) + QOR_FILE_SWAP_SUFFIX;
      return OpenTarget(swap_.c_str(), errors(), &out_, targetExist, true, &opened_);
    case QOR_TARGET_RENAME:
      // The source stays; the output is the dated name beside it.
      inPlace_ = false;
      return OpenTarget(target_, errors(), &out_, targetExist, false, &opened_);
    default:
      // The rule does not allow replacing the target, which is the source.
      return OpenTarget(target_, errors(), &out_, targetExist, false, &opened_);
  }
}

bool Run::StartOutput(int targetExist) {
  const int opened = OpenOutput(targetExist);
  if (opened == 1) {
    Finish(nullptr, 0);
    return false;
  }
  if (opened != 0) {
    qor::ErrorSet(errors(), qor::err::kGeneral, "Target file can not be Accessed or written to.");
    QOR_LOG_AS(logFunction_, qor::log::kError, "Target file can not be Accessed or written to.\n");
    Fail(qor::err::kTagIo, opened);
    return false;
  }
  return true;
}

void Run::WriteBehind() {
#if defined(__linux__)
  if (out_ == nullptr) return;
  const off_t at = ftello(out_);
  if (at < 0 || at - writtenBehind_ < kWriteBehindStep || std::fflush(out_) != 0) return;
  // Only starts the writing; SecureOutput waits for it and reports failures.
  (void)sync_file_range(fileno(out_), writtenBehind_, at - writtenBehind_,
                        SYNC_FILE_RANGE_WRITE);
  writtenBehind_ = at;
#endif
}

bool Run::SecureOutput() {
  const int fd = out_ != nullptr ? fileno(out_) : -1;
  if (fd < 0 || std::fflush(out_) != 0) {
    const int error = errno;
    QOR_LOG_AS(logFunction_, qor::log::kCrit, "Target file write failure\n");
    qor::ErrorSet(errors(), qor::err::kGeneral, "Target file write failure : %s",
                  std::strerror(error));
    return false;
  }
  if (haveSourceStat_) {
    if (fchmod(fd, sourceStat_.st_mode & 0777) != 0) {
      QOR_LOG_AS(logFunction_, qor::log::kError, "chmod failed\n");
    }
    if (fchown(fd, sourceStat_.st_uid, sourceStat_.st_gid) != 0) {
      QOR_LOG_AS(logFunction_, qor::log::kError, "chown failed\n");
    }
  }
  if (fsync(fd) != 0) {
    const int error = errno;
    QOR_LOG_AS(logFunction_, qor::log::kCrit, "Target file write failure\n");
    qor::ErrorSet(errors(), qor::err::kGeneral, "Target file write failure : %s",
                  std::strerror(error));
    return false;
  }
  return true;
}

bool Run::CloseOutput() {
  FILE* out = out_;
  out_ = nullptr;
  if (out != nullptr && std::fclose(out) != 0) {
    const int error = errno;
    QOR_LOG_AS(logFunction_, qor::log::kCrit, "Target file write failure\n");
    qor::ErrorSet(errors(), qor::err::kGeneral, "Target file write failure : %s",
                  std::strerror(error));
    return false;
  }
  SyncDirectory(DirectoryOf(opened_));
  return true;
}

bool Run::ReplaceSource() {
  if (!CloseOutput()) return false;
  if (std::rename(swap_.c_str(), target_) != 0) {
    const char* reason = std::strerror(errno);
    QOR_LOG_AS(logFunction_, qor::log::kError, "Rename failed: %s\n", reason);
    qor::ErrorSet(errors(), qor::err::kGeneral, "Rename failed: %s", reason);
    Fail(qor::err::kTagDuplicate);
    return false;
  }
  // The swap file is the source now: nothing of this run may be removed.
  opened_ = target_;
  // A second hard link to the source still holds the input under the other
  // name; as after any run, that name goes.
  if (std::strcmp(source_, target_) != 0 && !SameFile(source_, target_)) unlink(source_);
  SyncDirectory(DirectoryOf(target_));
  return true;
}

bool Run::KeepBackupOf(const std::string& backup) {
  if (backup == source_) return true;
  if (unlink(backup.c_str()) != 0 && errno != ENOENT) return false;
  if (link(source_, backup.c_str()) == 0) return true;
  return QOUtil_Copy(source_, backup.c_str(), QOR_TARGET_OVERWRITE) == 1;
}

void Run::CloseSource() {
  if (in_ != nullptr) std::fclose(in_);
  in_ = nullptr;
}

void Run::End(int rollbackStep, bool decrypting) {
  CloseSource();
  if (out_ != nullptr) std::fclose(out_);
  out_ = nullptr;

  if (result_->code != 0) {
    if (!opened_.empty()) {
      RollbackForStep(rollbackStep, source_, opened_.c_str(), nullptr, errors());
    }
    // Error option 3 hands the input back in place of the output. An
    // in-place run's input is still at its path.
    if (object_ != nullptr && object_->Geterror_process(&object_) == kReturnInput && !inPlace_ &&
        source_ != nullptr && target_ != nullptr &&
        QOUtil_Copy(source_, target_, object_->GettargetExist(&object_)) != 1 &&
        !opened_.empty()) {
      RollbackForStep(rollbackStep, source_, opened_.c_str(), nullptr, errors());
    }
    {
      std::lock_guard lock(qor::ErrorLock());
      const ErrorInfo* last = qor::ErrorChainEnd(&local_);
      std::memcpy(result_->message, last->message, sizeof(result_->message));
      result_->message[sizeof(result_->message) - 1] = '\0';
    }
    if (decrypting) QOR_LOG_AS(logFunction_, qor::log::kError, "%s\n", result_->message);
  }

  long long outputSize = -1;
  if (QOLog_IsEnable(qor::log::kDebug)) {
    outputSize = SizeOf(result_->code == 0 && inPlace_ ? std::string(target_) : opened_);
    if (!decrypting && outputSize >= 0 && sourceSize_ > outputSize) {
      QOR_LOG_AS(logFunction_, qor::log::kCrit, "Encrypted size is smaller than original.\n");
    }
    if (decrypting && outputSize >= 0 && outputSize > sourceSize_) {
      QOR_LOG_AS(logFunction_, qor::log::kError, "Decrypted size is larger than cipher size.\n");
    }
  }
  QOR_LOG_AS(logFunction_, qor::log::kDebug, "%s:%s:%d:%ld:%ld\n", decrypting ? "DEC" : "ENC",
             source_ != nullptr ? source_ : "", result_->code, static_cast<long>(sourceSize_),
             static_cast<long>(outputSize));
}

}  // namespace qor::file
