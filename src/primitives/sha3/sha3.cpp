#include "qor/sha3.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "common/secure_wipe.h"
#include "primitives/byte_order.h"
#include "primitives/sha3/keccak.h"

namespace {

constexpr std::uint32_t kStateBits = 1600;
constexpr std::uint8_t kSha3Suffix = 0x06;
constexpr std::uint8_t kShakeSuffix = 0x1F;

bool SupportedSize(int bits, int shake) {
  if (shake != 0) return bits == 128 || bits == 256;
  return bits == 224 || bits == 256 || bits == 384 || bits == 512;
}

// A context is usable only between sha3_init and sha3_final; sha3_final wipes
// it, so a finished (or never started, zeroed) context is refused.
bool Usable(const SHA3_CTX* ctx) {
  if (ctx == nullptr) return false;
  const std::uint32_t rate = ctx->rate;
  const bool knownRate = rate == 1152 || rate == 1088 || rate == 832 || rate == 576 || rate == 1344;
  return knownRate && ctx->capacity == kStateBits - rate && ctx->pos < rate / 8 &&
         (ctx->suffix == kSha3Suffix || ctx->suffix == kShakeSuffix);
}

using qor::primitives::LoadLe64;

// Byte |i| of the state is byte i % 8 (little-endian) of lane i / 8.
inline void XorByte(std::uint64_t* state, std::size_t i, std::uint8_t b) {
  state[i >> 3] ^= std::uint64_t{b} << (8 * (i & 7));
}

void XorBytes(std::uint64_t* state, std::size_t pos, const std::uint8_t* in, std::size_t n) {
  // Leading bytes up to a lane boundary, whole lanes, then the tail.
  while (n > 0 && (pos & 7) != 0) {
    XorByte(state, pos++, *in++);
    --n;
  }
  for (; n >= 8; n -= 8, pos += 8, in += 8) state[pos >> 3] ^= LoadLe64(in);
  while (n > 0) {
    XorByte(state, pos++, *in++);
    --n;
  }
}

// Absorbs whole rate blocks; the lane count is a template argument so the
// loop unrolls for each of the five rates.
template <std::size_t kLanes>
std::size_t AbsorbBlocks(std::uint64_t* state, const std::uint8_t* in, std::size_t len) {
  constexpr std::size_t kBlock = kLanes * 8;
  const qor::sha3::PermuteFn permute = qor::sha3::ActivePermute();
  std::size_t done = 0;
  for (; len - done >= kBlock; done += kBlock) {
#pragma GCC unroll 21
    for (std::size_t i = 0; i < kLanes; ++i) state[i] ^= LoadLe64(in + done + 8 * i);
    permute(state);
  }
  return done;
}

std::size_t AbsorbWholeBlocks(std::uint64_t* state, std::size_t rateBytes, const std::uint8_t* in,
                              std::size_t len) {
  switch (rateBytes) {
    case 144: return AbsorbBlocks<18>(state, in, len);
    case 136: return AbsorbBlocks<17>(state, in, len);
    case 104: return AbsorbBlocks<13>(state, in, len);
    case 72: return AbsorbBlocks<9>(state, in, len);
    case 168: return AbsorbBlocks<21>(state, in, len);
    default: return 0;
  }
}

}  // namespace

extern "C" {

int sha3_init(SHA3_CTX* ctx, int bits, int shake) {
  if (ctx == nullptr || !SupportedSize(bits, shake)) return 1;
  std::memset(ctx->state, 0, sizeof ctx->state);
  ctx->capacity = 2u * static_cast<std::uint32_t>(bits);
  ctx->rate = kStateBits - ctx->capacity;
  ctx->pos = 0;
  ctx->suffix = shake != 0 ? kShakeSuffix : kSha3Suffix;
  return 0;
}

int sha3_update(SHA3_CTX* ctx, const std::uint8_t* in, std::size_t len) {
  if (!Usable(ctx) || (in == nullptr && len > 0)) return 1;
  const std::size_t rateBytes = ctx->rate / 8;
  std::size_t pos = ctx->pos;
  if (pos != 0) {
    const std::size_t take = std::min(len, rateBytes - pos);
    XorBytes(ctx->state, pos, in, take);
    pos += take;
    in += take;
    len -= take;
    if (pos < rateBytes) {
      ctx->pos = static_cast<std::uint32_t>(pos);
      return 0;
    }
    qor::sha3::KeccakF1600(ctx->state);
    pos = 0;
  }
  const std::size_t done = AbsorbWholeBlocks(ctx->state, rateBytes, in, len);
  XorBytes(ctx->state, 0, in + done, len - done);
  ctx->pos = static_cast<std::uint32_t>(len - done);
  return 0;
}

int sha3_final(SHA3_CTX* ctx, std::uint8_t* out, std::size_t outLen) {
  if (!Usable(ctx) || (out == nullptr && outLen > 0)) return 1;
  const std::size_t rateBytes = ctx->rate / 8;
  XorByte(ctx->state, ctx->pos, ctx->suffix);
  XorByte(ctx->state, rateBytes - 1, 0x80);
  const qor::sha3::PermuteFn permute = qor::sha3::ActivePermute();
  permute(ctx->state);
  while (outLen > 0) {
    const std::size_t n = std::min(outLen, rateBytes);
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(out, ctx->state, n);
    } else {
      for (std::size_t i = 0; i < n; ++i) {
        out[i] = static_cast<std::uint8_t>(ctx->state[i >> 3] >> (8 * (i & 7)));
      }
    }
    out += n;
    outLen -= n;
    if (outLen > 0) permute(ctx->state);
  }
  qor::SecureWipe(ctx, sizeof *ctx);
  return 0;
}

int sha3_hash(std::uint8_t* out, std::size_t outLen, const std::uint8_t* in, std::size_t inLen,
              int bits, int shake) {
  if (!SupportedSize(bits, shake)) return 1;
  if (shake == 0 && outLen != static_cast<std::size_t>(bits) / 8) return 1;
  if ((out == nullptr && outLen > 0) || (in == nullptr && inLen > 0)) return 1;
  SHA3_CTX ctx;
  sha3_init(&ctx, bits, shake);
  sha3_update(&ctx, in, inLen);
  return sha3_final(&ctx, out, outLen);
}

}  // extern "C"
