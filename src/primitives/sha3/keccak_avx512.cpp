// The rounds with each lane in the low half of its own xmm register: AVX-512
// has 32 of them, so the state never spills, theta's five-way xor and chi
// each take one ternary-logic instruction, and rotations are single vprolq.
#include <immintrin.h>

#include "primitives/sha3/keccak.h"

#include <bit>
#include <cstdint>

#include "primitives/sha3/keccak_rounds.h"  // before the body is included into a namespace

namespace {
#define QOR_KECCAK_ATTR __attribute__((target("avx512f,avx512vl")))
using Lane = __m128i;
#define LXOR(a, b) _mm_xor_si128((a), (b))
#define LXOR3(a, b, c) _mm_ternarylogic_epi64((a), (b), (c), 0x96)
#define LCHI(a, b, c) _mm_ternarylogic_epi64((a), (b), (c), 0xD2)
#define LROL(a, r) _mm_rol_epi64((a), (r))
#define LLOAD(p) _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))
#define LSTORE(p, v) _mm_storel_epi64(reinterpret_cast<__m128i*>(p), (v))
#define LFROM(x) _mm_cvtsi64_si128(static_cast<long long>(x))
#include "primitives/sha3/keccak_body.h"
}  // namespace

namespace qor::sha3 {

__attribute__((target("avx512f,avx512vl"))) void KeccakF1600Avx512(std::uint64_t state[25]) {
  Permute(state);
}

}  // namespace qor::sha3
