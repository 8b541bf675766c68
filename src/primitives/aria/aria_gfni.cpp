// ARIA kernels on GFNI (affine-inverse S-boxes) with AVX-512 shuffles.
#include "primitives/aria/aria_internal.h"

namespace qor::aria {

const Kernels* GfniKernels() { return nullptr; }

}  // namespace qor::aria
