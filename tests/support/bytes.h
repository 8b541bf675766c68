// Byte-string helpers shared by the cipher and hash tests: hex texts, seeded
// random data, padding and random split points.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace qor::test {

using Bytes = std::vector<uint8_t>;

// Hex text to bytes, either case; spaces between byte pairs are skipped and
// a trailing odd digit is ignored.
inline Bytes FromHex(std::string_view hex) {
  Bytes out;
  size_t i = 0;
  while (i + 1 < hex.size()) {
    if (hex[i] == ' ') {
      ++i;
      continue;
    }
    out.push_back(static_cast<uint8_t>(std::stoul(std::string(hex.substr(i, 2)), nullptr, 16)));
    i += 2;
  }
  return out;
}

// Lower-case hex text of |n| bytes at |p|.
inline std::string ToHex(const uint8_t* p, size_t n) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string s;
  s.reserve(2 * n);
  for (size_t i = 0; i < n; ++i) {
    s += kDigits[p[i] >> 4];
    s += kDigits[p[i] & 15];
  }
  return s;
}

inline std::string ToHex(const Bytes& b) { return ToHex(b.data(), b.size()); }

// One byte per draw from |rng| (its low eight bits), so a seed always gives
// the same data whatever engine the test uses.
template <class Rng>
void FillRandom(Rng& rng, uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(rng());
}

template <class Rng>
Bytes RandomBytes(Rng& rng, size_t n) {
  Bytes b(n);
  FillRandom(rng, b.data(), n);
  return b;
}

// Appends PKCS#7 padding up to the next multiple of |block| (a whole block
// when already aligned).
inline Bytes Pkcs7Pad(Bytes b, size_t block = 16) {
  const uint8_t pad = static_cast<uint8_t>(block - b.size() % block);
  b.insert(b.end(), pad, pad);
  return b;
}

// True when every byte of |object| is zero (a wiped context, say).
template <class T>
bool AllZero(const T& object) {
  const auto* p = reinterpret_cast<const uint8_t*>(&object);
  return std::all_of(p, p + sizeof(object), [](uint8_t b) { return b == 0; });
}

// Up to five ascending cut points in [0, len] (none for an empty input), for
// feeding a stream in random pieces.
inline std::vector<size_t> RandomSplits(std::mt19937& rng, size_t len) {
  std::vector<size_t> cuts;
  if (len == 0) return cuts;
  const int count = static_cast<int>(rng() % 6);
  for (int i = 0; i < count; ++i) cuts.push_back(rng() % (len + 1));
  std::sort(cuts.begin(), cuts.end());
  return cuts;
}

}  // namespace qor::test
