// LEA block kernels on AVX2 (8 blocks) and AVX-512 (16 blocks): the words of
// several blocks are transposed into vector lanes and run through the same
// round code as the scalar kernels.
#include <immintrin.h>

// The round templates are always inlined into the target-specific kernels, so
// no vector value crosses a call; GCC's intrinsic headers also trip its own
// uninitialised-value check on the 512-bit unpacks.
#pragma GCC diagnostic ignored "-Wpsabi"
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "primitives/lea/lea_internal.h"
#include "primitives/cpu_features.h"

namespace qor::lea {
namespace {

#if defined(__x86_64__) || defined(__i386__)

typedef uint32_t V8 __attribute__((vector_size(32)));
typedef uint32_t V16 __attribute__((vector_size(64)));

// Four registers of two (four) blocks each become word vectors w0..w3; the
// same transform is its own inverse.
__attribute__((target("avx2"))) inline void Transpose8(__m256i& a, __m256i& b, __m256i& c, __m256i& d) {
  const __m256i t0 = _mm256_unpacklo_epi32(a, b), t1 = _mm256_unpacklo_epi32(c, d);
  const __m256i t2 = _mm256_unpackhi_epi32(a, b), t3 = _mm256_unpackhi_epi32(c, d);
  a = _mm256_unpacklo_epi64(t0, t1);
  b = _mm256_unpackhi_epi64(t0, t1);
  c = _mm256_unpacklo_epi64(t2, t3);
  d = _mm256_unpackhi_epi64(t2, t3);
}

template <bool kEncrypt>
__attribute__((target("avx2"))) void Blocks8(const uint8_t* in, uint8_t* out, size_t blocks,
                                             const LEA_KEY* key) {
  for (; blocks >= 8; blocks -= 8, in += 128, out += 128) {
    __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
    __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 32));
    __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 64));
    __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 96));
    Transpose8(a, b, c, d);
    V8 x0 = reinterpret_cast<V8>(a), x1 = reinterpret_cast<V8>(b), x2 = reinterpret_cast<V8>(c),
       x3 = reinterpret_cast<V8>(d);
    if constexpr (kEncrypt) {
      EncryptRounds(x0, x1, x2, x3, key->rk, key->round);
    } else {
      DecryptRounds(x0, x1, x2, x3, key->rk, key->round);
    }
    a = reinterpret_cast<__m256i>(x0);
    b = reinterpret_cast<__m256i>(x1);
    c = reinterpret_cast<__m256i>(x2);
    d = reinterpret_cast<__m256i>(x3);
    Transpose8(a, b, c, d);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), a);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32), b);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 64), c);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 96), d);
  }
  if (blocks > 0) {
    const Kernels& p = PortableKernels();
    (kEncrypt ? p.ecbEnc : p.ecbDec)(in, out, blocks, key);
  }
}

__attribute__((target("avx512f"))) inline void Transpose16(__m512i& a, __m512i& b, __m512i& c, __m512i& d) {
  const __m512i t0 = _mm512_unpacklo_epi32(a, b), t1 = _mm512_unpacklo_epi32(c, d);
  const __m512i t2 = _mm512_unpackhi_epi32(a, b), t3 = _mm512_unpackhi_epi32(c, d);
  a = _mm512_unpacklo_epi64(t0, t1);
  b = _mm512_unpackhi_epi64(t0, t1);
  c = _mm512_unpacklo_epi64(t2, t3);
  d = _mm512_unpackhi_epi64(t2, t3);
}

template <bool kEncrypt>
__attribute__((target("avx512f,avx2"))) void Blocks16(const uint8_t* in, uint8_t* out, size_t blocks,
                                                      const LEA_KEY* key) {
  for (; blocks >= 16; blocks -= 16, in += 256, out += 256) {
    __m512i a = _mm512_loadu_si512(in);
    __m512i b = _mm512_loadu_si512(in + 64);
    __m512i c = _mm512_loadu_si512(in + 128);
    __m512i d = _mm512_loadu_si512(in + 192);
    Transpose16(a, b, c, d);
    V16 x0 = reinterpret_cast<V16>(a), x1 = reinterpret_cast<V16>(b), x2 = reinterpret_cast<V16>(c),
        x3 = reinterpret_cast<V16>(d);
    if constexpr (kEncrypt) {
      EncryptRounds(x0, x1, x2, x3, key->rk, key->round);
    } else {
      DecryptRounds(x0, x1, x2, x3, key->rk, key->round);
    }
    a = reinterpret_cast<__m512i>(x0);
    b = reinterpret_cast<__m512i>(x1);
    c = reinterpret_cast<__m512i>(x2);
    d = reinterpret_cast<__m512i>(x3);
    Transpose16(a, b, c, d);
    _mm512_storeu_si512(out, a);
    _mm512_storeu_si512(out + 64, b);
    _mm512_storeu_si512(out + 128, c);
    _mm512_storeu_si512(out + 192, d);
  }
  Blocks8<kEncrypt>(in, out, blocks, key);
}

constexpr Kernels kAvx2 = {Blocks8<true>, Blocks8<false>, "avx2"};
constexpr Kernels kAvx512 = {Blocks16<true>, Blocks16<false>, "avx512"};

#endif

}  // namespace

const Kernels* Avx2Kernels() { return cpu::HasAvx2() ? &kAvx2 : nullptr; }

const Kernels* Avx512Kernels() { return cpu::HasAvx512F() ? &kAvx512 : nullptr; }

}  // namespace qor::lea
