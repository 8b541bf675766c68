// CBC streaming over 16-byte blocks, shared by the ARIA and LEA contexts.
// A context type provides the fields padding, iv, chain, buf and bufLen; the
// cipher is handed in as two callables that CBC-process whole blocks and keep
// the chaining value up to date:
//   enc(in, out, blocks, chain) / dec(in, out, blocks, chain)
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/secure_wipe.h"

namespace qor::primitives {

namespace stream16 {

constexpr int kSameBufferOrPadding = 4097;
constexpr int kPartialWithoutPadding = 4100;
constexpr int kIncompleteUnit = 4101;
constexpr int kUnknownPadding = -4081;
constexpr int kBadPadding = -4083;
constexpr int kPadNone = 1;
constexpr int kPadBlock = 2;
constexpr size_t kBlock = 16;

template <class Ctx>
int SetAlgInfo(Ctx* ctx, int mode, int padding, const uint8_t* iv) {
  if (ctx == nullptr) return -1;
  ctx->mode = mode;
  ctx->padding = padding;
  if (iv != nullptr) {
    std::memcpy(ctx->iv, iv, kBlock);
  } else {
    std::memset(ctx->iv, 0, kBlock);
  }
  return 0;
}

template <class Ctx>
int Init(Ctx* ctx) {
  if (ctx == nullptr) return -1;
  ctx->bufLen = 0;
  std::memcpy(ctx->chain, ctx->iv, kBlock);
  return 0;
}

// Encrypts every whole unit of buffer + input; 0..15 bytes stay buffered.
template <class Ctx, class Enc>
int EncUpdate(Ctx* ctx, const uint8_t* in, int inLen, uint8_t* out, int* outLen, Enc&& enc) {
  if (ctx == nullptr || outLen == nullptr || inLen < 0 || (inLen > 0 && in == nullptr)) return -1;
  if (in != nullptr && in == out) return kSameBufferOrPadding;
  *outLen = 0;
  if (ctx->bufLen < 0 || ctx->bufLen > static_cast<int32_t>(kBlock)) return -1;
  size_t have = static_cast<size_t>(ctx->bufLen);
  size_t left = static_cast<size_t>(inLen);
  if (have + left < kBlock) {
    if (left) std::memcpy(ctx->buf + have, in, left);
    ctx->bufLen = static_cast<int32_t>(have + left);
    return 0;
  }
  if (out == nullptr) return -1;
  size_t written = 0;
  if (have > 0) {
    const size_t take = kBlock - have;
    std::memcpy(ctx->buf + have, in, take);
    in += take;
    left -= take;
    enc(ctx->buf, out, 1, ctx->chain);
    written = kBlock;
  }
  const size_t blocks = left / kBlock;
  if (blocks) {
    enc(in, out + written, blocks, ctx->chain);
    written += blocks * kBlock;
    in += blocks * kBlock;
    left -= blocks * kBlock;
  }
  if (left) std::memcpy(ctx->buf, in, left);
  ctx->bufLen = static_cast<int32_t>(left);
  *outLen = static_cast<int>(written);
  return 0;
}

template <class Ctx, class Enc>
int EncFinal(Ctx* ctx, uint8_t* out, int* outLen, Enc&& enc) {
  if (ctx == nullptr || outLen == nullptr) return -1;
  if (ctx->bufLen < 0 || ctx->bufLen > static_cast<int32_t>(kBlock)) return -1;
  if (ctx->padding == kPadNone) {
    if (ctx->bufLen != 0) return kPartialWithoutPadding;
    *outLen = 0;
    return 0;
  }
  if (ctx->padding != kPadBlock) return kSameBufferOrPadding;
  if (out == nullptr) return -1;
  // bufLen is at most 15 after an Update; 16 cannot be left over.
  const size_t have = static_cast<size_t>(ctx->bufLen) % kBlock;
  const auto pad = static_cast<uint8_t>(kBlock - have);
  std::memset(ctx->buf + have, pad, pad);
  enc(ctx->buf, out, 1, ctx->chain);
  qor::SecureWipe(ctx->buf, kBlock);
  ctx->bufLen = 0;
  *outLen = static_cast<int>(kBlock);
  return 0;
}

// Decrypts every whole unit except the last, which waits for Final.
template <class Ctx, class Dec>
int DecUpdate(Ctx* ctx, const uint8_t* in, int inLen, uint8_t* out, int* outLen, Dec&& dec) {
  if (ctx == nullptr || outLen == nullptr || inLen < 0 || (inLen > 0 && in == nullptr)) return -1;
  if (in != nullptr && in == out) return kSameBufferOrPadding;
  *outLen = 0;
  if (ctx->bufLen < 0 || ctx->bufLen > static_cast<int32_t>(kBlock)) return -1;
  size_t have = static_cast<size_t>(ctx->bufLen);
  size_t left = static_cast<size_t>(inLen);
  if (have + left <= kBlock) {
    if (left) std::memcpy(ctx->buf + have, in, left);
    ctx->bufLen = static_cast<int32_t>(have + left);
    return 0;
  }
  if (out == nullptr) return -1;
  size_t written = 0;
  if (have > 0) {
    const size_t take = kBlock - have;
    std::memcpy(ctx->buf + have, in, take);
    in += take;
    left -= take;
    dec(ctx->buf, out, 1, ctx->chain);
    written = kBlock;
  }
  // left > 0 here; keep 1..16 bytes for the buffer.
  const size_t blocks = (left - 1) / kBlock;
  if (blocks) {
    dec(in, out + written, blocks, ctx->chain);
    written += blocks * kBlock;
    in += blocks * kBlock;
    left -= blocks * kBlock;
  }
  std::memcpy(ctx->buf, in, left);
  ctx->bufLen = static_cast<int32_t>(left);
  *outLen = static_cast<int>(written);
  return 0;
}

template <class Ctx, class Dec>
int DecFinal(Ctx* ctx, uint8_t* out, int* outLen, Dec&& dec) {
  if (ctx == nullptr || outLen == nullptr) return -1;
  if (ctx->bufLen == 0) {
    *outLen = 0;
    return 0;
  }
  if (ctx->bufLen != static_cast<int32_t>(kBlock)) return kIncompleteUnit;
  if (ctx->padding != kPadNone && ctx->padding != kPadBlock) {
    *outLen = kUnknownPadding;
    return 0;
  }
  if (out == nullptr) return -1;
  uint8_t plain[kBlock];
  dec(ctx->buf, plain, 1, ctx->chain);
  ctx->bufLen = 0;
  int produced = static_cast<int>(kBlock);
  if (ctx->padding == kPadBlock) {
    const uint8_t p = plain[kBlock - 1];
    bool ok = p >= 1 && p <= kBlock;
    for (size_t i = 0; ok && i + 1 < p; ++i) ok = plain[kBlock - 2 - i] == p;
    produced = ok ? static_cast<int>(kBlock - p) : kBadPadding;
  }
  if (produced > 0) std::memcpy(out, plain, static_cast<size_t>(produced));
  qor::SecureWipe(plain, sizeof plain);
  qor::SecureWipe(ctx->buf, kBlock);
  *outLen = produced;
  return 0;
}

}  // namespace stream16
}  // namespace qor::primitives
