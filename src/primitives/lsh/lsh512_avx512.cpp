// AVX-512VL compression: the same 256-bit body with one-instruction rotations.
#include <immintrin.h>

#define QOR_LSH_TARGET "avx2,avx512f,avx512vl"
#define QOR_LSH_ROTL(x, r) _mm256_rol_epi64((x), (r))
#include "primitives/lsh/lsh512_simd_body.h"

namespace qor::lsh {

void CompressAvx512(std::uint64_t cv[16], const std::uint8_t* blocks, std::size_t n) {
  CompressVec(cv, blocks, n);
}

}  // namespace qor::lsh
