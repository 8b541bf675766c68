// File encryption and decryption under a policy. The file pipeline is not part
// of this build yet: both operations fail with tag "UNK" and touch no file, so
// no caller is told a file was processed when it was not.
#include <cstdlib>
#include <cstring>

#include "common/error_codes.h"
#include "common/error_record.h"
#include "log/log.h"
#include "qor/qorcrypto.h"
#include "service/file/file_result.h"

namespace {

constexpr char kLogUnit[] = "source/QOREncryptFile";
constexpr char kNotAvailable[] = "Can Not Use Function";

void Refuse(FileResult* result, ErrorInfo* errorRecord) {
  qor::ErrorSet(errorRecord, qor::err::kGeneral, "%s", kNotAvailable);
  result->code = -1;
  std::memcpy(result->tag, qor::err::kTagUnknown, sizeof(qor::err::kTagUnknown));
  std::memcpy(result->message, kNotAvailable, sizeof(kNotAvailable));
}

}  // namespace

extern "C" {

FileResult* QORCrypto_EncryptFile(int, const char*, const char*, const char*,
                                  ErrorInfo* errorRecord, QOR_FindKeyInfoFn, QOR_UpdateKeySetFn,
                                  const char*, const char*, const char*) {
  QOR_LOG(qor::log::kError, "Can Not Use Function\n");
  auto* result = static_cast<FileResult*>(std::calloc(1, sizeof(FileResult)));
  if (result != nullptr) Refuse(result, errorRecord);
  return result;
}

FileResult QORCrypto_DecryptFile(int, const char*, const char*, const char*,
                                 ErrorInfo* errorRecord, QOR_FindKeyInfoFn, QOR_UpdateKeySetFn,
                                 QOR_AddKeyFn, const char*, const char*, const char*) {
  QOR_LOG(qor::log::kError, "Can Not Use Function\n");
  FileResult result;
  std::memset(&result, 0, sizeof(result));
  Refuse(&result, errorRecord);
  return result;
}

}  // extern "C"
