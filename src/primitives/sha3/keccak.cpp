#include "primitives/sha3/keccak.h"
#include "primitives/cpu_features.h"

#include <bit>
#include <cstdint>

#include "primitives/sha3/keccak_rounds.h"  // before the body is included into a namespace

namespace {
#define QOR_KECCAK_ATTR
#include "primitives/sha3/scalar_lane.h"
#include "primitives/sha3/keccak_body.h"
}  // namespace

namespace qor::sha3 {

void KeccakF1600Portable(std::uint64_t state[25]) { Permute(state); }

namespace {

constexpr Kernels kAvx512 = {KeccakF1600Avx512, "avx512vl"};
constexpr Kernels kBmi2 = {KeccakF1600Bmi2, "bmi2"};
constexpr Kernels kPortable = {KeccakF1600Portable, "portable"};

constexpr primitives::Candidate<Kernels> kCandidates[] = {
    {"avx512vl", [] { return cpu::HasAvx512Vl() ? &kAvx512 : nullptr; }},
    {"bmi2", [] { return cpu::HasBmi2() ? &kBmi2 : nullptr; }},
    {"portable", [] { return &kPortable; }},
};

}  // namespace

constinit primitives::Dispatcher<Kernels> g_kernels{kCandidates};

void KeccakF1600(std::uint64_t state[25]) { ActivePermute()(state); }

}  // namespace qor::sha3
