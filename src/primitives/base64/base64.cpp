// Base64 with the standard alphabet and "=" padding, no line breaks. The
// strict pair can write and skip the two-character prefix "$."; the tolerant
// pair never fails on odd characters. Every value call goes through here:
// runs of plain groups go to the fastest kernel the processor runs (vector
// code for long texts); groups with padding or odd characters take the
// per-character path, which alone decides what is refused.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/value_format.h"
#include "primitives/base64/base64_internal.h"
#include "qor/base64.h"

namespace {

using qor::base64::kAlphabet;
using qor::base64::kBadGroup;
using qor::base64::kInvalid;
using qor::base64::kPad;
using qor::base64::kTables;

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

// Whole groups go to the kernel; short inputs stay inline.
inline void EncodeWhole(const unsigned char* in, size_t groups, char* out) {
  if (groups >= qor::base64::kVectorGroups) {
    qor::base64::g_kernels.Active().encode(in, groups, out);
  } else {
    qor::base64::EncodePortable(in, groups, out);
  }
}

// Encodes |len| bytes (whole groups, last one padded); writes no terminator.
// Returns the number of characters written.
size_t EncodeCore(const unsigned char* in, size_t len, char* out) {
  const size_t groups = len / 3;
  EncodeWhole(in, groups, out);
  const size_t done = 3 * groups;
  char* o = out + 4 * groups;
  if (done < len) {
    EncodeAtom(in + done, static_cast<int>(len - done), o);
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
  const auto decode = unchecked >= qor::base64::kVectorGroups ? qor::base64::g_kernels.Active().decode
                                                              : qor::base64::DecodePortable;
  while (g < unchecked) {
    // Runs of plain groups go to the kernel; each leaves a zero byte after
    // its bytes, as the group-at-a-time stores always did.
    const size_t plain = decode(reinterpret_cast<const char*>(s), unchecked - g, out + n);
    if (plain != 0) {
      g += plain;
      s += 4 * plain;
      n += 3 * plain;
      out[n] = 0;
      if (g == unchecked) break;
    }
    // A group with padding or a character outside the alphabet.
    const int got = DecodeAtom(s, out + n);
    if (got == 0) return -1;
    n += static_cast<size_t>(got);
    ++g;
    s += 4;
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
  const size_t prefix = prefixFlag == 0 ? qor::value::kTextPrefixChars : 0;
  const size_t chars = (len + 2) / 3 * 4;
  if (prefix + chars > static_cast<size_t>(INT_MAX)) return -1;
  char* out = static_cast<char*>(std::malloc(len * 4 / 3 + 6));
  if (out == nullptr) return -1;
  if (prefix != 0) std::memcpy(out, qor::value::kTextPrefix, prefix);
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
    remaining = length - qor::value::kTextPrefixChars;
    if (remaining <= 2) return 0;
    start = qor::value::kTextPrefixChars;
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
