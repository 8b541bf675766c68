// Digit policies through the adapter tables: the digit functions take only
// the value and the digit context.
#include "engine/adapters/adapters.h"
#include "engine/adapters/key_contexts.h"
#include "qor/cupin.h"

namespace qor::engine::adapters {

int DigitEncrypt(DataBuffer* in, const void* key, const unsigned char*, DataBuffer* out, uint16_t, int32_t,
                 int32_t) {
  return doPIN10EncryptEx(in, key, 0, out);
}

int DigitDecrypt(DataBuffer* in, const void* key, const unsigned char*, DataBuffer* out, int32_t, int32_t) {
  return doPIN10Decrypt(in, key, 0, out);
}

int CreateDigits(const DataBuffer& key, CipherUtil* record) {
  DigitContext* ctx = initRadix10(10, key.data, key.length, nullptr, 0);
  // A version without a digit context would hand every value back unciphered.
  if (ctx == nullptr) {
    QOR_CREATE_LOG("initRadix10() Error. key length = [%d]\n", key.length);
    return -1;
  }
  record->pEKey = record->pDKey = ctx;
  return 0;
}

void ReleaseDigits(CipherUtil* record) {
  auto* digits = static_cast<DigitContext*>(record->pEKey);
  removeRadix10(&digits);
}

}  // namespace qor::engine::adapters
