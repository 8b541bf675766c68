// Reads decimal numbers from policy texts the way "%d<sep>%d..." would, but
// never past the text's end and never with an overflowing value.
#pragma once

#include <climits>
#include <cstdint>
#include <string_view>

namespace qor {

// Reads |count| numbers separated by |separator| from the start of |text|:
// each may follow blanks and carry a sign, and the separator must follow the
// previous number directly. Whatever comes after the last number is ignored.
// False when a number is missing or does not fit an int.
inline bool ScanInts(std::string_view text, char separator, int* values, int count) {
  size_t i = 0;
  for (int k = 0; k < count; ++k) {
    if (k > 0) {
      if (i >= text.size() || text[i] != separator) return false;
      ++i;
    }
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const size_t first = i;
    int64_t v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
      v = v * 10 + (text[i] - '0');
      if (v > static_cast<int64_t>(INT_MAX) + 1) return false;
    }
    if (i == first) return false;
    if (negative) v = -v;
    if (v > INT_MAX || v < INT_MIN) return false;
    values[k] = static_cast<int>(v);
  }
  return true;
}

}  // namespace qor
