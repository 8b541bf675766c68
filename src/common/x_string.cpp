// Bounded string and memory functions. They refuse rather than truncate: a
// call that does not fit leaves the destination untouched and returns NULL/0.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "qor/qostring.h"

namespace {

constexpr size_t kMaxSize = 0xFFFFFFFFu;

constexpr bool InRange(size_t n) { return n >= 1 && n <= kMaxSize; }

size_t WcsLenBounded(const wchar_t* s, size_t limit) {
  size_t n = 0;
  while (n < limit && s[n] != L'\0') ++n;
  return n;
}

template <typename Ch>
Ch* CopyBounded(Ch* dst, size_t dstSize, const Ch* src, size_t srcLen) {
  // srcLen + 1 > dstSize, written so it cannot overflow
  if (srcLen == 0 || srcLen >= dstSize) return nullptr;
  std::memmove(dst, src, (srcLen + 1) * sizeof(Ch));
  return dst;
}

template <typename Ch>
Ch* CopyN(Ch* dst, const Ch* src, size_t n, size_t srcLen) {
  if (srcLen < n) {
    std::memmove(dst, src, srcLen * sizeof(Ch));
    std::memset(dst + srcLen, 0, (n - srcLen) * sizeof(Ch));
  } else {
    std::memmove(dst, src, n * sizeof(Ch));
    dst[n] = Ch(0);
  }
  return dst;
}

// Digits of |magnitude| in |base| followed by the terminator, after an
// optional minus sign.
char* WriteDigits(uint64_t magnitude, bool negative, char* out, int base) {
  if (out == nullptr) return nullptr;
  if (base < 2 || base > 36) {
    out[0] = '\0';
    return out;
  }
  static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  char tmp[65];
  int n = 0;
  do {
    tmp[n++] = kDigits[magnitude % static_cast<unsigned>(base)];
    magnitude /= static_cast<unsigned>(base);
  } while (magnitude != 0);
  char* p = out;
  if (negative) *p++ = '-';
  while (n > 0) *p++ = tmp[--n];
  *p = '\0';
  return out;
}

}  // namespace

extern "C" {

size_t x_strlen(const char* s) { return s == nullptr ? 0 : std::strlen(s); }

size_t x_wcslen(const wchar_t* s) { return s == nullptr ? 0 : std::wcslen(s); }

char* x_strcpy(char* dst, size_t dstSize, const char* src) {
  if (dst == nullptr || src == nullptr || !InRange(dstSize)) return nullptr;
  return CopyBounded(dst, dstSize, src, std::strlen(src));
}

wchar_t* x_wcscpy(wchar_t* dst, size_t dstSize, const wchar_t* src) {
  if (dst == nullptr || src == nullptr || !InRange(dstSize)) return nullptr;
  return CopyBounded(dst, dstSize, src, std::wcslen(src));
}

char* x_strncpy(char* dst, size_t dstSize, const char* src, size_t n) {
  if (dst == nullptr || src == nullptr || !InRange(dstSize) || !InRange(n) || n >= dstSize) {
    return nullptr;
  }
  return CopyN(dst, src, n, strnlen(src, n));
}

wchar_t* x_wcsncpy(wchar_t* dst, size_t dstSize, const wchar_t* src, size_t n) {
  if (dst == nullptr || src == nullptr || !InRange(dstSize) || !InRange(n) || n >= dstSize) {
    return nullptr;
  }
  return CopyN(dst, src, n, WcsLenBounded(src, n));
}

char* x_strcat(char* dst, size_t dstSize, const char* src) {
  if (dst == nullptr || src == nullptr || !InRange(dstSize)) return nullptr;
  const size_t have = strnlen(dst, dstSize);
  const size_t add = std::strlen(src);
  // An unterminated destination has no room for anything.
  if (add == 0 || have >= dstSize || add >= dstSize - have) return nullptr;
  std::memmove(dst + have, src, add + 1);
  return dst;
}

char* x_strncat(char* dst, size_t dstSize, const char* src, size_t n) {
  if (dst == nullptr || src == nullptr || !InRange(dstSize) || !InRange(n)) return nullptr;
  const size_t have = strnlen(dst, dstSize);
  if (have >= dstSize || n >= dstSize - have) return nullptr;
  const size_t add = strnlen(src, n);
  std::memmove(dst + have, src, add);
  dst[have + add] = '\0';
  return dst;
}

void* x_memcpy(void* dst, size_t dstSize, const void* src, size_t n) {
  if (dst == nullptr || src == nullptr || !InRange(dstSize) || !InRange(n) || n > dstSize) {
    return nullptr;
  }
  std::memmove(dst, src, n);
  return dst;
}

void* x_memcpy_s(void* dst, size_t dstSize, const void* src, size_t n) {
  if (dst == nullptr || src == nullptr || !InRange(dstSize) || !InRange(n) || n >= dstSize) {
    return nullptr;
  }
  std::memmove(dst, src, n);
  static_cast<unsigned char*>(dst)[n] = 0;
  return dst;
}

void* x_malloc(size_t size) { return InRange(size) ? std::malloc(size) : nullptr; }

void* x_calloc(size_t count, size_t size) {
  if (count == 0 || size == 0 || size > kMaxSize / count) return nullptr;
  return std::calloc(count, size);
}

int32_t x_atoi(const char* text, size_t n) {
  if (text == nullptr || !InRange(n)) return 0;
  // Parsed in place within the first n characters, as strtol would read a
  // private copy of them: blanks, an optional sign, decimal digits.
  const size_t len = strnlen(text, n);
  size_t i = 0;
  while (i < len && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < len && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t v = 0;
  for (; i < len && text[i] >= '0' && text[i] <= '9'; ++i) {
    v = v * 10 + (text[i] - '0');
    if (v > static_cast<int64_t>(INT32_MAX) + 1) break;  // saturates below
  }
  if (negative) v = -v;
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

char* x_itoa(int32_t value, char* out, int base) {
  if (base == 10 && value < 0) {
    return WriteDigits(0u - static_cast<uint64_t>(static_cast<int64_t>(value)), true, out, base);
  }
  return WriteDigits(static_cast<uint32_t>(value), false, out, base);
}

char* x_ltoa(int64_t value, char* out, int base) {
  if (base == 10 && value < 0) return WriteDigits(0u - static_cast<uint64_t>(value), true, out, base);
  return WriteDigits(static_cast<uint64_t>(value), false, out, base);
}

char* x_ultoa(uint64_t value, char* out, int base) { return WriteDigits(value, false, out, base); }

}  // extern "C"
