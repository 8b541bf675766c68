// The stored value, byte by byte. Whatever writes, reads, sizes or recognises
// an encrypted value takes its facts from here; it sits in common so that
// every layer can (the Base64 writer in primitives adds the text prefix).
//
// Binary form, block ciphers:   [prefix] ciphertext [tail]
//   prefix      kPrefixBytes: key version high byte, low byte, kVersionMarker.
//               Written when the key version is not 0; version 0 writes none.
//   ciphertext  the value, the compatibility blank when WritesBlank, then
//               padding to the cipher's block: 1..block bytes, each holding
//               the count (a whole block when the length is a multiple).
//   tail        kTailBytes: the record IV, the first 4 bytes of the IV this
//               value was encrypted with, in native byte order. Written when
//               the policy uses record IVs.
// Text form: kTextPrefix (compatibility 0 only), then Base64 of the binary
// form. Digests and digit strings carry neither prefix nor tail.
#pragma once

#include <cstdint>

namespace qor::value {

inline constexpr int kPrefixBytes = 3;
inline constexpr int kVersionMarkerAt = 2;
inline constexpr unsigned char kVersionMarker = 0xFE;
inline constexpr int kTailBytes = 4;

inline constexpr char kTextPrefix[] = "$.";
inline constexpr int kTextPrefixChars = 2;

// The one-byte stand-ins the value pipeline encrypts in place of a value it
// does not have, named by what encryption writes them for. Decrypted, with
// compatibility 0: kEmptyMarker gives length -2 (no value produced);
// kNullMarker gives -3 when the policy processes nulls, else the one byte
// itself. With any other compatibility kEmptyMarker gives the empty value and
// kNullMarker the one byte.
inline constexpr unsigned char kEmptyMarker = 0x06;
inline constexpr unsigned char kNullMarker = 0x07;
inline constexpr int kMarkerBytes = 1;

// The blank appended to the value before padding, which decryption drops.
inline constexpr unsigned char kBlank = ' ';
inline constexpr int kBlankBytes = 1;
constexpr bool WritesBlank(int compatibility, bool nullProcess) {
  return compatibility == 1 || compatibility == 3 || (compatibility == 2 && nullProcess);
}

inline constexpr int kLargestBlock = 16;

// Encryption appends the blank and pads in place in the caller's buffer:
// callers of the value operations leave this much room after a value.
inline constexpr int kSpareBytes = kBlankBytes + kLargestBlock;
// The value pipeline's working copy: a missing value becomes a marker byte
// that the caller's length does not count, and one byte behind the padding
// is kept free as the pipeline always has.
inline constexpr int kPipelineSpare = kMarkerBytes + kSpareBytes + 1;

// Bytes of the binary form of |plain| bytes under a cipher of |block| bytes.
constexpr int64_t EncryptedBinaryLength(int64_t plain, int block, bool blank, bool prefix,
                                        bool tail) {
  return ((plain + (blank ? kBlankBytes : 0)) / block + 1) * block +
         (prefix ? kPrefixBytes : 0) + (tail ? kTailBytes : 0);
}

// Characters of the text form of |binary| bytes.
constexpr int64_t EncryptedTextLength(int64_t binary, bool textPrefix) {
  return (textPrefix ? kTextPrefixChars : 0) + (binary + 2) / 3 * 4;
}

static_assert(kSpareBytes == 17 && kPipelineSpare == 19);
static_assert(EncryptedBinaryLength(16, 16, false, true, true) == 39);
static_assert(EncryptedTextLength(39, true) == 54);

}  // namespace qor::value
