// Base64 with the standard alphabet and "=" padding, no line breaks. The
// strict pair can write and skip the two-character prefix "$."; the tolerant
// pair never fails on odd characters. Every value call goes through here, so
// whole groups are table-driven; only groups with padding or odd characters
// take the per-character path.
#include <array>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "qor/base64.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint8_t kPad = 0x40;      // "="
constexpr uint8_t kInvalid = 0x80;  // anything else outside the alphabet
constexpr uint32_t kBadGroup = 0x80000000u;

struct Tables {
  std::array<uint8_t, 256> value{};   // character -> 0..63, kPad or kInvalid
  std::array<uint32_t, 256> d0{}, d1{}, d2{}, d3{};  // value shifted into its group position
  std::array<uint16_t, 4096> pair{};  // 12 bits -> two characters (in memory order)
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

constexpr Tables kTables = MakeTables();

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "pair table assumes little-endian stores");

// One group of four characters, including "=" padding: 1 to 3 bytes, or 0
// for an invalid group.
inline int DecodeAtom(const unsigned char* in, unsigned char* out) {
  const uint8_t c1 = kTables.value[in[0]];
  const uint8_t c2 = kTables.value[in[1]];
  const uint8_t c3 = kTables.value[in[2]];
  const uint8_t c4 = kTables.value[in[3]];
  if (((c1 | c2 | c3 | c4) & kInvalid) || c1 == kPad || c2 == kPad) return 0;
  out[0] = static_cast<unsigned char>((c1 << 2) | (c2 >> 4));
  if (c3 == kPad) return c4 == kPad ? 1 : 0;
  out[1] = static_cast<unsigned char>((c2 << 4) | (c3 >> 2));
  if (c4 == kPad) return 2;
  out[2] = static_cast<unsigned char>((c3 << 6) | c4);
  return 3;
}

// The last 1 or 2 bytes as one padded group.
inline void EncodeAtom(const unsigned char* in, int n, char* out) {
  const unsigned b0 = in[0];
  const unsigned b1 = n > 1 ? in[1] : 0;
  const unsigned b2 = n > 2 ? in[2] : 0;
  out[0] = kAlphabet[b0 >> 2];
  out[1] = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
  out[2] = n > 1 ? kAlphabet[((b1 & 15) << 2) | (b2 >> 6)] : '=';
  out[3] = n > 2 ? kAlphabet[b2 & 63] : '=';
}

inline void EncodeGroup(uint32_t v, char* o) {
  const uint32_t chars = kTables.pair[v >> 12] | (uint32_t{kTables.pair[v & 0xFFF]} << 16);
  std::memcpy(o, &chars, 4);
}

// Encodes |len| bytes (whole groups, last one padded); writes no terminator.
// Returns the number of characters written.
size_t EncodeCore(const unsigned char* in, size_t len, char* out) {
  char* o = out;
  size_t i = 0;
  // Two groups per step from one 8-byte load (6 bytes used).
  for (; i + 8 <= len; i += 6, o += 8) {
    uint64_t w;
    std::memcpy(&w, in + i, 8);
    w = __builtin_bswap64(w);
    EncodeGroup(static_cast<uint32_t>(w >> 40), o);
    EncodeGroup(static_cast<uint32_t>(w >> 16) & 0xFFFFFF, o + 4);
  }
  for (; i + 3 <= len; i += 3, o += 4) {
    EncodeGroup((uint32_t{in[i]} << 16) | (uint32_t{in[i + 1]} << 8) | in[i + 2], o);
  }
  if (i < len) {
    EncodeAtom(in + i, static_cast<int>(len - i), o);
    o += 4;
  }
  return static_cast<size_t>(o - out);
}

