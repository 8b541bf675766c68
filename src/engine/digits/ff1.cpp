// FF1 (radix 10, AES-128) over digit segments of 2..16 digits, the digit
// context that carries the key schedule, and the cutting of long values into
// segments.
//
// Inside a segment the two halves are kept as 64-bit numbers: a half has at
// most 8 digits, so every round value, sum and power of ten fits. The
// per-segment block CIPH(P) and the per-round PRF input live on the stack of
// the operation, so concurrent operations on one shared context never touch
// common memory other than the read-only context itself.
#include <array>
#include <bit>
#include <cstdlib>
#include <cstring>

#include "common/secure_wipe.h"
#include "engine/digits/digits_internal.h"
#include "log/log.h"
#include "qor/cupin.h"
#include "qor/rijndael.h"

namespace {

constexpr char kLogUnit[] = "source/Pin/CuPIN";

using Block = std::array<unsigned char, 16>;

// Bytes that hold NUM(B) for a half of |v| digits: ceil(ceil(v * log2(10)) / 8).
// log2(10) = 3.321928094887..., scaled by 10^9; no v*log2(10) for v <= 16 is
// within 10^-8 of an integer, so the rounding up is exact.
constexpr int HalfBytes(int v) {
  const uint64_t bits = (static_cast<uint64_t>(v) * 3321928095ULL + 999999999ULL) / 1000000000ULL;
  return static_cast<int>((bits + 7) / 8);
}
static_assert(HalfBytes(1) == 1 && HalfBytes(2) == 1 && HalfBytes(3) == 2 && HalfBytes(5) == 3 &&
              HalfBytes(8) == 4);

constexpr uint64_t kPow10[9] = {1ULL,      10ULL,      100ULL,      1000ULL,     10000ULL,
                                100000ULL, 1000000ULL, 10000000ULL, 100000000ULL};

inline void Encipher(const DigitContext& ctx, const unsigned char in[16], unsigned char out[16]) {
  rijndaelEncrypt(ctx.roundKeys, ctx.aesRounds, in, out);
}

// s mod 10^m with a constant divisor per case, which the compiler turns into
// a multiplication instead of a 64-bit division.
inline uint64_t ReduceMod10(uint64_t s, int m) {
  switch (m) {
    case 1: return s % 10ULL;
    case 2: return s % 100ULL;
    case 3: return s % 1000ULL;
    case 4: return s % 10000ULL;
    case 5: return s % 100000ULL;
    case 6: return s % 1000000ULL;
    case 7: return s % 10000000ULL;
    default: return s % 100000000ULL;
  }
}

inline uint64_t SwapToBig(uint64_t v) {
  if constexpr (std::endian::native == std::endian::little) return __builtin_bswap64(v);
  return v;
}

// Big-endian 64-bit load and store, as one memory access each.
inline uint64_t LoadBe64(const unsigned char* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return SwapToBig(v);
}

inline void StoreBe64(unsigned char* p, uint64_t v) {
  v = SwapToBig(v);
  std::memcpy(p, &v, 8);
}

// Geometry and the keyed blocks of one segment.
struct Segment {
  int n = 0;  // digits in the segment
  int u = 0;  // digits of the left half
  int v = 0;  // digits of the right half
  int b = 0;  // bytes of NUM(B) in Q
  // CIPH(P) XOR (tweak || zero padding) as two big-endian words: the PRF
  // input of every round before the round byte and NUM(B) are added.
  uint64_t baseHigh = 0;
  uint64_t baseLow = 0;
};

// Computes CIPH(P) for an |n|-digit segment and folds the tweak into it; the
// tweak of at most 10 bytes, the round byte and b <= 4 bytes of NUM(B) make Q a
// single block.
void PrepareSegment(const DigitContext& ctx, int n, Segment& seg) {
  seg.n = n;
  seg.u = n / 2;
  seg.v = n - seg.u;
  seg.b = HalfBytes(seg.v);
  const uint32_t t = static_cast<uint32_t>(ctx.tweakLen);
  const unsigned char p[16] = {0x01, 0x02, 0x01, 0x00, 0x00, 0x0A, 0x0A,
                               static_cast<unsigned char>(seg.u & 0xFF),
                               static_cast<unsigned char>(n >> 24), static_cast<unsigned char>(n >> 16),
                               static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n),
                               static_cast<unsigned char>(t >> 24), static_cast<unsigned char>(t >> 16),
                               static_cast<unsigned char>(t >> 8), static_cast<unsigned char>(t)};
  Block base;
  Encipher(ctx, p, base.data());
  for (uint32_t k = 0; k < t; ++k) base[k] ^= ctx.tweak[k];
  seg.baseHigh = LoadBe64(base.data());
  seg.baseLow = LoadBe64(base.data() + 8);
}

