// Chooses, once per process, which kernel encodes and decodes Base64 groups.
#include "primitives/base64/base64_internal.h"

namespace qor::base64 {
namespace {

constexpr Kernels kPortable = {EncodePortable, DecodePortable, "portable"};

constexpr primitives::Candidate<Kernels> kCandidates[] = {
    {"avx512", Avx512Kernels},
    {"avx2", Avx2Kernels},
    {"portable", [] { return &kPortable; }},
};

}  // namespace

constinit primitives::Dispatcher<Kernels> g_kernels{kCandidates};

const Kernels& PortableKernels() { return kPortable; }

}  // namespace qor::base64