// Decodes |groups| groups of four characters. Returns the number of bytes, or
// -1 for an invalid group. |outLimit| bounds the writes.
int64_t DecodeGroups(const char* text, size_t groups, unsigned char* out, size_t outLimit) {
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  size_t n = 0;
  size_t g = 0;
  // Groups that fit even at 3 bytes each, plus the spare byte of a 4-byte
  // store, need no bounds check.
  const size_t roomy = outLimit == 0 ? 0 : (outLimit - 1) / 3;
  const size_t unchecked = groups < roomy ? groups : roomy;
  // Two groups per step while neither needs the per-character path.
  for (; g + 2 <= unchecked; g += 2, s += 8, n += 6) {
    uint64_t w;
    std::memcpy(&w, s, 8);
    const uint32_t a = kTables.d0[w & 0xFF] | kTables.d1[(w >> 8) & 0xFF] | kTables.d2[(w >> 16) & 0xFF] |
                       kTables.d3[(w >> 24) & 0xFF];
    const uint32_t b = kTables.d0[(w >> 32) & 0xFF] | kTables.d1[(w >> 40) & 0xFF] |
                       kTables.d2[(w >> 48) & 0xFF] | kTables.d3[w >> 56];
    if ((a | b) & kBadGroup) break;
    // Big-endian bytes of v << 8: the three decoded bytes, then one spare
    // that the next store (or the room left for it) takes.
    const uint32_t first = __builtin_bswap32(a << 8);
    const uint32_t second = __builtin_bswap32(b << 8);
    std::memcpy(out + n, &first, 4);
    std::memcpy(out + n + 3, &second, 4);
  }
  for (; g < unchecked; ++g, s += 4) {
    uint32_t w;
    std::memcpy(&w, s, 4);
    const uint32_t v = kTables.d0[w & 0xFF] | kTables.d1[(w >> 8) & 0xFF] | kTables.d2[(w >> 16) & 0xFF] |
                       kTables.d3[w >> 24];
    if (v & kBadGroup) {
      const int got = DecodeAtom(s, out + n);
      if (got == 0) return -1;
      n += static_cast<size_t>(got);
      continue;
    }
    // Big-endian bytes of v << 8: the three decoded bytes, then one spare.
    const uint32_t be = __builtin_bswap32(v << 8);
    std::memcpy(out + n, &be, 4);
    n += 3;
  }
  for (; g < groups; ++g, s += 4) {
    unsigned char tmp[3];
    const int got = DecodeAtom(s, tmp);
    if (got == 0 || static_cast<size_t>(got) > outLimit - n) return -1;
    for (int k = 0; k < got; ++k) out[n++] = tmp[k];
  }
  return static_cast<int64_t>(n);
}

}  // namespace

extern "C" {

void QOR_base64_encode_atom(const unsigned char* in, int n, char* out) {
  if (in == nullptr || out == nullptr || n < 1) return;
  EncodeAtom(in, n > 3 ? 3 : n, out);
}

int QOR_base64_decode_atom(const char* in, unsigned char* out) {
  if (in == nullptr || out == nullptr) return 0;
  return DecodeAtom(reinterpret_cast<const unsigned char*>(in), out);
}

int QOR_Base64Encode(const unsigned char* in, int length, char** text, int prefixFlag) {
  if (text == nullptr) return -1;
  *text = nullptr;
  const size_t len = length > 0 ? static_cast<size_t>(length) : 0;
  if (len > 0 && in == nullptr) return -1;
  const size_t prefix = prefixFlag == 0 ? 2 : 0;
  const size_t chars = (len + 2) / 3 * 4;
  if (prefix + chars > static_cast<size_t>(INT_MAX)) return -1;
  char* out = static_cast<char*>(std::malloc(len * 4 / 3 + 6));
  if (out == nullptr) return -1;
  if (prefix != 0) {
    out[0] = '$';
    out[1] = '.';
  }
  const size_t n = prefix + EncodeCore(in, len, out + prefix);
  out[n] = '\0';
  *text = out;
  return static_cast<int>(n);
}

int QOR_Base64Encode_Buffer(const unsigned char* in, int length, char* out) {
  if (out == nullptr) return -1;
  const size_t len = length > 0 ? static_cast<size_t>(length) : 0;
  if ((len > 0 && in == nullptr) || (len + 2) / 3 * 4 > static_cast<size_t>(INT_MAX)) {
    out[0] = '\0';
    return -1;
  }
  const size_t n = EncodeCore(in, len, out);
  out[n] = '\0';
  return static_cast<int>(n);
}

int QOR_Base64Decode(const char* text, int length, unsigned char** bytes, int prefixFlag) {
  if (bytes == nullptr) return -1;
  *bytes = nullptr;
  int start = 0;
  int remaining = length;
  if (prefixFlag == 0) {
    remaining = length - 2;
    if (remaining <= 2) return 0;
    start = 2;
  } else if (length <= 0) {
    return 0;
  }
  if (text == nullptr || remaining % 4 != 0) return -1;  // a cut-short last group is invalid
  auto* out = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(length)));
  if (out == nullptr) return -1;
  const int64_t n = DecodeGroups(text + start, static_cast<size_t>(remaining) / 4, out, static_cast<size_t>(length));
  if (n < 0) {
    std::free(out);
    return -1;
  }
  *bytes = out;
  return static_cast<int>(n);
}