// y = NUM(first 8 bytes of CIPH(CIPH(P) XOR Q)) mod 10^m, Q = tweak || 0.. || i || [NUM(B)]^b.
// With b <= 4 the length d of S is 8, so S is one 64-bit number; the round
// byte and NUM(B) both land in the last word of Q.
inline uint64_t RoundValue(const DigitContext& ctx, const Segment& seg, int i, uint64_t numB, int m) {
  Block x;
  StoreBe64(x.data(), seg.baseHigh);
  StoreBe64(x.data() + 8, seg.baseLow ^ ((static_cast<uint64_t>(i & 0xFF) << (8 * seg.b)) | numB));
  Block r;
  Encipher(ctx, x.data(), r.data());
  return ReduceMod10(LoadBe64(r.data()), m);
}

inline uint64_t ParseDigits(const char* p, int count) {
  uint64_t v = 0;
  for (int k = 0; k < count; ++k) v = v * 10 + static_cast<uint64_t>(p[k] - '0');
  return v;
}

inline void WriteDigits(uint64_t v, int count, char* out) {
  for (int k = count - 1; k >= 0; --k) {
    out[k] = static_cast<char>('0' + v % 10);
    v /= 10;
  }
}

bool AllDigits(const char* p, int len) {
  for (int k = 0; k < len; ++k) {
    if (p[k] < '0' || p[k] > '9') return false;
  }
  return true;
}

}  // namespace

namespace qor::digits {

bool CipherSegment(const DigitContext& ctx, const char* in, int n, char* out, bool encrypt) {
  if (n < 2 || n > PIN_MAX_SEGMENT || !AllDigits(in, n)) return false;
  Segment seg;
  PrepareSegment(ctx, n, seg);
  const int rounds = ctx.rounds;
  // After an odd number of rounds the halves come out swapped in size.
  const int finalLeft = (rounds % 2 == 0) ? seg.u : seg.v;
  if (encrypt) {
    uint64_t a = ParseDigits(in, seg.u);
    uint64_t b = ParseDigits(in + seg.u, seg.v);
    for (int i = 0; i < rounds; ++i) {
      const int m = (i % 2 == 0) ? seg.u : seg.v;
      const uint64_t y = RoundValue(ctx, seg, i, b, m);
      uint64_t c = a + y;  // both below 10^m
      if (c >= kPow10[m]) c -= kPow10[m];
      a = b;
      b = c;
    }
    WriteDigits(a, finalLeft, out);
    WriteDigits(b, n - finalLeft, out + finalLeft);
  } else {
    uint64_t a = ParseDigits(in, finalLeft);
    uint64_t b = ParseDigits(in + finalLeft, n - finalLeft);
    for (int i = rounds - 1; i >= 0; --i) {
      const int m = (i % 2 == 0) ? seg.u : seg.v;
      const uint64_t y = RoundValue(ctx, seg, i, a, m);
      const uint64_t c = (b >= y) ? b - y : b + kPow10[m] - y;
      b = a;
      a = c;
    }
    WriteDigits(a, seg.u, out);
    WriteDigits(b, seg.v, out + seg.u);
  }
  return true;
}

int SplitSegments(int len, int sizes[kMaxSegments]) {
  if (len <= PIN_MAX_SEGMENT) {
    sizes[0] = len;
    return 1;
  }
  const int s = (len % 16 == 1) ? 15 : 16;
  int count = 0;
  int rest = len;
  while (rest > s) {
    sizes[count++] = s;
    rest -= s;
  }
  sizes[count++] = rest;
  // A one-digit tail (241 digits: sixteen 15s and a 1) is below FF1's minimum
  // of two digits; the segment before it hands it one digit (..., 14, 2).
  if (rest == 1) {
    sizes[count - 2] -= 1;
    sizes[count - 1] = 2;
  }
  return count;
}

int CipherDigits(const DigitContext* ctx, const char* digits, int len, CharBlock* out, bool encrypt) {
  if (out != nullptr) out->count = 0;
  if (len < 2) return -1;
  if (len > PIN_MAX_DIGITS) return -2;
  if (ctx == nullptr || digits == nullptr || out == nullptr) return -1;
  int sizes[kMaxSegments];
  const int count = SplitSegments(len, sizes);
  int pos = 0;
  for (int k = 0; k < count; ++k) {
    if (!CipherSegment(*ctx, digits + pos, sizes[k], out->data + pos, encrypt)) return -1;
    pos += sizes[k];
  }
  out->data[len] = '\0';
  out->count = static_cast<uint32_t>(len);
  return 0;
}

}  // namespace qor::digits

