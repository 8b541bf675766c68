// Base64 on 256-bit registers: eight groups per step.
//
// Decoding classifies each character by its two nibbles: a character is in
// the alphabet when the class of its high nibble (which low nibbles are
// allowed in that row of the code chart) admits its low nibble, a test of
// two byte shuffles and an AND. Its value is the character plus an offset
// chosen by the high nibble ("/" shares a row with "+" and is moved one row
// down). Multiply-adds then merge the four 6-bit values of a group into 24
// bits. Encoding spreads each group over a 32-bit lane, cuts the four 6-bit
// fields out with multiplies that shift each 16-bit half by its own amount,
// and adds to each field the offset of its alphabet range.
#include <immintrin.h>

#include <array>

#include "primitives/base64/base64_internal.h"
#include "primitives/cpu_features.h"

namespace qor::base64 {
namespace {

using Lut = std::array<uint8_t, 16>;

// Per high nibble, the set of low nibbles that make an alphabet character.
constexpr uint16_t RowMask(int hi) {
  uint16_t m = 0;
  for (int lo = 0; lo < 16; ++lo)
    if (kTables.value[hi * 16 + lo] < 64) m = static_cast<uint16_t>(m | (1u << lo));
  return m;
}

// Rows with the same set share a class bit; a row with no characters gets
// a class that every low nibble refuses.
struct Classes {
  Lut hi{}, lo{};
};

constexpr Classes MakeClasses() {
  Classes c;
  uint16_t seen[8] = {};
  int count = 0;
  for (int hi = 0; hi < 16; ++hi) {
    const uint16_t m = RowMask(hi);
    int k = 0;
    while (k < count && seen[k] != m) ++k;
    if (k == count) seen[count++] = m;  // at most eight distinct rows fit a byte
    c.hi[hi] = static_cast<uint8_t>(1u << k);
  }
  for (int lo = 0; lo < 16; ++lo) {
    uint8_t refused = 0;
    for (int k = 0; k < count; ++k)
      if (!((seen[k] >> lo) & 1)) refused = static_cast<uint8_t>(refused | (1u << k));
    c.lo[lo] = refused;
  }
  return c;
}

constexpr Classes kClasses = MakeClasses();

constexpr uint8_t kSlash = '/';

// Offset that turns a character into its value, by high nibble; "/" is
// looked up one row below its own.
constexpr Lut MakeDecodeOffsets() {
  Lut off{};
  for (int c = 0; c < 128; ++c) {
    const uint8_t v = kTables.value[c];
    if (v >= 64) continue;
    const int row = (c >> 4) - (c == kSlash ? 1 : 0);
    off[row] = static_cast<uint8_t>(v - c);
  }
  return off;
}

constexpr Lut kDecodeOffsets = MakeDecodeOffsets();

// Every other character of a row must share the row's offset.
constexpr bool OffsetsHold() {
  for (int c = 0; c < 128; ++c) {
    const uint8_t v = kTables.value[c];
    if (v >= 64) continue;
    const int row = (c >> 4) - (c == kSlash ? 1 : 0);
    if (static_cast<uint8_t>(c + kDecodeOffsets[row]) != v) return false;
    if (c != kSlash && (c >> 4) == (kSlash >> 4) - 1) return false;  // the row "/" borrows is empty
  }
  return true;
}
static_assert(OffsetsHold(), "the alphabet rows need one offset each");

// Encoding: a value's range number r is 0 for 0..25, 1 for 26..51 and
// 2..13 for 52..63 (saturated v - 51, plus one above 25); the table holds
// character - value for each r.
constexpr int kEncodeLow = 25;
constexpr int kEncodeHigh = 51;

constexpr Lut MakeEncodeOffsets() {
  Lut off{};
  for (int v = 0; v < 64; ++v) {
    const int r = (v > kEncodeHigh ? v - kEncodeHigh : 0) + (v > kEncodeLow ? 1 : 0);
    off[r] = static_cast<uint8_t>(kAlphabet[v] - v);
  }
  return off;
}

constexpr Lut kEncodeOffsets = MakeEncodeOffsets();

constexpr bool EncodeOffsetsHold() {
  for (int v = 0; v < 64; ++v) {
    const int r = (v > kEncodeHigh ? v - kEncodeHigh : 0) + (v > kEncodeLow ? 1 : 0);
    if (static_cast<char>(v + kEncodeOffsets[r]) != kAlphabet[v]) return false;
  }
  return true;
}
static_assert(EncodeOffsetsHold(), "the alphabet ranges need one offset each");

#define QOR_B64_AVX2 __attribute__((target("avx2")))

QOR_B64_AVX2 inline __m256i Broadcast(const Lut& t) {
  return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t.data())));
}

