// Keyed AES streaming context: Init/Update/Final over ECB, CBC, OFB and
// CFB-128 with block padding, and one-shot CBC. The buffering and padding are
// the shared streaming pieces; what is AES's own is the mode code, the
// argument rules and that input and output may overlap.
#include "qor/nc_aes.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "common/secure_wipe.h"
#include "primitives/aes/aes_internal.h"
#include "primitives/block_modes.h"
#include "primitives/block_stream.h"

namespace {

using qor::aes::Impl;

constexpr int kBlock = NC_AES_BLOCK_SIZE;
static_assert(qor::primitives::block_stream::kBadPaddingLen == NC_AES_BAD_PADDING &&
              qor::primitives::block_stream::kUnknownPaddingLen == NC_AES_BAD_PADDING_CODE &&
              qor::primitives::block_stream::kUnit == static_cast<size_t>(kBlock));

enum class Mode { kEcb, kCbc, kOfb, kCfb };

Mode ModeOf(const NC_AES_CTX& ctx) {
  switch (ctx.mode) {
    case NC_AES_MODE_ECB: return Mode::kEcb;
    case NC_AES_MODE_OFB: return Mode::kOfb;
    case NC_AES_MODE_CFB: return Mode::kCfb;
    default: return Mode::kCbc;
  }
}

// Round count of a scheduled key, 0 when the context holds none.
int RoundsOf(const NC_AES_KEY& key) {
  switch (key.keyWords) {
    case 4: case 6: case 8: return key.keyWords + 6;
    default: return 0;
  }
}

int Schedule(const unsigned char* key, int keyLen, NC_AES_CTX* ctx) {
  if (key == nullptr || ctx == nullptr) return -1;
  if (keyLen != 16 && keyLen != 24 && keyLen != 32) return NC_AES_ERR_KEY_LENGTH;
  NC_AES_KEY& k = ctx->key;
  const int rounds = qor::aes::ExpandEncryptKey(key, static_cast<size_t>(keyLen), k.encRoundKeys);
  qor::aes::MakeDecryptKey(k.encRoundKeys, rounds, k.decRoundKeys);
  k.keyWords = (keyLen + 3) / 4;
  k.keyLength = keyLen;
  return 0;
}

// Runs whole blocks through the context's mode, advancing its chaining value.
void CryptBlocks(NC_AES_CTX& ctx, const Impl& impl, bool decrypt, const uint8_t* in, uint8_t* out,
                 size_t blocks) {
  if (blocks == 0) return;
  const int rounds = RoundsOf(ctx.key);
  const uint32_t* ek = ctx.key.encRoundKeys;
  const uint32_t* dk = ctx.key.decRoundKeys;
  switch (ModeOf(ctx)) {
    case Mode::kEcb:
      decrypt ? impl.ecbDecrypt(dk, rounds, in, out, blocks) : impl.ecbEncrypt(ek, rounds, in, out, blocks);
      break;
    case Mode::kCbc:
      decrypt ? impl.cbcDecrypt(dk, rounds, ctx.chain, in, out, blocks)
              : impl.cbcEncrypt(ek, rounds, ctx.chain, in, out, blocks);
      break;
    case Mode::kOfb:
      impl.ofbCrypt(ek, rounds, ctx.chain, in, out, blocks);
      break;
    case Mode::kCfb:
      decrypt ? impl.cfbDecrypt(ek, rounds, ctx.chain, in, out, blocks)
              : impl.cfbEncrypt(ek, rounds, ctx.chain, in, out, blocks);
      break;
  }
}

namespace bs = qor::primitives::block_stream;

struct AesCipher {
  using Ctx = NC_AES_CTX;
  static constexpr int32_t Ctx::*kBuffered = &Ctx::bufferedCount;
  static constexpr bs::NullIv kNullIv = bs::NullIv::kKeep;
  static uint8_t* Buffer(Ctx* ctx) { return ctx->buffer; }
  static void Encrypt(Ctx* ctx, const uint8_t* in, uint8_t* out, size_t units) {
    CryptBlocks(*ctx, qor::aes::Active(), false, in, out, units);
  }
  static void Decrypt(Ctx* ctx, const uint8_t* in, uint8_t* out, size_t units) {
    CryptBlocks(*ctx, qor::aes::Active(), true, in, out, units);
  }
};

bool Overlaps(const void* a, size_t aLen, const void* b, size_t bLen) {
  const auto pa = reinterpret_cast<uintptr_t>(a);
  const auto pb = reinterpret_cast<uintptr_t>(b);
  return pa < pb + bLen && pb < pa + aLen;
}

template <bool kDecrypt>
int Update(NC_AES_CTX* ctx, const unsigned char* in, int inLen, unsigned char* out, int* outLen) {
  if (outLen == nullptr) return -1;
  *outLen = 0;
  if (ctx == nullptr || inLen < 0 || (inLen > 0 && in == nullptr)) return -1;
  if (RoundsOf(ctx->key) == 0) return NC_AES_ERR_KEY_LENGTH;
  const int buffered = ctx->bufferedCount;
  if (buffered < 0 || buffered > kBlock) return -1;

  const size_t n = static_cast<size_t>(inLen);
  const size_t b = static_cast<size_t>(buffered);
  const size_t produce = bs::Produced<kDecrypt>(b, n);
  if (produce > 0 && (out == nullptr || produce > static_cast<size_t>(INT_MAX))) return -1;

  // Output runs b bytes ahead of the input it comes from, so a shared buffer
  // is safe only when the output starts at least b bytes before the input.
  std::unique_ptr<uint8_t[]> copy;
  const uint8_t* src = in;
  if (produce > 0 && n > 0 && Overlaps(in, n, out, produce) &&
      reinterpret_cast<uintptr_t>(out) + b > reinterpret_cast<uintptr_t>(in)) {
    copy.reset(new (std::nothrow) uint8_t[n]);
    if (!copy) return -1;
    std::memcpy(copy.get(), in, n);
    src = copy.get();
  }
  const size_t written = bs::Feed<AesCipher, kDecrypt>(ctx, src, n, out);
  if (copy) qor::SecureWipe(copy.get(), n);
  *outLen = static_cast<int>(written);
  return 0;
}

// OFB and CFB end like a stream cipher: the buffered bytes are XORed with the
// next keystream block and nothing is padded.
int StreamFinal(NC_AES_CTX* ctx, unsigned char* out, int* outLen) {
  const int count = ctx->bufferedCount;
  if (count > 0) {
    if (out == nullptr) return -1;
    uint8_t keystream[kBlock];
    qor::aes::Active().encryptBlock(ctx->key.encRoundKeys, RoundsOf(ctx->key), ctx->chain, keystream);
    for (int i = 0; i < count; ++i) out[i] = static_cast<uint8_t>(ctx->buffer[i] ^ keystream[i]);
    qor::SecureWipe(keystream, sizeof keystream);
  }
  qor::SecureWipe(ctx->buffer, sizeof ctx->buffer);
  ctx->bufferedCount = 0;
  *outLen = count;
  return 0;
}

// Common checks of every Final; returns -1 (or the key error) when the call
// cannot go on, 0 otherwise.
int CheckFinal(NC_AES_CTX* ctx, int* outLen) {
  if (outLen == nullptr) return -1;
  *outLen = 0;
  if (ctx == nullptr || ctx->bufferedCount < 0 || ctx->bufferedCount > kBlock) return -1;
  if (RoundsOf(ctx->key) == 0) return NC_AES_ERR_KEY_LENGTH;
  return 0;
}

int BlockDecFinal(NC_AES_CTX* ctx, unsigned char* out, int* outLen, Mode mode) {
  if (const int rc = CheckFinal(ctx, outLen); rc != 0) return rc;
  if (ctx->bufferedCount == 0) return 0;
  if (ctx->bufferedCount != kBlock) return NC_AES_ERR_PARTIAL_UNIT;
  if (out == nullptr) return -1;

  const Impl& impl = qor::aes::Active();
  const int rounds = RoundsOf(ctx->key);
  uint8_t plain[kBlock];
  if (mode == Mode::kEcb) {
    impl.decryptBlock(ctx->key.decRoundKeys, rounds, ctx->buffer, plain);
  } else {
    impl.cbcDecrypt(ctx->key.decRoundKeys, rounds, ctx->chain, ctx->buffer, plain, 1);
  }
  ctx->bufferedCount = 0;
  qor::SecureWipe(ctx->buffer, sizeof ctx->buffer);

  if (ctx->padding == NC_AES_PAD_NONE) {
    std::memcpy(out, plain, kBlock);
    *outLen = kBlock;
  } else if (ctx->padding == NC_AES_PAD_BLOCK) {
    const int32_t kept = qor::primitives::block_stream::PaddedLength(plain);
    if (kept > 0) std::memcpy(out, plain, static_cast<size_t>(kept));
    *outLen = kept;
  } else {
    *outLen = NC_AES_BAD_PADDING_CODE;
  }
  qor::SecureWipe(plain, sizeof plain);
  return 0;
}

}  // namespace

