#include "primitives/sha3/keccak.h"

#include <atomic>

#include "primitives/sha3/keccak_rounds.h"

namespace qor::sha3 {

namespace {

// nullptr until the first permutation; then the body for the whole process
// (tests may pin another one).
std::atomic<PermuteFn> g_permute{nullptr};

PermuteFn BestPermute() { return CpuHasBmi2() ? &KeccakF1600Bmi2 : &KeccakF1600Portable; }

}  // namespace

void KeccakF1600Portable(std::uint64_t state[25]) { detail::KeccakPermute(state); }

bool CpuHasBmi2() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
  }();
  return has;
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
  return ActivePermute() == &KeccakF1600Bmi2 ? KeccakImpl::kBmi2 : KeccakImpl::kPortable;
}

const char* KeccakImplName(KeccakImpl impl) {
  return impl == KeccakImpl::kBmi2 ? "bmi2" : "portable";
}

bool ForceKeccakImpl(KeccakImpl impl) {
  if (impl == KeccakImpl::kBmi2 && !CpuHasBmi2()) return false;
  g_permute.store(impl == KeccakImpl::kBmi2 ? &KeccakF1600Bmi2 : &KeccakF1600Portable,
                  std::memory_order_release);
  return true;
}

void ResetKeccakImpl() { g_permute.store(BestPermute(), std::memory_order_release); }

}  // namespace qor::sha3
