// Keyed digests: HMAC-SHA-1 and HMAC-SHA-256 into a new buffer.
#include <cstdlib>

#include "engine/adapters/adapter_log.h"
#include "qor/cipher_adapters.h"
#include "qor/nc_hmac.h"

namespace {

constexpr char kLogUnit[] = "source/Crypto/CuHMAC";
using qor::log::kCrit;
namespace msg = qor::engine::msg;

using HmacFn = int (*)(const unsigned char*, size_t, const unsigned char*, size_t, unsigned char*);

int Hmac(const char* func, HmacFn mac, int32_t macLen, const DataBuffer* data, const DataBuffer* key,
         DataBuffer* out) {
  if (data == nullptr || key == nullptr || out == nullptr || data->data == nullptr || key->data == nullptr) {
    QOR_LOG_UNIT_AS(kCrit, func, kLogUnit, "%s", msg::kNullInputKo);
    return -1;
  }
  if (data->length < 1) {
    QOR_LOG_UNIT_AS(kCrit, func, kLogUnit, "%s", msg::kShortInputKo);
    return -1;
  }
  if (key->length < 1 || key->length > 64) {
    QOR_LOG_UNIT_AS(kCrit, func, kLogUnit, QOR_MSG_BAD_KEY_LENGTH_KO, key->length);
    return -1;
  }
  auto* buf = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(macLen) + 1));
  if (buf == nullptr) {
    QOR_LOG_UNIT_AS(kCrit, func, kLogUnit, "Memory Allocation Failed.\n");
    return -1;
  }
  mac(data->data, static_cast<size_t>(data->length), key->data, static_cast<size_t>(key->length), buf);
  buf[macLen] = 0;
  out->data = buf;
  out->length = macLen;
  return 0;
}

}  // namespace

extern "C" QOR_API int doHMACDigest(const DataBuffer* data, const DataBuffer* key, DataBuffer* out) {
  return Hmac(__func__, NC_E_HMAC_SHA1, NC_HMAC_SHA1_LEN, data, key, out);
}

extern "C" QOR_API int doHMACDigest256(const DataBuffer* data, const DataBuffer* key, DataBuffer* out) {
  return Hmac(__func__, NC_E_HMAC_SHA256, NC_HMAC_SHA256_LEN, data, key, out);
}