int NC_AES_EncKeySchedule(const unsigned char* key, int keyLen, NC_AES_CTX* ctx) {
  return Schedule(key, keyLen, ctx);
}

int NC_AES_DecKeySchedule(const unsigned char* key, int keyLen, NC_AES_CTX* ctx) {
  return Schedule(key, keyLen, ctx);
}

int NC_AES_SetAlgInfo(int mode, int padding, const unsigned char* iv, NC_AES_CTX* ctx) {
  return bs::SetAlgInfo<AesCipher>(mode, padding, iv, ctx);
}

int NC_AES_EncInit(NC_AES_CTX* ctx) {
  if (ctx == nullptr) return -1;
  ctx->bufferedCount = 0;
  if (ModeOf(*ctx) != Mode::kEcb) std::memcpy(ctx->chain, ctx->iv, sizeof ctx->chain);
  return 0;
}

int NC_AES_DecInit(NC_AES_CTX* ctx) { return NC_AES_EncInit(ctx); }

int NC_AES_EncUpdate(NC_AES_CTX* ctx, const unsigned char* in, int inLen, unsigned char* out, int* outLen) {
  return Update<false>(ctx, in, inLen, out, outLen);
}

int NC_AES_DecUpdate(NC_AES_CTX* ctx, const unsigned char* in, int inLen, unsigned char* out, int* outLen) {
  return Update<true>(ctx, in, inLen, out, outLen);
}

