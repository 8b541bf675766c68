// The file entry points: a whole file by policy name. Two return the run's
// result code, two the result record; the Java variant of encryption runs the
// pipeline in a forked child.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "common/last_error.h"
#include "api/fork_guard.h"
#include "api/instance.h"
#include "api/service_call.h"
#include "common/error_codes.h"
#include "common/error_record.h"
#include "qor/file_entry.h"
#include "qor/qorfile.h"
#include "service/crypto/qor_crypto.h"

namespace {

using Guard = std::optional<qor::api::CallGuard>;

int KeyNameLength(const char* keyName) {
  return keyName != nullptr ? static_cast<int>(std::strlen(keyName)) : 0;
}

// Prologue: initialise (its own failure code) or swap the key set (-1), then
// wait and hold the instance read lock in |guard|. 0 when ready.
int Enter(Guard* guard) {
  if (QOR_IsInit() != 0) {
    const int code = QOR_GetInstanceAuto();
    if (code != 0) return code;
  }
  guard->emplace();
  return (*guard)->ok() ? 0 : -1;
}

// An empty slot means nothing can serve the call, which must not look like a
// success.
bool ServiceReady(const void* slot) {
  if (slot != nullptr) return true;
  qor::ErrorSet(qor::LastErrorRecord(), qor::err::kInternal, "Crypto service is not ready");
  return false;
}

FileResult Refused(int code, const char* message) {
  FileResult r;
  std::memset(&r, 0, sizeof(r));
  r.code = code;
  std::memcpy(r.tag, qor::err::kTagUnknown, sizeof(qor::err::kTagUnknown));
  const size_t n = strnlen(message, sizeof(r.message) - 1);
  std::memcpy(r.message, message, n);
  return r;
}

int EncryptCode(const char* keyName, const char* source, const char* target,
                const qor::api::Identities& ids) {
  const QORCryptoEncryptFileFn encrypt = gCrypto.EncryptFile;
  if (!ServiceReady(reinterpret_cast<const void*>(encrypt))) return -1;
  FileResult* result = encrypt(KeyNameLength(keyName), keyName, source, target,
                               qor::LastErrorRecord(), &FindKeyInfo, &QOR_GetUpdate, ids.first,
                               ids.second, ids.third);
  const int code = result != nullptr ? result->code : -1;
  std::free(result);
  return code;
}

FileResult DecryptRecord(int keyNameLength, const char* keyName, const char* source,
                         const char* target, const qor::api::Identities& ids) {
  const QORCryptoDecryptFileFn decrypt = gCrypto.DecryptFile;
  if (!ServiceReady(reinterpret_cast<const void*>(decrypt))) {
    return Refused(-1, QOR_GetLastErrorMsg());
  }
  return decrypt(keyNameLength, keyName, source, target, qor::LastErrorRecord(), &FindKeyInfo,
                 &QOR_GetUpdate, &QOR_AddKey, ids.first, ids.second, ids.third);
}

qor::api::Identities IdentitiesIf(int count, va_list args) {
  return count == 1 ? qor::api::ReadIdentities(args) : qor::api::Identities{};
}

}  // namespace

extern "C" {

int QOR_EncryptFile(const char* keyName, const char* sourcePath, const char* targetPath,
                    int count, ...) {
  if (keyName == nullptr) {
    if (QOR_IsInit() != 0) QOR_GetInstanceAuto();
    return -1;
  }
  Guard guard;
  if (Enter(&guard) != 0) return -1;
  va_list args;
  va_start(args, count);
  const qor::api::Identities ids = IdentitiesIf(count, args);
  va_end(args);
  return EncryptCode(keyName, sourcePath, targetPath, ids);
}

int QOR_DecryptFile(const char* keyName, const char* sourcePath, const char* targetPath,
                    int count, ...) {
  if (QOR_IsInit() != 0) {
    const int code = QOR_GetInstanceAuto();
    if (code != 0) return code;
  }
  if (keyName == nullptr) return -1;
  Guard guard;
  if (Enter(&guard) != 0) return -1;
  va_list args;
  va_start(args, count);
  const qor::api::Identities ids = IdentitiesIf(count, args);
  va_end(args);
  return DecryptRecord(KeyNameLength(keyName), keyName, sourcePath, targetPath, ids).code;
}

FileResult* QOR_EncryptFile_JNI(int keyNameLength, const char* keyName, const char* sourcePath,
                                const char* targetPath, const char* identity1,
                                const char* identity2, const char* identity3) {
  auto* result = static_cast<FileResult*>(std::calloc(1, sizeof(FileResult)));
  if (result == nullptr) return nullptr;
  {
    // Ready the key set here, so the child starts from a loaded one; the
    // lock is let go before the fork.
    Guard guard;
    if (const int code = Enter(&guard); code != 0) {
      *result = Refused(code, QOR_GetLastErrorMsg());
      return result;
    }
  }
  qor::api::InstallForkHandlers();
  const pid_t pid = fork();
  if (pid < 0) {
    *result = Refused(-1, "fork failed");
    return result;
  }
  if (pid == 0) {
    // The child is a copy of a possibly multi-threaded process: it runs the
    // pipeline, then ends without exit handlers or the host's atexit work.
    const QORCryptoEncryptFileFn encrypt = gCrypto.EncryptFile;
    int code = -1;
    if (encrypt != nullptr) {
      FileResult* child = encrypt(keyNameLength, keyName, sourcePath, targetPath,
                                  qor::LastErrorRecord(), &FindKeyInfo, &QOR_GetUpdate,
                                  identity1, identity2, identity3);
      code = child != nullptr ? child->code : -1;
      std::free(child);
    }
    _exit(code != 0 ? 1 : 0);
  }
  int status = 0;
  pid_t waited;
  do {
    waited = waitpid(pid, &status, 0);
  } while (waited < 0 && errno == EINTR);
  result->code = waited == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : -1;
  return result;
}

FileResult QOR_DecryptFile_JNI(int keyNameLength, const char* keyName, const char* sourcePath,
                               const char* targetPath, const char* identity1,
                               const char* identity2, const char* identity3) {
  Guard guard;
  if (const int code = Enter(&guard); code != 0) return Refused(code, QOR_GetLastErrorMsg());
  return DecryptRecord(keyNameLength, keyName, sourcePath, targetPath,
                       qor::api::Identities{identity1, identity2, identity3});
}

}  // extern "C"
