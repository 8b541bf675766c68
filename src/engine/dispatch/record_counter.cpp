// Process-wide record-IV counter.
#include <atomic>
#include <ctime>

#include "qor/cipher_util.h"

extern "C" {
QOR_API uint32_t g_RecordIV = 0;
}

extern "C" QOR_API uint32_t InitInternalRecordIV(void) {
  const auto seed = static_cast<uint32_t>(std::time(nullptr));
  // Other threads draw from the counter with atomic increments.
  std::atomic_ref<uint32_t>(g_RecordIV).store(seed, std::memory_order_relaxed);
  return seed;
}
