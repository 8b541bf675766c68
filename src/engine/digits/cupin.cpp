// The digit-policy adapters (digits <-> position-mapped letters around FF1) and
// the small character-block helpers they are built from.
#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "log/log.h"
#include "qor/cupin.h"

namespace {

constexpr char kLogUnit[] = "source/Pin/CuPIN";

constexpr int kMapRows = 18;

inline uint32_t UsedCount(const CharBlock* block) { return std::min<uint32_t>(block->count, 256); }

// Gives |out| a malloc'd, zero-terminated copy of |in| and fails. With no
// input bytes to copy the output is {-1, NULL}.
int CopyInputAndFail(const DataBuffer* in, unsigned char* buffer, DataBuffer* out) {
  if (buffer == nullptr) {
    out->data = nullptr;
    out->length = -1;
    return -1;
  }
  if (in->length > 0) std::memcpy(buffer, in->data, static_cast<size_t>(in->length));
  out->data = buffer;
  out->length = in->length;
  return -1;
}

// Checks the arguments and allocates the zero-filled length + 1 output.
// Returns false (out set to {-1, NULL}) when there is nothing to work on.
bool StartOutput(const DataBuffer* in, DataBuffer* out, unsigned char** buffer) {
  *buffer = nullptr;
  out->data = nullptr;
  out->length = -1;
  if (in == nullptr || in->length < 0 || (in->data == nullptr && in->length > 0)) return false;
  *buffer = static_cast<unsigned char*>(std::calloc(static_cast<size_t>(in->length) + 1, 1));
  if (*buffer == nullptr) {
    QOR_LOG(qor::log::kError, "Memory Allocation Failed.\n");
    return false;
  }
  return true;
}

}  // namespace

