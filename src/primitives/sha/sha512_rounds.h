// The SHA-512 compression loop, written once and compiled twice: for the
// baseline CPU (sha512.cpp) and with BMI2 rotations (sha512_bmi2.cpp).
#pragma once

#include <bit>

#include "primitives/sha/sha_internal.h"

namespace qor::sha {

__attribute__((always_inline)) inline void Sha512Rounds(uint64_t state[8], const uint8_t* data,
                                                        size_t blocks) {
  for (; blocks != 0; --blocks, data += 128) {
    uint64_t w[16];
    for (int i = 0; i < 16; ++i) w[i] = LoadBe64(data + 8 * i);
    uint64_t v[8];
    for (int i = 0; i < 8; ++i) v[i] = state[i];

    // Round t keeps a..h at v[(i - t) & 7]; nothing moves between rounds.
#pragma GCC unroll 80
    for (int t = 0; t < 80; ++t) {
      uint64_t wt;
      if (t < 16) {
        wt = w[t];
      } else {
        const uint64_t w15 = w[(t + 1) & 15], w2 = w[(t + 14) & 15];
        const uint64_t s0 = std::rotr(w15, 1) ^ std::rotr(w15, 8) ^ (w15 >> 7);
        const uint64_t s1 = std::rotr(w2, 19) ^ std::rotr(w2, 61) ^ (w2 >> 6);
        wt = w[t & 15] += s0 + w[(t + 9) & 15] + s1;
      }
      uint64_t& a = v[(0 - t) & 7];
      uint64_t& b = v[(1 - t) & 7];
      uint64_t& c = v[(2 - t) & 7];
      uint64_t& d = v[(3 - t) & 7];
      uint64_t& e = v[(4 - t) & 7];
      uint64_t& f = v[(5 - t) & 7];
      uint64_t& g = v[(6 - t) & 7];
      uint64_t& h = v[(7 - t) & 7];
      const uint64_t t1 = h + (std::rotr(e, 14) ^ std::rotr(e, 18) ^ std::rotr(e, 41)) +
                          (g ^ (e & (f ^ g))) + kSha512K[t] + wt;
      const uint64_t t2 = (std::rotr(a, 28) ^ std::rotr(a, 34) ^ std::rotr(a, 39)) +
                          ((a & b) | (c & (a | b)));
      d += t1;
      h = t1 + t2;  // becomes the next round's a
    }
    for (int i = 0; i < 8; ++i) state[i] += v[i];
  }
}

}  // namespace qor::sha
