// Shared steps of the one-way adapters: argument checks and the one result buffer.
#pragma once

#include <cstdlib>

#include "engine/adapters/adapter_log.h"
#include "qor/cipher_adapters.h"

namespace qor::engine::adapters {

// True when |in| can be hashed (an empty input may have no bytes) and |out| exists.
inline bool DigestArgsOk(const char* func, const char* unit, const DataBuffer* in, const DataBuffer* out) {
  if (in == nullptr || out == nullptr || in->length < 0 || (in->data == nullptr && in->length > 0)) {
    QOR_LOG_UNIT_AS(qor::log::kCrit, func, unit, "%s", msg::kNullInputEn);
    return false;
  }
  return true;
}

// A zero-terminated buffer for a |len|-byte digest, or nullptr after logging |allocMessage|.
inline unsigned char* NewDigestBuffer(const char* func, const char* unit, int len, const char* allocMessage) {
  auto* buf = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(len) + 1));
  if (buf == nullptr) {
    QOR_LOG_UNIT_AS(qor::log::kCrit, func, unit, "%s", allocMessage);
    return nullptr;
  }
  buf[len] = 0;
  return buf;
}

inline void SetDigest(DataBuffer* out, unsigned char* buf, int len) {
  out->data = buf;
  out->length = len;
}

}  // namespace qor::engine::adapters
