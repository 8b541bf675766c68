// Digit policies through the adapter tables: the digit functions take only
// the value and the digit context.
#include "engine/adapters/adapters.h"
#include "qor/cupin.h"

namespace qor::engine::adapters {

int DigitEncrypt(DataBuffer* in, const void* key, const unsigned char*, DataBuffer* out, uint16_t, int32_t,
                 int32_t) {
  return doPIN10EncryptEx(in, key, 0, out);
}

int DigitDecrypt(DataBuffer* in, const void* key, const unsigned char*, DataBuffer* out, int32_t, int32_t) {
  return doPIN10Decrypt(in, key, 0, out);
}

}  // namespace qor::engine::adapters