extern "C" {

int doPIN10EncryptEx(const DataBuffer* in, const void* ctx, int /*unused*/, DataBuffer* out) {
  if (out == nullptr) return -1;
  unsigned char* buffer = nullptr;
  if (!StartOutput(in, out, &buffer)) return -1;
  const int len = in->length;
  const char* text = reinterpret_cast<const char*>(in->data);
  if (ctx == nullptr || len < 2 || len > PIN_MAX_DIGITS || !isNumericString(text, len)) {
    return CopyInputAndFail(in, buffer, out);
  }
  CharBlock enciphered;
  if (encryptRadix10(static_cast<const DigitContext*>(ctx), text, len, &enciphered) != 0) {
    return CopyInputAndFail(in, buffer, out);
  }
  CharBlock letters;
  if (mapMap(0, &enciphered, &letters) != 0 || letters.count < 1) {
    return CopyInputAndFail(in, buffer, out);
  }
  std::memcpy(buffer, letters.data, static_cast<size_t>(len));
  out->data = buffer;
  out->length = len;
  return 0;
}

int doPIN10Decrypt(const DataBuffer* in, const void* ctx, int /*unused*/, DataBuffer* out) {
  if (out == nullptr) return -1;
  unsigned char* buffer = nullptr;
  if (!StartOutput(in, out, &buffer)) return -1;
  const int len = in->length;
  const char* text = reinterpret_cast<const char*>(in->data);
  if (ctx == nullptr || len > PIN_MAX_DIGITS || !isUppercase(text, len)) {
    return CopyInputAndFail(in, buffer, out);
  }
  CharBlock letters;
  std::memcpy(letters.data, text, static_cast<size_t>(len));
  letters.count = static_cast<uint32_t>(len);
  CharBlock enciphered;
  CharBlock digits;
  if (reverseMap(0, &letters, &enciphered) != 0 ||
      decryptRadix10(static_cast<const DigitContext*>(ctx), enciphered.data,
                     static_cast<int>(enciphered.count), &digits) != 0) {
    return CopyInputAndFail(in, buffer, out);
  }
  std::memcpy(buffer, digits.data, static_cast<size_t>(len));
  out->data = buffer;
  out->length = len;
  return 0;
}

int mapMap(int mode, const CharBlock* src, CharBlock* dst) {
  if (src == nullptr || dst == nullptr) return -1;
  if (mode != 0 && mode != 1) {
    dst->count = 0;
    return -1;
  }
  const uint32_t count = UsedCount(src);
  for (uint32_t p = 0; p < count; ++p) {
    const char c = src->data[p];
    if (c < '0' || c > '9') {
      dst->count = 0;
      return -1;
    }
    const int row = static_cast<int>(p % kMapRows);
    dst->data[p] = (mode == 0) ? MapLarge[row][c - '0'] : MapLargeSmall[row][c - '0'];
  }
  dst->count = count;
  if (count < 256) dst->data[count] = '\0';
  return 0;
}

int reverseMap(int mode, const CharBlock* src, CharBlock* dst) {
  if (src == nullptr || dst == nullptr) return -1;
  if (mode != 0 && mode != 1) {
    dst->count = 0;
    return -1;
  }
  const uint32_t count = UsedCount(src);
  for (uint32_t p = 0; p < count; ++p) {
    const char c = src->data[p];
    const int row = static_cast<int>(p % kMapRows);
    char digit = '-';
    if (c >= 'A' && c <= 'Z') {
      digit = (mode == 0) ? RMapLarge[row][c - 'A'] : RMapLargeSmall[row][c - 'A'];
    } else if (mode == 1 && c >= 'a' && c <= 'z') {
      digit = RMapLargeSmall[row][26 + (c - 'a')];
    }
    if (digit == '-') {
      dst->count = 0;
      return -1;
    }
    dst->data[p] = digit;
  }
  dst->count = count;
  if (count < 256) dst->data[count] = '\0';
  return 0;
}

int isNumericString(const char* text, int len) {
  if (len < 1) return 1;
  if (text == nullptr) return 0;
  for (int k = 0; k < len; ++k) {
    if (text[k] < '0' || text[k] > '9') return 0;
  }
  return 1;
}

int isUppercase(const char* text, int len) {
  if (len < 2 || text == nullptr) return 0;
  for (int k = 0; k < len; ++k) {
    if (text[k] < 'A' || text[k] > 'Z') return 0;
  }
  return 1;
}

uint64_t toNumRadix10(const CharBlock* block) {
  if (block == nullptr) return 0;
  uint64_t v = 0;
  const uint32_t count = UsedCount(block);
  for (uint32_t k = 0; k < count; ++k) {
    v = v * 10 + static_cast<uint64_t>(static_cast<unsigned char>(block->data[k]) - '0');
  }
  return v;
}

uint64_t toBig(uint64_t value) {
  if constexpr (std::endian::native == std::endian::little) return __builtin_bswap64(value);
  return value;
}

void plusBlock(CharBlock* dst, const CharBlock* src) {
  if (dst == nullptr || src == nullptr) return;
  const uint32_t have = UsedCount(dst);
  const uint32_t add = UsedCount(src);
  if (have + add >= 256) return;
  std::memmove(dst->data + have, src->data, add);
  dst->count = have + add;
  dst->data[dst->count] = '\0';
}

uint64_t toNumRadix62(const CharBlock* block) {
  if (block == nullptr) return 0;
  uint64_t v = 0;
  const uint32_t count = UsedCount(block);
  for (uint32_t k = 0; k < count; ++k) {
    const char c = block->data[k];
    uint64_t digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint64_t>(c - '0');
    } else if (c >= 'A' && c <= 'Z') {
      digit = static_cast<uint64_t>(c - 'A') + 10;
    } else if (c >= 'a' && c <= 'z') {
      digit = static_cast<uint64_t>(c - 'a') + 36;
    }
    v = v * 62 + digit;
  }
  return v;
}

void printBlock(const CharBlock* block) {
  if (block != nullptr) {
    const uint32_t count = UsedCount(block);
    for (uint32_t k = 0; k < count; ++k) std::printf("%c ", block->data[k]);
  }
  std::printf("\n");
}

}  // extern "C"
