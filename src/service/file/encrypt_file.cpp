// A whole file encrypted under a policy: checks, then the body streamed in
// 1 MiB pieces with both digests taken on the way, then the header, then the
// source handled by the policy. The output reaches its final name only once
// it is complete and on the disk.
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/error_codes.h"
#include "common/error_record.h"
#include "log/log.h"
#include "qor/access_control.h"
#include "qor/cipher_util.h"
#include "qor/file_pipeline.h"
#include "qor/nc_sha.h"
#include "qor/qoaudit.h"
#include "qor/qorfile.h"
#include "service/file/digest_pair.h"
#include "service/file/file_run.h"

namespace {

constexpr char kLogUnit[] = "source/QORCrypto";
constexpr char kFunction[] = "QORCrypto_EncryptFile";
constexpr int kKeyUnusable = qor::err::kKeyUnusable;
constexpr int kRollbackEncrypt = 4;
enum SourceHandling : int { kDelete = 1, kBackup = 2 };
enum : int { kEncrypt = 1, kFailure = 0 };

using qor::file::Run;

#define RUN_LOG(level, fmt, ...) QOR_LOG_AS(kFunction, level, fmt __VA_OPT__(, ) __VA_ARGS__)

void IoFailure(Run& run, const char* message) {
  RUN_LOG(qor::log::kError, "%s\n", message);
  qor::ErrorSet(run.errors(), qor::err::kGeneral, "%s", message);
  run.Fail(qor::err::kTagIo);
}

// Steps after the policy is known and before any file is touched. False ends
// the run (with its outcome set).
bool Admit(Run& run, int dupOption, int targetExist, const int32_t* audit,
           const char* identity1, const char* identity2, const char* identity3) {
  UACipherUtil* object = run.object();
  UACipherUtil** self = run.self();
  const char* name = run.info()->name;

  if (dupOption == 1 || dupOption == 2) {
    const int dup = VerifyDuplication(dupOption, run.source(), run.target(), targetExist,
                                      run.errors());
    if (dup == -1) {
      run.Fail(qor::err::kTagDuplicate);
      return false;
    }
    if (dup == 0) {
      run.Finish(qor::err::kTagDuplicate, 0);
      return false;
    }
  }

  const int keyStatus = object->GetKeyStatus(self);
  if (keyStatus == QOR_KEY_DEACTIVE) {
    RUN_LOG(qor::log::kCrit, "This key is deactivate, it does not support encryption.[%d]\n",
            object->GetKeyAvailable(self));
  } else if (keyStatus == QOR_KEY_REVOKED) {
    RUN_LOG(qor::log::kCrit,
            "This key has been revoked and does not support encryption.[$d]\n");
  }
  if (keyStatus > 0) {
    Audit_Writer(name, kEncrypt, kFailure, qor::err::kTagLifeCycle, audit, audit + 2);
    run.Fail(qor::err::kTagLifeCycle, kKeyUnusable);
    return false;
  }

  if (object->GetACL_count(self) > 0) {
    if (comp_ACL(object->GetACL(self), object->Getprio(self), identity1, identity2, identity3,
                 QOR_ACL_ENCRYPT) != 1) {
      RUN_LOG(qor::log::kCrit, "Permission Denied Encrypt\n");
      qor::ErrorSet(run.errors(), qor::err::kGeneral, "Permission Denied Encrypt");
      Audit_Writer(name, kEncrypt, kFailure, qor::err::kTagAccess, audit, audit + 2);
      run.Fail(qor::err::kTagAccess);
      return false;
    }
    RUN_LOG(qor::log::kDebug, "[ %s ] Policy Access control check is pass\n", name);
  }

  if (has_ulvexswp_suffix(run.source()) == 1) {
    run.Finish(nullptr, 0);
    return false;
  }
  return true;
}

// Streams the body. False with the outcome set.
bool EncryptBody(Run& run, const unsigned char* ivBlock, qor::file::DigestPair& digests) {
  UACipherUtil* object = run.object();
  UACipherUtil** self = run.self();
  void* stream = nullptr;
  // The last block comes out here, not in a buffer the digests may still read.
  unsigned char last[64];
  if (const int rc = object->Encrypt_API_Init(self, &stream, ivBlock, 0); rc != 0) {
    // A run that could not start its cipher has produced nothing usable.
    RUN_LOG(qor::log::kCrit, "Init Failed..\n");
    qor::ErrorSet(run.errors(), qor::err::kGeneral, "Init Failed..");
    run.Fail(rc == kKeyUnusable ? qor::err::kTagLifeCycle : qor::err::kTagKey,
             rc == kKeyUnusable ? kKeyUnusable : -1);
    return false;
  }
  for (int pair = 0;; pair ^= 1) {
    const size_t n = std::fread(run.input(pair), 1, run.piece(), run.in());
    if (n == 0) break;
    DataBuffer in{static_cast<int32_t>(n), run.input(pair)};
    DataBuffer out{0, run.output(pair)};
    bool ok = object->Encrypt_API_Update(self, &stream, &in, &out) == 0;
    if (ok) {
      digests.Feed(in.data, n, out.data, static_cast<size_t>(out.length));
      ok = WriteDataFile(out.data, out.length, run.out(), run.errors(), nullptr) >= 0;
      if (ok) run.WriteBehind();
    }
    if (!ok) {
      DataBuffer drop{0, last};
      object->Encrypt_API_Final(self, &stream, &drop);
      qor::ErrorSet(run.errors(), qor::err::kGeneral,
                    "The file writing process has encountered a failure.");
      run.Fail(qor::err::kTagKey);
      return false;
    }
  }
  if (std::ferror(run.in()) != 0) {
    DataBuffer drop{0, last};
    object->Encrypt_API_Final(self, &stream, &drop);
    IoFailure(run, "The file can not be Accessed");
    return false;
  }
  DataBuffer final{0, last};
  if (object->Encrypt_API_Final(self, &stream, &final) != 0 || final.length < 0 ||
      final.length > 16) {
    RUN_LOG(qor::log::kCrit, "Encrypt Failed..\n");
    qor::ErrorSet(run.errors(), qor::err::kGeneral, "Encrypt Failed..");
    run.Fail(qor::err::kTagKey);
    return false;
  }
  if (final.length > 0) {
    digests.FeedNow(nullptr, 0, final.data, static_cast<size_t>(final.length));
    if (WriteDataFile(final.data, final.length, run.out(), run.errors(), nullptr) < 0) {
      qor::ErrorSet(run.errors(), qor::err::kGeneral,
                    "The file writing process has encountered a failure.");
      run.Fail(qor::err::kTagKey);
      return false;
    }
  }
  return true;
}

// Writes the header over the room left for it.
bool WriteHeader(Run& run, int keyNameLength, const char* keyName, uint16_t keyVersion,
                 const unsigned char* ivBlock, const qor::file::DigestPair& digests) {
  unsigned char header[QOR_FILE_HEADER_MAX];
  int headerLength = 0;
  const int type = keyVersion != 0 ? QOR_FILE_HEADER_TYPE2 : QOR_FILE_HEADER_TYPE1;
  const FileResult* result = run.result();
  if (GenerateFileHeaderData(type, digests.plaintext(), digests.ciphertext(), result->time,
                             static_cast<int>(std::strlen(result->deviceAddress)),
                             result->deviceAddress, keyNameLength, keyName, keyVersion,
                             run.errors(), header, &headerLength, QOR_FILE_IV_BLOCK_SIZE,
                             ivBlock) != 0) {
    run.Fail(qor::err::kTagUnknown);
    return false;
  }
  if (std::fseek(run.out(), 0, SEEK_SET) != 0) {
    RUN_LOG(qor::log::kDebug, "The file-pointer dont't move file-header size: %d\n", 0);
    qor::ErrorSet(run.errors(), qor::err::kGeneral,
                  "The file-pointer dont't move file-header size: %d", 0);
    run.Fail(qor::err::kTagIo);
    return false;
  }
  if (std::fwrite(header, 1, static_cast<size_t>(headerLength), run.out()) !=
      static_cast<size_t>(headerLength)) {
    RUN_LOG(qor::log::kCrit, "Target file header write failure \n");
    qor::ErrorSet(run.errors(), qor::err::kGeneral, "Target file header write failure : %s",
                  run.outputPath().c_str());
    run.Fail(qor::err::kTagIo);
    return false;
  }
  if (!run.SecureOutput()) {
    run.Fail(qor::err::kTagIo);
    return false;
  }
  return true;
}

// The source by the policy once the output is complete. In place, the
// output replaces the source in one rename, so the path never lacks one.
bool HandleSource(Run& run) {
  UACipherUtil* object = run.object();
  UACipherUtil** self = run.self();
  const int handling = object->GetorgFileHandling(self);
  const char* ext = object->GetorgBackupExtension(self);
  const std::string backup = std::string(run.source()) + (ext != nullptr ? ext : "");

  if (run.inPlace()) {
    if (handling == kBackup && !run.KeepBackupOf(backup)) {
      RUN_LOG(qor::log::kCrit, "Failed to rename original File\n");
      qor::ErrorSet(run.errors(), qor::err::kGeneral, "Failed to rename original File : %s",
                    run.source());
      run.Fail(qor::err::kTagIo);
      return false;
    }
    run.CloseSource();
    return run.ReplaceSource();
  }

  if (!run.CloseOutput()) {
    run.Fail(qor::err::kTagIo);
    return false;
  }
  if (handling == kDelete) {
    run.CloseSource();
    if (std::remove(run.source()) != 0) {
      RUN_LOG(qor::log::kCrit, "Failed to remove original File\n");
      qor::ErrorSet(run.errors(), qor::err::kGeneral, "Failed to remove original File : %s",
                    run.source());
      run.Fail(qor::err::kTagIo);
      return false;
    }
  } else if (handling == kBackup) {
    run.CloseSource();
    if (std::rename(run.source(), backup.c_str()) != 0) {
      RUN_LOG(qor::log::kCrit, "Failed to rename original File\n");
      qor::ErrorSet(run.errors(), qor::err::kGeneral, "Failed to rename original File : %s",
                    run.source());
      run.Fail(qor::err::kTagIo);
      return false;
    }
  }
  if (unlink(run.source()) != 0) RUN_LOG(qor::log::kDebug, "unlink failed\n");
  return true;
}

void Encrypt(Run& run, int keyNameLength, const char* keyName, FindKeyInfoFn find,
             UpdateKeySetFn update, const char* identity1, const char* identity2,
             const char* identity3) {
  if (!run.AllocateBuffers()) {
    run.Fail(qor::err::kTagUnknown);
    return;
  }
  if (!run.FindPolicy(keyNameLength, keyName, find, update)) {
    run.Fail(qor::err::kTagKey);
    return;
  }
  UACipherUtil* object = run.object();
  UACipherUtil** self = run.self();
  int32_t audit[4] = {0, 0, 0, 0};
  object->GetAudit(self, audit);
  const int targetExist = object->GettargetExist(self);
  if (!Admit(run, object->GetDuplicate(self), targetExist, audit, identity1, identity2,
             identity3)) {
    return;
  }

  if (InitReadFile(run.source(), run.errors(), &run.in(), nullptr, nullptr) != 0) {
    qor::ErrorSet(run.errors(), qor::err::kGeneral, "The file can not be Accessed");
    RUN_LOG(qor::log::kError, "The file can not be Accessed\n");
    run.Fail(qor::err::kTagIo);
    return;
  }
  if (!run.StartOutput(targetExist)) return;

  const auto keyVersion = static_cast<uint16_t>(object->GetLatestKeyVersion(self));
  const long headerLength = keyVersion != 0 ? QOR_FILE_HEADER_TYPE2_SIZE
                                            : QOR_FILE_HEADER_TYPE1_SIZE;
  if (std::fseek(run.out(), headerLength, SEEK_SET) != 0) {
    RUN_LOG(qor::log::kDebug, "The file-pointer dont't move file-header size: %d\n",
            static_cast<int>(headerLength));
    qor::ErrorSet(run.errors(), qor::err::kGeneral,
                  "The file-pointer dont't move file-header size: %d",
                  static_cast<int>(headerLength));
    run.Fail(qor::err::kTagIo);
    return;
  }

  unsigned char ivBlock[QOR_FILE_IV_BLOCK_SIZE] = {};
  uint32_t recordIv = 0;
  if (UDE_SetRecordIV(&recordIv) != 0) {
    RUN_LOG(qor::log::kCrit, "UACipherUtil_SetRecordIV Failed\n");
    qor::ErrorSet(run.errors(), qor::err::kCheckFailed, "UACipherUtil_SetRecordIV Failed");
    run.Fail(qor::err::kTagKey);
    return;
  }
  std::memcpy(ivBlock, &recordIv, sizeof(recordIv));

  qor::file::DigestPair digests(object->GetorgDataVerify(self) != 0,
                                object->GetencDataVerify(self) != 0);
  if (!EncryptBody(run, ivBlock, digests)) return;
  digests.Finish();
  if (!WriteHeader(run, keyNameLength, keyName, keyVersion, ivBlock, digests)) return;
  HandleSource(run);
}

}  // namespace

extern "C" {

FileResult* QORCrypto_EncryptFile(int keyNameLength, const char* keyName,
                                  const char* sourcePath, const char* targetPath,
                                  ErrorInfo* errorRecord, QOR_FindKeyInfoFn find,
                                  QOR_UpdateKeySetFn update, const char* identity1,
                                  const char* identity2, const char* identity3) {
  auto* result = static_cast<FileResult*>(std::calloc(1, sizeof(FileResult)));
  if (result == nullptr) return nullptr;
  Run run(result, errorRecord, sourcePath, targetPath, kFunction);
  if (keyName != nullptr && keyNameLength > 0) {
    std::memcpy(result->keyName, keyName,
                static_cast<size_t>(keyNameLength < 127 ? keyNameLength : 127));
  }
  Encrypt(run, keyNameLength, keyName, find, update, identity1, identity2, identity3);
  run.End(kRollbackEncrypt, false);
  return result;
}

}  // extern "C"
