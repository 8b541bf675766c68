// Base64 on 512-bit registers with the byte-permute instructions (VBMI):
// sixteen groups per step.
//
// Decoding looks every character up in a 128-entry table held in two
// registers (one two-source byte permute); characters from 128 up and all
// that are not in the alphabet come out with the top bit set, so one test
// of the top bits of table result and input refuses the step. Multiply-adds
// merge each group into 24 bits and one byte permute packs the 48 bytes.
// Encoding permutes each group into a 64-bit half-lane, extracts the four
// 6-bit fields with one multishift, and looks the characters up in the
// 64-byte alphabet with a byte permute (which reads the low 6 bits only).
#include <immintrin.h>

#include <array>

#include "primitives/base64/base64_internal.h"
#include "primitives/cpu_features.h"

// GCC's 512-bit intrinsic headers trip its own uninitialised-value check.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace qor::base64 {
namespace {

using Table64 = std::array<uint8_t, 64>;

// Character -> value for characters 0..127, the top bit set for the rest
// ("=" included: padding is the portable code's business).
constexpr std::array<Table64, 2> MakeValues() {
  std::array<Table64, 2> t{};
  for (int c = 0; c < 128; ++c) {
    const uint8_t v = kTables.value[c];
    t[c >> 6][c & 63] = v < 64 ? v : kInvalid;
  }
  return t;
}

alignas(64) constexpr std::array<Table64, 2> kValues = MakeValues();

// Output byte 3g + j of a step takes byte 2 - j of the group's 32-bit lane
// (the 24 bits sit little-endian in its low three bytes).
constexpr Table64 MakePack() {
  Table64 t{};
  for (int g = 0; g < 16; ++g)
    for (int j = 0; j < 3; ++j) t[3 * g + j] = static_cast<uint8_t>(4 * g + 2 - j);
  for (int i = 48; i < 64; ++i) t[i] = 0;
  return t;
}

// Group g (input bytes 3g..3g+2 = b0 b1 b2) into lane g as b1 b0 b2 b1:
// the low 16 bits are b0:b1, the high 16 bits b1:b2.
constexpr Table64 MakeSpread() {
  Table64 t{};
  for (int g = 0; g < 16; ++g) {
    t[4 * g + 0] = static_cast<uint8_t>(3 * g + 1);
    t[4 * g + 1] = static_cast<uint8_t>(3 * g);
    t[4 * g + 2] = static_cast<uint8_t>(3 * g + 2);
    t[4 * g + 3] = static_cast<uint8_t>(3 * g + 1);
  }
  return t;
}

// Bit offsets of the four fields inside each 32-bit lane, in output order:
// bits 10-15, 4-9, 22-27 and 16-21; the second lane of a 64-bit word adds 32.
constexpr uint64_t kFieldOffsets = 0x3036242A1016040AULL;

constexpr Table64 MakeAlphabet() {
  Table64 t{};
  for (int i = 0; i < 64; ++i) t[i] = static_cast<uint8_t>(kAlphabet[i]);
  return t;
}

alignas(64) constexpr Table64 kPack = MakePack();
alignas(64) constexpr Table64 kSpread = MakeSpread();
alignas(64) constexpr Table64 kAlphabetBytes = MakeAlphabet();

#define QOR_B64_AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi,avx2")))

QOR_B64_AVX512 inline __m512i Load(const Table64& t) { return _mm512_load_si512(t.data()); }

struct DecodeConstants {
  __m512i low, high, pairs, quads, pack;
  QOR_B64_AVX512 DecodeConstants()
      : low(Load(kValues[0])),
        high(Load(kValues[1])),
        pairs(_mm512_set1_epi32(0x01400140)),
        quads(_mm512_set1_epi32(0x00011000)),
        pack(Load(kPack)) {}
};

// 64 characters into 48 bytes, written exactly; false (nothing written)
// when any character is outside the alphabet.
QOR_B64_AVX512 inline bool DecodeStep(const char* in, uint8_t* out, const DecodeConstants& k) {
  const __m512i x = _mm512_loadu_si512(in);
  const __m512i v = _mm512_permutex2var_epi8(k.low, x, k.high);
  if (_mm512_movepi8_mask(_mm512_or_si512(x, v)) != 0) return false;
  const __m512i bits = _mm512_madd_epi16(_mm512_maddubs_epi16(v, k.pairs), k.quads);
  const __m512i bytes = _mm512_permutexvar_epi8(k.pack, bits);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm512_castsi512_si256(bytes));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), _mm512_extracti32x4_epi32(bytes, 2));
  return true;
}

QOR_B64_AVX512 size_t DecodeAvx512(const char* in, size_t groups, uint8_t* out) {
  const DecodeConstants k;
  size_t g = 0;
  for (; g + 16 <= groups; g += 16, in += 64, out += 48) {
    if (!DecodeStep(in, out, k)) {
      // The portable code finds the first group that is not plain.
      const size_t plain = DecodePortable(in, 16, out);
      if (plain < 16) return g + plain;
    }
  }
  return g + DecodeAvx2(in, groups - g, out);
}

struct EncodeConstants {
  __m512i spread, fields, alphabet;
  QOR_B64_AVX512 EncodeConstants()
      : spread(Load(kSpread)),
        fields(_mm512_set1_epi64(static_cast<long long>(kFieldOffsets))),
        alphabet(Load(kAlphabetBytes)) {}
};

// 48 bytes into 64 characters; reads exactly the 48 bytes.
QOR_B64_AVX512 inline void EncodeStep(const uint8_t* in, char* out, const EncodeConstants& k) {
  const __m512i raw = _mm512_maskz_loadu_epi8(0x0000FFFFFFFFFFFFULL, in);
  const __m512i x = _mm512_permutexvar_epi8(k.spread, raw);
  const __m512i values = _mm512_multishift_epi64_epi8(k.fields, x);
  _mm512_storeu_si512(out, _mm512_permutexvar_epi8(values, k.alphabet));
}

QOR_B64_AVX512 void EncodeAvx512(const uint8_t* in, size_t groups, char* out) {
  const EncodeConstants k;
  size_t g = 0;
  for (; g + 16 <= groups; g += 16, in += 48, out += 64) EncodeStep(in, out, k);
  EncodeAvx2(in, groups - g, out);
}

constexpr Kernels kAvx512 = {EncodeAvx512, DecodeAvx512, "avx512"};

}  // namespace

const Kernels* Avx512Kernels() { return cpu::HasAvx512Vbmi() ? &kAvx512 : nullptr; }

}  // namespace qor::base64
