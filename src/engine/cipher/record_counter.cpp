// Process-wide record-IV counter.
#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "qor/cipher_util.h"

extern "C" {
QOR_API uint32_t g_RecordIV = 0;
}

namespace {

// Database servers fork their backends in bursts, and each backend seeds its
// own counter: a seed taken from the clock would give processes started in
// the same second the same IVs, and equal values would encrypt equally.
uint32_t FreshSeed() {
  uint32_t seed = 0;
  for (;;) {
    const ssize_t n = getrandom(&seed, sizeof(seed), 0);
    if (n == static_cast<ssize_t>(sizeof(seed))) return seed;
    if (n < 0 && errno == EINTR) continue;
    break;
  }
  // No kernel source (seccomp or a very old kernel): mix what differs
  // between processes and calls at least.
  const auto ticks = static_cast<uint64_t>(
      std::chrono::steady_clock::now().time_since_epoch().count());
  uint64_t mixed = ticks ^ (static_cast<uint64_t>(getpid()) << 32) ^
                   reinterpret_cast<uintptr_t>(&seed);
  mixed ^= mixed >> 33;
  mixed *= 0xff51afd7ed558ccdull;
  mixed ^= mixed >> 33;
  return static_cast<uint32_t>(mixed);
}

}  // namespace

extern "C" QOR_API uint32_t InitInternalRecordIV(void) {
  const uint32_t seed = FreshSeed();
  // Other threads draw from the counter atomically; one holding a reserved
  // run of values (record_iv_draw.cpp) finishes it before it meets the seed.
  std::atomic_ref<uint32_t>(g_RecordIV).store(seed, std::memory_order_relaxed);
  return seed;
}
