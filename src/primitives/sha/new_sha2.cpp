// NC_NewSha2: the SHA-256 used for file and header digests. It has its own
// context type but runs the one SHA-256 compression of this library.
#include "primitives/sha/sha_internal.h"
#include "qor/nc_sha.h"

using qor::sha::Sha256Blocks;

int NC_NewSha2_Init(NC_NEWSHA2_CTX* ctx) {
  if (ctx == nullptr) return -1;
  qor::sha::Start(*ctx, qor::sha::kSha256Init);
  return 0;
}

int NC_NewSha2_Update(NC_NEWSHA2_CTX* ctx, const unsigned char* in, size_t inLen) {
  if (ctx == nullptr || (in == nullptr && inLen != 0)) return -1;
  qor::sha::Absorb<64>(*ctx, in, inLen, Sha256Blocks);
  return 0;
}

int NC_NewSha2_Final(NC_NEWSHA2_CTX* ctx, unsigned char* out) {
  if (ctx == nullptr || out == nullptr) return -1;
  qor::sha::Finish<64>(*ctx, out, 8, Sha256Blocks);
  return 0;
}

int NC_NewSha2(unsigned char* out, const unsigned char* in, size_t inLen) {
  if (out == nullptr || (in == nullptr && inLen != 0)) return -1;
  NC_NEWSHA2_CTX ctx;
  qor::sha::Start(ctx, qor::sha::kSha256Init);
  qor::sha::Absorb<64>(ctx, in, inLen, Sha256Blocks);
  qor::sha::Finish<64>(ctx, out, 8, Sha256Blocks);
  return 0;
}
