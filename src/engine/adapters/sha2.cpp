// SHA-1 and SHA-2 digests as one-way adapters.
#include "engine/adapters/digest_common.h"
#include "qor/nc_sha.h"

namespace {

namespace ad = qor::engine::adapters;

struct Sha2Kind {
  const char* unit;
  int length;
  const char* allocMessage;
  int (*hash)(unsigned char* out, const unsigned char* in, size_t inLen);
};

int Sha256(unsigned char* out, const unsigned char* in, size_t inLen) { return NC_E_SHA256(out, nullptr, in, inLen); }

constexpr Sha2Kind kSha1{"source/Crypto/CuSHA256", NC_SHA1_DIGEST_LEN,
                         "In the process of SHA1 encrypting, bad_alloc occured\n", NC_E_SHA1};
constexpr Sha2Kind kSha256{"source/Crypto/CuSHA256", NC_SHA256_DIGEST_LEN,
                           "In the process of SHA256 encrypting, bad_alloc occured\n", Sha256};
constexpr Sha2Kind kSha384{"source/Crypto/CuSHA384", NC_SHA384_DIGEST_LEN,
                           "In the process of SHA384 encrypting, bad_alloc occured\n", NC_E_SHA384};
constexpr Sha2Kind kSha512{"source/Crypto/CuSHA512", NC_SHA512_DIGEST_LEN,
                           "In the process of SHA512 encrypting, bad_alloc occured\n", NC_E_SHA512};

int Digest(const char* func, const Sha2Kind& kind, const DataBuffer* in, DataBuffer* out) {
  if (!ad::DigestArgsOk(func, kind.unit, in, out)) return -1;
  unsigned char* buf = ad::NewDigestBuffer(func, kind.unit, kind.length, kind.allocMessage);
  if (buf == nullptr) return -1;
  kind.hash(buf, in->data, static_cast<size_t>(in->length));
  ad::SetDigest(out, buf, kind.length);
  return 0;
}

}  // namespace

extern "C" QOR_API int doDigest(const DataBuffer* in, DataBuffer* out) { return Digest(__func__, kSha1, in, out); }
extern "C" QOR_API int doSHA1Encrypt(const DataBuffer* in, DataBuffer* out) { return doDigest(in, out); }
extern "C" QOR_API int doSHA256Encrypt(const DataBuffer* in, DataBuffer* out) {
  return Digest(__func__, kSha256, in, out);
}
extern "C" QOR_API int doDigest256(const DataBuffer* in, DataBuffer* out) { return Digest(__func__, kSha256, in, out); }
extern "C" QOR_API int doSHA384Encrypt(const DataBuffer* in, DataBuffer* out) {
  return Digest(__func__, kSha384, in, out);
}
extern "C" QOR_API int doSHA512Encrypt(const DataBuffer* in, DataBuffer* out) {
  return Digest(__func__, kSha512, in, out);
}

extern "C" QOR_API int doSHA1EncryptEx(DataBuffer* in, const void*, const unsigned char*, DataBuffer* out, uint16_t,
                                       int32_t, int32_t) {
  return doSHA1Encrypt(in, out);
}
extern "C" QOR_API int doSHA256EncryptEx(DataBuffer* in, const void*, const unsigned char*, DataBuffer* out, uint16_t,
                                         int32_t, int32_t) {
  return doSHA256Encrypt(in, out);
}
extern "C" QOR_API int doSHA384EncryptEx(DataBuffer* in, const void*, const unsigned char*, DataBuffer* out, uint16_t,
                                         int32_t, int32_t) {
  return doSHA384Encrypt(in, out);
}
extern "C" QOR_API int doSHA512EncryptEx(DataBuffer* in, const void*, const unsigned char*, DataBuffer* out, uint16_t,
                                         int32_t, int32_t) {
  return doSHA512Encrypt(in, out);
}
