// One shape for every block-cipher adapter: pad in place, encipher into the
// one result buffer behind the version prefix, append the record-IV tail; and
// the reverse with the padding check and the compatibility rules. A cipher
// plugs in through a traits struct:
//   using Ctx;                        key context type of the record
//   static constexpr int kBlock;      padding block (16, or 8 for triple DES)
//   static constexpr char kUnit[];    log source unit
//   static constexpr Texts kTexts;    argument-check messages of the cipher
//   static bool Encrypt(const Ctx&, const uint8_t* iv, const uint8_t* in, uint8_t* out, int len);
//   static bool Decrypt(const Ctx&, const uint8_t* iv, const uint8_t* in, uint8_t* out, int len);
// |len| is a whole number of blocks; the key context is never written.
#pragma once

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/value_format.h"
#include "engine/adapters/adapter_log.h"
#include "engine/adapters/padding.h"
#include "qor/cipher_adapters.h"

namespace qor::engine::adapters {

// Messages for a missing argument and for an input shorter than one byte.
struct Texts {
  const char* nullInput;
  const char* shortInput;
};

inline constexpr Texts kEnglishTexts{msg::kNullInputEn, msg::kShortInputEn};
inline constexpr Texts kKoreanTexts{msg::kNullInputKo, msg::kShortInputKo};

// Bytes the binary form of |length| padded plaintext bytes takes.
template <class Cipher>
constexpr int BlockEncryptedLength(int length, uint16_t keyVersion, int32_t useRecordIV) {
  return (keyVersion != 0 ? value::kPrefixBytes : 0) + (length / Cipher::kBlock + 1) * Cipher::kBlock +
         (useRecordIV != 0 ? value::kTailBytes : 0);
}

// The checks both encryption forms start with: every argument present and a
// length whose encrypted frame still fits an int. False after a log line.
template <class Cipher>
bool EncryptArgumentsUsable(const char* func, const DataBuffer* in, const void* key, const unsigned char* iv,
                            const void* out) {
  using qor::log::kCrit;
  if (in == nullptr || in->data == nullptr || key == nullptr || iv == nullptr || out == nullptr) {
    QOR_LOG_UNIT_AS(kCrit, func, Cipher::kUnit, "%s", Cipher::kTexts.nullInput);
    return false;
  }
  constexpr int kFrame = value::kPrefixBytes + value::kTailBytes + Cipher::kBlock + 1;
  if (in->length < 0 || in->length > INT_MAX - kFrame) {
    QOR_LOG_UNIT_AS(kCrit, func, Cipher::kUnit, "%s", Cipher::kTexts.shortInput);
    return false;
  }
  return true;
}

// The binary form of checked arguments into |buf| (BlockEncryptedLength bytes
// of room, no terminator): its length, or -1 (and a log line).
template <class Cipher>
int EncryptCheckedInto(const char* func, DataBuffer* in, const void* key, const unsigned char* iv, unsigned char* buf,
                       uint16_t keyVersion, int32_t useRecordIV) {
  using qor::log::kCrit;
  const int padded = DoPadding(in->data, in->length, Cipher::kBlock);
  const int prefix = keyVersion != 0 ? value::kPrefixBytes : 0;
  const int total = prefix + padded + (useRecordIV != 0 ? value::kTailBytes : 0);
  if (!Cipher::Encrypt(*static_cast<const typename Cipher::Ctx*>(key), iv, in->data, buf + prefix, padded)) {
    QOR_LOG_UNIT_AS(kCrit, func, Cipher::kUnit, "encryption failed. length = [%d]\n", padded);
    return -1;
  }
  if (prefix != 0) {
    buf[0] = static_cast<unsigned char>(keyVersion >> 8);
    buf[1] = static_cast<unsigned char>(keyVersion & 0xFF);
    buf[value::kVersionMarkerAt] = value::kVersionMarker;
  }
  if (useRecordIV != 0) std::memcpy(buf + prefix + padded, iv, value::kTailBytes);
  return total;
}

// The binary form into |buf| (BlockEncryptedLength bytes of room, no
// terminator): its length, or -1 (and a log line).
template <class Cipher>
int BlockEncryptInto(const char* func, DataBuffer* in, const void* key, const unsigned char* iv, unsigned char* buf,
                     uint16_t keyVersion, int32_t useRecordIV) {
  if (!EncryptArgumentsUsable<Cipher>(func, in, key, iv, buf)) return -1;
  return EncryptCheckedInto<Cipher>(func, in, key, iv, buf, keyVersion, useRecordIV);
}

template <class Cipher>
int BlockEncrypt(const char* func, DataBuffer* in, const void* key, const unsigned char* iv, DataBuffer* out,
                 uint16_t keyVersion, int32_t useRecordIV) {
  using qor::log::kCrit;
  if (!EncryptArgumentsUsable<Cipher>(func, in, key, iv, out)) return -1;
  const int room = BlockEncryptedLength<Cipher>(in->length, keyVersion, useRecordIV);
  auto* buf = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(room) + 1));
  if (buf == nullptr) {
    QOR_LOG_UNIT_AS(kCrit, func, Cipher::kUnit, "Memory Allocation Failed.\n");
    return -1;
  }
  const int total = EncryptCheckedInto<Cipher>(func, in, key, iv, buf, keyVersion, useRecordIV);
  if (total < 0) {
    std::free(buf);
    return -1;
  }
  buf[total] = 0;
  out->data = buf;
  out->length = total;
  return 0;
}

