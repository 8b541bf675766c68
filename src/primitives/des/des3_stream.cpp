// Streaming triple DES in 16-byte units.
//
// Stored data fixes the chaining: each unit is CBC-encrypted as two DES blocks
// whose IV is the FIRST ciphertext block of the previous unit (bytes 0..7 of
// the chaining field), not its last block. Applying that per unit makes the
// output independent of how the input is split over Update calls.
#include <algorithm>
#include <cstring>

#include "common/secure_wipe.h"

#include "primitives/block_stream.h"
#include "primitives/des/des_bitslice.h"
#include "primitives/des/des_core.h"
#include "qor/nc_des.h"

namespace qor::des {
namespace {

constexpr int kUnit = 16;

namespace bs = qor::primitives::block_stream;

struct Des3Cipher {
  using Ctx = NC_DES3_CTX;
  static constexpr int32_t Ctx::*kBuffered = &Ctx::buffered;
  static constexpr bs::NullIv kNullIv = bs::NullIv::kKeep;
  static constexpr bs::Checks kChecks = bs::Checks::kStrict;
  // Work happens in the permuted domain. The second block of unit n and the
  // first block of unit n+1 both chain on the first block of unit n, so they
  // are encrypted together.
  static void Encrypt(NC_DES3_CTX* ctx, const uint8_t* in, uint8_t* out, size_t units) {
    const uint32_t* k1 = ctx->ks[0];
    const uint32_t* k2 = ctx->ks[1];
    const uint32_t* k3 = ctx->ks[2];
    uint32_t el, er;
    LoadIp(ctx->chain, el, er);
    uint32_t l[2], r[2];
    LoadIp(in, l[0], r[0]);
    l[0] ^= el;
    r[0] ^= er;
    {
      uint32_t l1[1] = {l[0]}, r1[1] = {r[0]};
      Des3Core<false, 1>(l1, r1, k1, k2, k3);
      el = l1[0];
      er = r1[0];
    }
    for (size_t n = 0; n < units; ++n) {
      const uint8_t* p = in + n * kUnit;
      uint8_t* c = out + n * kUnit;
      StoreFp(c, el, er);
      LoadIp(p + 8, l[0], r[0]);
      l[0] ^= el;
      r[0] ^= er;
      if (n + 1 < units) {
        LoadIp(p + kUnit, l[1], r[1]);
        l[1] ^= el;
        r[1] ^= er;
        Des3Core<false, 2>(l, r, k1, k2, k3);
        StoreFp(c + 8, l[0], r[0]);
        el = l[1];
        er = r[1];
      } else {
        uint32_t l1[1] = {l[0]}, r1[1] = {r[0]};
        Des3Core<false, 1>(l1, r1, k1, k2, k3);
        StoreFp(c + 8, l1[0], r1[0]);
      }
    }
    std::memcpy(ctx->chain, out + (units - 1) * kUnit, kUnit);
  }

  // Long runs: the bitsliced engine decrypts a batch, then the unit chaining
  // is applied (input and output never overlap here).
  // Returns the units done; a short remainder is left to the table path.
  static size_t DecryptBitsliced(NC_DES3_CTX* ctx, const uint8_t* in, uint8_t* out, size_t units) {
    alignas(64) uint8_t plain[kBitsliceBatch * 8];
    uint8_t first[8];
    std::memcpy(first, ctx->chain, 8);
    const size_t per_batch = kBitsliceBatch / 2;
    size_t done = 0;
    while (2 * (units - done) >= kBitsliceMinBlocks) {
      const size_t n = std::min(per_batch, units - done);
      const uint8_t* c = in + done * kUnit;
      uint8_t* p = out + done * kUnit;
      Des3DecryptBitsliced(c, plain, 2 * n, ctx->ks[0], ctx->ks[1], ctx->ks[2]);
      for (size_t u = 0; u < n; ++u) {
        const uint8_t* cu = c + u * kUnit;
        for (int b = 0; b < 8; ++b) {
          p[u * kUnit + b] = plain[u * kUnit + b] ^ first[b];
          p[u * kUnit + 8 + b] = plain[u * kUnit + 8 + b] ^ cu[b];
        }
        std::memcpy(first, cu, 8);
      }
      done += n;
    }
    std::memcpy(ctx->chain, in + (done - 1) * kUnit, kUnit);
    SecureWipe(plain, sizeof(plain));
    return done;
  }

