// Chooses, once per process, which compression variant the SHA family runs.
#include "primitives/cpu_features.h"
#include "primitives/sha/sha_internal.h"

namespace qor::sha {
namespace {

constexpr Kernels kShaNiAvx512 = {Sha1BlocksShaNi, Sha256BlocksShaNi, Sha512BlocksAvx512, "shani-avx512"};
constexpr Kernels kBoth = {Sha1BlocksShaNi, Sha256BlocksShaNi, Sha512BlocksAvx2, "shani-avx2"};
constexpr Kernels kShaNi = {Sha1BlocksShaNi, Sha256BlocksShaNi, Sha512BlocksPortable, "shani"};
constexpr Kernels kAvx512 = {Sha1BlocksPortable, Sha256BlocksPortable, Sha512BlocksAvx512, "avx512"};
constexpr Kernels kAvx2 = {Sha1BlocksPortable, Sha256BlocksPortable, Sha512BlocksAvx2, "avx2"};
constexpr Kernels kPortable = {Sha1BlocksPortable, Sha256BlocksPortable, Sha512BlocksPortable, "portable"};

bool HasSha512Avx512() { return cpu::HasAvx512Vl() && cpu::HasAvx512Bw() && cpu::HasAvx2Bmi2(); }

constexpr primitives::Candidate<Kernels> kCandidates[] = {
    {"shani-avx512", [] { return cpu::HasShaNi() && HasSha512Avx512() ? &kShaNiAvx512 : nullptr; }},
    {"shani-avx2", [] { return cpu::HasShaNi() && cpu::HasAvx2Bmi2() ? &kBoth : nullptr; }},
    {"shani", [] { return cpu::HasShaNi() ? &kShaNi : nullptr; }},
    {"avx512", [] { return HasSha512Avx512() ? &kAvx512 : nullptr; }},
    {"avx2", [] { return cpu::HasAvx2Bmi2() ? &kAvx2 : nullptr; }},
    {"portable", [] { return &kPortable; }},
};

}  // namespace

constinit primitives::Dispatcher<Kernels> g_kernels{kCandidates};

const Kernels& PortableKernels() { return kPortable; }

const char* Sha256Implementation() {
  return g_kernels.Active().sha256 == Sha256BlocksShaNi ? "sha-ni" : "portable";
}

const char* Sha512Implementation() {
  const auto sha512 = g_kernels.Active().sha512;
  return sha512 == Sha512BlocksAvx512 ? "avx512" : sha512 == Sha512BlocksAvx2 ? "avx2" : "portable";
}

void Sha1Blocks(uint32_t state[5], const uint8_t* data, size_t blocks) { g_kernels.Active().sha1(state, data, blocks); }

void Sha256Blocks(uint32_t state[8], const uint8_t* data, size_t blocks) {
  g_kernels.Active().sha256(state, data, blocks);
}

void Sha512Blocks(uint64_t state[8], const uint8_t* data, size_t blocks) {
  g_kernels.Active().sha512(state, data, blocks);
}

}  // namespace qor::sha
