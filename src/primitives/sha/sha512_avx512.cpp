// SHA-512 compression for CPUs with AVX-512 (VL) and BMI2 (and so AVX2).
// The message schedule of four consecutive blocks runs in 512-bit
// registers (one block per 128-bit lane, two words per lane) with
// one-instruction rotations and three-way XORs, sixteen rounds ahead of the
// scalar rounds of the first block; the rounds of the other three blocks
// only add the prepared W[t] + K[t]. The schedule then costs a quarter of
// its work per block.
#include <immintrin.h>

#include "common/secure_wipe.h"
#include "primitives/sha/sha512_round.h"
#include "primitives/sha/sha_internal.h"

// GCC's 512-bit intrinsic headers trip its own uninitialised-value check.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#pragma GCC diagnostic ignored "-Wuninitialized"

namespace qor::sha {
namespace {

constexpr int kLanes = 4;

// W[t], W[t + 1] of every block for t = 16 p + 2 STEP, from the sixteen
// words before them: zmm16..zmm23 hold those in pairs, and zmm<J> (with
// J1 = J + 1, J4 = J + 4 and so on, counted from 16 modulo 8) becomes the
// new pair. W + K is stored for the rounds of the next pass.
#define QOR_SHA512_STEP(J, J1, J4, J5, J7, STEP)           \
  "vpalignr   $8, %%zmm" #J ", %%zmm" #J1 ", %%zmm24\n\t"  \
  "vpalignr   $8, %%zmm" #J4 ", %%zmm" #J5 ", %%zmm25\n\t" \
  "vpaddq     %%zmm25, %%zmm" #J ", %%zmm" #J "\n\t"       \
  "vprorq     $1, %%zmm24, %%zmm25\n\t"                    \
  "vprorq     $8, %%zmm24, %%zmm26\n\t"                    \
  "vpsrlq     $7, %%zmm24, %%zmm24\n\t"                    \
  "vpternlogq $0x96, %%zmm26, %%zmm25, %%zmm24\n\t"        \
  "vpaddq     %%zmm24, %%zmm" #J ", %%zmm" #J "\n\t"       \
  "vprorq     $19, %%zmm" #J7 ", %%zmm24\n\t"              \
  "vprorq     $61, %%zmm" #J7 ", %%zmm25\n\t"              \
  "vpsrlq     $6, %%zmm" #J7 ", %%zmm26\n\t"               \
  "vpternlogq $0x96, %%zmm25, %%zmm24, %%zmm26\n\t"        \
  "vpaddq     %%zmm26, %%zmm" #J ", %%zmm" #J "\n\t"       \
  "mov        %c[kAt](%[ctx]), %[t0]\n\t"                  \
  "vbroadcasti32x4 16*" #STEP "(%[t0]), %%zmm24\n\t"       \
  "vpaddq     %%zmm" #J ", %%zmm24, %%zmm24\n\t"           \
  "vmovdqa64  %%zmm24, %c[pair]*(8+" #STEP ")(%[w])\n\t"

// The first sixteen message words of every block, back from the prepared
// words of the first pass (W + K) into zmm16..zmm23.
#define QOR_SHA512_LOAD                      \
  "mov        %c[kAt](%[ctx]), %[t0]\n\t"    \
  "vbroadcasti32x4 -128(%[t0]), %%zmm24\n\t" \
  "vmovdqa64  0(%[w]), %%zmm16\n\t"          \
  "vpsubq     %%zmm24, %%zmm16, %%zmm16\n\t" \
  "vbroadcasti32x4 -112(%[t0]), %%zmm24\n\t" \
  "vmovdqa64  64(%[w]), %%zmm17\n\t"         \
  "vpsubq     %%zmm24, %%zmm17, %%zmm17\n\t" \
  "vbroadcasti32x4 -96(%[t0]), %%zmm24\n\t"  \
  "vmovdqa64  128(%[w]), %%zmm18\n\t"        \
  "vpsubq     %%zmm24, %%zmm18, %%zmm18\n\t" \
  "vbroadcasti32x4 -80(%[t0]), %%zmm24\n\t"  \
  "vmovdqa64  192(%[w]), %%zmm19\n\t"        \
  "vpsubq     %%zmm24, %%zmm19, %%zmm19\n\t" \
  "vbroadcasti32x4 -64(%[t0]), %%zmm24\n\t"  \
  "vmovdqa64  256(%[w]), %%zmm20\n\t"        \
  "vpsubq     %%zmm24, %%zmm20, %%zmm20\n\t" \
  "vbroadcasti32x4 -48(%[t0]), %%zmm24\n\t"  \
  "vmovdqa64  320(%[w]), %%zmm21\n\t"        \
  "vpsubq     %%zmm24, %%zmm21, %%zmm21\n\t" \
  "vbroadcasti32x4 -32(%[t0]), %%zmm24\n\t"  \
  "vmovdqa64  384(%[w]), %%zmm22\n\t"        \
  "vpsubq     %%zmm24, %%zmm22, %%zmm22\n\t" \
  "vbroadcasti32x4 -16(%[t0]), %%zmm24\n\t"  \
  "vmovdqa64  448(%[w]), %%zmm23\n\t"        \
  "vpsubq     %%zmm24, %%zmm23, %%zmm23\n\t"

__attribute__((target("avx512f,avx512bw,avx512vl,avx2"), always_inline)) inline __m512i KeyPair(int t) {
  return _mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(kSha512K + t)));
}

}  // namespace

