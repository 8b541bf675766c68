// Random bytes for session keys: two DES-encrypted 64-bit states re-seeded on
// every call from the clock and a process-wide congruential value. This is a
// fixed construction that other parties reproduce, not a strong generator.
#include "qor/nc_random.h"

#include <atomic>
#include <cstring>
#include <ctime>
#include <mutex>

#include "primitives/byte_order.h"
#include "primitives/des/des_core.h"
#include "qor/nc_des.h"

#include "primitives/random/random_fork.h"

namespace qor::random {
namespace {

// Fixed single-DES schedules: the first encrypts state A, the second state B.
constexpr uint32_t kScheduleA[des::kScheduleWords] = {
    0x2D183931u, 0x232F0409u, 0x1E3E1830u, 0x0B073910u, 0x1C113214u, 0x1B3B103Au, 0x39130328u, 0x1C36150Cu,
    0x3D2E1403u, 0x2C160534u, 0x0F0C2022u, 0x2B33182Du, 0x2B11203Au, 0x313F2311u, 0x3B0B0E0Cu, 0x341C3035u,
    0x1D172908u, 0x153B2426u, 0x3D27052Fu, 0x3C010206u, 0x062E2D03u, 0x3E170811u, 0x0F161019u, 0x131F3A03u,
    0x1D130F14u, 0x302D2A08u, 0x36220A15u, 0x3C340506u, 0x272E1302u, 0x0A3E0E22u, 0x383E0025u, 0x3E060E39u,
};
constexpr uint32_t kScheduleB[des::kScheduleWords] = {
    0x1E130E0Du, 0x23192B2Du, 0x16231F11u, 0x1735243Fu, 0x25370327u, 0x1E383F0Eu, 0x351E2917u, 0x26270F31u,
    0x3E3C3A39u, 0x39053827u, 0x120B373Eu, 0x1B2F2C1Au, 0x2C13071Du, 0x1D3E151Du, 0x3D2F3603u, 0x04223F20u,
    0x1D2D162Bu, 0x2B321E3Fu, 0x2B310D32u, 0x2F073D19u, 0x1A1D2215u, 0x361E3337u, 0x1B162B2Eu, 0x0D393E24u,
    0x35251C3Fu, 0x383B0417u, 0x2B2A3702u, 0x3E13381Fu, 0x0F3E311Fu, 0x330E3709u, 0x083F1F3Au, 0x310D1B03u,
};
constexpr uint32_t kTimeOffset = 41403791u;
constexpr uint32_t kMaskHigh = 0xC303E3BDu;
constexpr uint32_t kMaskLow = 0x4C8BF38Bu;
constexpr uint32_t kLcgStart = 0x4543AC5Au;
constexpr uint32_t kLcgMultiplier = 1103515245u;
constexpr uint32_t kLcgIncrement = 12345u;

constinit std::atomic<uint32_t> g_lcg{kLcgStart};

// Both states are process-wide and only touched under GeneratorLock().
struct GeneratorState {
  uint32_t a[2];
  uint32_t b[2];
};
constinit GeneratorState g_state{};

std::mutex& GeneratorLock() {
  static std::mutex lock;
  return lock;
}

uint32_t NextLcg() {
  uint32_t x = g_lcg.load(std::memory_order_relaxed);
  uint32_t next;
  do {
    next = x * kLcgMultiplier + kLcgIncrement;
  } while (!g_lcg.compare_exchange_weak(x, next, std::memory_order_relaxed));
  return next;
}

void Generate(uint8_t* out, size_t len) {
  std::lock_guard<std::mutex> guard(GeneratorLock());
  GeneratorState& s = g_state;
  const uint32_t t = static_cast<uint32_t>(std::time(nullptr)) + kTimeOffset;
  s.a[0] = t ^ kMaskHigh;
  s.a[1] = t ^ kMaskLow;
  s.b[0] = NextLcg();
  s.b[1] = NextLcg();
  for (size_t off = 0; off < len; off += 8) {
    const uint32_t saved[2] = {s.b[0], s.b[1]};
    s.a[0] ^= s.b[0];
    s.a[1] ^= s.b[1];
    des::EncryptHalves(s.a[0], s.a[1], kScheduleA);
    des::EncryptHalves(s.b[0], s.b[1], kScheduleB);
    s.b[0] ^= s.a[0];
    s.b[1] ^= s.a[1];
    uint8_t block[8];
    primitives::StoreBe32(block, s.b[0]);
    primitives::StoreBe32(block + 4, s.b[1]);
    std::memcpy(out + off, block, len - off < 8 ? len - off : 8);
    s.b[0] = s.a[0];
    s.b[1] = s.a[1];
    s.a[0] = saved[0];
    s.a[1] = saved[1];
  }
}

}  // namespace

void LockForFork() { GeneratorLock().lock(); }
void UnlockAfterFork() { GeneratorLock().unlock(); }

}  // namespace qor::random

extern "C" {

QOR_API int NC_GenerateRandom(uint8_t* out, int32_t len) {
  if (len < 0 || (len > 0 && out == nullptr)) return -1;
  qor::random::Generate(out, static_cast<size_t>(len));
  return 0;
}

QOR_API uint32_t NC_Ulvex_Rand(void) { return qor::random::NextLcg(); }

}  // extern "C"
