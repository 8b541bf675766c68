// LEA streaming context (always CBC).
#include "primitives/block16_stream.h"
#include "primitives/lea/lea_internal.h"

namespace stream16 = qor::primitives::stream16;

namespace {

auto Encryptor(NC_LEA_CTX* ctx) {
  return [ctx](const uint8_t* in, uint8_t* out, size_t blocks, uint8_t* chain) {
    qor::lea::CbcEncryptBlocks(in, out, blocks, &ctx->key, chain);
  };
}

auto Decryptor(NC_LEA_CTX* ctx) {
  return [ctx](const uint8_t* in, uint8_t* out, size_t blocks, uint8_t* chain) {
    qor::lea::CbcDecryptBlocks(in, out, blocks, &ctx->key, chain);
  };
}

}  // namespace

extern "C" {

QOR_API int NC_E_LEA_KeyScheduleEx(NC_LEA_CTX* ctx, const uint8_t* key, int keyLen) {
  if (ctx == nullptr || keyLen < 0) return -1;
  return lea_set_key(&ctx->key, key, static_cast<uint32_t>(keyLen));
}

QOR_API int NC_LEA_SetAlgInfo(int mode, int padding, const uint8_t* iv, NC_LEA_CTX* ctx) {
  return stream16::SetAlgInfo(ctx, mode, padding, iv);
}

QOR_API int NC_LEA_EncInit(NC_LEA_CTX* ctx) { return stream16::Init(ctx); }
QOR_API int NC_LEA_DecInit(NC_LEA_CTX* ctx) { return stream16::Init(ctx); }

QOR_API int NC_LEA_CBC_EncUpdate(NC_LEA_CTX* ctx, const uint8_t* in, int inLen, uint8_t* out, int* outLen) {
  return stream16::EncUpdate(ctx, in, inLen, out, outLen, Encryptor(ctx));
}

QOR_API int NC_LEA_CBC_EncFinal(NC_LEA_CTX* ctx, uint8_t* out, int* outLen) {
  return stream16::EncFinal(ctx, out, outLen, Encryptor(ctx));
}

QOR_API int NC_LEA_CBC_DecUpdate(NC_LEA_CTX* ctx, const uint8_t* in, int inLen, uint8_t* out, int* outLen) {
  return stream16::DecUpdate(ctx, in, inLen, out, outLen, Decryptor(ctx));
}

QOR_API int NC_LEA_CBC_DecFinal(NC_LEA_CTX* ctx, uint8_t* out, int* outLen) {
  return stream16::DecFinal(ctx, out, outLen, Decryptor(ctx));
}

}  // extern "C"