extern "C" {

DigitContext* initRadix10(int rounds, const unsigned char* key, int keyLen, const unsigned char* tweak,
                          int tweakLen) {
  if (key == nullptr || keyLen != 16) return nullptr;
  if (tweak != nullptr && (tweakLen < 0 || tweakLen > PIN_MAX_TWEAK)) return nullptr;
  auto* ctx = static_cast<DigitContext*>(std::calloc(1, sizeof(DigitContext)));
  if (ctx == nullptr) {
    QOR_LOG(qor::log::kError, "Memory Allocation Failed.\n");
    return nullptr;
  }
  std::memcpy(ctx->key, key, 16);
  ctx->keyLen = 16;
  if (tweak != nullptr) {
    if (tweakLen > 0) std::memcpy(ctx->tweak, tweak, static_cast<size_t>(tweakLen));
    ctx->tweakLen = tweakLen;
  } else {
    std::memcpy(ctx->tweak, _internal_tweak, PIN_MAX_TWEAK);
    ctx->tweakLen = PIN_MAX_TWEAK;
  }
  ctx->rounds = rounds < 4 ? 10 : rounds;
  ctx->aesRounds = rijndaelKeySetupEnc(ctx->roundKeys, ctx->key, 128);
  if (ctx->aesRounds != 10) {
    removeRadix10(&ctx);
    return nullptr;
  }
  return ctx;
}

void removeRadix10(DigitContext** ctx) {
  if (ctx == nullptr || *ctx == nullptr) return;
  qor::SecureWipe(*ctx, sizeof(DigitContext));
  std::free(*ctx);
  *ctx = nullptr;
}

int encryptRadix10(const DigitContext* ctx, const char* digits, int len, CharBlock* out) {
  return qor::digits::CipherDigits(ctx, digits, len, out, true);
}

int decryptRadix10(const DigitContext* ctx, const char* digits, int len, CharBlock* out) {
  return qor::digits::CipherDigits(ctx, digits, len, out, false);
}

int encryptSegment(const DigitContext* ctx, const char* digits, int len, CharBlock* out) {
  if (out != nullptr) out->count = 0;
  if (ctx == nullptr || digits == nullptr || out == nullptr) return -1;
  if (!qor::digits::CipherSegment(*ctx, digits, len, out->data, true)) return -1;
  out->data[len] = '\0';
  out->count = static_cast<uint32_t>(len);
  return 0;
}

int decryptSegment(const DigitContext* ctx, const char* digits, int len, CharBlock* out) {
  if (out != nullptr) out->count = 0;
  if (ctx == nullptr || digits == nullptr || out == nullptr) return -1;
  if (!qor::digits::CipherSegment(*ctx, digits, len, out->data, false)) return -1;
  out->data[len] = '\0';
  out->count = static_cast<uint32_t>(len);
  return 0;
}

uint64_t FK(const DigitContext* ctx, const unsigned char ciphP[16], int n, int i, const CharBlock* B) {
  if (ctx == nullptr || ciphP == nullptr || B == nullptr || n < 2 || n > PIN_MAX_SEGMENT) return 0;
  if (B->count > 256) return 0;
  const int u = n / 2;
  const int v = n - u;
  const int b = HalfBytes(v);
  const int m = (i % 2 == 0) ? u : v;
  const uint64_t numB = toNumRadix10(B);
  const int t = ctx->tweakLen;
  // Q = tweak || zeros || i || [NUM(B)]^b fills exactly one block here.
  Block q{};
  std::memcpy(q.data(), ctx->tweak, static_cast<size_t>(t));
  q[15 - b] = static_cast<unsigned char>(i);
  for (int k = 0; k < b; ++k) q[15 - k] = static_cast<unsigned char>(numB >> (8 * k));
  Block prfInput;
  for (int k = 0; k < 16; ++k) prfInput[k] = ciphP[k] ^ q[k];
  Block r;
  Encipher(*ctx, prfInput.data(), r.data());
  // S is the first d = 4 * ceil(b / 4) + 4 = 8 bytes; reduce it byte by byte.
  const uint64_t modulus = Radix[m];
  uint64_t y = 0;
  for (int k = 0; k < 4 * ((b + 3) / 4) + 4; ++k) y = (y * 256 + r[k]) % modulus;
  return y;
}

}  // extern "C"
