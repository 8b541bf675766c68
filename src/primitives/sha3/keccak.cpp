#include "primitives/sha3/keccak.h"
#include "primitives/cpu_features.h"

#include <atomic>
#include <bit>
#include <cstdint>

#include "primitives/sha3/keccak_rounds.h"  // before the body is included into a namespace

namespace {
#define QOR_KECCAK_ATTR
#include "primitives/sha3/scalar_lane.h"
#include "primitives/sha3/keccak_body.h"
}  // namespace

namespace qor::sha3 {

namespace {

// nullptr until the first permutation; then the body for the whole process
// (tests may pin another one).
std::atomic<PermuteFn> g_permute{nullptr};

PermuteFn BestPermute() {
  if (CpuHasAvx512Vl()) return &KeccakF1600Avx512;
  if (CpuHasBmi2()) return &KeccakF1600Bmi2;
  return &KeccakF1600Portable;
}

PermuteFn BodyOf(KeccakImpl impl) {
  switch (impl) {
    case KeccakImpl::kAvx512: return &KeccakF1600Avx512;
    case KeccakImpl::kBmi2: return &KeccakF1600Bmi2;
    default: return &KeccakF1600Portable;
  }
}

}  // namespace

void KeccakF1600Portable(std::uint64_t state[25]) { Permute(state); }

bool CpuHasBmi2() {
  const auto& f = qor::cpu::Get();
  return f.bmi1 && f.bmi2;
}

bool CpuHasAvx512Vl() {
  const auto& f = qor::cpu::Get();
  return f.avx512f && f.avx512vl;
}

PermuteFn ActivePermute() {
  PermuteFn fn = g_permute.load(std::memory_order_acquire);
  if (fn == nullptr) {
    PermuteFn expected = nullptr;
    fn = BestPermute();
    if (!g_permute.compare_exchange_strong(expected, fn, std::memory_order_acq_rel)) fn = expected;
  }
  return fn;
}

void KeccakF1600(std::uint64_t state[25]) { ActivePermute()(state); }

KeccakImpl ActiveKeccakImpl() {
  const PermuteFn fn = ActivePermute();
  if (fn == &KeccakF1600Avx512) return KeccakImpl::kAvx512;
  if (fn == &KeccakF1600Bmi2) return KeccakImpl::kBmi2;
  return KeccakImpl::kPortable;
}

const char* KeccakImplName(KeccakImpl impl) {
  switch (impl) {
    case KeccakImpl::kAvx512: return "avx512vl";
    case KeccakImpl::kBmi2: return "bmi2";
    default: return "portable";
  }
}

bool ForceKeccakImpl(KeccakImpl impl) {
  if (impl == KeccakImpl::kBmi2 && !CpuHasBmi2()) return false;
  if (impl == KeccakImpl::kAvx512 && !CpuHasAvx512Vl()) return false;
  g_permute.store(BodyOf(impl), std::memory_order_release);
  return true;
}

void ResetKeccakImpl() { g_permute.store(BestPermute(), std::memory_order_release); }

}  // namespace qor::sha3