  // Every block decrypts independently: two units at a time.
  static void Decrypt(NC_DES3_CTX* ctx, const uint8_t* in, uint8_t* out, size_t units) {
    if (2 * units >= kBitsliceMinBlocks && BitsliceEnabled()) {
      const size_t done = DecryptBitsliced(ctx, in, out, units);
      if (done == units) return;
      in += done * kUnit;
      out += done * kUnit;
      units -= done;
    }
    const uint32_t* k1 = ctx->ks[0];
    const uint32_t* k2 = ctx->ks[1];
    const uint32_t* k3 = ctx->ks[2];
    uint32_t el, er;
    LoadIp(ctx->chain, el, er);
    uint8_t last[kUnit];
    std::memcpy(last, in + (units - 1) * kUnit, kUnit);
    size_t n = 0;
    for (; n + 2 <= units; n += 2) {
      uint32_t l[4], r[4], cl[4], cr[4];
      for (int j = 0; j < 4; ++j) {
        LoadIp(in + n * kUnit + 8 * j, cl[j], cr[j]);
        l[j] = cl[j];
        r[j] = cr[j];
      }
      Des3Core<true, 4>(l, r, k1, k2, k3);
      l[0] ^= el, r[0] ^= er;
      l[1] ^= cl[0], r[1] ^= cr[0];
      l[2] ^= cl[0], r[2] ^= cr[0];
      l[3] ^= cl[2], r[3] ^= cr[2];
      el = cl[2];
      er = cr[2];
      for (int j = 0; j < 4; ++j) StoreFp(out + n * kUnit + 8 * j, l[j], r[j]);
    }
    if (n < units) {
      uint32_t l[2], r[2], cl[2], cr[2];
      for (int j = 0; j < 2; ++j) {
        LoadIp(in + n * kUnit + 8 * j, cl[j], cr[j]);
        l[j] = cl[j];
        r[j] = cr[j];
      }
      Des3Core<true, 2>(l, r, k1, k2, k3);
      l[0] ^= el, r[0] ^= er;
      l[1] ^= cl[0], r[1] ^= cr[0];
      for (int j = 0; j < 2; ++j) StoreFp(out + n * kUnit + 8 * j, l[j], r[j]);
    }
    std::memcpy(ctx->chain, last, kUnit);
  }
};

}  // namespace
}  // namespace qor::des

namespace bs = qor::primitives::block_stream;
using qor::des::Des3Cipher;

extern "C" {

QOR_API int NC_DES3_SetAlgInfo(int32_t mode, int32_t padding, const uint8_t* iv, NC_DES3_CTX* ctx) {
  return bs::SetAlgInfo<Des3Cipher>(mode, padding, iv, ctx);
}

QOR_API int NC_DES3_EncInit(NC_DES3_CTX* ctx) { return bs::Init<Des3Cipher>(ctx); }

QOR_API int NC_DES3_DecInit(NC_DES3_CTX* ctx) { return bs::Init<Des3Cipher>(ctx); }

QOR_API int NC_DES3_CBC_EncUpdate(NC_DES3_CTX* ctx, const uint8_t* in, int32_t inLen, uint8_t* out,
                                  int32_t* outLen) {
  return bs::EncUpdate<Des3Cipher>(ctx, in, inLen, out, outLen);
}

QOR_API int NC_DES3_CBC_EncFinal(NC_DES3_CTX* ctx, uint8_t* out, int32_t* outLen) {
  return bs::EncFinal<Des3Cipher>(ctx, out, outLen);
}

QOR_API int NC_DES3_CBC_DecUpdate(NC_DES3_CTX* ctx, const uint8_t* in, int32_t inLen, uint8_t* out,
                                  int32_t* outLen) {
  return bs::DecUpdate<Des3Cipher>(ctx, in, inLen, out, outLen);
}

QOR_API int NC_DES3_CBC_DecFinal(NC_DES3_CTX* ctx, uint8_t* out, int32_t* outLen) {
  return bs::DecFinal<Des3Cipher>(ctx, out, outLen);
}

}  // extern "C"
