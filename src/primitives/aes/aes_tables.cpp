#include "primitives/aes/aes_tables.h"

#include <memory>

namespace qor::aes {
namespace {

constexpr uint32_t RotateRight(uint32_t w, int bits) { return bits == 0 ? w : (w >> bits) | (w << (32 - bits)); }

constexpr uint8_t RotateLeft8(uint8_t b, int bits) {
  return static_cast<uint8_t>((b << bits) | (b >> (8 - bits)));
}

// Doubling in GF(2^8) with the field polynomial x^8 + x^4 + x^3 + x + 1.
constexpr uint8_t XTime(uint8_t b) {
  return static_cast<uint8_t>((b << 1) ^ ((b & 0x80) ? 0x1B : 0x00));
}

std::unique_ptr<Tables> BuildTables() {
  auto t = std::make_unique<Tables>();

  // 3 generates the multiplicative group, so walking its powers fills both
  // the exponent and the logarithm table.
  uint8_t power[256];
  uint8_t logarithm[256] = {};
  uint8_t x = 1;
  for (int i = 0; i < 255; ++i) {
    power[i] = x;
    logarithm[x] = static_cast<uint8_t>(i);
    x = static_cast<uint8_t>(x ^ XTime(x));
  }
  power[255] = power[0];

  auto mul = [&](uint8_t a, uint8_t b) -> uint32_t {
    if (a == 0 || b == 0) return 0;
    return power[(logarithm[a] + logarithm[b]) % 255];
  };

  for (int i = 0; i < 256; ++i) {
    const uint8_t inverse = i == 0 ? 0 : power[(255 - logarithm[i]) % 255];
    const uint8_t s = static_cast<uint8_t>(inverse ^ RotateLeft8(inverse, 1) ^ RotateLeft8(inverse, 2) ^
                                           RotateLeft8(inverse, 3) ^ RotateLeft8(inverse, 4) ^ 0x63);
    t->sbox[i] = s;
    t->invSbox[s] = static_cast<uint8_t>(i);
  }

  for (int i = 0; i < 256; ++i) {
    const uint8_t s = t->sbox[i];
    const uint32_t e = (mul(2, s) << 24) | (uint32_t{s} << 16) | (uint32_t{s} << 8) | mul(3, s);
    const uint8_t v = t->invSbox[i];
    const uint32_t d = (mul(14, v) << 24) | (mul(9, v) << 16) | (mul(13, v) << 8) | mul(11, v);
    for (int k = 0; k < 4; ++k) {
      t->te[k][i] = RotateRight(e, 8 * k);
      t->td[k][i] = RotateRight(d, 8 * k);
    }
  }

  uint8_t rc = 1;
  for (auto& word : t->rcon) {
    word = uint32_t{rc} << 24;
    rc = XTime(rc);
  }
  return t;
}

}  // namespace

const Tables& GetTables() {
  // Function-local static: built exactly once, before any thread can read it.
  // Never freed, so code running from exit handlers can still use it.
  static const Tables* const tables = BuildTables().release();
  return *tables;
}

}  // namespace qor::aes
