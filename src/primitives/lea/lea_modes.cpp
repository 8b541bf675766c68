// LEA modes of operation: CTR, CFB-128, OFB, CMAC, CCM and GCM.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "common/secure_wipe.h"
#include "primitives/block_modes.h"
#include "primitives/byte_order.h"
#include "primitives/lea/lea_internal.h"

namespace qor::lea {
namespace {

using primitives::LoadBe64;
using primitives::StoreBe64;


using primitives::XorBytes;

// 128-bit big-endian increment over bytes first..15 (CCM: the counter field
// follows a nonce whose length the caller picks).
void Increment(uint8_t* block, int first) {
  for (int i = 15; i >= first; --i) {
    if (++block[i] != 0) break;
  }
}

// The kernel in use, as the shared modes call it: independent blocks.
struct EcbEncrypt {
  const Kernels& k;
  const LEA_KEY* key;
  void operator()(const uint8_t* in, uint8_t* out, size_t n) const { k.ecbEnc(in, out, n, key); }
};

// CMAC subkey doubling in GF(2^128).
void Double(const uint8_t in[16], uint8_t out[16]) {
  const uint8_t carry = in[0] >> 7;
  for (int i = 0; i < 15; ++i) out[i] = static_cast<uint8_t>((in[i] << 1) | (in[i + 1] >> 7));
  out[15] = static_cast<uint8_t>((in[15] << 1) ^ (0x87 & (0 - carry)));
}

// GHASH multiplication X * H, bit by bit without data-dependent branches.
void GfMul(uint8_t x[16], const uint64_t h[2]) {
  const uint64_t xh = LoadBe64(x);
  const uint64_t xl = LoadBe64(x + 8);
  uint64_t zh = 0, zl = 0, vh = h[0], vl = h[1];
  for (int i = 0; i < 128; ++i) {
    const uint64_t bit = i < 64 ? (xh >> (63 - i)) & 1 : (xl >> (127 - i)) & 1;
    const uint64_t m = 0 - bit;
    zh ^= vh & m;
    zl ^= vl & m;
    const uint64_t lsb = 0 - (vl & 1);
    vl = (vl >> 1) | (vh << 63);
    vh = (vh >> 1) ^ (0xE100000000000000ULL & lsb);
  }
  StoreBe64(x, zh);
  StoreBe64(x + 8, zl);
}

void GhashBlocks(uint8_t acc[16], const uint64_t h[2], const uint8_t* data, size_t len) {
  // Whole blocks, then a zero-padded tail.
  while (len > 0) {
    const size_t n = len < 16 ? len : 16;
    for (size_t i = 0; i < n; ++i) acc[i] ^= data[i];
    GfMul(acc, h);
    data += n;
    len -= n;
  }
}

enum GcmStage : int32_t { kGcmKeyed = 0, kGcmIv = 1, kGcmAad = 2, kGcmText = 3, kGcmDead = -1 };

void GcmFlush(LEA_GCM_CTX* ctx) {
  if (ctx->buf_len > 0) {
    GhashBlocks(ctx->ghash, ctx->h, ctx->buf, ctx->buf_len);
    ctx->buf_len = 0;
  }
}

void GcmAbsorb(LEA_GCM_CTX* ctx, const uint8_t* data, size_t len) {
  if (len == 0) return;
  if (ctx->buf_len > 0) {
    const size_t take = std::min<size_t>(len, 16 - ctx->buf_len);
    std::memcpy(ctx->buf + ctx->buf_len, data, take);
    ctx->buf_len += static_cast<uint32_t>(take);
    data += take;
    len -= take;
    if (ctx->buf_len < 16) return;
    GcmFlush(ctx);
  }
  const size_t whole = len / 16 * 16;
  GhashBlocks(ctx->ghash, ctx->h, data, whole);
  std::memcpy(ctx->buf, data + whole, len - whole);
  ctx->buf_len = static_cast<uint32_t>(len - whole);
}

int GcmCrypt(LEA_GCM_CTX* ctx, uint8_t* out, const uint8_t* in, uint32_t len, bool encrypt) {
  if (ctx == nullptr || (len > 0 && (out == nullptr || in == nullptr))) return -1;
  if (ctx->stage == kGcmIv || ctx->stage == kGcmAad) {
    GcmFlush(ctx);
    ctx->stage = kGcmText;
  }
  if (ctx->stage != kGcmText) return -1;
  // At most 2^32 - 2 blocks of text under one IV.
  if (ctx->text_len + len > ((uint64_t{1} << 32) - 2) * 16) return -1;
  ctx->text_len += len;
  while (len > 0) {
    if (ctx->ks_used == 16) {
      std::memcpy(ctx->keystream, ctx->ctr, 16);
      primitives::IncrementCounter<12>(ctx->ctr);  // only the last 32 bits count
      EncryptBlock(ctx->keystream, ctx->keystream, &ctx->key);
      ctx->ks_used = 0;
    }
    const size_t n = std::min<size_t>(len, 16 - ctx->ks_used);
    uint8_t c[16];
    if (encrypt) {
      XorBytes(out, in, ctx->keystream + ctx->ks_used, n);
      std::memcpy(c, out, n);
    } else {
      std::memcpy(c, in, n);
      XorBytes(out, in, ctx->keystream + ctx->ks_used, n);
    }
    GcmAbsorb(ctx, c, n);
    ctx->ks_used += static_cast<uint32_t>(n);
    in += n;
    out += n;
    len -= static_cast<uint32_t>(n);
  }
  return 0;
}

bool CcmParamsOk(uint32_t tagLen, uint32_t nonceLen, uint32_t textLen) {
  if (tagLen < 4 || tagLen > 16 || tagLen % 2 != 0) return false;
  if (nonceLen < 7 || nonceLen > 13) return false;
  const uint32_t q = 15 - nonceLen;
  return q >= 4 || textLen < (uint32_t{1} << (8 * q));
}

// CBC-MAC over the formatted B0, associated data and payload.
void CcmMac(uint8_t mac[16], const uint8_t* text, uint32_t textLen, uint32_t tagLen,
            const uint8_t* nonce, uint32_t nonceLen, const uint8_t* aad, uint32_t aadLen,
            const LEA_KEY* key) {
  const uint32_t q = 15 - nonceLen;
  uint8_t b[16] = {};
  b[0] = static_cast<uint8_t>((aadLen > 0 ? 0x40 : 0) | (((tagLen - 2) / 2) << 3) | (q - 1));
  std::memcpy(b + 1, nonce, nonceLen);
  for (uint32_t i = 0; i < q && i < 4; ++i) b[15 - i] = static_cast<uint8_t>(textLen >> (8 * i));
  EncryptBlock(b, mac, key);
  auto absorb = [&](const uint8_t* data, size_t len, size_t& fill) {
    while (len > 0) {
      const size_t n = std::min(len, 16 - fill);
      for (size_t i = 0; i < n; ++i) mac[fill + i] ^= data[i];
      fill += n;
      data += n;
      len -= n;
      if (fill == 16) {
        EncryptBlock(mac, mac, key);
        fill = 0;
      }
    }
  };
  if (aadLen > 0) {
    uint8_t hdr[6];
    size_t hdrLen;
    if (aadLen < 0xFF00u) {
      hdr[0] = static_cast<uint8_t>(aadLen >> 8);
      hdr[1] = static_cast<uint8_t>(aadLen);
      hdrLen = 2;
    } else {
      hdr[0] = 0xFF;
      hdr[1] = 0xFE;
      for (int i = 0; i < 4; ++i) hdr[2 + i] = static_cast<uint8_t>(aadLen >> (24 - 8 * i));
      hdrLen = 6;
    }
    size_t fill = 0;
    absorb(hdr, hdrLen, fill);
    absorb(aad, aadLen, fill);
    if (fill != 0) EncryptBlock(mac, mac, key);  // zero padding changes nothing else
  }
  size_t fill = 0;
  absorb(text, textLen, fill);
  if (fill != 0) EncryptBlock(mac, mac, key);
}

// Counter blocks A_i = flags | nonce | i; A_0 masks the tag.
void CcmCtr(uint8_t* out, const uint8_t* in, uint32_t len, uint8_t s0[16], const uint8_t* nonce,
            uint32_t nonceLen, const LEA_KEY* key) {
  const uint32_t q = 15 - nonceLen;
  uint8_t a[16] = {};
  a[0] = static_cast<uint8_t>(q - 1);
  std::memcpy(a + 1, nonce, nonceLen);
  EncryptBlock(a, s0, key);
  Increment(a, static_cast<int>(nonceLen + 1));
  while (len > 0) {
    uint8_t s[16];
    EncryptBlock(a, s, key);
    Increment(a, static_cast<int>(nonceLen + 1));
    const uint32_t n = len < 16 ? len : 16;
    XorBytes(out, in, s, n);
    qor::SecureWipe(s, sizeof s);
    in += n;
    out += n;
    len -= n;
  }
}

// OFB and CFB-128 encryption, block by block from a copy of the IV.
template <bool kCipherFeedback>
void FeedbackCrypt(uint8_t* out, const uint8_t* in, uint32_t len, const uint8_t* iv, const LEA_KEY* key) {
  uint8_t reg[16];
  std::memcpy(reg, iv, 16);
  primitives::FeedbackCrypt<kCipherFeedback>(in, out, len, reg,
                                             [key](const uint8_t* src, uint8_t* dst) { EncryptBlock(src, dst, key); });
  qor::SecureWipe(reg, sizeof reg);
}

}  // namespace
}  // namespace qor::lea

