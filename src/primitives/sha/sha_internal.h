// Block functions of the SHA family and the buffering shared by every
// streaming context (SHA-1, both SHA-256 families, SHA-384/512, HMAC).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/secure_wipe.h"
#include "primitives/byte_order.h"
#include "primitives/dispatch.h"

namespace qor::sha {

// Each *Blocks function runs the compression over |blocks| consecutive
// blocks of |data| (64 bytes for SHA-1/256, 128 for SHA-512), updating
// |state| in place. The unsuffixed names dispatch to the fastest variant
// this CPU supports (decided once per process).
void Sha1Blocks(uint32_t state[5], const uint8_t* data, size_t blocks);
void Sha256Blocks(uint32_t state[8], const uint8_t* data, size_t blocks);
void Sha512Blocks(uint64_t state[8], const uint8_t* data, size_t blocks);

void Sha1BlocksPortable(uint32_t state[5], const uint8_t* data, size_t blocks);
void Sha256BlocksPortable(uint32_t state[8], const uint8_t* data, size_t blocks);
void Sha512BlocksPortable(uint64_t state[8], const uint8_t* data, size_t blocks);
void Sha1BlocksShaNi(uint32_t state[5], const uint8_t* data, size_t blocks);
void Sha256BlocksShaNi(uint32_t state[8], const uint8_t* data, size_t blocks);
void Sha512BlocksAvx2(uint64_t state[8], const uint8_t* data, size_t blocks);
void Sha512BlocksAvx512(uint64_t state[8], const uint8_t* data, size_t blocks);

// The compression functions in use. SHA-1 and SHA-256 run on the SHA
// extensions, SHA-512 on AVX-512 or AVX2 with BMI; each falls back on its
// own, hence one kernel per combination.
struct Kernels {
  void (*sha1)(uint32_t state[5], const uint8_t* data, size_t blocks);
  void (*sha256)(uint32_t state[8], const uint8_t* data, size_t blocks);
  void (*sha512)(uint64_t state[8], const uint8_t* data, size_t blocks);
  const char* name;
};

const Kernels& PortableKernels();
// The SHA extensions with AVX-512, then with AVX2, then alone, then
// AVX-512, AVX2, portable.
extern primitives::Dispatcher<Kernels> g_kernels;

// Names the variant in use: "sha-ni" or "portable" for SHA-1/SHA-256,
// "avx512", "avx2" or "portable" for SHA-512.
const char* Sha256Implementation();
const char* Sha512Implementation();

inline constexpr uint32_t kSha1Init[5] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u,
                                          0xc3d2e1f0u};
inline constexpr uint32_t kSha256Init[8] = {0x6a09e667u, 0xbb67ae85u, 0x3c6ef372u, 0xa54ff53au,
                                            0x510e527fu, 0x9b05688cu, 0x1f83d9abu, 0x5be0cd19u};
inline constexpr uint64_t kSha384Init[8] = {
    0xcbbb9d5dc1059ed8ull, 0x629a292a367cd507ull, 0x9159015a3070dd17ull, 0x152fecd8f70e5939ull,
    0x67332667ffc00b31ull, 0x8eb44a8768581511ull, 0xdb0c2e0d64f98fa7ull, 0x47b5481dbefa4fa4ull};
inline constexpr uint64_t kSha512Init[8] = {
    0x6a09e667f3bcc908ull, 0xbb67ae8584caa73bull, 0x3c6ef372fe94f82bull, 0xa54ff53a5f1d36f1ull,
    0x510e527fade682d1ull, 0x9b05688c2b3e6c1full, 0x1f83d9abfb41bd6bull, 0x5be0cd19137e2179ull};

extern const uint32_t kSha256K[64];
extern const uint64_t kSha512K[80];

using primitives::LoadBe32;
using primitives::LoadBe64;
using primitives::StoreBe32;
using primitives::StoreBe64;

// Streaming over any of the public contexts: each has state[], bufferLen,
// totalLen and buffer[kBlock]; |blocks| is one of the *Blocks functions.
template <size_t kBlock, typename Ctx, typename Word>
void Absorb(Ctx& ctx, const uint8_t* in, size_t len,
            void (*blocks)(Word*, const uint8_t*, size_t)) {
  if (len == 0) return;  // |in| may then be NULL, which memcpy must not see
  ctx.totalLen += len;
  if (ctx.bufferLen != 0) {
    const size_t room = kBlock - ctx.bufferLen;
    const size_t take = len < room ? len : room;
    std::memcpy(ctx.buffer + ctx.bufferLen, in, take);
    ctx.bufferLen += static_cast<uint32_t>(take);
    in += take;
    len -= take;
    if (ctx.bufferLen < kBlock) return;
    blocks(ctx.state, ctx.buffer, 1);
    ctx.bufferLen = 0;
  }
  if (const size_t whole = len / kBlock; whole != 0) {
    blocks(ctx.state, in, whole);
    in += whole * kBlock;
    len -= whole * kBlock;
  }
  if (len != 0) {
    std::memcpy(ctx.buffer, in, len);
    ctx.bufferLen = static_cast<uint32_t>(len);
  }
}

// Appends the 0x80 byte, the zero fill and the big-endian bit length (in the
// last 8 bytes for 64-byte blocks, the last 16 for 128-byte blocks), runs the
// last block(s), writes |outWords| state words big-endian to |out| and wipes
// the context.
template <size_t kBlock, typename Ctx, typename Word>
void Finish(Ctx& ctx, uint8_t* out, size_t outWords,
            void (*blocks)(Word*, const uint8_t*, size_t)) {
  constexpr size_t kLenField = kBlock / 8;  // 8 or 16 bytes
  const uint64_t total = ctx.totalLen;
  size_t used = ctx.bufferLen;
  ctx.buffer[used++] = 0x80;
  if (used > kBlock - kLenField) {
    std::memset(ctx.buffer + used, 0, kBlock - used);
    blocks(ctx.state, ctx.buffer, 1);
    used = 0;
  }
  std::memset(ctx.buffer + used, 0, kBlock - 8 - used);
  if constexpr (kLenField == 16) StoreBe64(ctx.buffer + kBlock - 16, total >> 61);
  StoreBe64(ctx.buffer + kBlock - 8, total << 3);
  blocks(ctx.state, ctx.buffer, 1);
  for (size_t i = 0; i < outWords; ++i) {
    if constexpr (sizeof(Word) == 8) {
      StoreBe64(out + 8 * i, ctx.state[i]);
    } else {
      StoreBe32(out + 4 * i, ctx.state[i]);
    }
  }
  SecureWipe(&ctx, sizeof(ctx));
}

template <typename Ctx, typename Word, size_t N>
void Start(Ctx& ctx, const Word (&init)[N]) {
  std::memcpy(ctx.state, init, sizeof(init));
  ctx.bufferLen = 0;
  ctx.totalLen = 0;
}

}  // namespace qor::sha
