// Round tables shared by the table-driven AES code. They are derived at run
// time from exponent/logarithm tables over GF(2^8), once per process.
#ifndef QOR_PRIMITIVES_AES_AES_TABLES_H
#define QOR_PRIMITIVES_AES_AES_TABLES_H

#include <cstdint>

namespace qor::aes {

struct Tables {
  // Forward round tables: Te[0][x] = {2s, s, s, 3s} (big-endian word) with
  // s = S(x); Te[k] is Te[0] rotated right by 8k bits.
  uint32_t te[4][256];
  // Inverse round tables: Td[0][x] = {14t, 9t, 13t, 11t} with t = InvS(x).
  uint32_t td[4][256];
  uint8_t sbox[256];
  uint8_t invSbox[256];
  // Key-expansion round constants in the top byte.
  uint32_t rcon[10];
};

// Returns the process-wide tables; the first call builds them (thread-safe).
const Tables& GetTables();

}  // namespace qor::aes

#endif
