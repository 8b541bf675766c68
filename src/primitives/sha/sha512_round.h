// SHA-512 rounds on general registers, as the text of one asm statement per
// group of blocks, shared by the kernels that prepare W[t] + K[t] in vector
// registers ahead of the rounds. x86-64 with BMI1 and BMI2 only.
//
// Why by hand: the rounds are bound by the integer units. The compiler's
// version of the same arithmetic spent more operations on them, and moved
// the state to the stack between passes of sixteen rounds and between
// blocks, where every block then waited for its own state to come back from
// memory. In one statement the state stays in registers from the first
// block of a group to the last.
//
// A kernel using QOR_SHA512_GROUP declares uint64_t v0..v7 (the state, in
// and out), uint64_t x0, x1, t0, t1 (scratch) and uint64_t* w (the prepared
// words of the group's first block), which the operand lists below name,
// and a Sha512GroupFrame; it passes its vector scratch registers as
// clobbers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "primitives/sha/sha_internal.h"

// One round: 22 operations and two register copies. The state words stay
// in their registers and the names move: round t finds a..h where round
// t - 1 left b..h and the new a. MAJ holds b ^ c and becomes Maj(a, b, c);
// AB receives a ^ b, the next round's b ^ c. Ch is the sum of its two
// halves (they share no bit); Maj is ((a ^ b) & (b ^ c)) ^ b. The prepared
// word of rounds 2 PAIR and 2 PAIR + 1 is PAIR strides of %[pair] bytes past
// %[w], plus ODD words.
#define QOR_SHA512_ROUND(A, B, D, E, F, G, H, MAJ, AB, PAIR, ODD) \
  "add   %c[pair]*" #PAIR "+" #ODD "*8(%[w]), %[" #H "]\n\t"      \
  "rorx  $14, %[" #E "], %[t0]\n\t"                               \
  "rorx  $18, %[" #E "], %[t1]\n\t"                               \
  "xor   %[t1], %[t0]\n\t"                                        \
  "rorx  $41, %[" #E "], %[t1]\n\t"                               \
  "xor   %[t1], %[t0]\n\t"                                        \
  "andn  %[" #G "], %[" #E "], %[t1]\n\t"                         \
  "add   %[t1], %[" #H "]\n\t"                                    \
  "mov   %[" #F "], %[t1]\n\t"                                    \
  "and   %[" #E "], %[t1]\n\t"                                    \
  "add   %[t1], %[" #H "]\n\t"                                    \
  "add   %[t0], %[" #H "]\n\t"                                    \
  "add   %[" #H "], %[" #D "]\n\t"                                \
  "mov   %[" #A "], %[" #AB "]\n\t"                               \
  "xor   %[" #B "], %[" #AB "]\n\t"                               \
  "and   %[" #AB "], %[" #MAJ "]\n\t"                             \
  "xor   %[" #B "], %[" #MAJ "]\n\t"                              \
  "add   %[" #MAJ "], %[" #H "]\n\t"                              \
  "rorx  $28, %[" #A "], %[t0]\n\t"                               \
  "rorx  $34, %[" #A "], %[t1]\n\t"                               \
  "xor   %[t1], %[t0]\n\t"                                        \
  "rorx  $39, %[" #A "], %[t1]\n\t"                               \
  "xor   %[t1], %[t0]\n\t"                                        \
  "add   %[t0], %[" #H "]\n\t"

// QOR_SHA512_ROUNDS_<s>(P): rounds 2 P and 2 P + 1, the s-th pair of the
// eight rounds after which the names are back where they started.
#define QOR_SHA512_ROUNDS_0(P) \
  QOR_SHA512_ROUND(v0, v1, v3, v4, v5, v6, v7, x0, x1, P, 0) QOR_SHA512_ROUND(v7, v0, v2, v3, v4, v5, v6, x1, x0, P, 1)
