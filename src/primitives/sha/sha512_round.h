// One SHA-512 round on general registers, shared by the vector-scheduled
// kernels (which prepare W[t] + K[t] ahead of the rounds).
#pragma once

#include <bit>
#include <cstdint>

namespace qor::sha {

// |r| is the round number (modulo 8 is what counts), which fixes where a..h sit in |v|
// (round t keeps them at v[(i - t) & 7], so nothing moves). The new e needs
// only Ch and Sigma1 of e on top of d + h + W + K, which is summed while the
// previous round still runs; T1 is summed beside it rather than before it.
// |bc| carries b ^ c into the next round's Maj.
[[gnu::always_inline]] inline __attribute__((target("bmi,bmi2"))) void Sha512Round(uint64_t (&v)[8],
                                                                                   uint64_t& bc,
                                                                                   uint64_t wkt, int r) {
  const uint64_t a = v[(0 - r) & 7];
  const uint64_t b = v[(1 - r) & 7];
  uint64_t& d = v[(3 - r) & 7];
  const uint64_t e = v[(4 - r) & 7];
  const uint64_t f = v[(5 - r) & 7];
  const uint64_t g = v[(6 - r) & 7];
  uint64_t& h = v[(7 - r) & 7];
  uint64_t hw = h + wkt;
  uint64_t dhw = d + hw;
  // The two halves of Ch have no bit in common, so they are added.
  hw += e & f;
  dhw += e & f;
  hw += ~e & g;
  dhw += ~e & g;
  const uint64_t s1 = std::rotr(e, 14) ^ std::rotr(e, 18) ^ std::rotr(e, 41);
  d = dhw + s1;
  const uint64_t ab = a ^ b;
  const uint64_t maj = (ab & bc) ^ b;
  bc = ab;
  h = hw + s1 + maj + (std::rotr(a, 28) ^ std::rotr(a, 34) ^ std::rotr(a, 39));
}

}  // namespace qor::sha
