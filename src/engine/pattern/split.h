// Splitting a text value into a clear front, a segment and a clear back for
// partial encryption. The views point into the caller's text, which need not
// be zero-terminated; nothing here reads past its length.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "qor/ua_cipher_util.h"

namespace qor::engine {

struct SplitParts {
  std::string_view front;
  std::string_view middle;
  std::string_view back;
};

// At the first occurrence of |separator| that lies wholly inside |text|:
// front before it, middle = the separator, back after it. None without one.
std::optional<SplitParts> SplitAtSeparator(std::string_view text, std::string_view separator);

// |clear| characters kept at the front (position FRONT) or at the back (any
// other position) with |middle| characters beside them. None when either is
// negative or together they exceed the text.
std::optional<SplitParts> SplitMiddle(std::string_view text, int64_t clear, int64_t middle,
                                      int position);

// "A,B" from the first 8 characters of |pattern|; false unless both are read
// and neither is negative.
bool ReadMiddlePattern(std::string_view pattern, int* clear, int* middle);

// The text length of |plain| bytes encrypted under |object|'s head record
// (|plain| itself without an object).
int64_t EncryptedTextLength(int64_t plain, UACipherUtil** object);

// The middle length to cut for |middle| plaintext characters: the number
// itself for encryption (no object), the predicted encrypted length for
// decryption under |object|.
int64_t MiddleLength(int middle, UACipherUtil** object);

// Frees the three texts of |result| and clears them; NULL is a no-op.
void FreeSplitResult(SplitResult* result);

}  // namespace qor::engine
