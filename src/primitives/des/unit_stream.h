// Init/Update/Final bookkeeping shared by the streaming cipher contexts that
// work in 16-byte units (SEED, triple DES). The cipher supplies
//   Ops::Encrypt(ctx, in, out, units) and Ops::Decrypt(ctx, in, out, units),
// which process whole units and keep ctx->chain up to date.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/secure_wipe.h"

namespace qor::unit_stream {

inline constexpr int32_t kUnit = 16;
inline constexpr int kSameBuffer = 4097;
inline constexpr int kBadPaddingCode = 4097;
inline constexpr int kUnpaddedRemainder = 4100;
inline constexpr int kIncompleteUnit = 4101;
inline constexpr int32_t kUnknownPaddingLen = -4081;
inline constexpr int32_t kBadPaddingLen = -4083;
inline constexpr int32_t kNoPadding = 1;
inline constexpr int32_t kBlockPadding = 2;

template <class Ctx>
int SetAlgInfo(int32_t mode, int32_t padding, const uint8_t* iv, Ctx* ctx, bool null_iv_zeroes) {
  if (ctx == nullptr) return -1;
  ctx->mode = mode;
  ctx->padding = padding;
  if (iv != nullptr) {
    std::memcpy(ctx->iv, iv, sizeof(ctx->iv));
  } else if (null_iv_zeroes) {
    std::memset(ctx->iv, 0, sizeof(ctx->iv));
  }
  return 0;
}

template <class Ctx>
int Init(Ctx* ctx) {
  if (ctx == nullptr) return -1;
  ctx->buffered = 0;
  std::memcpy(ctx->chain, ctx->iv, sizeof(ctx->chain));
  return 0;
}

// Common argument checks of the Update calls. Returns 0 to go on.
template <class Ctx>
int CheckUpdate(Ctx* ctx, const uint8_t* in, int32_t inLen, uint8_t* out, int32_t* outLen) {
  if (outLen != nullptr) *outLen = 0;
  // The output length (up to inLen + 16) must fit the int32 result.
  if (ctx == nullptr || outLen == nullptr || inLen < 0 || inLen > INT32_MAX - 32) return -1;
  if (in != nullptr && in == out) return kSameBuffer;
  if (inLen > 0 && (in == nullptr || out == nullptr)) return -1;
  if (ctx->buffered < 0 || ctx->buffered > kUnit) return -1;  // context never initialised
  return 0;
}

template <class Ops, class Ctx>
int EncUpdate(Ctx* ctx, const uint8_t* in, int32_t inLen, uint8_t* out, int32_t* outLen) {
  if (int rc = CheckUpdate(ctx, in, inLen, out, outLen); rc != 0) return rc;
  const size_t buffered = static_cast<size_t>(ctx->buffered);
  size_t remaining = static_cast<size_t>(inLen);
  if (buffered + remaining < static_cast<size_t>(kUnit)) {
    if (remaining > 0) std::memcpy(ctx->buf + buffered, in, remaining);
    ctx->buffered = static_cast<int32_t>(buffered + remaining);
    return 0;
  }
  size_t produced = 0;
  if (buffered > 0) {
    const size_t fill = kUnit - buffered;
    std::memcpy(ctx->buf + buffered, in, fill);
    in += fill;
    remaining -= fill;
    Ops::Encrypt(ctx, ctx->buf, out, 1);
    produced = kUnit;
  }
  const size_t units = remaining / kUnit;
  if (units > 0) Ops::Encrypt(ctx, in, out + produced, units);
  produced += units * kUnit;
  in += units * kUnit;
  remaining -= units * kUnit;
  if (remaining > 0) std::memcpy(ctx->buf, in, remaining);
  ctx->buffered = static_cast<int32_t>(remaining);
  *outLen = static_cast<int32_t>(produced);
  return 0;
}

template <class Ops, class Ctx>
int EncFinal(Ctx* ctx, uint8_t* out, int32_t* outLen) {
  if (outLen != nullptr) *outLen = 0;
  if (ctx == nullptr || outLen == nullptr || ctx->buffered < 0 || ctx->buffered > kUnit) return -1;
  if (ctx->padding == kNoPadding) {
    if (ctx->buffered != 0) return kUnpaddedRemainder;
    return 0;
  }
  if (ctx->padding != kBlockPadding) return kBadPaddingCode;
  // Encryption never leaves a whole unit buffered; a full buffer means the
  // context was fed by the decryption calls.
  if (out == nullptr || ctx->buffered == kUnit) return -1;
  const size_t buffered = static_cast<size_t>(ctx->buffered);
  const uint8_t pad = static_cast<uint8_t>(kUnit - buffered);
  std::memset(ctx->buf + buffered, pad, pad);
  Ops::Encrypt(ctx, ctx->buf, out, 1);
  SecureWipe(ctx->buf, sizeof(ctx->buf));
  ctx->buffered = 0;
  *outLen = kUnit;
  return 0;
}

template <class Ops, class Ctx>
int DecUpdate(Ctx* ctx, const uint8_t* in, int32_t inLen, uint8_t* out, int32_t* outLen) {
  if (int rc = CheckUpdate(ctx, in, inLen, out, outLen); rc != 0) return rc;
  const size_t buffered = static_cast<size_t>(ctx->buffered);
  size_t remaining = static_cast<size_t>(inLen);
  const size_t total = buffered + remaining;
  if (total <= static_cast<size_t>(kUnit)) {
    if (remaining > 0) std::memcpy(ctx->buf + buffered, in, remaining);
    ctx->buffered = static_cast<int32_t>(total);
    return 0;
  }
  // Everything but the last 1..16 bytes is decrypted now.
  size_t to_process = (total - 1) / kUnit * kUnit;
  size_t produced = 0;
  if (buffered > 0) {
    const size_t fill = kUnit - buffered;
    std::memcpy(ctx->buf + buffered, in, fill);
    in += fill;
    remaining -= fill;
    Ops::Decrypt(ctx, ctx->buf, out, 1);
    produced = kUnit;
    to_process -= kUnit;
  }
  const size_t units = to_process / kUnit;
  if (units > 0) Ops::Decrypt(ctx, in, out + produced, units);
  produced += to_process;
  in += to_process;
  remaining -= to_process;
  std::memcpy(ctx->buf, in, remaining);
  ctx->buffered = static_cast<int32_t>(remaining);
  *outLen = static_cast<int32_t>(produced);
  return 0;
}

template <class Ops, class Ctx>
int DecFinal(Ctx* ctx, uint8_t* out, int32_t* outLen) {
  if (outLen != nullptr) *outLen = 0;
  if (ctx == nullptr || outLen == nullptr || ctx->buffered < 0 || ctx->buffered > kUnit) return -1;
  if (ctx->buffered == 0) return 0;
  if (ctx->buffered != kUnit) return kIncompleteUnit;
  if (out == nullptr) return -1;
  ctx->buffered = 0;
  if (ctx->padding != kNoPadding && ctx->padding != kBlockPadding) {
    *outLen = kUnknownPaddingLen;
    return 0;
  }
  uint8_t plain[kUnit];
  Ops::Decrypt(ctx, ctx->buf, plain, 1);
  if (ctx->padding == kNoPadding) {
    std::memcpy(out, plain, kUnit);
    *outLen = kUnit;
  } else {
    const uint8_t pad = plain[kUnit - 1];
    bool valid = pad >= 1 && pad <= kUnit;
    for (int i = kUnit - pad; valid && i < kUnit - 1; ++i) valid = plain[i] == pad;
    if (valid) {
      std::memcpy(out, plain, kUnit - pad);
      *outLen = kUnit - pad;
    } else {
      *outLen = kBadPaddingLen;
    }
  }
  SecureWipe(plain, sizeof(plain));
  return 0;
}

}  // namespace qor::unit_stream