int QOR_Base64Decode_Buffer(const char* text, int length, unsigned char* out, int outSize) {
  if (text == nullptr || out == nullptr || outSize <= 0 || length < 4) return 0;
  int expected = (length / 4) * 3;
  if (text[length - 2] == '=') {
    expected -= 2;
  } else if (text[length - 1] == '=') {
    expected -= 1;
  }
  if (expected >= outSize) return 0;
  if (outSize - expected == 1) {
    out[expected] = 0;  // the usual case: room for a terminator only
  } else {
    std::memset(out + expected, 0, static_cast<size_t>(outSize - expected));
  }
  if (length % 4 != 0) return -1;
  const int64_t n = DecodeGroups(text, static_cast<size_t>(length) / 4, out, static_cast<size_t>(outSize));
  return n < 0 ? -1 : static_cast<int>(n);
}

int QOR_Base64Encod(const unsigned char* in, int length, char** text) {
  if (text == nullptr) return -1;
  *text = nullptr;
  if (length <= 0) {
    char* out = static_cast<char*>(std::malloc(5));
    if (out == nullptr) return -1;
    std::memcpy(out, "AAAA", 5);
    *text = out;
    return 4;
  }
  if (in == nullptr) return -1;
  const size_t chars = (static_cast<size_t>(length) + 2) / 3 * 4;
  if (chars > static_cast<size_t>(INT_MAX)) return -1;
  char* out = static_cast<char*>(std::malloc(chars + 1));
  if (out == nullptr) return -1;
  const size_t n = EncodeCore(in, static_cast<size_t>(length), out);
  out[n] = '\0';
  *text = out;
  return static_cast<int>(n);
}

int QOR_Base64Decod(const char* text, int length, unsigned char** bytes) {
  if (bytes == nullptr) return -1;
  *bytes = nullptr;
  const size_t len = length > 0 ? static_cast<size_t>(length) : 0;
  if (len > 0 && text == nullptr) return -1;
  auto* out = static_cast<unsigned char*>(std::calloc(len + 1 < 4 ? 4 : len + 1, 1));
  if (out == nullptr) return -1;
  if (len == 0) {  // the counterpart of "AAAA"
    *bytes = out;
    return 3;
  }
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  uint32_t slot[4] = {0, 0, 0, 0};
  size_t n = 0;
  size_t count = 0;
  size_t effective = len;
  bool groupWritten = false;
  auto emit = [&](int k) {
    const uint32_t v = (slot[0] << 18) | (slot[1] << 12) | (slot[2] << 6) | slot[3];
    for (int j = 0; j < k; ++j) out[n++] = static_cast<unsigned char>(v >> (16 - 8 * j));
  };
  for (size_t i = 0; i < len; ++i) {
    const uint8_t v = kTables.value[s[i]];
    if (v == kPad) {
      slot[count % 4] = 0;
      effective = count;
      break;
    }
    if (v < 64) slot[count % 4] = v;
    ++count;
    groupWritten = false;
    if (count % 4 == 0 && i + 1 < len) {
      emit(3);
      groupWritten = true;
    }
  }
  switch (effective % 4) {
    case 0:
      // A group already written before a "=" is not written again.
      if (!groupWritten) emit(3);
      break;
    case 3:
      emit(2);
      break;
    case 2:
      emit(1);
      break;
    default:
      break;
  }
  out[n] = 0;
  *bytes = out;
  return static_cast<int>(n);
}

}  // extern "C"
