// The Keccak-f[1600] permutation written once over an abstract 64-bit lane,
// compiled into each instruction-set variant. Include it inside an anonymous
// namespace after defining:
//   QOR_KECCAK_ATTR     the target attribute of the variant (empty for none)
//   Lane                the lane type
//   LXOR(a, b)          a ^ b
//   LXOR3(a, b, c)      a ^ b ^ c
//   LCHI(a, b, c)       a ^ (~b & c)
//   LROL(a, r)          rotate left by the constant r (1..63)
//   LLOAD(p), LSTORE(p, v), LFROM(u64)
#include <cstdint>

#include "primitives/sha3/keccak_rounds.h"

#define QOR_KECCAK_FN [[gnu::always_inline]] inline QOR_KECCAK_ATTR

// B value of output lane (X, Y): the source lane, mixed with its column's D,
// rotated by its rho offset.
template <int X, int Y>
QOR_KECCAK_FN Lane RhoPi(const Lane* a, const Lane* d) {
  constexpr int s = qor::sha3::detail::kKeccak.src[X + 5 * Y];
  constexpr int r = qor::sha3::detail::kKeccak.rot[X + 5 * Y];
  if constexpr (r == 0) {
    return LXOR(a[s], d[s % 5]);
  } else {
    return LROL(LXOR(a[s], d[s % 5]), r);
  }
}

template <int Y>
QOR_KECCAK_FN void Plane(const Lane* a, Lane* e, const Lane* d) {
  const Lane b0 = RhoPi<0, Y>(a, d);
  const Lane b1 = RhoPi<1, Y>(a, d);
  const Lane b2 = RhoPi<2, Y>(a, d);
  const Lane b3 = RhoPi<3, Y>(a, d);
  const Lane b4 = RhoPi<4, Y>(a, d);
  e[5 * Y + 0] = LCHI(b0, b1, b2);
  e[5 * Y + 1] = LCHI(b1, b2, b3);
  e[5 * Y + 2] = LCHI(b2, b3, b4);
  e[5 * Y + 3] = LCHI(b3, b4, b0);
  e[5 * Y + 4] = LCHI(b4, b0, b1);
}

QOR_KECCAK_FN void Round(const Lane* a, Lane* e, Lane rc) {
  Lane c[5];
  Lane d[5];
#pragma GCC unroll 5
  for (int x = 0; x < 5; ++x) c[x] = LXOR3(LXOR3(a[x], a[x + 5], a[x + 10]), a[x + 15], a[x + 20]);
  d[0] = LXOR(c[4], LROL(c[1], 1));
  d[1] = LXOR(c[0], LROL(c[2], 1));
  d[2] = LXOR(c[1], LROL(c[3], 1));
  d[3] = LXOR(c[2], LROL(c[4], 1));
  d[4] = LXOR(c[3], LROL(c[0], 1));
  Plane<0>(a, e, d);
  Plane<1>(a, e, d);
  Plane<2>(a, e, d);
  Plane<3>(a, e, d);
  Plane<4>(a, e, d);
  e[0] = LXOR(e[0], rc);
}

QOR_KECCAK_FN void Permute(std::uint64_t* state) {
  Lane a[25];
  Lane e[25];
#pragma GCC unroll 25
  for (int i = 0; i < 25; ++i) a[i] = LLOAD(state + i);
  for (int r = 0; r < 24; r += 2) {
    Round(a, e, LFROM(qor::sha3::detail::kKeccak.rc[r]));
    Round(e, a, LFROM(qor::sha3::detail::kKeccak.rc[r + 1]));
  }
#pragma GCC unroll 25
  for (int i = 0; i < 25; ++i) LSTORE(state + i, a[i]);
}

#undef QOR_KECCAK_FN
