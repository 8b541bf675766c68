// Offsets of the encrypted file header. Type 1 has no key version; type 2
// holds one after the key name, and every later field moves by its 2 bytes.
#pragma once

#include <cstdint>
#include <cstring>

#include "qor/qorfile.h"

namespace qor::file {

inline constexpr int kMarkerOffset = 0;
inline constexpr int kTypeOffset = 1;
inline constexpr int kTimeOffset = 2;
inline constexpr int kAddressOffset = 10;
inline constexpr int kAddressSize = 15;
inline constexpr int kKeyNameOffset = 25;
inline constexpr int kKeyNameSize = 128;
inline constexpr int kVersionOffset = kKeyNameOffset + kKeyNameSize;  // 153, type 2 only
inline constexpr char kMagic[] = "UXFENC";
inline constexpr int kMagicSize = 6;

struct Layout {
  bool hasVersion;
  int ciphertextDigest;
  int plaintextDigest;
  int ivBlock;
  int magic;
  int size;
};

constexpr Layout LayoutFor(bool hasVersion) {
  const int base = kVersionOffset + (hasVersion ? 2 : 0);
  return Layout{hasVersion,
                base,
                base + QOR_FILE_DIGEST_SIZE,
                base + 2 * QOR_FILE_DIGEST_SIZE,
                base + 2 * QOR_FILE_DIGEST_SIZE + QOR_FILE_IV_BLOCK_SIZE,
                base + 2 * QOR_FILE_DIGEST_SIZE + QOR_FILE_IV_BLOCK_SIZE + kMagicSize};
}
static_assert(LayoutFor(false).size == QOR_FILE_HEADER_TYPE1_SIZE);
static_assert(LayoutFor(true).size == QOR_FILE_HEADER_TYPE2_SIZE);
static_assert(LayoutFor(true).magic == 235 && LayoutFor(false).magic == 233);

inline void StoreBigEndian64(unsigned char* out, uint64_t v) {
  for (int i = 7; i >= 0; --i, v >>= 8) out[i] = static_cast<unsigned char>(v);
}
inline uint64_t LoadBigEndian64(const unsigned char* in) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | in[i];
  return v;
}

// The header's own layout (by its type byte), as read from a file's first
// 241 bytes.
inline Layout LayoutOf(const unsigned char* header) {
  return LayoutFor(header[kTypeOffset] == QOR_FILE_HEADER_TYPE2);
}

// Marker byte and magic where the type byte puts them. The magic is compared
// as "UXFE" then "NC".
inline bool LooksEncrypted(const unsigned char* header) {
  if (header[kMarkerOffset] != QOR_FILE_MARKER) return false;
  const unsigned char* magic = header + LayoutOf(header).magic;
  return std::memcmp(magic, "UXFE", 4) == 0 && std::memcmp(magic + 4, "NC", 2) == 0;
}

}  // namespace qor::file
