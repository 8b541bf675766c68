// Keccak-f[1600] constants: round constants and the combined rho/pi lane map,
// computed at compile time from their defining rules.
#ifndef QOR_PRIMITIVES_SHA3_KECCAK_ROUNDS_H
#define QOR_PRIMITIVES_SHA3_KECCAK_ROUNDS_H

#include <cstdint>

namespace qor::sha3::detail {

struct KeccakTables {
  std::uint64_t rc[24];  // iota constants
  int src[25];           // output lane X + 5Y takes its B value from this input lane
  int rot[25];           // and rotates it left by this much
};

constexpr KeccakTables MakeKeccakTables() {
  KeccakTables t{};
  // rho offsets: walk (x, y) <- (y, 2x + 3y) from (1, 0); step i rotates by
  // (i + 1)(i + 2) / 2.
  int rho[25] = {};
  int x = 1;
  int y = 0;
  for (int i = 0; i < 24; ++i) {
    rho[x + 5 * y] = ((i + 1) * (i + 2) / 2) % 64;
    const int nx = y;
    const int ny = (2 * x + 3 * y) % 5;
    x = nx;
    y = ny;
  }
  // pi moves lane (x, y) to (y, 2x + 3y), so output (X, Y) comes from
  // (X + 3Y, X) mod 5.
  for (int ox = 0; ox < 5; ++ox) {
    for (int oy = 0; oy < 5; ++oy) {
      const int sx = (ox + 3 * oy) % 5;
      const int sy = ox;
      t.src[ox + 5 * oy] = sx + 5 * sy;
      t.rot[ox + 5 * oy] = rho[sx + 5 * sy];
    }
  }
  // iota: bit 2^j - 1 of round r is rc(j + 7r), the LFSR x^8+x^6+x^5+x^4+1.
  unsigned lfsr = 1;
  for (int r = 0; r < 24; ++r) {
    std::uint64_t c = 0;
    for (int j = 0; j < 7; ++j) {
      if (lfsr & 1u) c |= std::uint64_t{1} << ((1 << j) - 1);
      lfsr = (lfsr & 0x80u) ? (((lfsr << 1) ^ 0x71u) & 0xFFu) : (lfsr << 1);
    }
    t.rc[r] = c;
  }
  return t;
}

inline constexpr KeccakTables kKeccak = MakeKeccakTables();

static_assert(kKeccak.rc[0] == 0x0000000000000001ULL);
static_assert(kKeccak.rc[1] == 0x0000000000008082ULL);
static_assert(kKeccak.rc[23] == 0x8000000080008008ULL);
static_assert(kKeccak.rot[1] == 44 && kKeccak.src[1] == 6);

}  // namespace qor::sha3::detail

#endif
