// The file operations of the all-bypass table: they touch no file and hand
// back an empty result.
#include <cstdlib>
#include <cstring>

#include "log/log.h"
#include "qor/file_pipeline.h"
#include "qor/qorfile.h"

namespace {

constexpr char kLogUnit[] = "source/QORCrypto";

}  // namespace

extern "C" {

FileResult* QORCrypto_EncryptFile_BYPASS(int, const char*, const char*, const char*, ErrorInfo*,
                                         QOR_FindKeyInfoFn, QOR_UpdateKeySetFn, const char*,
                                         const char*, const char*) {
  QOR_LOG(qor::log::kError, "Can Not Use Function\n");
  return static_cast<FileResult*>(std::calloc(1, sizeof(FileResult)));
}

FileResult QORCrypto_DecryptFile_BYPASS(int, const char*, const char*, const char*, ErrorInfo*,
                                        QOR_FindKeyInfoFn, QOR_UpdateKeySetFn, QOR_AddKeyFn,
                                        const char*, const char*, const char*) {
  QOR_LOG(qor::log::kError, "Can Not Use Function\n");
  FileResult result;
  std::memset(&result, 0, sizeof(result));
  return result;
}

}  // extern "C"