namespace lea = qor::lea;

extern "C" {

QOR_API void lea_ctr_enc(uint8_t* ct, const uint8_t* pt, uint32_t pt_len, uint8_t* ctr, const LEA_KEY* key) {
  if (ct == nullptr || pt == nullptr || ctr == nullptr || key == nullptr) return;
  qor::primitives::CtrCrypt(pt, ct, pt_len, ctr, lea::EcbEncrypt{lea::ActiveKernels(), key},
                            qor::primitives::IncrementCounter<0>);
}

QOR_API void lea_ctr_dec(uint8_t* pt, const uint8_t* ct, uint32_t ct_len, uint8_t* ctr, const LEA_KEY* key) {
  if (ct == nullptr || pt == nullptr || ctr == nullptr || key == nullptr) return;
  qor::primitives::CtrCrypt(ct, pt, ct_len, ctr, lea::EcbEncrypt{lea::ActiveKernels(), key},
                            qor::primitives::IncrementCounter<0>);
}

QOR_API void lea_cfb128_enc(uint8_t* ct, const uint8_t* pt, uint32_t pt_len, const uint8_t* iv,
                            const LEA_KEY* key) {
  if (ct == nullptr || pt == nullptr || iv == nullptr || key == nullptr) return;
  lea::FeedbackCrypt<true>(ct, pt, pt_len, iv, key);
}

QOR_API void lea_cfb128_dec(uint8_t* pt, const uint8_t* ct, uint32_t ct_len, const uint8_t* iv,
                            const LEA_KEY* key) {
  if (ct == nullptr || pt == nullptr || iv == nullptr || key == nullptr) return;
  uint8_t prev[16];
  std::memcpy(prev, iv, 16);
  qor::primitives::CfbDecrypt(ct, pt, ct_len, prev, lea::EcbEncrypt{lea::ActiveKernels(), key});
  qor::SecureWipe(prev, sizeof prev);
}

QOR_API void lea_ofb_enc(uint8_t* ct, const uint8_t* pt, uint32_t pt_len, const uint8_t* iv,
                         const LEA_KEY* key) {
  if (ct == nullptr || pt == nullptr || iv == nullptr || key == nullptr) return;
  lea::FeedbackCrypt<false>(ct, pt, pt_len, iv, key);
}

QOR_API void lea_ofb_dec(uint8_t* pt, const uint8_t* ct, uint32_t ct_len, const uint8_t* iv,
                         const LEA_KEY* key) {
  lea_ofb_enc(pt, ct, ct_len, iv, key);
}

QOR_API int lea_cmac_init(LEA_CMAC_CTX* ctx, const uint8_t* mk, uint32_t mk_len) {
  if (ctx == nullptr || lea_set_key(&ctx->key, mk, mk_len) != 0) return -1;
  uint8_t l[16] = {};
  lea::EncryptBlock(l, l, &ctx->key);
  lea::Double(l, ctx->k1);
  lea::Double(ctx->k1, ctx->k2);
  qor::SecureWipe(l, sizeof l);
  std::memset(ctx->state, 0, 16);
  std::memset(ctx->last, 0, 16);
  ctx->nlast = 0;
  return 0;
}

QOR_API int lea_cmac_update(LEA_CMAC_CTX* ctx, const uint8_t* data, uint32_t data_len) {
  if (ctx == nullptr || (data == nullptr && data_len > 0) || ctx->nlast > 16) return -1;
  while (data_len > 0) {
    // A full buffered block is only absorbed once more data follows it: the
    // final block gets the subkey treatment.
    if (ctx->nlast == 16) {
      qor::primitives::XorBytes(ctx->state, ctx->state, ctx->last, 16);
      lea::EncryptBlock(ctx->state, ctx->state, &ctx->key);
      ctx->nlast = 0;
    }
    const uint32_t n = std::min<uint32_t>(data_len, 16 - ctx->nlast);
    std::memcpy(ctx->last + ctx->nlast, data, n);
    ctx->nlast += n;
    data += n;
    data_len -= n;
  }
  return 0;
}

QOR_API int lea_cmac_final(LEA_CMAC_CTX* ctx, uint8_t* mac, uint32_t mac_len) {
  if (ctx == nullptr || mac == nullptr || mac_len == 0 || mac_len > 16 || ctx->nlast > 16) return -1;
  if (ctx->nlast == 16) {
    qor::primitives::XorBytes(ctx->last, ctx->last, ctx->k1, 16);
  } else {
    ctx->last[ctx->nlast] = 0x80;
    std::memset(ctx->last + ctx->nlast + 1, 0, 15 - ctx->nlast);
    qor::primitives::XorBytes(ctx->last, ctx->last, ctx->k2, 16);
  }
  qor::primitives::XorBytes(ctx->state, ctx->state, ctx->last, 16);
  lea::EncryptBlock(ctx->state, ctx->state, &ctx->key);
  std::memcpy(mac, ctx->state, mac_len);
  qor::SecureWipe(ctx, sizeof *ctx);
  return 0;
}

QOR_API int lea_ccm_enc(uint8_t* ct, uint8_t* tag, const uint8_t* pt, uint32_t pt_len, uint32_t tag_len,
                        const uint8_t* nonce, uint32_t nonce_len, const uint8_t* aad, uint32_t aad_len,
                        const LEA_KEY* key) {
  if (tag == nullptr || nonce == nullptr || key == nullptr || (pt_len > 0 && (ct == nullptr || pt == nullptr)) ||
      (aad_len > 0 && aad == nullptr) || !lea::CcmParamsOk(tag_len, nonce_len, pt_len))
    return -1;
  uint8_t mac[16], s0[16];
  lea::CcmMac(mac, pt, pt_len, tag_len, nonce, nonce_len, aad, aad_len, key);
  lea::CcmCtr(ct, pt, pt_len, s0, nonce, nonce_len, key);
  qor::primitives::XorBytes(tag, mac, s0, tag_len);
  qor::SecureWipe(mac, sizeof mac);
  qor::SecureWipe(s0, sizeof s0);
  return 0;
}

QOR_API int lea_ccm_dec(uint8_t* pt, const uint8_t* ct, uint32_t ct_len, const uint8_t* tag, uint32_t tag_len,
                        const uint8_t* nonce, uint32_t nonce_len, const uint8_t* aad, uint32_t aad_len,
                        const LEA_KEY* key) {
  if (tag == nullptr || nonce == nullptr || key == nullptr || (ct_len > 0 && (ct == nullptr || pt == nullptr)) ||
      (aad_len > 0 && aad == nullptr) || !lea::CcmParamsOk(tag_len, nonce_len, ct_len))
    return -1;
  // Decrypt into a private buffer; the caller sees plaintext only after the tag checks.
  std::unique_ptr<uint8_t[]> plain(new (std::nothrow) uint8_t[ct_len > 0 ? ct_len : 1]);
  if (!plain) return -1;
  uint8_t mac[16], s0[16];
  lea::CcmCtr(plain.get(), ct, ct_len, s0, nonce, nonce_len, key);
  lea::CcmMac(mac, plain.get(), ct_len, tag_len, nonce, nonce_len, aad, aad_len, key);
  uint8_t diff = 0;
  for (uint32_t i = 0; i < tag_len; ++i) diff |= static_cast<uint8_t>(mac[i] ^ s0[i] ^ tag[i]);
  if (diff == 0 && ct_len > 0) std::memcpy(pt, plain.get(), ct_len);
  qor::SecureWipe(plain.get(), ct_len);
  qor::SecureWipe(mac, sizeof mac);
  qor::SecureWipe(s0, sizeof s0);
  return diff == 0 ? 0 : -1;
}

QOR_API int lea_gcm_init(LEA_GCM_CTX* ctx, const uint8_t* mk, uint32_t mk_len) {
  if (ctx == nullptr) return -1;
  std::memset(ctx, 0, sizeof *ctx);
  if (lea_set_key(&ctx->key, mk, mk_len) != 0) {
    ctx->stage = lea::kGcmDead;
    return -1;
  }
  uint8_t h[16] = {};
  lea::EncryptBlock(h, h, &ctx->key);
  ctx->h[0] = lea::LoadBe64(h);
  ctx->h[1] = lea::LoadBe64(h + 8);
  qor::SecureWipe(h, sizeof h);
  ctx->stage = lea::kGcmKeyed;
  return 0;
}

QOR_API int lea_gcm_set_ctr(LEA_GCM_CTX* ctx, const uint8_t* iv, uint32_t iv_len) {
  if (ctx == nullptr || iv == nullptr || iv_len == 0 || ctx->stage == lea::kGcmDead) return -1;
  std::memset(ctx->j0, 0, 16);
  if (iv_len == 12) {
    std::memcpy(ctx->j0, iv, 12);
    ctx->j0[15] = 1;
  } else {
    lea::GhashBlocks(ctx->j0, ctx->h, iv, iv_len);
    uint8_t lens[16] = {};
    lea::StoreBe64(lens + 8, uint64_t{iv_len} * 8);
    lea::GhashBlocks(ctx->j0, ctx->h, lens, 16);
  }
  std::memcpy(ctx->ctr, ctx->j0, 16);
  qor::primitives::IncrementCounter<12>(ctx->ctr);
  std::memset(ctx->ghash, 0, 16);
  ctx->aad_len = ctx->text_len = 0;
  ctx->buf_len = 0;
  ctx->ks_used = 16;
  ctx->stage = lea::kGcmIv;
  return 0;
}

QOR_API int lea_gcm_set_aad(LEA_GCM_CTX* ctx, const uint8_t* aad, uint32_t aad_len) {
  if (ctx == nullptr || (aad == nullptr && aad_len > 0)) return -1;
  if (ctx->stage != lea::kGcmIv && ctx->stage != lea::kGcmAad) return -1;
  ctx->stage = lea::kGcmAad;
  ctx->aad_len += aad_len;
  lea::GcmAbsorb(ctx, aad, aad_len);
  return 0;
}

QOR_API int lea_gcm_enc(LEA_GCM_CTX* ctx, uint8_t* ct, const uint8_t* pt, uint32_t pt_len) {
  return lea::GcmCrypt(ctx, ct, pt, pt_len, true);
}

QOR_API int lea_gcm_dec(LEA_GCM_CTX* ctx, uint8_t* pt, const uint8_t* ct, uint32_t ct_len) {
  return lea::GcmCrypt(ctx, pt, ct, ct_len, false);
}

QOR_API int lea_gcm_final(LEA_GCM_CTX* ctx, uint8_t* tag, uint32_t tag_len) {
  if (ctx == nullptr || tag == nullptr || tag_len == 0 || tag_len > 16) return -1;
  if (ctx->stage != lea::kGcmIv && ctx->stage != lea::kGcmAad && ctx->stage != lea::kGcmText) return -1;
  lea::GcmFlush(ctx);
  uint8_t lens[16];
  lea::StoreBe64(lens, ctx->aad_len * 8);
  lea::StoreBe64(lens + 8, ctx->text_len * 8);
  lea::GhashBlocks(ctx->ghash, ctx->h, lens, 16);
  uint8_t ek[16];
  lea::EncryptBlock(ctx->j0, ek, &ctx->key);
  qor::primitives::XorBytes(tag, ctx->ghash, ek, tag_len);
  qor::SecureWipe(ek, sizeof ek);
  qor::SecureWipe(ctx, sizeof *ctx);
  ctx->stage = lea::kGcmDead;
  return 0;
}

}  // extern "C"
