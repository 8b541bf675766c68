// SHA-512 compression for CPUs with AVX2 and BMI2. The message schedule of
// two consecutive blocks runs in vector registers (one block per 128-bit
// half, two words per half), sixteen rounds ahead of the scalar rounds of
// the first block; the rounds of the second block only add the prepared
// W[t] + K[t].
#include <immintrin.h>

#include "common/secure_wipe.h"
#include "primitives/sha/sha512_round.h"
#include "primitives/sha/sha_internal.h"

namespace qor::sha {
namespace {

constexpr int kLanes = 2;

// The rotations of the two small sigmas, each as two shifts and an XOR
// (AVX2 has no 64-bit rotation), from |src| into |dst|, with ymm15 as
// scratch.
#define QOR_SHA512_XOR_ROTR(SRC, N, DST)                 \
  "vpsrlq     $" #N ", %%ymm" #SRC ", %%ymm15\n\t"       \
  "vpxor      %%ymm15, %%ymm" #DST ", %%ymm" #DST "\n\t" \
  "vpsllq     $64-" #N ", %%ymm" #SRC ", %%ymm15\n\t"    \
  "vpxor      %%ymm15, %%ymm" #DST ", %%ymm" #DST "\n\t"

// W[t], W[t + 1] of both blocks for t = 16 p + 2 STEP, from the sixteen
// words before them: ymm4..ymm11 hold those in pairs, and ymm<J> (with
// J1 = J + 1, J4 = J + 4 and so on, counted from 4 modulo 8) becomes the
// new pair. W + K is stored for the rounds of the next pass.
#define QOR_SHA512_STEP(J, J1, J4, J5, J7, STEP)           \
  "vpalignr   $8, %%ymm" #J ", %%ymm" #J1 ", %%ymm12\n\t"  \
  "vpalignr   $8, %%ymm" #J4 ", %%ymm" #J5 ", %%ymm13\n\t" \
  "vpaddq     %%ymm13, %%ymm" #J ", %%ymm" #J "\n\t"       \
  "vpsrlq     $7, %%ymm12, %%ymm13\n\t"                    \
  QOR_SHA512_XOR_ROTR(12, 1, 13)                           \
  QOR_SHA512_XOR_ROTR(12, 8, 13)                           \
  "vpaddq     %%ymm13, %%ymm" #J ", %%ymm" #J "\n\t"       \
  "vpsrlq     $6, %%ymm" #J7 ", %%ymm14\n\t"               \
  QOR_SHA512_XOR_ROTR(J7, 19, 14)                          \
  QOR_SHA512_XOR_ROTR(J7, 61, 14)                          \
  "vpaddq     %%ymm14, %%ymm" #J ", %%ymm" #J "\n\t"       \
  "mov        %c[kAt](%[ctx]), %[t0]\n\t"                  \
  "vbroadcasti128 16*" #STEP "(%[t0]), %%ymm12\n\t"        \
  "vpaddq     %%ymm" #J ", %%ymm12, %%ymm12\n\t"           \
  "vmovdqa    %%ymm12, %c[pair]*(8+" #STEP ")(%[w])\n\t"

// The first sixteen message words of every block, back from the prepared
// words of the first pass (W + K) into ymm4..ymm11.
#define QOR_SHA512_LOAD                      \
  "mov        %c[kAt](%[ctx]), %[t0]\n\t"    \
  "vbroadcasti128 -128(%[t0]), %%ymm12\n\t"  \
  "vmovdqa    0(%[w]), %%ymm4\n\t"           \
  "vpsubq     %%ymm12, %%ymm4, %%ymm4\n\t"   \
  "vbroadcasti128 -112(%[t0]), %%ymm12\n\t"  \
  "vmovdqa    32(%[w]), %%ymm5\n\t"          \
  "vpsubq     %%ymm12, %%ymm5, %%ymm5\n\t"   \
  "vbroadcasti128 -96(%[t0]), %%ymm12\n\t"   \
  "vmovdqa    64(%[w]), %%ymm6\n\t"          \
  "vpsubq     %%ymm12, %%ymm6, %%ymm6\n\t"   \
  "vbroadcasti128 -80(%[t0]), %%ymm12\n\t"   \
  "vmovdqa    96(%[w]), %%ymm7\n\t"          \
  "vpsubq     %%ymm12, %%ymm7, %%ymm7\n\t"   \
  "vbroadcasti128 -64(%[t0]), %%ymm12\n\t"   \
  "vmovdqa    128(%[w]), %%ymm8\n\t"         \
  "vpsubq     %%ymm12, %%ymm8, %%ymm8\n\t"   \
  "vbroadcasti128 -48(%[t0]), %%ymm12\n\t"   \
  "vmovdqa    160(%[w]), %%ymm9\n\t"         \
  "vpsubq     %%ymm12, %%ymm9, %%ymm9\n\t"   \
  "vbroadcasti128 -32(%[t0]), %%ymm12\n\t"   \
  "vmovdqa    192(%[w]), %%ymm10\n\t"        \
  "vpsubq     %%ymm12, %%ymm10, %%ymm10\n\t" \
  "vbroadcasti128 -16(%[t0]), %%ymm12\n\t"   \
  "vmovdqa    224(%[w]), %%ymm11\n\t"        \
  "vpsubq     %%ymm12, %%ymm11, %%ymm11\n\t"

}  // namespace

__attribute__((target("avx2,bmi,bmi2"))) void Sha512BlocksAvx2(uint64_t state[8],
                                                               const uint8_t* data,
                                                               size_t blocks) {
  const __m256i byteSwap =
      _mm256_set_epi64x(0x08090a0b0c0d0e0fll, 0x0001020304050607ll, 0x08090a0b0c0d0e0fll,
                        0x0001020304050607ll);
  alignas(32) uint64_t wk[80 * kLanes];
  Sha512GroupFrame frame;
  uint64_t v0 = state[0], v1 = state[1], v2 = state[2], v3 = state[3];
  uint64_t v4 = state[4], v5 = state[5], v6 = state[6], v7 = state[7];

  while (blocks != 0) {
    // With a single block left, the second half schedules a copy of it and
    // its rounds are skipped.
    const size_t count = blocks >= 2 ? 2 : 1;
    const uint8_t* second = data + 128 * (count - 1);

    for (int i = 0; i < 8; ++i) {
      const __m256i raw = _mm256_inserti128_si256(
          _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i))),
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(second + 16 * i)), 1);
      const __m256i x = _mm256_shuffle_epi8(raw, byteSwap);
      const __m256i k = _mm256_broadcastsi128_si256(
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(kSha512K + 2 * i)));
      _mm256_store_si256(reinterpret_cast<__m256i*>(wk + 2 * kLanes * i), _mm256_add_epi64(x, k));
    }

    uint64_t x0, x1, t0, t1;
    uint64_t* w = wk;
    frame.Start(w, count);
    asm(QOR_SHA512_GROUP(QOR_SHA512_LOAD,
                         QOR_SHA512_STEP(4, 5, 8, 9, 11, 0), QOR_SHA512_STEP(5, 6, 9, 10, 4, 1),
                         QOR_SHA512_STEP(6, 7, 10, 11, 5, 2), QOR_SHA512_STEP(7, 8, 11, 4, 6, 3),
                         QOR_SHA512_STEP(8, 9, 4, 5, 7, 4), QOR_SHA512_STEP(9, 10, 5, 6, 8, 5),
                         QOR_SHA512_STEP(10, 11, 6, 7, 9, 6), QOR_SHA512_STEP(11, 4, 7, 8, 10, 7))
        : QOR_SHA512_GROUP_OUTPUTS
        : QOR_SHA512_GROUP_INPUTS(2 * kLanes * 8, frame)
        : "cc", "memory", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10", "xmm11", "xmm12", "xmm13",
          "xmm14", "xmm15");
    blocks -= count;
    data += 128 * count;
  }
  state[0] = v0, state[1] = v1, state[2] = v2, state[3] = v3;
  state[4] = v4, state[5] = v5, state[6] = v6, state[7] = v7;
  SecureWipe(wk, sizeof(wk));
  SecureWipe(&frame, sizeof(frame));
}

#undef QOR_SHA512_LOAD
#undef QOR_SHA512_STEP
#undef QOR_SHA512_XOR_ROTR

}  // namespace qor::sha
