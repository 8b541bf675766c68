// AVX2 compression: rotations by shift-shift-or.
#include <immintrin.h>

#define QOR_LSH_TARGET "avx2"
#define QOR_LSH_ROTL(x, r) \
  _mm256_or_si256(_mm256_slli_epi64((x), (r)), _mm256_srli_epi64((x), 64 - (r)))
#include "primitives/lsh/lsh512_simd_body.h"

namespace qor::lsh {

void CompressAvx2(std::uint64_t cv[16], const std::uint8_t* blocks, std::size_t n) {
  CompressVec(cv, blocks, n);
}

}  // namespace qor::lsh