#define QOR_SHA512_ROUNDS_1(P) \
  QOR_SHA512_ROUND(v6, v7, v1, v2, v3, v4, v5, x0, x1, P, 0) QOR_SHA512_ROUND(v5, v6, v0, v1, v2, v3, v4, x1, x0, P, 1)
#define QOR_SHA512_ROUNDS_2(P) \
  QOR_SHA512_ROUND(v4, v5, v7, v0, v1, v2, v3, x0, x1, P, 0) QOR_SHA512_ROUND(v3, v4, v6, v7, v0, v1, v2, x1, x0, P, 1)
#define QOR_SHA512_ROUNDS_3(P) \
  QOR_SHA512_ROUND(v2, v3, v5, v6, v7, v0, v1, x0, x1, P, 0) QOR_SHA512_ROUND(v1, v2, v4, v5, v6, v7, v0, x1, x0, P, 1)

#define QOR_SHA512_SIXTEEN_ROUNDS                                                             \
  QOR_SHA512_ROUNDS_0(0) QOR_SHA512_ROUNDS_1(1) QOR_SHA512_ROUNDS_2(2) QOR_SHA512_ROUNDS_3(3) \
  QOR_SHA512_ROUNDS_0(4) QOR_SHA512_ROUNDS_1(5) QOR_SHA512_ROUNDS_2(6) QOR_SHA512_ROUNDS_3(7)

// A block keeps the state it starts from and adds it back at its end; the
// first round wants b ^ c.
#define QOR_SHA512_SAVE_CHAIN               \
  "mov   %[v0], %c[chainAt](%[ctx])\n\t"    \
  "mov   %[v1], 8+%c[chainAt](%[ctx])\n\t"  \
  "mov   %[v2], 16+%c[chainAt](%[ctx])\n\t" \
  "mov   %[v3], 24+%c[chainAt](%[ctx])\n\t" \
  "mov   %[v4], 32+%c[chainAt](%[ctx])\n\t" \
  "mov   %[v5], 40+%c[chainAt](%[ctx])\n\t" \
  "mov   %[v6], 48+%c[chainAt](%[ctx])\n\t" \
  "mov   %[v7], 56+%c[chainAt](%[ctx])\n\t" \
  "mov   %[v1], %[x0]\n\t"                  \
  "xor   %[v2], %[x0]\n\t"
#define QOR_SHA512_ADD_CHAIN                \
  "add   %c[chainAt](%[ctx]), %[v0]\n\t"    \
  "add   8+%c[chainAt](%[ctx]), %[v1]\n\t"  \
  "add   16+%c[chainAt](%[ctx]), %[v2]\n\t" \
  "add   24+%c[chainAt](%[ctx]), %[v3]\n\t" \
  "add   32+%c[chainAt](%[ctx]), %[v4]\n\t" \
  "add   40+%c[chainAt](%[ctx]), %[v5]\n\t" \
  "add   48+%c[chainAt](%[ctx]), %[v6]\n\t" \
  "add   56+%c[chainAt](%[ctx]), %[v7]\n\t"

