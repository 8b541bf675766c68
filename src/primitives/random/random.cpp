// Random bytes for session keys: two DES-encrypted 64-bit states re-seeded on
// every call from the clock and a process-wide congruential value. This is a
// fixed construction that other parties reproduce, not a strong generator.
#include "qor/nc_random.h"

#include <atomic>
#include <cstring>
#include <ctime>
#include <mutex>

#include "primitives/des/des_core.h"
#include "qor/nc_des.h"

namespace qor::random {
namespace {

// Fixed single-DES schedules: the first encrypts state A, the second state B.
constexpr uint32_t kScheduleA[des::kScheduleWords] = {
    0xB460E4C4u, 0x8CBC1024u, 0x78F860C0u, 0x2C1CE440u, 0x7044C850u, 0x6CEC40E8u, 0xE44C0CA0u, 0x70D85430u,
    0xF4B8500Cu, 0xB05814D0u, 0x3C308088u, 0xACCC60B4u, 0xAC4480E8u, 0xC4FC8C44u, 0xEC2C3830u, 0xD070C0D4u,
    0x745CA420u, 0x54EC9098u, 0xF49C14BCu, 0xF0040818u, 0x18B8B40Cu, 0xF85C2044u, 0x3C584064u, 0x4C7CE80Cu,
    0x744C3C50u, 0xC0B4A820u, 0xD8882854u, 0xF0D01418u, 0x9CB84C08u, 0x28F83888u, 0xE0F80094u, 0xF81838E4u,
};
constexpr uint32_t kScheduleB[des::kScheduleWords] = {
    0x784C3834u, 0x8C64ACB4u, 0x588C7C44u, 0x5CD490FCu, 0x94DC0C9Cu, 0x78E0FC38u, 0xD478A45Cu, 0x989C3CC4u,
    0xF8F0E8E4u, 0xE414E09Cu, 0x482CDCF8u, 0x6CBCB068u, 0xB04C1C74u, 0x74F85474u, 0xF4BCD80Cu, 0x1088FC80u,
    0x74B458ACu, 0xACC878FCu, 0xACC434C8u, 0xBC1CF464u, 0x68748854u, 0xD878CCDCu, 0x6C58ACB8u, 0x34E4F890u,
    0xD49470FCu, 0xE0EC105Cu, 0xACA8DC08u, 0xF84CE07Cu, 0x3CF8C47Cu, 0xCC38DC24u, 0x20FC7CE8u, 0xC4346C0Cu,
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
    des::detail::StoreBe32(block, s.b[0]);
    des::detail::StoreBe32(block + 4, s.b[1]);
    std::memcpy(out + off, block, len - off < 8 ? len - off : 8);
    s.b[0] = s.a[0];
    s.b[1] = s.a[1];
    s.a[0] = saved[0];
    s.a[1] = saved[1];
  }
}

}  // namespace
}  // namespace qor::random

extern "C" {

QOR_API int NC_GenerateRandom(uint8_t* out, int32_t len) {
  if (len < 0 || (len > 0 && out == nullptr)) return -1;
  qor::random::Generate(out, static_cast<size_t>(len));
  return 0;
}

QOR_API uint32_t NC_Ulvex_Rand(void) { return qor::random::NextLcg(); }

}  // extern "C"