struct DecodeConstants {
  __m256i classHi, classLo, offsets, nibble, slash, pairs, quads, pack, compact;
  QOR_B64_AVX2 DecodeConstants()
      : classHi(Broadcast(kClasses.hi)),
        classLo(Broadcast(kClasses.lo)),
        offsets(Broadcast(kDecodeOffsets)),
        nibble(_mm256_set1_epi8(0x0F)),
        slash(_mm256_set1_epi8(static_cast<char>(kSlash))),
        // c0 * 64 + c1 and c2 * 64 + c3 in each 16-bit half, then the two
        // halves as hi * 4096 + lo: the group's 24 bits in a 32-bit lane.
        pairs(_mm256_set1_epi32(0x01400140)),
        quads(_mm256_set1_epi32(0x00011000)),
        // Per 128-bit lane: the three bytes of each group, most significant
        // first, packed into the low 12 bytes.
        pack(_mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2, 1, 0, 6, 5, 4, 10,
                              9, 8, 14, 13, 12, -1, -1, -1, -1)),
        compact(_mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7)) {}
};

// 32 characters into 24 bytes, written exactly; false (nothing written)
// when any character is outside the alphabet.
QOR_B64_AVX2 inline bool DecodeStep(const char* in, uint8_t* out, const DecodeConstants& k) {
  const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
  const __m256i hi = _mm256_and_si256(_mm256_srli_epi32(x, 4), k.nibble);
  const __m256i lo = _mm256_and_si256(x, k.nibble);
  const __m256i refused = _mm256_and_si256(_mm256_shuffle_epi8(k.classHi, hi), _mm256_shuffle_epi8(k.classLo, lo));
  if (!_mm256_testz_si256(refused, refused)) return false;
  const __m256i row = _mm256_add_epi8(hi, _mm256_cmpeq_epi8(x, k.slash));
  const __m256i v = _mm256_add_epi8(x, _mm256_shuffle_epi8(k.offsets, row));
  const __m256i bits = _mm256_madd_epi16(_mm256_maddubs_epi16(v, k.pairs), k.quads);
  const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(bits, k.pack), k.compact);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(bytes));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), _mm256_extracti128_si256(bytes, 1));
  return true;
}

}  // namespace

QOR_B64_AVX2 size_t DecodeAvx2(const char* in, size_t groups, uint8_t* out) {
  const DecodeConstants k;
  size_t g = 0;
  for (; g + 8 <= groups; g += 8, in += 32, out += 24) {
    if (!DecodeStep(in, out, k)) {
      // The portable code finds the first group that is not plain.
      const size_t plain = DecodePortable(in, 8, out);
      if (plain < 8) return g + plain;
    }
  }
  return g + DecodePortable(in, groups - g, out);
}

namespace {

struct EncodeConstants {
  __m256i spread, fieldsHi, shiftHi, fieldsLo, shiftLo, high, low, offsets;
  QOR_B64_AVX2 EncodeConstants()
      : // Group k of a lane into 32-bit lane k as bytes b1 b0 b2 b1; the
        // upper lane is loaded 4 bytes early.
        spread(_mm256_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10, 5, 4, 6, 5, 8, 7, 9, 8, 11,
                                10, 12, 11, 14, 13, 15, 14)),
        // Low half b0:b1 holds fields 0 (bits 10-15) and 1 (bits 4-9), the
        // high half b1:b2 fields 2 (bits 6-11) and 3 (bits 0-5). Fields 0
        // and 2 go down to bit 0 of their half, 1 and 3 up to bit 8.
        fieldsHi(_mm256_set1_epi32(0x0FC0FC00)),
        shiftHi(_mm256_set1_epi32(0x04000040)),
        fieldsLo(_mm256_set1_epi32(0x003F03F0)),
        shiftLo(_mm256_set1_epi32(0x01000010)),
        high(_mm256_set1_epi8(kEncodeHigh)),
        low(_mm256_set1_epi8(kEncodeLow)),
        offsets(Broadcast(kEncodeOffsets)) {}
};

// 24 bytes into 32 characters.
QOR_B64_AVX2 inline void EncodeStep(const uint8_t* in, char* out, const EncodeConstants& k) {
  const __m256i raw = _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 8)), 1);
  const __m256i x = _mm256_shuffle_epi8(raw, k.spread);
  const __m256i values = _mm256_or_si256(_mm256_mulhi_epu16(_mm256_and_si256(x, k.fieldsHi), k.shiftHi),
                                         _mm256_mullo_epi16(_mm256_and_si256(x, k.fieldsLo), k.shiftLo));
  const __m256i range = _mm256_sub_epi8(_mm256_subs_epu8(values, k.high), _mm256_cmpgt_epi8(values, k.low));
  const __m256i chars = _mm256_add_epi8(values, _mm256_shuffle_epi8(k.offsets, range));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), chars);
}

}  // namespace

QOR_B64_AVX2 void EncodeAvx2(const uint8_t* in, size_t groups, char* out) {
  const EncodeConstants k;
  size_t g = 0;
  for (; g + 8 <= groups; g += 8, in += 24, out += 32) EncodeStep(in, out, k);
  EncodePortable(in, groups - g, out);
}

namespace {

constexpr Kernels kAvx2 = {EncodeAvx2, DecodeAvx2, "avx2"};

}  // namespace

const Kernels* Avx2Kernels() { return cpu::HasAvx2() ? &kAvx2 : nullptr; }

}  // namespace qor::base64
