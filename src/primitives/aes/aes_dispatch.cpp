// Picks the AES implementation once per process.
#include "primitives/aes/aes_internal.h"

namespace qor::aes {
namespace {

constexpr primitives::Candidate<Impl> kCandidates[] = {
    {"vaes", VaesImpl},
    {"aesni", AesNiImpl},
    {"generic", [] { return &PortableImpl(); }},
};

}  // namespace

constinit primitives::Dispatcher<Impl> g_kernels{kCandidates};

}  // namespace qor::aes
