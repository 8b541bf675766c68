// Base64 groups with table lookups on general registers: the portable
// kernel, and the tail of the vector kernels.
#include <cstring>

#include "primitives/base64/base64_internal.h"

namespace qor::base64 {
namespace {

inline void EncodeGroup(uint32_t v, char* o) {
  const uint32_t chars = kTables.pair[v >> 12] | (uint32_t{kTables.pair[v & 0xFFF]} << 16);
  std::memcpy(o, &chars, 4);
}

inline uint32_t GroupValue(uint32_t w) {
  return kTables.d0[w & 0xFF] | kTables.d1[(w >> 8) & 0xFF] | kTables.d2[(w >> 16) & 0xFF] |
         kTables.d3[w >> 24];
}

}  // namespace

void EncodePortable(const uint8_t* in, size_t groups, char* out) {
  const size_t len = 3 * groups;
  size_t i = 0;
  // Two groups per step from one 8-byte load (6 bytes used).
  for (; i + 8 <= len; i += 6, out += 8) {
    uint64_t w;
    std::memcpy(&w, in + i, 8);
    w = __builtin_bswap64(w);
    EncodeGroup(static_cast<uint32_t>(w >> 40), out);
    EncodeGroup(static_cast<uint32_t>(w >> 16) & 0xFFFFFF, out + 4);
  }
  for (; i < len; i += 3, out += 4) {
    EncodeGroup((uint32_t{in[i]} << 16) | (uint32_t{in[i + 1]} << 8) | in[i + 2], out);
  }
}

size_t DecodePortable(const char* text, size_t groups, uint8_t* out) {
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  size_t g = 0;
  // Two groups per step while both are plain.
  for (; g + 2 <= groups; g += 2, s += 8, out += 6) {
    uint64_t w;
    std::memcpy(&w, s, 8);
    const uint32_t a = GroupValue(static_cast<uint32_t>(w));
    const uint32_t b = GroupValue(static_cast<uint32_t>(w >> 32));
    if ((a | b) & kBadGroup) break;
    // Big-endian bytes of v << 8: the three decoded bytes, then one spare
    // that the next store (or the room left for it) takes.
    const uint32_t first = __builtin_bswap32(a << 8);
    const uint32_t second = __builtin_bswap32(b << 8);
    std::memcpy(out, &first, 4);
    std::memcpy(out + 3, &second, 4);
  }
  for (; g < groups; ++g, s += 4, out += 3) {
    uint32_t w;
    std::memcpy(&w, s, 4);
    const uint32_t v = GroupValue(w);
    if (v & kBadGroup) break;
    const uint32_t be = __builtin_bswap32(v << 8);
    std::memcpy(out, &be, 4);
  }
  return g;
}

}  // namespace qor::base64
