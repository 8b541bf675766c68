// LEA streaming context (always CBC).
#include "primitives/block_stream.h"
#include "primitives/lea/lea_internal.h"

namespace {

namespace bs = qor::primitives::block_stream;

struct LeaCipher {
  using Ctx = NC_LEA_CTX;
  static constexpr int32_t Ctx::*kBuffered = &Ctx::bufLen;
  static constexpr bs::NullIv kNullIv = bs::NullIv::kZero;
  static constexpr bs::Checks kChecks = bs::Checks::kLenient;
  static void Encrypt(Ctx* ctx, const uint8_t* in, uint8_t* out, size_t units) {
    qor::lea::CbcEncryptBlocks(in, out, units, &ctx->key, ctx->chain);
  }
  static void Decrypt(Ctx* ctx, const uint8_t* in, uint8_t* out, size_t units) {
    qor::lea::CbcDecryptBlocks(in, out, units, &ctx->key, ctx->chain);
  }
};

}  // namespace

extern "C" {

QOR_API int NC_E_LEA_KeyScheduleEx(NC_LEA_CTX* ctx, const uint8_t* key, int keyLen) {
  if (ctx == nullptr || keyLen < 0) return -1;
  return lea_set_key(&ctx->key, key, static_cast<uint32_t>(keyLen));
}

QOR_API int NC_LEA_SetAlgInfo(int mode, int padding, const uint8_t* iv, NC_LEA_CTX* ctx) {
  return bs::SetAlgInfo<LeaCipher>(mode, padding, iv, ctx);
}

QOR_API int NC_LEA_EncInit(NC_LEA_CTX* ctx) { return bs::Init<LeaCipher>(ctx); }
QOR_API int NC_LEA_DecInit(NC_LEA_CTX* ctx) { return bs::Init<LeaCipher>(ctx); }

QOR_API int NC_LEA_CBC_EncUpdate(NC_LEA_CTX* ctx, const uint8_t* in, int inLen, uint8_t* out, int* outLen) {
  return bs::EncUpdate<LeaCipher>(ctx, in, inLen, out, outLen);
}

QOR_API int NC_LEA_CBC_EncFinal(NC_LEA_CTX* ctx, uint8_t* out, int* outLen) {
  return bs::EncFinal<LeaCipher>(ctx, out, outLen);
}

QOR_API int NC_LEA_CBC_DecUpdate(NC_LEA_CTX* ctx, const uint8_t* in, int inLen, uint8_t* out, int* outLen) {
  return bs::DecUpdate<LeaCipher>(ctx, in, inLen, out, outLen);
}

QOR_API int NC_LEA_CBC_DecFinal(NC_LEA_CTX* ctx, uint8_t* out, int* outLen) {
  return bs::DecFinal<LeaCipher>(ctx, out, outLen);
}

}  // extern "C"
