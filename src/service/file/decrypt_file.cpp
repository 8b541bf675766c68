// A whole encrypted file decrypted under a policy: the header gives the key
// version and record-IV block, the body streams in 1 MiB pieces with both
// digests taken on the way, and the header's digests are checked at the end.
// The encrypted source goes only when the output is complete and verified.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "common/error_codes.h"
#include "common/error_record.h"
#include "log/log.h"
#include "qor/access_control.h"
#include "qor/file_pipeline.h"
#include "qor/qorfile.h"
#include "service/file/digest_pair.h"
#include "service/file/file_run.h"

namespace {

constexpr char kLogUnit[] = "source/QORCrypto";
constexpr char kFunction[] = "QORCrypto_DecryptFile";
constexpr int kKeyUnusable = qor::err::kKeyUnusable;
constexpr int kRollbackDecrypt = 5;
constexpr char kMasked[] = "******";
constexpr char kNoPermission[] = "No Permission";

using qor::file::Run;

#define RUN_LOG(level, fmt, ...) QOR_LOG_AS(kFunction, level, fmt __VA_OPT__(, ) __VA_ARGS__)

// What a refused caller gets under unauthorized-decryption settings 3 to 5,
// written to the target opened by its rule (never over an in-place source).
void WriteSubstitute(Run& run, int setting, int targetExist) {
  if (run.OpenOutput(targetExist) != 0 || run.inPlace()) return;
  bool ok = true;
  if (setting == 3) {
    FILE* in = std::fopen(run.source(), "rb");
    if (in == nullptr) {
      ok = false;
    } else {
      for (size_t n; ok && (n = std::fread(run.input(0), 1, run.piece(), in)) > 0;) {
        ok = std::fwrite(run.input(0), 1, n, run.out()) == n;
      }
      std::fclose(in);
    }
  } else {
    const char* text = setting == 4 ? kMasked : kNoPermission;
    ok = std::fwrite(text, 1, std::strlen(text), run.out()) == std::strlen(text);
  }
  if (!ok || !run.SecureOutput() || !run.CloseOutput()) run.Fail(qor::err::kTagIo);
}

// Access rules; false ends the run with its outcome set.
bool CheckAccess(Run& run, int targetExist, const char* identity1, const char* identity2,
                 const char* identity3) {
  UACipherUtil* object = run.object();
  UACipherUtil** self = run.self();
  if (object->GetACL_count(self) <= 0) return true;
  if (comp_ACL(object->GetACL(self), object->Getprio(self), identity1, identity2, identity3,
               QOR_ACL_DECRYPT) == 1) {
    QOR_LOG_RESULT_AS(kFunction, qor::log::kInfo, "[ %s ] Policy Access control check is pass\n",
                      run.info()->name);
    return true;
  }
  const int setting = object->GetUnauthorizedDecryption(self);
  switch (setting) {
    case 1:
      run.Finish(qor::err::kTagAccess, 0);
      break;
    case 2:
      RUN_LOG(qor::log::kCrit, "Permission Denied Decrypt\n");
      qor::ErrorSet(run.errors(), qor::err::kGeneral, "Permission Denied Decrypt");
      run.Fail(qor::err::kTagAccess);
      break;
    case 3:
    case 4:
    case 5:
      run.Finish(qor::err::kTagAccess, 0);
      WriteSubstitute(run, setting, targetExist);
      break;
    default:
      qor::ErrorSet(run.errors(), qor::err::kGeneral, "Permission Denied Decrypt");
      run.Fail(qor::err::kTagAccess);
      break;
  }
  return false;
}

bool DecryptFailed(Run& run, const char* message) {
  RUN_LOG(qor::log::kCrit, "%s\n", message);
  qor::ErrorSet(run.errors(), qor::err::kGeneral, "%s", message);
  run.Fail(qor::err::kTagKey);
  return false;
}

bool DecryptBody(Run& run, AddKeyFn addKey, const unsigned char* ivBlock, int keyVersion,
                 qor::file::DigestPair& digests) {
  UACipherUtil* object = run.object();
  UACipherUtil** self = run.self();
  void* stream = nullptr;
  // The last block comes out here, not in a buffer the digests may still read.
  unsigned char last[64];
  if (const int rc = object->Decrypt_API_Init(self, &stream, addKey, ivBlock, keyVersion);
      rc != 0) {
    if (rc == kKeyUnusable) {
      run.Fail(qor::err::kTagLifeCycle, rc);
    } else {
      RUN_LOG(qor::log::kCrit, "Init Failed..\n");
      qor::ErrorSet(run.errors(), qor::err::kGeneral, "Init Failed..");
      run.Fail(qor::err::kTagKey, rc);
    }
    return false;
  }
  for (int pair = 0;; pair ^= 1) {
    const size_t n = std::fread(run.input(pair), 1, run.piece(), run.in());
    if (n == 0) break;
    DataBuffer in{static_cast<int32_t>(n), run.input(pair)};
    DataBuffer out{0, run.output(pair)};
    bool ok = object->Decrypt_API_Update(self, &stream, &in, &out) == 0;
    if (ok) {
      digests.Feed(out.data, static_cast<size_t>(out.length), in.data, n);
      ok = WriteDataFile(out.data, out.length, run.out(), run.errors(), nullptr) >= 0;
      if (ok) run.WriteBehind();
    }
    if (!ok) {
      DataBuffer drop{0, last};
      object->Decrypt_API_Final(self, &stream, &drop);
      return DecryptFailed(run, "Decrypt Failed..");
    }
  }
  if (std::ferror(run.in()) != 0) {
    DataBuffer drop{0, last};
    object->Decrypt_API_Final(self, &stream, &drop);
    return DecryptFailed(run, "Decrypt Failed..");
  }
  DataBuffer final{0, last};
  // The stream strips and checks the padding itself: a failure here is a
  // wrong padding block (a wrong key or a damaged body).
  if (object->Decrypt_API_Final(self, &stream, &final) != 0 || final.length < 0 ||
      final.length >= 16) {
    RUN_LOG(qor::log::kCrit, "padBit is incorrect. padBit = [%d]\n", final.length);
    qor::ErrorSet(run.errors(), qor::err::kGeneral, "padBit is incorrect. padBit = [%d]",
                  final.length);
    run.Fail(qor::err::kTagKey);
    return false;
  }
  if (final.length > 0) {
    digests.FeedNow(final.data, static_cast<size_t>(final.length), nullptr, 0);
    if (WriteDataFile(final.data, final.length, run.out(), run.errors(), nullptr) < 0) {
      return DecryptFailed(run, "Decrypt Failed..");
    }
  }
  return true;
}

// The encrypted source by the policy once the output is complete and its
// header verified.
void HandleSource(Run& run, bool verified) {
  UACipherUtil* object = run.object();
  UACipherUtil** self = run.self();
  if (!verified) {
    // The data does not match what was encrypted: the encrypted file is the
    // only trustworthy copy, so it stays, and in place it is not replaced.
    if (run.inPlace()) {
      RUN_LOG(qor::log::kError, "header verification failure, source kept\n");
      run.Fail(qor::err::kTagKey);
      return;
    }
    run.CloseOutput();
    return;
  }
  if (run.inPlace()) {
    run.CloseSource();
    run.ReplaceSource();
    return;
  }
  if (!run.CloseOutput()) {
    run.Fail(qor::err::kTagIo);
    return;
  }
  run.CloseSource();
  if (object->GetencFileDelete(self) != 0 && std::remove(run.source()) != 0) {
    RUN_LOG(qor::log::kCrit, "Failed to remove encrypt File\n");
    qor::ErrorSet(run.errors(), qor::err::kGeneral, "Failed to remove encrypted File : %s",
                  run.source());
    run.Fail(qor::err::kTagIo);
    return;
  }
  if (unlink(run.source()) != 0) RUN_LOG(qor::log::kDebug, "unlink failed\n");
}

void Decrypt(Run& run, int keyNameLength, const char* keyName, FindKeyInfoFn find,
             UpdateKeySetFn update, AddKeyFn addKey, const char* identity1,
             const char* identity2, const char* identity3) {
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
  const int targetExist = object->GettargetExist(self);

  if (const int dupOption = object->GetDuplicate(self); dupOption != 0) {
    const int dup = VerifyDuplication(dupOption + 2, run.source(), run.target(), targetExist,
                                      run.errors());
    if (dup == -1) {
      run.Fail(qor::err::kTagDuplicate);
      return;
    }
    if (dup == 1) {
      run.Finish(qor::err::kTagDuplicate, 0);
      return;
    }
  }
  if (!CheckAccess(run, targetExist, identity1, identity2, identity3)) return;
  if (has_ulvexswp_suffix(run.source()) == 1) {
    run.Finish(nullptr, 0);
    return;
  }

  unsigned char ivBlock[QOR_FILE_IV_BLOCK_SIZE] = {};
  const int type = InitReadFile(run.source(), run.errors(), &run.in(), ivBlock, run.result());
  if (type < 0) {
    RUN_LOG(qor::log::kError, "The file can not be Accessed\n");
    run.Fail(qor::err::kTagIo);
    return;
  }
  if (!run.StartOutput(targetExist)) return;

  const int headerLength =
      type == QOR_FILE_HEADER_TYPE2 ? QOR_FILE_HEADER_TYPE2_SIZE : QOR_FILE_HEADER_TYPE1_SIZE;
  if (std::fseek(run.in(), headerLength, SEEK_SET) != 0) {
    qor::ErrorSet(run.errors(), qor::err::kGeneral,
                  "The file-pointer dont't move file-header size: %d", headerLength);
    run.Fail(qor::err::kTagIo);
    return;
  }

  qor::file::DigestPair digests(object->GetorgDataVerify(self) != 0,
                                object->GetencDataVerify(self) != 0);
  if (!DecryptBody(run, addKey, ivBlock, run.result()->keyVersion, digests)) return;
  digests.Finish();
  if (!run.SecureOutput()) {
    run.Fail(qor::err::kTagIo);
    return;
  }
  if (std::fseek(run.in(), 0, SEEK_SET) != 0) {
    qor::ErrorSet(run.errors(), qor::err::kGeneral, "The file-pointer dont't move start-point");
    run.Fail(qor::err::kTagIo);
    return;
  }
  const int verify = object->GetencDataVerify(self);
  const bool verified = VerifyFileHeader(run.in(), digests.plaintext(), digests.ciphertext(),
                                         verify, run.result(), run.errors()) == 0;
  HandleSource(run, verified || verify == 0);
}

}  // namespace

extern "C" {

FileResult QORCrypto_DecryptFile(int keyNameLength, const char* keyName, const char* sourcePath,
                                 const char* targetPath, ErrorInfo* errorRecord,
                                 QOR_FindKeyInfoFn find, QOR_UpdateKeySetFn update,
                                 QOR_AddKeyFn addKey, const char* identity1,
                                 const char* identity2, const char* identity3) {
  FileResult result;
  std::memset(&result, 0, sizeof(result));
  {
    Run run(&result, errorRecord, sourcePath, targetPath, kFunction);
    Decrypt(run, keyNameLength, keyName, find, update, addKey, identity1, identity2, identity3);
    run.End(kRollbackDecrypt, true);
  }
  return result;
}

}  // extern "C"