// One group of blocks. The prepared words of rounds 2i and 2i + 1 of every
// block of the group sit together, one block after another (16 bytes
// apart), i * %[pair] bytes into the group's buffer. The first sixteen
// rounds' words are there already; LOAD puts the first sixteen message words
// of every block into vector registers, and STEP0..STEP7, run among the
// first block's rounds, prepare the next sixteen words of every block, one
// pair per step, sixteen rounds ahead. The other blocks then only run
// their rounds.
#define QOR_SHA512_GROUP(LOAD, STEP0, STEP1, STEP2, STEP3, STEP4, STEP5, STEP6, STEP7) \
  LOAD                                                                                 \
  QOR_SHA512_SAVE_CHAIN                                                                \
  "1:\n\t"                                                                             \
  STEP0 QOR_SHA512_ROUNDS_0(0) STEP1 QOR_SHA512_ROUNDS_1(1)                            \
  STEP2 QOR_SHA512_ROUNDS_2(2) STEP3 QOR_SHA512_ROUNDS_3(3)                            \
  STEP4 QOR_SHA512_ROUNDS_0(4) STEP5 QOR_SHA512_ROUNDS_1(5)                            \
  STEP6 QOR_SHA512_ROUNDS_2(6) STEP7 QOR_SHA512_ROUNDS_3(7)                            \
  "mov   %c[kAt](%[ctx]), %[t0]\n\t"                                                   \
  "add   $128, %[t0]\n\t"                                                              \
  "mov   %[t0], %c[kAt](%[ctx])\n\t"                                                   \
  "add   $8*%c[pair], %[w]\n\t"                                                        \
  "cmp   %c[kendAt](%[ctx]), %[t0]\n\t"                                                \
  "jne   1b\n\t"                                                                       \
  QOR_SHA512_SIXTEEN_ROUNDS                                                            \
  QOR_SHA512_ADD_CHAIN                                                                 \
  /* From the last pass of the first block to the start of the second. */              \
  "sub   $64*%c[pair]/2-16, %[w]\n\t"                                                  \
  "2:\n\t"                                                                             \
  "cmp   %c[wendAt](%[ctx]), %[w]\n\t"                                                 \
  "je    4f\n\t"                                                                       \
  QOR_SHA512_SAVE_CHAIN                                                                \
  "lea   80*%c[pair]/2(%[w]), %[t0]\n\t"                                               \
  "mov   %[t0], %c[kAt](%[ctx])\n\t"                                                   \
  "3:\n\t"                                                                             \
  QOR_SHA512_SIXTEEN_ROUNDS                                                            \
  "add   $8*%c[pair], %[w]\n\t"                                                        \
  "cmp   %c[kAt](%[ctx]), %[w]\n\t"                                                    \
  "jne   3b\n\t"                                                                       \
  QOR_SHA512_ADD_CHAIN                                                                 \
  /* From the end of a block's words to the start of the next block's. */              \
  "sub   $80*%c[pair]/2-16, %[w]\n\t"                                                  \
  "jmp   2b\n\t"                                                                       \
  "4:"

// Thirteen general registers, and one more for the frame below: all that a
// frame which realigns its stack, or an unoptimised sanitizer build, has.
#define QOR_SHA512_GROUP_OUTPUTS                                                                    \
  [v0] "+r"(v0), [v1] "+r"(v1), [v2] "+r"(v2), [v3] "+r"(v3), [v4] "+r"(v4), [v5] "+r"(v5),         \
      [v6] "+r"(v6), [v7] "+r"(v7), [x0] "=&r"(x0), [x1] "=&r"(x1), [t0] "=&r"(t0), [t1] "=&r"(t1), \
      [w] "+r"(w)
#define QOR_SHA512_GROUP_INPUTS(kPairBytes, frame)                \
  [pair] "i"(kPairBytes), [ctx] "r"(&(frame)),                    \
      [chainAt] "i"(offsetof(qor::sha::Sha512GroupFrame, chain)), \
      [kAt] "i"(offsetof(qor::sha::Sha512GroupFrame, k)),         \
      [kendAt] "i"(offsetof(qor::sha::Sha512GroupFrame, kend)),   \
      [wendAt] "i"(offsetof(qor::sha::Sha512GroupFrame, wend))

namespace qor::sha {

// What the statement of a group keeps in memory, reached through one
// register.
struct Sha512GroupFrame {
  uint64_t chain[8];     // the state the current block started from
  const uint64_t* k;     // K of the pass being prepared; in the other
                         // blocks, the end of the block's words
  const uint64_t* kend;  // K past the last pass
  const uint64_t* wend;  // the prepared words of the block past the group's last

  // Ready for a group of |blocks| whose prepared words start at |wk|.
  void Start(const uint64_t* wk, size_t blocks) {
    k = kSha512K + 16;
    kend = kSha512K + 80;
    wend = wk + 2 * blocks;
  }
};

}  // namespace qor::sha
