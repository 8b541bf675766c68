// SEED key schedule, block and one-shot CBC functions, and the streaming
// context.
#include "qor/nc_seed.h"

#include <bit>
#include <utility>
#include <cstdint>
#include <cstring>

#include "common/secure_wipe.h"
#include "primitives/block_modes.h"
#include "primitives/block_stream.h"
#include "primitives/seed/seed_core.h"
#include "primitives/seed/seed_vector.h"

namespace qor::seed {
namespace {

constexpr size_t kBlock = 16;
constexpr uint32_t kGoldenRatio = 0x9E3779B9u;  // KC0; KCi = KC0 rotated left by i

void LoadWords(const uint8_t* p, uint32_t w[4]) {
  for (int i = 0; i < 4; ++i) w[i] = detail::LoadBe32(p + 4 * i);
}

void StoreWords(uint8_t* p, const uint32_t w[4]) {
  for (int i = 0; i < 4; ++i) detail::StoreBe32(p + 4 * i, w[i]);
}

// Sixteen encryption rounds arranged for latency: the key of the next round
// is mixed into each half before the round output lands on it, so the input
// of the first G of a round is two XORs away from the previous round's last G
// instead of four.
inline __attribute__((always_inline)) void EncryptChained(uint32_t& l0, uint32_t& l1, uint32_t& r0, uint32_t& r1,
                                                          const uint32_t* rk) {
  uint32_t a = r0 ^ rk[0];
  uint32_t ab = a ^ r1 ^ rk[1];
  uint32_t* x0 = &l0;
  uint32_t* x1 = &l1;
  uint32_t* y0 = &r0;
  uint32_t* y1 = &r1;
#pragma GCC unroll 16
  for (int i = 0; i < 16; ++i) {
    // Next round reads the half updated now, with the next round's keys.
    uint32_t pre0 = 0, pre = 0;
    if (i < 15) {
      pre0 = *x0 ^ rk[2 * i + 2];
      pre = pre0 ^ *x1 ^ rk[2 * i + 3];
    }
    const uint32_t t = G(ab);
    const uint32_t u = G(t + a);
    const uint32_t d = G(u + t);
    const uint32_t e = d + u;
    *x0 ^= e;
    *x1 ^= d;
    if (i < 15) {
      a = pre0 ^ e;
      ab = (pre ^ d) ^ e;
    }
    std::swap(x0, y0);
    std::swap(x1, y1);
  }
}

// CBC decryption of N blocks; |prev| holds the previous ciphertext words.
template <int N>
inline void DecryptGroup(const uint8_t* in, uint8_t* out, const uint32_t* rk, uint32_t prev[4]) {
  Blocks<N> b;
  b.Load(in);
  uint32_t c[N][4];
  for (int j = 0; j < N; ++j) {
    c[j][0] = b.l0[j];
    c[j][1] = b.l1[j];
    c[j][2] = b.r0[j];
    c[j][3] = b.r1[j];
  }
  Crypt<true, N>(b, rk);
  // Decrypted words are (r0, r1, l0, l1).
  for (int j = 0; j < N; ++j) {
    const uint32_t* p = j == 0 ? prev : c[j - 1];
    b.r0[j] ^= p[0];
    b.r1[j] ^= p[1];
    b.l0[j] ^= p[2];
    b.l1[j] ^= p[3];
  }
  std::memcpy(prev, c[N - 1], sizeof(c[N - 1]));
  b.StoreSwapped(out);
}

}  // namespace

void KeySchedule(const uint8_t key[16], uint32_t rk[kRoundKeyWords]) {
  uint32_t a = detail::LoadBe32(key), b = detail::LoadBe32(key + 4);
  uint32_t c = detail::LoadBe32(key + 8), d = detail::LoadBe32(key + 12);
  for (int i = 0; i < 16; ++i) {
    const uint32_t kc = std::rotl(kGoldenRatio, i);
    rk[2 * i] = G(a + c - kc);
    rk[2 * i + 1] = G(b - d + kc);
    if (i % 2 == 0) {  // A||B rotated right by 8
      const uint32_t t = a;
      a = (a >> 8) | (b << 24);
      b = (b >> 8) | (t << 24);
    } else {  // C||D rotated left by 8
      const uint32_t t = c;
      c = (c << 8) | (d >> 24);
      d = (d << 8) | (t >> 24);
    }
  }
}

void CbcEncryptBlocks(const uint8_t* in, uint8_t* out, size_t blocks, const uint32_t* rk, uint8_t chain[16]) {
  // Scalar chaining words keep the whole block in registers across blocks.
  uint32_t c0 = detail::LoadBe32(chain), c1 = detail::LoadBe32(chain + 4);
  uint32_t c2 = detail::LoadBe32(chain + 8), c3 = detail::LoadBe32(chain + 12);
  for (size_t i = 0; i < blocks; ++i) {
    const uint8_t* p = in + i * kBlock;
    uint32_t l0 = detail::LoadBe32(p) ^ c0, l1 = detail::LoadBe32(p + 4) ^ c1;
    uint32_t r0 = detail::LoadBe32(p + 8) ^ c2, r1 = detail::LoadBe32(p + 12) ^ c3;
    EncryptChained(l0, l1, r0, r1, rk);
    c0 = r0;
    c1 = r1;
    c2 = l0;
    c3 = l1;
    uint8_t* q = out + i * kBlock;
    detail::StoreBe32(q, c0);
    detail::StoreBe32(q + 4, c1);
    detail::StoreBe32(q + 8, c2);
    detail::StoreBe32(q + 12, c3);
  }
  detail::StoreBe32(chain, c0);
  detail::StoreBe32(chain + 4, c1);
  detail::StoreBe32(chain + 8, c2);
  detail::StoreBe32(chain + 12, c3);
}

void CbcDecryptTables(const uint8_t* in, uint8_t* out, size_t blocks, const uint32_t* rk, uint8_t chain[16]) {
  uint32_t prev[4];
  LoadWords(chain, prev);
  size_t i = 0;
  for (; i + 4 <= blocks; i += 4) DecryptGroup<4>(in + i * kBlock, out + i * kBlock, rk, prev);
  for (; i < blocks; ++i) DecryptGroup<1>(in + i * kBlock, out + i * kBlock, rk, prev);
  StoreWords(chain, prev);
}

namespace {

constexpr Kernels kPortable = {CbcDecryptTables, "generic"};

constexpr primitives::Candidate<Kernels> kCandidates[] = {
    {"gfni-avx512", GfniKernels},
    {"generic", [] { return &kPortable; }},
};

}  // namespace

const Kernels& PortableKernels() { return kPortable; }

constinit primitives::Dispatcher<Kernels> g_kernels{kCandidates};

void CbcDecryptBlocks(const uint8_t* in, uint8_t* out, size_t blocks, const uint32_t* rk, uint8_t chain[16]) {
  g_kernels.Active().cbcDecrypt(in, out, blocks, rk, chain);
}

namespace {

namespace bs = qor::primitives::block_stream;

struct SeedCipher {
  using Ctx = NC_SEED_CTX;
  static constexpr int32_t Ctx::*kBuffered = &Ctx::buffered;
  static constexpr bs::NullIv kNullIv = bs::NullIv::kZero;
  static constexpr bs::Checks kChecks = bs::Checks::kStrict;
  static void Encrypt(NC_SEED_CTX* ctx, const uint8_t* in, uint8_t* out, size_t units) {
    CbcEncryptBlocks(in, out, units, ctx->rk, ctx->chain);
  }
  static void Decrypt(NC_SEED_CTX* ctx, const uint8_t* in, uint8_t* out, size_t units) {
    CbcDecryptBlocks(in, out, units, ctx->rk, ctx->chain);
  }
};

inline bool CbcArgsOk(const uint8_t* in, uint8_t* out, const uint32_t* rk, int32_t len, const uint8_t* iv) {
  // The rounded-up length must still fit the int result.
  return len >= 0 && len <= INT32_MAX - 15 && rk != nullptr && iv != nullptr && (len == 0 || (in != nullptr && out != nullptr));
}

template <bool kDecrypt>
int OneShotCbc(const uint8_t* in, uint8_t* out, const uint32_t* rk, int32_t len, const uint8_t* iv) {
  if (!CbcArgsOk(in, out, rk, len, iv)) return -1;
  auto cbc = [rk](const uint8_t* src, uint8_t* dst, size_t n, uint8_t* chain) {
    if (kDecrypt) {
      CbcDecryptBlocks(src, dst, n, rk, chain);
    } else {
      CbcEncryptBlocks(src, dst, n, rk, chain);
    }
  };
  const size_t written = primitives::CbcZeroFilled(in, out, static_cast<size_t>(len), iv, cbc);
  return static_cast<int>(written);
}

}  // namespace
}  // namespace qor::seed