__attribute__((target("avx512f,avx512bw,avx512vl,avx2,bmi,bmi2"))) void Sha512BlocksAvx512(uint64_t state[8],
                                                                                  const uint8_t* data,
                                                                                  size_t blocks) {
  // Fewer than four blocks, at the end or alone (a short message), go to the
  // two-block kernel: a four-block schedule with copies in the spare lanes
  // costs more than it saves.
  const size_t rest = blocks % kLanes;
  if (blocks != rest) {
    const __m512i byteSwap = _mm512_broadcast_i32x4(
        _mm_set_epi64x(0x08090a0b0c0d0e0fll, 0x0001020304050607ll));
    alignas(64) uint64_t wk[80 * kLanes];
    Sha512GroupFrame frame;
    uint64_t v0 = state[0], v1 = state[1], v2 = state[2], v3 = state[3];
    uint64_t v4 = state[4], v5 = state[5], v6 = state[6], v7 = state[7];
    for (const uint8_t* const end = data + 128 * (blocks - rest); data != end; data += 128 * kLanes) {
      for (int i = 0; i < 8; ++i) {
        const __m256i low = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 128 + 16 * i)), 1);
        const __m256i high = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 256 + 16 * i))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 384 + 16 * i)), 1);
        const __m512i x =
            _mm512_shuffle_epi8(_mm512_inserti64x4(_mm512_castsi256_si512(low), high, 1), byteSwap);
        _mm512_store_si512(wk + 2 * kLanes * i, _mm512_add_epi64(x, KeyPair(2 * i)));
      }

      uint64_t x0, x1, t0, t1;
      uint64_t* w = wk;
      frame.Start(w, kLanes);
      asm(QOR_SHA512_GROUP(QOR_SHA512_LOAD,
                           QOR_SHA512_STEP(16, 17, 20, 21, 23, 0), QOR_SHA512_STEP(17, 18, 21, 22, 16, 1),
                           QOR_SHA512_STEP(18, 19, 22, 23, 17, 2), QOR_SHA512_STEP(19, 20, 23, 16, 18, 3),
                           QOR_SHA512_STEP(20, 21, 16, 17, 19, 4), QOR_SHA512_STEP(21, 22, 17, 18, 20, 5),
                           QOR_SHA512_STEP(22, 23, 18, 19, 21, 6), QOR_SHA512_STEP(23, 16, 19, 20, 22, 7))
          : QOR_SHA512_GROUP_OUTPUTS
          : QOR_SHA512_GROUP_INPUTS(2 * kLanes * 8, frame)
          : "cc", "memory", "xmm16", "xmm17", "xmm18", "xmm19", "xmm20", "xmm21", "xmm22", "xmm23", "xmm24",
            "xmm25", "xmm26");
    }
    state[0] = v0, state[1] = v1, state[2] = v2, state[3] = v3;
    state[4] = v4, state[5] = v5, state[6] = v6, state[7] = v7;
    SecureWipe(wk, sizeof(wk));
    SecureWipe(&frame, sizeof(frame));
  }
  if (rest != 0) Sha512BlocksAvx2(state, data, rest);
}

#undef QOR_SHA512_LOAD
#undef QOR_SHA512_STEP

}  // namespace qor::sha
