// Init/Update/Final streaming over 16-byte units, shared by the AES, ARIA,
// LEA, SEED and triple-DES contexts. The buffering, padding and return codes
// live here; how a run of whole units is encrypted and chained is the
// cipher's.
//
// A cipher plugs in with a type such as
//   struct Cipher {
//     using Ctx = NC_X_CTX;  // mode, padding, iv[16], chain[16], buf[16], a count
//     static constexpr int32_t Ctx::*kBuffered = &Ctx::count;
//     static constexpr NullIv kNullIv = ...;
//     static constexpr Checks kChecks = ...;
//     // Whole units in, whole units out; ctx->chain carries the chaining
//     // value from one call to the next.
//     static void Encrypt(Ctx* ctx, const uint8_t* in, uint8_t* out, size_t units);
//     static void Decrypt(Ctx* ctx, const uint8_t* in, uint8_t* out, size_t units);
//     // Optional, where the partial-unit buffer is not ctx->buf:
//     static uint8_t* Buffer(Ctx* ctx);
//   };
// The AES context keeps argument rules of its own and builds its entry points
// from the pieces below the full Update/Final templates (Produced, Feed,
// PadAndEncrypt, PaddedLength).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/secure_wipe.h"

namespace qor::primitives::block_stream {

inline constexpr size_t kUnit = 16;
inline constexpr int32_t kPadNone = 1;
inline constexpr int32_t kPadBlock = 2;

inline constexpr int kSameBuffer = 4097;          // Update with in == out
inline constexpr int kUnknownPaddingCode = 4097;  // EncFinal
inline constexpr int kUnpaddedRemainder = 4100;   // EncFinal, padding none, bytes left
inline constexpr int kIncompleteUnit = 4101;      // DecFinal
inline constexpr int32_t kUnknownPaddingLen = -4081;  // DecFinal output length
inline constexpr int32_t kBadPaddingLen = -4083;      // DecFinal output length

// The largest input one Update takes: its output (up to inLen + 16 bytes)
// must still fit the int result.
inline constexpr int32_t kMaxInput = INT32_MAX - 32;

// What SetAlgInfo does with a null IV.
enum class NullIv {
  kZero,  // store sixteen zero bytes
  kKeep,  // leave the IV set before untouched
};

// Callers of each context may rely on the details it has always had, so the
// argument handling is chosen per cipher.
enum class Checks {
  // *outLen is left alone when a call fails before it starts; Update accepts a
  // null output while the input only fills the buffer; DecFinal reports any
  // buffered count but 0 and 16 as 4101, and on an unknown padding code sets
  // the output length -4081 without looking at the output pointer and keeps
  // the unit buffered.
  kLenient,
  // *outLen is 0 whenever a call does not produce output; Update refuses a
  // null output whenever it is given input; DecFinal refuses a count outside
  // 0..16 and a null output before looking at the padding code, and drops the
  // unit also when the code is unknown.
  kStrict,
};

template <class Cipher>
int32_t& Buffered(typename Cipher::Ctx* ctx) {
  return ctx->*Cipher::kBuffered;
}

template <class Cipher>
uint8_t* Buffer(typename Cipher::Ctx* ctx) {
  if constexpr (requires { Cipher::Buffer(ctx); }) {
    return Cipher::Buffer(ctx);
  } else {
    return ctx->buf;
  }
}

// Bytes an Update hands out when |buffered| bytes wait and |inLen| arrive:
// every whole unit when encrypting; decryption holds the last whole unit back
// so that Final can strip the padding.
template <bool kDecrypt>
inline size_t Produced(size_t buffered, size_t inLen) {
  const size_t total = buffered + inLen;
  const size_t keep = kDecrypt ? (total == 0 ? 0 : (total - 1) % kUnit + 1) : total % kUnit;
  return total - keep;
}

// The buffering of Update once its arguments are checked: completes the
// buffered unit, runs the whole units of |in| straight to |out| and keeps the
// rest. |out| has room for Produced() bytes; returns the bytes written.
template <class Cipher, bool kDecrypt>
size_t Feed(typename Cipher::Ctx* ctx, const uint8_t* in, size_t left, uint8_t* out) {
  int32_t& count = Buffered<Cipher>(ctx);
  uint8_t* buf = Buffer<Cipher>(ctx);
  const size_t have = static_cast<size_t>(count);
  const size_t produce = Produced<kDecrypt>(have, left);
  const size_t keep = have + left - produce;
  if (produce == 0) {
    if (left > 0) std::memcpy(buf + have, in, left);
    count = static_cast<int32_t>(keep);
    return 0;
  }
  auto run = [ctx](const uint8_t* src, uint8_t* dst, size_t units) {
    if (kDecrypt) {
      Cipher::Decrypt(ctx, src, dst, units);
    } else {
      Cipher::Encrypt(ctx, src, dst, units);
    }
  };
  size_t written = 0;
  if (have > 0) {
    const size_t fill = kUnit - have;
    std::memcpy(buf + have, in, fill);
    in += fill;
    left -= fill;
    run(buf, out, 1);
    written = kUnit;
  }
  const size_t units = (left - keep) / kUnit;
  if (units > 0) run(in, out + written, units);
  written += units * kUnit;
  in += units * kUnit;
  if (keep > 0) std::memcpy(buf, in, keep);
  count = static_cast<int32_t>(keep);
  return written;
}

// Block padding at EncFinal: fills the buffered bytes up to a whole unit
// (values 1..16), encrypts it to |out| and empties the buffer.
template <class Cipher>
void PadAndEncrypt(typename Cipher::Ctx* ctx, uint8_t* out) {
  int32_t& count = Buffered<Cipher>(ctx);
  uint8_t* buf = Buffer<Cipher>(ctx);
  const size_t have = static_cast<size_t>(count);
  const auto pad = static_cast<uint8_t>(kUnit - have);
  std::memset(buf + have, pad, pad);
  Cipher::Encrypt(ctx, buf, out, 1);
  SecureWipe(buf, kUnit);
  count = 0;
}

// Stores mode, padding code and IV.
template <class Cipher>
int SetAlgInfo(int32_t mode, int32_t padding, const uint8_t* iv, typename Cipher::Ctx* ctx) {
  if (ctx == nullptr) return -1;
  ctx->mode = mode;
  ctx->padding = padding;
  if (iv != nullptr) {
    std::memcpy(ctx->iv, iv, kUnit);
  } else if (Cipher::kNullIv == NullIv::kZero) {
    std::memset(ctx->iv, 0, kUnit);
  }
  return 0;
}

// Serves both directions: empties the buffer and restarts the chain at the IV.
template <class Cipher>
int Init(typename Cipher::Ctx* ctx) {
  if (ctx == nullptr) return -1;
  Buffered<Cipher>(ctx) = 0;
  std::memcpy(ctx->chain, ctx->iv, kUnit);
  return 0;
}

// Checks the arguments by the cipher's rules, then buffers and runs units.
template <class Cipher, bool kDecrypt>
int Update(typename Cipher::Ctx* ctx, const uint8_t* in, int32_t inLen, uint8_t* out, int32_t* outLen) {
  constexpr bool kStrict = Cipher::kChecks == Checks::kStrict;
  if (kStrict && outLen != nullptr) *outLen = 0;
  if (ctx == nullptr || outLen == nullptr || inLen < 0 || inLen > kMaxInput) return -1;
  if (inLen > 0 && in == nullptr) return -1;
  if (in != nullptr && in == out) return kSameBuffer;
  if (kStrict && inLen > 0 && out == nullptr) return -1;
  *outLen = 0;
  int32_t& count = Buffered<Cipher>(ctx);
  if (count < 0 || count > static_cast<int32_t>(kUnit)) return -1;  // context never initialised

  const size_t left = static_cast<size_t>(inLen);
  if (out == nullptr && Produced<kDecrypt>(static_cast<size_t>(count), left) > 0) return -1;
  *outLen = static_cast<int32_t>(Feed<Cipher, kDecrypt>(ctx, in, left, out));
  return 0;
}

template <class Cipher>
int EncUpdate(typename Cipher::Ctx* ctx, const uint8_t* in, int32_t inLen, uint8_t* out, int32_t* outLen) {
  return Update<Cipher, false>(ctx, in, inLen, out, outLen);
}

template <class Cipher>
int DecUpdate(typename Cipher::Ctx* ctx, const uint8_t* in, int32_t inLen, uint8_t* out, int32_t* outLen) {
  return Update<Cipher, true>(ctx, in, inLen, out, outLen);
}

// Pads the buffered bytes to a whole unit (values 1..16) and encrypts it.
template <class Cipher>
int EncFinal(typename Cipher::Ctx* ctx, uint8_t* out, int32_t* outLen) {
  if (Cipher::kChecks == Checks::kStrict && outLen != nullptr) *outLen = 0;
  if (ctx == nullptr || outLen == nullptr) return -1;
  int32_t& count = Buffered<Cipher>(ctx);
  if (count < 0 || count > static_cast<int32_t>(kUnit)) return -1;
  if (ctx->padding == kPadNone) {
    if (count != 0) return kUnpaddedRemainder;
    *outLen = 0;
    return 0;
  }
  if (ctx->padding != kPadBlock) return kUnknownPaddingCode;
  // Encryption never leaves a whole unit buffered; a full buffer came from
  // the decryption calls and padding it would lose those bytes.
  if (out == nullptr || count == static_cast<int32_t>(kUnit)) return -1;
  PadAndEncrypt<Cipher>(ctx, out);
  *outLen = static_cast<int32_t>(kUnit);
  return 0;
}

// Number of plaintext bytes a decrypted final unit holds under block
// padding, or kBadPaddingLen when its pad bytes are not well formed.
inline int32_t PaddedLength(const uint8_t plain[kUnit]) {
  const uint8_t pad = plain[kUnit - 1];
  bool valid = pad >= 1 && pad <= kUnit;
  for (size_t i = kUnit - pad; valid && i < kUnit - 1; ++i) valid = plain[i] == pad;
  return valid ? static_cast<int32_t>(kUnit - pad) : kBadPaddingLen;
}

// Decrypts the held-back unit and strips its padding. A bad pad or an unknown
// padding code is reported through a negative output length with return 0.
template <class Cipher>
int DecFinal(typename Cipher::Ctx* ctx, uint8_t* out, int32_t* outLen) {
  constexpr bool kStrict = Cipher::kChecks == Checks::kStrict;
  if (kStrict && outLen != nullptr) *outLen = 0;
  if (ctx == nullptr || outLen == nullptr) return -1;
  int32_t& count = Buffered<Cipher>(ctx);
  if (kStrict && (count < 0 || count > static_cast<int32_t>(kUnit))) return -1;
  if (count == 0) {
    *outLen = 0;
    return 0;
  }
  if (count != static_cast<int32_t>(kUnit)) return kIncompleteUnit;
  if (kStrict && out == nullptr) return -1;
  if (ctx->padding != kPadNone && ctx->padding != kPadBlock) {
    if (kStrict) count = 0;
    *outLen = kUnknownPaddingLen;
    return 0;
  }
  if (out == nullptr) return -1;
  uint8_t plain[kUnit];
  Cipher::Decrypt(ctx, Buffer<Cipher>(ctx), plain, 1);
  count = 0;
  const int32_t produced = ctx->padding == kPadBlock ? PaddedLength(plain) : static_cast<int32_t>(kUnit);
  if (produced > 0) std::memcpy(out, plain, static_cast<size_t>(produced));
  SecureWipe(plain, sizeof plain);
  SecureWipe(Buffer<Cipher>(ctx), kUnit);
  *outLen = produced;
  return 0;
}

}  // namespace qor::primitives::block_stream
