// Streaming CBC adapters with block padding: a private copy of the key
// context carries the chaining state from Init to Final.
#include <cstdlib>
#include <cstring>

#include "common/secure_wipe.h"
#include "qor/cipher_util.h"
#include "qor/lea.h"
#include "qor/nc_aes.h"
#include "qor/nc_aria.h"
#include "qor/nc_des.h"
#include "qor/nc_seed.h"

namespace {

constexpr int kModeCbc = 0;
constexpr int kBlockPadding = 2;

// The cipher's streaming functions; every cipher shares these shapes.
template <class Ctx>
struct StreamOps {
  int (*setAlgInfo)(int, int, const unsigned char*, Ctx*);
  int (*encInit)(Ctx*);
  int (*decInit)(Ctx*);
  int (*encUpdate)(Ctx*, const unsigned char*, int, unsigned char*, int*);
  int (*decUpdate)(Ctx*, const unsigned char*, int, unsigned char*, int*);
  int (*encFinal)(Ctx*, unsigned char*, int*);
  int (*decFinal)(Ctx*, unsigned char*, int*);
};

constexpr StreamOps<NC_SEED_CTX> kSeed{NC_SEED_SetAlgInfo,    NC_SEED_EncInit,       NC_SEED_DecInit,
                                       NC_SEED_CBC_EncUpdate, NC_SEED_CBC_DecUpdate, NC_SEED_CBC_EncFinal,
                                       NC_SEED_CBC_DecFinal};
constexpr StreamOps<NC_ARIA_CTX> kAria{NC_ARIA_SetAlgInfo,    NC_ARIA_EncInit,       NC_ARIA_DecInit,
                                       NC_ARIA_CBC_EncUpdate, NC_ARIA_CBC_DecUpdate, NC_ARIA_CBC_EncFinal,
                                       NC_ARIA_CBC_DecFinal};
constexpr StreamOps<NC_AES_CTX> kAes{NC_AES_SetAlgInfo, NC_AES_EncInit,  NC_AES_DecInit, NC_AES_EncUpdate,
                                     NC_AES_DecUpdate,  NC_AES_EncFinal, NC_AES_DecFinal};
constexpr StreamOps<NC_DES3_CTX> kDes3{NC_DES3_SetAlgInfo,    NC_DES3_EncInit,       NC_DES3_DecInit,
                                       NC_DES3_CBC_EncUpdate, NC_DES3_CBC_DecUpdate, NC_DES3_CBC_EncFinal,
                                       NC_DES3_CBC_DecFinal};
constexpr StreamOps<NC_LEA_CTX> kLea{NC_LEA_SetAlgInfo,    NC_LEA_EncInit,       NC_LEA_DecInit,
                                     NC_LEA_CBC_EncUpdate, NC_LEA_CBC_DecUpdate, NC_LEA_CBC_EncFinal,
                                     NC_LEA_CBC_DecFinal};

template <class Ctx>
int Init(const StreamOps<Ctx>& ops, bool encrypt, const void* key, void** stream, const unsigned char* iv) {
  if (key == nullptr || stream == nullptr) return -1;
  auto* ctx = static_cast<Ctx*>(std::malloc(sizeof(Ctx)));
  if (ctx == nullptr) return -1;
  std::memcpy(ctx, key, sizeof(Ctx));
  ops.setAlgInfo(kModeCbc, kBlockPadding, iv, ctx);
  (encrypt ? ops.encInit : ops.decInit)(ctx);
  *stream = ctx;
  return 0;
}

template <class Ctx>
int Update(int (*update)(Ctx*, const unsigned char*, int, unsigned char*, int*), void* stream,
           const unsigned char* in, int32_t inLen, unsigned char* out, int32_t* outLen) {
  if (stream == nullptr) return -1;
  return update(static_cast<Ctx*>(stream), in, inLen, out, outLen) == 0 ? 0 : -1;
}

// The stream ends here: the key copy is wiped before the caller frees it. A
// negative length from a decrypting Final reports bad padding.
template <class Ctx>
int Final(int (*final)(Ctx*, unsigned char*, int*), void* stream, unsigned char* out, int32_t* runningLen) {
  if (stream == nullptr || runningLen == nullptr) return -1;
  int n = 0;
  const int rc = final(static_cast<Ctx*>(stream), out, &n);
  qor::SecureWipe(stream, sizeof(Ctx));
  if (rc != 0 || n < 0) return -1;
  *runningLen += n;
  return 0;
}

}  // namespace

#define QOR_DEFINE_STREAM(Cipher, ops)                                                                        \
  extern "C" QOR_API int do##Cipher##EncInit(const void* key, void** stream, const unsigned char* iv) {       \
    return Init(ops, true, key, stream, iv);                                                                  \
  }                                                                                                           \
  extern "C" QOR_API int do##Cipher##DecInit(const void* key, void** stream, const unsigned char* iv) {       \
    return Init(ops, false, key, stream, iv);                                                                 \
  }                                                                                                           \
  extern "C" QOR_API int do##Cipher##EncUpdate(void* stream, const unsigned char* in, int32_t inLen,          \
                                               unsigned char* out, int32_t* outLen) {                         \
    return Update(ops.encUpdate, stream, in, inLen, out, outLen);                                             \
  }                                                                                                           \
  extern "C" QOR_API int do##Cipher##DecUpdate(void* stream, const unsigned char* in, int32_t inLen,          \
                                               unsigned char* out, int32_t* outLen) {                         \
    return Update(ops.decUpdate, stream, in, inLen, out, outLen);                                             \
  }                                                                                                           \
  extern "C" QOR_API int do##Cipher##EncFinal(void* stream, unsigned char* out, int32_t* runningLen) {        \
    return Final(ops.encFinal, stream, out, runningLen);                                                      \
  }                                                                                                           \
  extern "C" QOR_API int do##Cipher##DecFinal(void* stream, unsigned char* out, int32_t* runningLen) {        \
    return Final(ops.decFinal, stream, out, runningLen);                                                      \
  }

QOR_DEFINE_STREAM(SEED, kSeed)
QOR_DEFINE_STREAM(ARIA, kAria)
QOR_DEFINE_STREAM(AES, kAes)
QOR_DEFINE_STREAM(DES3, kDes3)
QOR_DEFINE_STREAM(LEA, kLea)
