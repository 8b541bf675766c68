// LSH-512 digests as one-way adapters.
#include "engine/adapters/digest_common.h"
#include "qor/lsh.h"

namespace {

constexpr char kLogUnit[] = "source/Crypto/CuLSH";
namespace ad = qor::engine::adapters;
using qor::log::kCrit;

int Lsh(const char* func, uint32_t algType, const DataBuffer* in, DataBuffer* out) {
  if (!ad::DigestArgsOk(func, kLogUnit, in, out)) return -1;
  const int len = static_cast<int>(algType & 0xFFFF);
  unsigned char* buf = ad::NewDigestBuffer(func, kLogUnit, len, "In the process of doSHA3, bad_alloc occured\n");
  if (buf == nullptr) return -1;
  LSH512_CTX ctx;
  if (lsh512_init(&ctx, algType) != 0 ||
      lsh512_update(&ctx, in->data, 8 * static_cast<size_t>(in->length)) != 0) {
    std::free(buf);
    return -1;
  }
  if (lsh512_final(&ctx, buf) != 0) {
    QOR_LOG_AS(kCrit, func, kLogUnit, "LSH512 : lsh_final ERROR\n");
    std::free(buf);
    return -1;
  }
  ad::SetDigest(out, buf, len);
  return 0;
}

}  // namespace

extern "C" QOR_API int doLSH256_Encrypt(const DataBuffer* in, DataBuffer* out, int bits) {
  if (bits != 256) {
    QOR_LOG(kCrit, "LSH512 : Not supported hash size\n");
    return -1;
  }
  return Lsh(__func__, LSH512_TYPE_256, in, out);
}

extern "C" QOR_API int doLSH512_Encrypt(const DataBuffer* in, DataBuffer* out, int bits) {
  if (bits != 512) {
    QOR_LOG(kCrit, "LSH512 : Not supported hash size\n");
    return -1;
  }
  return Lsh(__func__, LSH512_TYPE_512, in, out);
}

extern "C" QOR_API int doLSH512_256Encrypt(DataBuffer* in, const void*, const unsigned char*, DataBuffer* out,
                                           uint16_t, int32_t, int32_t) {
  return doLSH256_Encrypt(in, out, 256);
}
extern "C" QOR_API int doLSH512_512Encrypt(DataBuffer* in, const void*, const unsigned char*, DataBuffer* out,
                                           uint16_t, int32_t, int32_t) {
  return doLSH512_Encrypt(in, out, 512);
}
