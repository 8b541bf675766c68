// Chooses, once per process, which compression variant the SHA family runs.
#include <atomic>

#include "primitives/sha/sha_internal.h"
#include "primitives/cpu_features.h"

namespace qor::sha {
namespace {

// Constant-initialised; only the tests ever set it.
constinit std::atomic<bool> g_forcePortable{false};

bool UseShaNi() {
  static const bool has = CpuHasShaNi();
  return has && !g_forcePortable.load(std::memory_order_relaxed);
}

bool UseAvx2() {
  static const bool has = CpuHasAvx2Bmi2();
  return has && !g_forcePortable.load(std::memory_order_relaxed);
}

}  // namespace

bool CpuHasShaNi() {
  const auto& f = qor::cpu::Get();
  return f.sha && f.sse41 && f.ssse3;
}

bool CpuHasAvx2Bmi2() {
  const auto& f = qor::cpu::Get();
  return f.avx2 && f.bmi1 && f.bmi2;
}

void ForcePortable(bool on) { g_forcePortable.store(on, std::memory_order_relaxed); }

const char* Sha256Implementation() { return UseShaNi() ? "sha-ni" : "portable"; }
const char* Sha512Implementation() { return UseAvx2() ? "avx2" : "portable"; }

void Sha1Blocks(uint32_t state[5], const uint8_t* data, size_t blocks) {
  if (UseShaNi()) {
    Sha1BlocksShaNi(state, data, blocks);
  } else {
    Sha1BlocksPortable(state, data, blocks);
  }
}

void Sha256Blocks(uint32_t state[8], const uint8_t* data, size_t blocks) {
  if (UseShaNi()) {
    Sha256BlocksShaNi(state, data, blocks);
  } else {
    Sha256BlocksPortable(state, data, blocks);
  }
}

void Sha512Blocks(uint64_t state[8], const uint8_t* data, size_t blocks) {
  if (UseAvx2()) {
    Sha512BlocksAvx2(state, data, blocks);
  } else {
    Sha512BlocksPortable(state, data, blocks);
  }
}

}  // namespace qor::sha
