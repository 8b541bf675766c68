// One SHA-512 round on general registers, shared by the vector-scheduled
// kernels (which prepare W[t] + K[t] ahead of the rounds).
#pragma once

#include <bit>
#include <cstdint>

namespace qor::sha {

// Keeps the compiler from regrouping a sum: the order of the additions
// below is what keeps each round's two dependency chains short.
[[gnu::always_inline]] inline void KeepSum(uint64_t& x) { asm("" : "+r"(x)); }

// |r| is the round number (modulo 8 is what counts), which fixes where a..h sit in |v|
// (round t keeps them at v[(i - t) & 7], so nothing moves). |bc| carries
// b ^ c into the next round.
//
// The new e is d + h + W + K, summed while the previous round still runs,
// plus Ch and Sigma1 of e: four steps after e. The new a starts from the
// same h + W + K, adds Maj as (a & (b ^ c)) + (b & c) (the two share no bit,
// and only the first waits for a), then Ch and Sigma1, and Sigma0 of a last,
// so that it too is ready four steps after a rather than five.
[[gnu::always_inline]] inline __attribute__((target("bmi,bmi2"))) void Sha512Round(uint64_t (&v)[8],
                                                                                   uint64_t& bc,
                                                                                   uint64_t wkt, int r) {
  const uint64_t a = v[(0 - r) & 7];
  const uint64_t b = v[(1 - r) & 7];
  const uint64_t c = v[(2 - r) & 7];
  uint64_t& d = v[(3 - r) & 7];
  const uint64_t e = v[(4 - r) & 7];
  const uint64_t f = v[(5 - r) & 7];
  const uint64_t g = v[(6 - r) & 7];
  uint64_t& h = v[(7 - r) & 7];
  uint64_t sum = h + wkt;
  d += sum;
  // The two halves of Ch have no bit in common.
  const uint64_t ch = (e & f) | (~e & g);
  const uint64_t s1 = std::rotr(e, 14) ^ std::rotr(e, 18) ^ std::rotr(e, 41);
  d += ch;
  KeepSum(d);
  d += s1;
  sum += b & c;
  KeepSum(sum);
  sum += a & bc;
  KeepSum(sum);
  sum += ch;
  KeepSum(sum);
  sum += s1;
  KeepSum(sum);
  bc = a ^ b;
  h = sum + (std::rotr(a, 28) ^ std::rotr(a, 34) ^ std::rotr(a, 39));
}

}  // namespace qor::sha
