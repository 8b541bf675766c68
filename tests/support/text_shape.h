// Whole-text matching against a small shape language, for tests that check
// the form of a log line, a file name or a record without <regex> (which
// costs every file that includes it seconds of compile time):
//   #      one digit
//   X+     one or more of the atom X (a digit '#' or a character), longest first;
//          the digits of each '#+' are captured in order
//   *      any run of characters, shortest first
//   \c     the character c itself; any other character is itself
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qor::test {

namespace shape_detail {

inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

inline bool Match(std::string_view text, std::string_view shape, std::vector<std::string>* digits) {
  if (shape.empty()) return text.empty();
  const size_t mark = digits != nullptr ? digits->size() : 0;
  const auto undo = [&] {
    if (digits != nullptr) digits->resize(mark);
  };
  if (shape[0] == '*') {
    for (size_t n = 0; n <= text.size(); ++n) {
      if (Match(text.substr(n), shape.substr(1), digits)) return true;
      undo();
    }
    return false;
  }
  // One atom: a digit, or a character (escaped or not).
  const bool digit = shape[0] == '#';
  size_t atom = 1;
  char c = shape[0];
  if (c == '\\' && shape.size() > 1) {
    c = shape[1];
    atom = 2;
  }
  const auto fits = [&](char t) { return digit ? IsDigit(t) : t == c; };
  if (shape.size() > atom && shape[atom] == '+') {
    size_t run = 0;
    while (run < text.size() && fits(text[run])) ++run;
    for (size_t n = run; n >= 1; --n) {
      if (digit && digits != nullptr) digits->emplace_back(text.substr(0, n));
      if (Match(text.substr(n), shape.substr(atom + 1), digits)) return true;
      undo();
    }
    return false;
  }
  return !text.empty() && fits(text[0]) && Match(text.substr(1), shape.substr(atom), digits);
}

}  // namespace shape_detail

// True when all of |text| has |shape|; the digits of each "#+" go to
// |digits| (when given) in order.
inline bool MatchesShape(std::string_view text, std::string_view shape,
                         std::vector<std::string>* digits = nullptr) {
  if (digits != nullptr) digits->clear();
  return shape_detail::Match(text, shape, digits);
}

}  // namespace qor::test
