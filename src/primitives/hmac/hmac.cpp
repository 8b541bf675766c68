// HMAC (RFC 2104) over SHA-1 and SHA-256, written once over a small traits
// type per hash.
#include "common/secure_wipe.h"
#include "primitives/sha/sha_internal.h"
#include "qor/nc_hmac.h"

namespace {

constexpr size_t kBlock = 64;

struct Sha1Hash {
  using Ctx = NC_SHA1_CTX;
  static constexpr size_t kWords = 5;
  static constexpr size_t kDigest = 20;
  static void Start(Ctx& c) { qor::sha::Start(c, qor::sha::kSha1Init); }
  static constexpr auto kBlocks = qor::sha::Sha1Blocks;
};

struct Sha256Hash {
  using Ctx = NC_SHA256_CTX;
  static constexpr size_t kWords = 8;
  static constexpr size_t kDigest = 32;
  static void Start(Ctx& c) { qor::sha::Start(c, qor::sha::kSha256Init); }
  static constexpr auto kBlocks = qor::sha::Sha256Blocks;
};

template <typename H, typename HmacCtx>
void KeyContext(HmacCtx& ctx, const uint8_t* key, size_t keyLen) {
  uint8_t pad[kBlock] = {};
  if (keyLen > kBlock) {
    typename H::Ctx keyHash;
    H::Start(keyHash);
    qor::sha::Absorb<kBlock>(keyHash, key, keyLen, H::kBlocks);
    qor::sha::Finish<kBlock>(keyHash, pad, H::kWords, H::kBlocks);
  } else if (keyLen != 0) {
    std::memcpy(pad, key, keyLen);
  }
  for (uint8_t& b : pad) b ^= 0x36;
  H::Start(ctx.inner);
  qor::sha::Absorb<kBlock>(ctx.inner, pad, kBlock, H::kBlocks);
  for (uint8_t& b : pad) b ^= 0x36 ^ 0x5c;
  H::Start(ctx.outer);
  qor::sha::Absorb<kBlock>(ctx.outer, pad, kBlock, H::kBlocks);
  qor::SecureWipe(pad, sizeof(pad));
}

template <typename H, typename HmacCtx>
void FinishContext(HmacCtx& ctx, uint8_t* out) {
  uint8_t innerDigest[H::kDigest];
  qor::sha::Finish<kBlock>(ctx.inner, innerDigest, H::kWords, H::kBlocks);
  qor::sha::Absorb<kBlock>(ctx.outer, innerDigest, H::kDigest, H::kBlocks);
  qor::sha::Finish<kBlock>(ctx.outer, out, H::kWords, H::kBlocks);
  qor::SecureWipe(innerDigest, sizeof(innerDigest));
}

template <typename H, typename HmacCtx>
int Init(HmacCtx* ctx, const uint8_t* key, size_t keyLen) {
  if (ctx == nullptr || (key == nullptr && keyLen != 0)) return -1;
  KeyContext<H>(*ctx, key, keyLen);
  return 0;
}

template <typename H, typename HmacCtx>
int Update(HmacCtx* ctx, const uint8_t* data, size_t dataLen) {
  if (ctx == nullptr || (data == nullptr && dataLen != 0)) return -1;
  qor::sha::Absorb<kBlock>(ctx->inner, data, dataLen, H::kBlocks);
  return 0;
}

template <typename H, typename HmacCtx>
int Final(HmacCtx* ctx, uint8_t* out) {
  if (ctx == nullptr || out == nullptr) return -1;
  FinishContext<H>(*ctx, out);
  return 0;
}

template <typename H, typename HmacCtx>
int OneShot(const uint8_t* data, size_t dataLen, const uint8_t* key, size_t keyLen, uint8_t* out) {
  if (out == nullptr || (data == nullptr && dataLen != 0) || (key == nullptr && keyLen != 0)) {
    return -1;
  }
  HmacCtx ctx;
  KeyContext<H>(ctx, key, keyLen);
  qor::sha::Absorb<kBlock>(ctx.inner, data, dataLen, H::kBlocks);
  FinishContext<H>(ctx, out);
  return 0;
}

}  // namespace

int NC_E_HMAC_SHA1(const unsigned char* data, size_t dataLen, const unsigned char* key,
                   size_t keyLen, unsigned char* out) {
  return OneShot<Sha1Hash, NC_HMAC_SHA1_CTX>(data, dataLen, key, keyLen, out);
}
int NC_E_HMAC_SHA1_Init(NC_HMAC_SHA1_CTX* ctx, const unsigned char* key, size_t keyLen) {
  return Init<Sha1Hash>(ctx, key, keyLen);
}
int NC_E_HMAC_SHA1_Update(NC_HMAC_SHA1_CTX* ctx, const unsigned char* data, size_t dataLen) {
  return Update<Sha1Hash>(ctx, data, dataLen);
}
int NC_E_HMAC_SHA1_Final(NC_HMAC_SHA1_CTX* ctx, unsigned char* out) {
  return Final<Sha1Hash>(ctx, out);
}

int NC_E_HMAC_SHA256(const unsigned char* data, size_t dataLen, const unsigned char* key,
                     size_t keyLen, unsigned char* out) {
  return OneShot<Sha256Hash, NC_HMAC_SHA256_CTX>(data, dataLen, key, keyLen, out);
}
int NC_E_HMAC_SHA256_Init(NC_HMAC_SHA256_CTX* ctx, const unsigned char* key, size_t keyLen) {
  return Init<Sha256Hash>(ctx, key, keyLen);
}
int NC_E_HMAC_SHA256_Update(NC_HMAC_SHA256_CTX* ctx, const unsigned char* data,
                            size_t dataLen) {
  return Update<Sha256Hash>(ctx, data, dataLen);
}
int NC_E_HMAC_SHA256_Final(NC_HMAC_SHA256_CTX* ctx, unsigned char* out) {
  return Final<Sha256Hash>(ctx, out);
}
