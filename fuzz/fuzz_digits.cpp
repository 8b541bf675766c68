// Digit encryption round-trips any digit string and refuses anything else
// with an exact copy of its input.
#include <cstdlib>
#include <cstring>

#include "qor/cupin.h"
#include "qorapi.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  if (size > 300) return 0;
  static const unsigned char kKey[16] = {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6,
                                         0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c};
  static DigitContext* context = initRadix10(10, kKey, 16, nullptr, 0);
  DataBuffer in{static_cast<int32_t>(size), const_cast<unsigned char*>(data)};
  DataBuffer encrypted{0, nullptr};
  if (doPIN10EncryptEx(&in, context, 0, &encrypted) == 0) {
    DataBuffer decrypted{0, nullptr};
    if (doPIN10Decrypt(&encrypted, context, 0, &decrypted) != 0 ||
        memcmp(decrypted.data, data, size) != 0) {
      abort();
    }
    free(decrypted.data);
  } else if (encrypted.data != nullptr && size > 0 && memcmp(encrypted.data, data, size) != 0) {
    abort();
  }
  free(encrypted.data);
  return 0;
}
