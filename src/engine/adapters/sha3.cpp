// SHA-3 digests as one-way adapters.
#include "engine/adapters/digest_common.h"
#include "qor/sha3.h"

namespace {

constexpr char kLogUnit[] = "source/Crypto/CuSHA3";
namespace ad = qor::engine::adapters;

}  // namespace

extern "C" QOR_API int doSHA3_Encrypt(const DataBuffer* in, DataBuffer* out, int bits) {
  if (bits != 224 && bits != 256 && bits != 384 && bits != 512) {
    QOR_LOG(qor::log::kCrit, "SHA3 : Not supported hash size\n");
    return -1;
  }
  if (!ad::DigestArgsOk(__func__, kLogUnit, in, out)) return -1;
  const int len = bits / 8;
  unsigned char* buf =
      ad::NewDigestBuffer(__func__, kLogUnit, len, "In the process of doSHA3, bad_alloc occured\n");
  if (buf == nullptr) return -1;
  SHA3_CTX ctx;
  if (sha3_init(&ctx, bits, 0) != 0 || sha3_update(&ctx, in->data, static_cast<size_t>(in->length)) != 0 ||
      sha3_final(&ctx, buf, static_cast<size_t>(len)) != 0) {
    std::free(buf);
    return -1;
  }
  ad::SetDigest(out, buf, len);
  return 0;
}

extern "C" QOR_API int doSHA3_256Encrypt(DataBuffer* in, const void*, const unsigned char*, DataBuffer* out, uint16_t,
                                         int32_t, int32_t) {
  return doSHA3_Encrypt(in, out, 256);
}
extern "C" QOR_API int doSHA3_384Encrypt(DataBuffer* in, const void*, const unsigned char*, DataBuffer* out, uint16_t,
                                         int32_t, int32_t) {
  return doSHA3_Encrypt(in, out, 384);
}
extern "C" QOR_API int doSHA3_512Encrypt(DataBuffer* in, const void*, const unsigned char*, DataBuffer* out, uint16_t,
                                         int32_t, int32_t) {
  return doSHA3_Encrypt(in, out, 512);
}
