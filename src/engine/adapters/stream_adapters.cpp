// Streaming CBC adapters with block padding: a private copy of the key
// context carries the chaining state from Init to Final.
#include <cstdlib>
#include <cstring>

#include "common/secure_wipe.h"
#include "engine/adapters/ciphers.h"

namespace {

using qor::engine::adapters::StreamOps;

constexpr int kModeCbc = 0;
constexpr int kBlockPadding = 2;

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

namespace ad = qor::engine::adapters;

QOR_DEFINE_STREAM(SEED, ad::SeedAdapter::kStream)
QOR_DEFINE_STREAM(ARIA, ad::AriaAdapter::kStream)
QOR_DEFINE_STREAM(AES, ad::AesAdapter::kStream)
QOR_DEFINE_STREAM(DES3, ad::Des3TwoKeyAdapter::kStream)
QOR_DEFINE_STREAM(LEA, ad::LeaAdapter::kStream)
