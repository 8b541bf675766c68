// Key contexts of a record: staging the key bytes a schedule takes, and
// allocating and releasing the contexts, with the log lines of the creation.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "common/secure_wipe.h"
#include "log/log.h"
#include "qor/cipher_adapters.h"

namespace qor::engine::adapters {

// Key contexts are built on behalf of CipherUtil_Create and log under its name.
inline constexpr char kCreateFunction[] = "CipherUtil_Create";
inline constexpr char kCreateUnit[] = "source/Crypto/CipherUtil";
#define QOR_CREATE_LOG(fmt, ...)                                                         \
  QOR_LOG_UNIT_AS(qor::log::kCrit, ::qor::engine::adapters::kCreateFunction,             \
                  ::qor::engine::adapters::kCreateUnit, fmt __VA_OPT__(, ) __VA_ARGS__)

// Key bytes staged for a schedule; wiped when the scope ends.
template <size_t N>
struct KeyBuffer {
  unsigned char bytes[N] = {};
  KeyBuffer() = default;
  KeyBuffer(const KeyBuffer&) = delete;
  KeyBuffer& operator=(const KeyBuffer&) = delete;
  ~KeyBuffer() { qor::SecureWipe(bytes, N); }
};

// The key's first bytes, at most N, the rest zero; for the 32-byte codes a
// key shorter than 32 bytes gives its first 16 bytes twice.
template <size_t N>
void StageKey(KeyBuffer<N>& k, const DataBuffer& key) {
  const size_t given = static_cast<size_t>(key.length);
  if constexpr (N == 32) {
    std::memcpy(k.bytes, key.data, given < 16 ? given : 16);
    std::memcpy(k.bytes + 16, given >= 32 ? key.data + 16 : k.bytes, 16);
  } else {
    std::memcpy(k.bytes, key.data, given < N ? given : N);
  }
}

inline void FreeContext(void* ctx, size_t size) {
  if (ctx == nullptr) return;
  qor::SecureWipe(ctx, size);
  std::free(ctx);
}

template <class Ctx>
Ctx* NewContext(const char* which) {
  auto* ctx = static_cast<Ctx*>(std::calloc(1, sizeof(Ctx)));
  if (ctx == nullptr) QOR_CREATE_LOG("%s Memory Allocation failed.\n", which);
  return ctx;
}

// The create step of a row whose cipher schedules a staged key of kKeyBytes.
template <class Cipher, int kKeyBytes>
int CreateStaged(const DataBuffer& key, CipherUtil* record) {
  KeyBuffer<kKeyBytes> k;
  StageKey(k, key);
  return Cipher::Schedule(k.bytes, kKeyBytes, record);
}

}  // namespace qor::engine::adapters
