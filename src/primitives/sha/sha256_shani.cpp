// SHA-256 compression with the x86 SHA extensions.
#include <immintrin.h>

#include "primitives/sha/sha_internal.h"

namespace qor::sha {

// The round instruction wants the state split as ABEF and CDGH (A and C in
// the highest lanes); message words sit in natural order, W[4g] in lane 0.
__attribute__((target("sha,sse4.1,ssse3"))) void Sha256BlocksShaNi(uint32_t state[8],
                                                                    const uint8_t* data,
                                                                    size_t blocks) {
  const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bll, 0x0405060700010203ll);
  const __m128i* k = reinterpret_cast<const __m128i*>(kSha256K);

  const __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
  const __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
  const __m128i cdab = _mm_shuffle_epi32(dcba, 0xb1);  // lanes B A D C
  const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1b);  // lanes H G F E
  __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);       // lanes F E B A
  __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xf0);    // lanes H G D C

  for (; blocks != 0; --blocks, data += 64) {
    const __m128i abefSaved = abef;
    const __m128i cdghSaved = cdgh;
    __m128i m[4];
    for (int i = 0; i < 4; ++i) {
      m[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)),
                              byteSwap);
    }
#pragma GCC unroll 16
    for (int g = 0; g < 16; ++g) {
      if (g >= 4) {
        // W[t-16] + s0(W[t-15]), plus W[t-7], then s1(W[t-2]) for 4 words.
        __m128i x = _mm_sha256msg1_epu32(m[g & 3], m[(g + 1) & 3]);
        x = _mm_add_epi32(x, _mm_alignr_epi8(m[(g + 3) & 3], m[(g + 2) & 3], 4));
        m[g & 3] = _mm_sha256msg2_epu32(x, m[(g + 3) & 3]);
      }
      __m128i wk = _mm_add_epi32(m[g & 3], _mm_loadu_si128(k + g));
      cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
      wk = _mm_shuffle_epi32(wk, 0x0e);
      abef = _mm_sha256rnds2_epu32(abef, cdgh, wk);
    }
    abef = _mm_add_epi32(abef, abefSaved);
    cdgh = _mm_add_epi32(cdgh, cdghSaved);
  }

  const __m128i feba = _mm_shuffle_epi32(abef, 0x1b);  // lanes A B E F
  const __m128i ghcd = _mm_shuffle_epi32(cdgh, 0xb1);  // lanes G H C D
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, ghcd, 0xf0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(ghcd, feba, 8));
}

}  // namespace qor::sha