template <class Cipher>
int BlockDecrypt(const char* func, DataBuffer* in, const void* key, const unsigned char* iv, DataBuffer* out,
                 int32_t nullProcess, int32_t compatibility) {
  using qor::log::kCrit;
  if (in == nullptr || in->data == nullptr || key == nullptr || iv == nullptr || out == nullptr) {
    QOR_LOG_UNIT_AS(kCrit, func, Cipher::kUnit, "%s", Cipher::kTexts.nullInput);
    return -1;
  }
  const int n = in->length;
  if (n < 1) {
    QOR_LOG_UNIT_AS(kCrit, func, Cipher::kUnit, "%s", Cipher::kTexts.shortInput);
    return -1;
  }
  // The ciphers would write a completed last block past the result buffer.
  if (n % Cipher::kBlock != 0) {
    QOR_LOG_UNIT_AS(kCrit, func, Cipher::kUnit, "cipherText length is not a multiple of %d. length = [%d]\n",
               Cipher::kBlock, n);
    return -1;
  }
  // Every byte is written: the cipher fills n, a terminator follows the plaintext.
  auto* buf = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(n) + 1));
  if (buf == nullptr) {
    QOR_LOG_UNIT_AS(kCrit, func, Cipher::kUnit, "Memory Allocation Failed.\n");
    return -1;
  }
  if (!Cipher::Decrypt(*static_cast<const typename Cipher::Ctx*>(key), iv, in->data, buf, n)) {
    QOR_LOG_UNIT_AS(kCrit, func, Cipher::kUnit, "decryption failed. length = [%d]\n", n);
    std::free(buf);
    return -1;
  }
  buf[n] = 0;
  const int p = PaddingCount<Cipher::kBlock>(buf + n - Cipher::kBlock);
  if (p == 0) {
    QOR_LOG_UNIT_AS(kCrit, func, Cipher::kUnit, "padBit is incorrect. padBit = [%d]\n",
                    buf[n - 1]);
    std::free(buf);
    return -1;
  }
  int m = n - p;
  out->data = buf;
  if (compatibility == 0 && m == 1) {
    if (buf[0] == value::kEmptyMarker) {
      out->length = -2;
    } else if (buf[0] == value::kNullMarker && nullProcess != 0) {
      out->length = -3;
    } else {
      buf[1] = 0;
      out->length = 1;
    }
    return 0;
  }
  // The encrypt side appended a blank; an empty plaintext has none to drop.
  const bool blankAppended = value::WritesBlank(compatibility, nullProcess != 0);
  if (blankAppended && m > 0) --m;
  // The value pipeline stores an empty value as the marker byte; without the
  // marker rules above it would come back as that byte instead of as empty.
  if (m == 1 && buf[0] == value::kEmptyMarker) m = 0;
  buf[m] = 0;
  out->length = m;
  return 0;
}

}  // namespace qor::engine::adapters
