// Table entries of codes with no usable algorithm (unknown, RC4, TICN).
#include "log/log.h"
#include "qor/cipher_adapters.h"

namespace {
constexpr char kLogUnit[] = "source/Crypto/CuUNKNOWN";
}  // namespace

extern "C" QOR_API int doUnknownEncryptEx(DataBuffer*, const void*, const unsigned char*, DataBuffer*, uint16_t,
                                          int32_t, int32_t) {
  QOR_LOG(qor::log::kCrit, "Unknwon Algorithm\n");
  return -1;
}

extern "C" QOR_API int doUnknownDecrypt(DataBuffer*, const void*, const unsigned char*, DataBuffer*, int32_t,
                                        int32_t) {
  QOR_LOG(qor::log::kCrit, "Unknwon Algorithm\n");
  return -1;
}
