// The value entry points: one value by policy name, returned as a DataBuffer,
// a new text, or copied into the caller's buffer.
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "common/last_error.h"
#include "api/instance.h"
#include "api/service_call.h"
#include "common/error_codes.h"
#include "log/log.h"
#include "service/crypto/qor_crypto.h"

namespace {

constexpr char kLogUnit[] = "../QORApi";
constexpr DataBuffer kFailed{-1, nullptr};

int KeyNameLength(const char* keyName) {
  return keyName != nullptr ? static_cast<int>(strlen(keyName)) : 0;
}

// The table is filled by initialisation; an empty slot means nothing can
// serve the call, which must not look like a success.
bool ServiceReady(const void* slot) {
  if (slot != nullptr) return true;
  qor::ErrorSet(qor::LastErrorRecord(), qor::err::kInternal, "Crypto service is not ready");
  return false;
}

// Identities follow the fixed arguments only for some kinds.
qor::api::Identities IdentitiesIf(bool present, va_list args) {
  return present ? qor::api::ReadIdentities(args) : qor::api::Identities{};
}

// Without a place for the result the value is not worth encrypting.
bool HaveOut(const unsigned char* out) {
  if (out != nullptr) return true;
  qor::ErrorSet(qor::LastErrorRecord(), qor::err::kNullArgument, "argument value cannot be null");
  return false;
}

// Copies the result into |out| and releases it: the length, a negative
// result as it came, or 0 when there are no bytes.
int CopyOut(DataBuffer result, unsigned char* out) {
  if (result.length < 0 || result.data == nullptr) {
    std::free(result.data);
    return result.length < 0 ? result.length : 0;
  }
  std::memcpy(out, result.data, static_cast<size_t>(result.length));
  std::free(result.data);
  return result.length;
}

// The text result of QOR_Encrypt/QOR_Decrypt: empty and failed both give null.
char* TextOrNull(DataBuffer result) {
  if (result.length > 0 && result.data != nullptr) return reinterpret_cast<char*>(result.data);
  std::free(result.data);
  return nullptr;
}

}  // namespace

namespace qor::api {

DataBuffer ServiceEncrypt(int length, unsigned char* data, int keyNameLength, const char* keyName,
                          const Identities& ids, int mode) {
  const QORCryptoEncryptFn encrypt = gCrypto.Encrypt;
  if (!ServiceReady(reinterpret_cast<const void*>(encrypt))) return kFailed;
  return encrypt(length, data, keyNameLength, keyName, LastErrorRecord(), &FindKeyInfo,
                 &QOR_GetUpdate, ids.first, ids.second, ids.third, mode);
}

DataBuffer ServiceDecrypt(int length, unsigned char* data, int keyNameLength, const char* keyName,
                          const Identities& ids, int mode) {
  const QORCryptoDecryptFn decrypt = gCrypto.Decrypt;
  if (!ServiceReady(reinterpret_cast<const void*>(decrypt))) return kFailed;
  return decrypt(length, data, keyNameLength, keyName, LastErrorRecord(), &FindKeyInfo,
                 &QOR_GetUpdate, &QOR_AddKey, ids.first, ids.second, ids.third, mode);
}

}  // namespace qor::api

extern "C" {

QOR_API DataBuffer QOR_EncryptExUdf(const char* keyName, unsigned char* data, int length,
                                    const char* identity1, const char* identity2,
                                    const char* identity3, int mode) {
  qor::api::CallGuard guard;
  if (!guard.ok()) return kFailed;
  if (keyName == nullptr) {
    qor::ErrorSet(qor::LastErrorRecord(), qor::err::kPolicyNotFound, "Key name is can not null");
    return kFailed;
  }
  return qor::api::ServiceEncrypt(length, data, KeyNameLength(keyName), keyName,
                                  {identity1, identity2, identity3}, mode);
}

QOR_API DataBuffer QOR_DecryptExUdf(const char* keyName, unsigned char* data, int length,
                                    const char* identity1, const char* identity2,
                                    const char* identity3, int mode) {
  qor::api::CallGuard guard;
  if (!guard.ok()) return kFailed;
  if (keyName == nullptr) {
    qor::ErrorSet(qor::LastErrorRecord(), qor::err::kPolicyNotFound, "Key name is can not null");
    QOR_LOG(qor::log::kCrit, "Key name is can not null\n");
    return kFailed;
  }
  return qor::api::ServiceDecrypt(length, data, KeyNameLength(keyName), keyName,
                                  {identity1, identity2, identity3}, mode);
}

QOR_API char* QOR_Encrypt(const char* keyName, unsigned char* data, int length, int count, ...) {
  va_list args;
  va_start(args, count);
  const qor::api::Identities ids = IdentitiesIf(count == 1, args);
  va_end(args);
  // No data is a null value, whatever length came with it.
  if (data == nullptr) length = -2;
  return TextOrNull(QOR_EncryptExUdf(keyName, data, length, ids.first, ids.second, ids.third,
                                     qor::crypto::kText));
}

QOR_API char* QOR_Decrypt(const char* keyName, unsigned char* data, int length, int count, ...) {
  va_list args;
  va_start(args, count);
  const qor::api::Identities ids = IdentitiesIf(count == 1, args);
  va_end(args);
  return TextOrNull(QOR_DecryptExUdf(keyName, data, length, ids.first, ids.second, ids.third,
                                     qor::crypto::kText));
}

QOR_API int QOR_EncryptExMsSql(const char* keyName, unsigned char* data, int length,
                               unsigned char* out, int binary, int kind, ...) {
  va_list args;
  va_start(args, kind);
  const qor::api::Identities ids = IdentitiesIf(kind == 1 || kind == 4 || kind == 5, args);
  va_end(args);
  if (!HaveOut(out)) return -1;
  // Kinds 2 to 5 stand for an empty (2, 4) or a null (3, 5) value; the
  // caller's first byte becomes a blank, as callers of this entry expect.
  if (kind >= 2 && kind <= 5) {
    if (data != nullptr) data[0] = ' ';
    length = (kind == 2 || kind == 4) ? -1 : -2;
  }
  const int mode = binary != 0 ? qor::crypto::kBinary : qor::crypto::kText;
  return CopyOut(QOR_EncryptExUdf(keyName, data, length, ids.first, ids.second, ids.third, mode),
                 out);
}

QOR_API int QOR_DecryptExMsSql(const char* keyName, unsigned char* data, int length,
                               unsigned char* out, int binary, int kind, ...) {
  va_list args;
  va_start(args, kind);
  const qor::api::Identities ids = IdentitiesIf(kind == 1, args);
  va_end(args);
  if (!HaveOut(out)) return -1;
  const int mode = binary != 0 ? qor::crypto::kBinary : qor::crypto::kText;
  return CopyOut(QOR_DecryptExUdf(keyName, data, length, ids.first, ids.second, ids.third, mode),
                 out);
}

}  // extern "C"