int NC_AES_EncFinal(NC_AES_CTX* ctx, unsigned char* out, int* outLen) {
  if (const int rc = CheckFinal(ctx, outLen); rc != 0) return rc;
  const Mode mode = ModeOf(*ctx);
  if (mode == Mode::kOfb || mode == Mode::kCfb) return StreamFinal(ctx, out, outLen);

  const int count = ctx->bufferedCount;
  if (ctx->padding == NC_AES_PAD_NONE) return count > 0 ? NC_AES_ERR_UNPADDED_DATA : 0;
  if (ctx->padding != NC_AES_PAD_BLOCK) return NC_AES_ERR_PADDING_CODE;
  if (out == nullptr) return -1;

  bs::PadAndEncrypt<AesCipher>(ctx, out);
  *outLen = kBlock;
  return 0;
}

int NC_AES_DecFinal(NC_AES_CTX* ctx, unsigned char* out, int* outLen) {
  if (ctx == nullptr) {
    if (outLen != nullptr) *outLen = 0;
    return -1;
  }
  switch (ModeOf(*ctx)) {
    case Mode::kEcb: return NC_ECB_DecFinal(ctx, out, outLen);
    case Mode::kOfb: return NC_OFB_DecFinal(ctx, out, outLen);
    case Mode::kCfb: return NC_CFB_DecFinal(ctx, out, outLen);
    case Mode::kCbc: break;
  }
  return NC_CBC_DecFinal(ctx, out, outLen);
}

int NC_ECB_DecFinal(NC_AES_CTX* ctx, unsigned char* out, int* outLen) {
  return BlockDecFinal(ctx, out, outLen, Mode::kEcb);
}

int NC_CBC_DecFinal(NC_AES_CTX* ctx, unsigned char* out, int* outLen) {
  return BlockDecFinal(ctx, out, outLen, Mode::kCbc);
}

int NC_OFB_DecFinal(NC_AES_CTX* ctx, unsigned char* out, int* outLen) {
  if (const int rc = CheckFinal(ctx, outLen); rc != 0) return rc;
  return StreamFinal(ctx, out, outLen);
}

int NC_CFB_DecFinal(NC_AES_CTX* ctx, unsigned char* out, int* outLen) {
  if (const int rc = CheckFinal(ctx, outLen); rc != 0) return rc;
  return StreamFinal(ctx, out, outLen);
}

int NC_AES_CBC_Encrypt(const NC_AES_CTX* ctx, const unsigned char* iv, const unsigned char* in, int inLen,
                       unsigned char* out) {
  if (ctx == nullptr || iv == nullptr || inLen < 0 || inLen > INT_MAX - kBlock) return -1;
  const int rounds = RoundsOf(ctx->key);
  if (rounds == 0) return -1;
  if (inLen == 0) return 0;
  if (in == nullptr || out == nullptr) return -1;
  const Impl& impl = qor::aes::Active();
  const uint32_t* ek = ctx->key.encRoundKeys;
  auto cbc = [&impl, ek, rounds](const uint8_t* src, uint8_t* dst, size_t n, uint8_t* chain) {
    impl.cbcEncrypt(ek, rounds, chain, src, dst, n);
  };
  const size_t written = qor::primitives::CbcZeroFilled(in, out, static_cast<size_t>(inLen), iv, cbc);
  return static_cast<int>(written);
}

int NC_AES_CBC_Decrypt(const NC_AES_CTX* ctx, const unsigned char* iv, const unsigned char* in, int inLen,
                       unsigned char* out) {
  if (ctx == nullptr || iv == nullptr || inLen < 0 || inLen % kBlock != 0) return -1;
  const int rounds = RoundsOf(ctx->key);
  if (rounds == 0) return -1;
  if (inLen == 0) return 0;
  if (in == nullptr || out == nullptr) return -1;
  uint8_t chain[kBlock];
  std::memcpy(chain, iv, kBlock);
  qor::aes::Active().cbcDecrypt(ctx->key.decRoundKeys, rounds, chain, in, out, static_cast<size_t>(inLen) / kBlock);
  return inLen;
}
