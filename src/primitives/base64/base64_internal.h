// Base64 internals: the character tables every path derives from the
// alphabet, and the kernels that encode and decode runs of whole groups.
// The exported functions keep the rules (prefix, padding, refusals, bounds);
// a kernel only ever sees whole groups of plain alphabet characters, so the
// vector paths cannot change what the library accepts or writes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "primitives/dispatch.h"

namespace qor::base64 {

inline constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
inline constexpr uint8_t kPad = 0x40;      // "="
inline constexpr uint8_t kInvalid = 0x80;  // anything else outside the alphabet
inline constexpr uint32_t kBadGroup = 0x80000000u;

struct Tables {
  std::array<uint8_t, 256> value{};                  // character -> 0..63, kPad or kInvalid
  std::array<uint32_t, 256> d0{}, d1{}, d2{}, d3{};  // value shifted into its group position
  std::array<uint16_t, 4096> pair{};                 // 12 bits -> two characters (in memory order)
};

constexpr Tables MakeTables() {
  Tables t;
  for (auto& v : t.value) v = kInvalid;
  for (int i = 0; i < 64; ++i) t.value[static_cast<unsigned char>(kAlphabet[i])] = static_cast<uint8_t>(i);
  t.value[static_cast<unsigned char>('=')] = kPad;
  for (int c = 0; c < 256; ++c) {
    const uint32_t v = t.value[c];
    const bool ok = v < 64;
    t.d0[c] = ok ? v << 18 : kBadGroup;
    t.d1[c] = ok ? v << 12 : kBadGroup;
    t.d2[c] = ok ? v << 6 : kBadGroup;
    t.d3[c] = ok ? v : kBadGroup;
  }
  for (int i = 0; i < 4096; ++i) {
    const auto first = static_cast<uint8_t>(kAlphabet[i >> 6]);
    const auto second = static_cast<uint8_t>(kAlphabet[i & 63]);
    // Little-endian store order: the first character goes to the low byte.
    t.pair[i] = static_cast<uint16_t>(first | (second << 8));
  }
  return t;
}

inline constexpr Tables kTables = MakeTables();

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the group stores assume little-endian order");

// A kernel works on whole groups: three bytes <-> four alphabet characters.
struct Kernels {
  // Encodes |groups| groups (3 * groups bytes) into 4 * groups characters.
  void (*encode)(const uint8_t* in, size_t groups, char* out);
  // Decodes leading groups of four alphabet characters, at most |groups|,
  // and stops before the first group holding anything else ("=" included).
  // Returns the number decoded; writes their 3 bytes each and may write one
  // byte after them, so |out| has room for 3 * groups + 1 bytes.
  size_t (*decode)(const char* in, size_t groups, uint8_t* out);
  const char* name;
};

// Below this many groups the portable code is called directly: a vector
// step would not fill once.
inline constexpr size_t kVectorGroups = 8;

void EncodePortable(const uint8_t* in, size_t groups, char* out);
size_t DecodePortable(const char* in, size_t groups, uint8_t* out);
// Only where the processor has AVX2; they finish with the portable code.
void EncodeAvx2(const uint8_t* in, size_t groups, char* out);
size_t DecodeAvx2(const char* in, size_t groups, uint8_t* out);

const Kernels& PortableKernels();
// Null when the processor lacks the instructions.
const Kernels* Avx2Kernels();
const Kernels* Avx512Kernels();
// AVX-512 (with VBMI), then AVX2, then portable.
extern primitives::Dispatcher<Kernels> g_kernels;

}  // namespace qor::base64
