// What one file run owns (its result, buffers, streams and paths) and the
// steps encryption and decryption share: opening the output by the target
// rule, finishing the output durably, handing it over, and the end steps.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "common/free_bytes.h"
#include "qor/error.h"
#include "engine/keymgr/key_callbacks.h"
#include "qor/key_mgr.h"
#include "qor/qorfile.h"
#include "qor/ua_cipher_util.h"

namespace qor::file {

inline constexpr size_t kPiece = 1048576;
// A small source gets pieces this small, so that a run over a short file
// does not map and fault in megabytes it never fills.
inline constexpr size_t kSmallestPiece = 65536;
// An Update hands out up to one block more than it was given.
inline constexpr size_t kOutputSlack = 32;

using Buffer = std::unique_ptr<unsigned char[], FreeBytes>;

class Run {
 public:
  // |result| is zero-filled by the caller. The caller's chain is cleared.
  Run(FileResult* result, ErrorInfo* errorRecord, const char* source, const char* target,
      const char* logFunction);
  ~Run();
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  ErrorInfo* errors() { return &local_; }
  FileResult* result() { return result_; }
  const char* source() const { return source_; }
  const char* target() const { return target_; }

  // Ends the run's work with |tag| and |code|.
  void Fail(const char* tag, int code = -1);
  void Finish(const char* tag, int code);
  void SetTag(const char* tag);

  // Two pairs of working buffers of piece() bytes (the digests read one pair
  // while the cipher fills the other); false (with an error) when memory runs
  // out. The piece size does not change the bytes written, only how often
  // the run reads.
  bool AllocateBuffers();
  size_t piece() const { return piece_; }
  unsigned char* input(int pair) { return input_[pair].get(); }
  unsigned char* output(int pair) { return output_[pair].get(); }

  // Policy lookup; false with tag "KED" when there is none.
  bool FindPolicy(int keyNameLength, const char* keyName, FindKeyInfoFn find,
                  UpdateKeySetFn update);
  UACipherUtil* object() { return object_; }
  UACipherUtil** self() { return &object_; }
  KeyInfo* info() { return info_; }

  // Decides where the output goes. Same path (or the same file under another
  // name) runs in place: under "OVERWRITE" through the swap file; "BYPASS"
  // skips; "RENAME" writes the dated name beside the source; any other rule
  // refuses. 0 opened, 1 skip the run, -1 failed (the caller sets the tag).
  int OpenOutput(int targetExist);
  // OpenOutput, and ends the run when it says so: false after a skip
  // (result 0) or a failure (tag "IOE" with the reason).
  bool StartOutput(int targetExist);
  bool inPlace() const { return inPlace_; }
  bool outputOpened() const { return out_ != nullptr || !opened_.empty(); }
  const std::string& outputPath() const { return opened_; }
  FILE* out() { return out_; }
  FILE*& in() { return in_; }

  // Called after each piece written: every few MiB, starts the disk writing
  // what the run has written so far, so that the closing flush to the disk
  // finds little left and the disk works while the run ciphers.
  void WriteBehind();
  // Flushes the output to the disk and gives it the source's permissions
  // and owner: false with an error when the data may not be on the disk.
  bool SecureOutput();
  // In-place only: moves the finished swap file onto the source path in one
  // rename and syncs the directory. False with tag "DUP" and the error set.
  bool ReplaceSource();
  // Not in place: closes the output and syncs its directory entry.
  bool CloseOutput();
  // Links the source to |backup| (replacing an older backup) so that an
  // in-place run keeps the original under that name: false on failure.
  bool KeepBackupOf(const std::string& backup);
  void CloseSource();

  // The end steps: close, roll back a failed run (|rollbackStep|), apply the
  // error option 3 copy, the size check and the final log line.
  void End(int rollbackStep, bool decrypting);

  int64_t sourceSize() const { return sourceSize_; }

 private:
  void CopyTag(const char* tag);

  FileResult* result_;
  ErrorInfo local_;
  const char* source_;
  const char* target_;
  const char* logFunction_;
  KeyInfo* info_ = nullptr;
  UACipherUtil* object_ = nullptr;
  size_t piece_ = kPiece;
  Buffer input_[2];
  Buffer output_[2];
  FILE* in_ = nullptr;
  FILE* out_ = nullptr;
  bool inPlace_ = false;
  std::string swap_;
  std::string opened_;  // the path this run created or truncated
  struct stat sourceStat_ {};
  bool haveSourceStat_ = false;
  int64_t sourceSize_ = -1;
  off_t writtenBehind_ = 0;  // the output up to here is on its way to the disk
};

}  // namespace qor::file
