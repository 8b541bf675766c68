// SHA-1 compression with the x86 SHA extensions.
#include <immintrin.h>

#include "primitives/sha/sha_internal.h"

namespace qor::sha {

// Register layout used by the SHA-1 instructions: word A (and W[t]) in the
// highest lane, so a message group holds W[4g] in lane 3 down to W[4g+3] in
// lane 0; E travels in lane 3 of its own register.
__attribute__((target("sha,sse4.1,ssse3"))) void Sha1BlocksShaNi(uint32_t state[5],
                                                                  const uint8_t* data,
                                                                  size_t blocks) {
  const __m128i byteSwap = _mm_set_epi64x(0x0001020304050607ll, 0x08090a0b0c0d0e0fll);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1b);
  __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);

  for (; blocks != 0; --blocks, data += 64) {
    const __m128i abcdSaved = abcd;
    const __m128i eSaved = e0;
    __m128i m[4];
    for (int i = 0; i < 4; ++i) {
      m[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)),
                              byteSwap);
    }

    // Group 0 takes E directly; every later group derives it from the A of
    // the state two groups back (E after four rounds is rotl30 of that A).
    __m128i prev = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, _mm_add_epi32(e0, m[0]), 0);
#pragma GCC unroll 19
    for (int g = 1; g < 20; ++g) {
      if (g >= 4) {
        // W[t] = rotl1(W[t-3] ^ W[t-8] ^ W[t-14] ^ W[t-16]) for one group.
        __m128i x = _mm_sha1msg1_epu32(m[g & 3], m[(g + 1) & 3]);
        x = _mm_xor_si128(x, m[(g + 2) & 3]);
        m[g & 3] = _mm_sha1msg2_epu32(x, m[(g + 3) & 3]);
      }
      const __m128i we = _mm_sha1nexte_epu32(prev, m[g & 3]);
      prev = abcd;
      switch (g / 5) {
        case 0: abcd = _mm_sha1rnds4_epu32(abcd, we, 0); break;
        case 1: abcd = _mm_sha1rnds4_epu32(abcd, we, 1); break;
        case 2: abcd = _mm_sha1rnds4_epu32(abcd, we, 2); break;
        default: abcd = _mm_sha1rnds4_epu32(abcd, we, 3); break;
      }
    }
    e0 = _mm_sha1nexte_epu32(prev, eSaved);
    abcd = _mm_add_epi32(abcd, abcdSaved);
  }

  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1b));
  state[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}

}  // namespace qor::sha