namespace bs = qor::primitives::block_stream;
using qor::seed::SeedCipher;

extern "C" {

QOR_API void NC_E_SEED_KeyScheduleEx(NC_SEED_CTX* ctx, const uint8_t key[16]) {
  if (ctx == nullptr || key == nullptr) return;
  qor::seed::KeySchedule(key, ctx->rk);
}

QOR_API void NC_E_SEED_KeySchedule(const uint8_t key[16], uint32_t rk[NC_SEED_ROUND_KEY_WORDS]) {
  if (key == nullptr || rk == nullptr) return;
  qor::seed::KeySchedule(key, rk);
}

QOR_API int NC_SEED_SetAlgInfo(int32_t mode, int32_t padding, const uint8_t* iv, NC_SEED_CTX* ctx) {
  return bs::SetAlgInfo<SeedCipher>(mode, padding, iv, ctx);
}

QOR_API int NC_SEED_EncInit(NC_SEED_CTX* ctx) { return bs::Init<SeedCipher>(ctx); }

QOR_API int NC_SEED_DecInit(NC_SEED_CTX* ctx) { return bs::Init<SeedCipher>(ctx); }

QOR_API int NC_SEED_CBC_EncUpdate(NC_SEED_CTX* ctx, const uint8_t* in, int32_t inLen, uint8_t* out,
                                  int32_t* outLen) {
  return bs::EncUpdate<SeedCipher>(ctx, in, inLen, out, outLen);
}

QOR_API int NC_SEED_CBC_EncFinal(NC_SEED_CTX* ctx, uint8_t* out, int32_t* outLen) {
  return bs::EncFinal<SeedCipher>(ctx, out, outLen);
}

QOR_API int NC_SEED_CBC_DecUpdate(NC_SEED_CTX* ctx, const uint8_t* in, int32_t inLen, uint8_t* out,
                                  int32_t* outLen) {
  return bs::DecUpdate<SeedCipher>(ctx, in, inLen, out, outLen);
}

QOR_API int NC_SEED_CBC_DecFinal(NC_SEED_CTX* ctx, uint8_t* out, int32_t* outLen) {
  return bs::DecFinal<SeedCipher>(ctx, out, outLen);
}

QOR_API int NC_E_SEED_CBC_Encrypt(const uint8_t* in, uint8_t* out, const uint32_t* rk, int32_t len,
                                  const uint8_t* iv) {
  return qor::seed::OneShotCbc<false>(in, out, rk, len, iv);
}

QOR_API int NC_E_SEED_CBC_Decrypt(const uint8_t* in, uint8_t* out, const uint32_t* rk, int32_t len,
                                  const uint8_t* iv) {
  return qor::seed::OneShotCbc<true>(in, out, rk, len, iv);
}

QOR_API void NC_E_SEED_Encrypt(const uint8_t in[16], uint8_t out[16], const uint32_t* rk) {
  if (in == nullptr || out == nullptr || rk == nullptr) return;
  qor::seed::Blocks<1> b;
  b.Load(in);
  qor::seed::Crypt<false, 1>(b, rk);
  b.StoreSwapped(out);
}

QOR_API void NC_E_SEED_Decrypt(const uint8_t in[16], uint8_t out[16], const uint32_t* rk) {
  if (in == nullptr || out == nullptr || rk == nullptr) return;
  qor::seed::Blocks<1> b;
  b.Load(in);
  qor::seed::Crypt<true, 1>(b, rk);
  b.StoreSwapped(out);
}

}  // extern "C"
