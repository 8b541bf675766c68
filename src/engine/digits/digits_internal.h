// Internal entry points of the digit encryption shared by its source files and
// its tests.
#pragma once

#include "qor/cupin.h"

namespace qor::digits {

// Most segments a value of 255 digits can have (seventeen of 15 digits).
inline constexpr int kMaxSegments = 17;

// FF1 of one segment of 2..16 digits from |in| to |out| (n bytes, no
// terminator). False for a bad length or a non-digit.
bool CipherSegment(const DigitContext& ctx, const char* in, int n, char* out, bool encrypt);

// Cuts a value of 2..255 digits into segment sizes, in order; returns the
// number of segments. Every segment has 2..16 digits.
int SplitSegments(int len, int sizes[kMaxSegments]);

// encryptRadix10 / decryptRadix10.
int CipherDigits(const DigitContext* ctx, const char* digits, int len, CharBlock* out, bool encrypt);

}  // namespace qor::digits
