// The exported one-shot block-cipher adapters: each is the shared template
// over one cipher description (ciphers.h).
#include "engine/adapters/adapters.h"
#include "engine/adapters/block_adapter.h"
#include "engine/adapters/ciphers.h"

namespace ad = qor::engine::adapters;

#define QOR_DEFINE_BLOCK_ADAPTERS(Enc, Dec, Cipher)                                                          \
  extern "C" QOR_API int Enc(DataBuffer* in, const void* key, const unsigned char* iv, DataBuffer* out,      \
                             uint16_t keyVersion, int32_t useRecordIV, int32_t) {                            \
    return ad::BlockEncrypt<ad::Cipher>(#Enc, in, key, iv, out, keyVersion, useRecordIV);                    \
  }                                                                                                          \
  extern "C" QOR_API int Dec(DataBuffer* in, const void* key, const unsigned char* iv, DataBuffer* out,      \
                             int32_t nullProcess, int32_t compatibility) {                                   \
    return ad::BlockDecrypt<ad::Cipher>(#Dec, in, key, iv, out, nullProcess, compatibility);                 \
  }                                                                                                          \
  int ad::Enc##Into(DataBuffer* in, const void* key, const unsigned char* iv, unsigned char* out,            \
                    uint16_t keyVersion, int32_t useRecordIV) {                                              \
    return ad::BlockEncryptInto<ad::Cipher>(#Enc, in, key, iv, out, keyVersion, useRecordIV);                \
  }

QOR_DEFINE_BLOCK_ADAPTERS(doSEEDEncryptEx, doSEEDDecrypt, SeedAdapter)
QOR_DEFINE_BLOCK_ADAPTERS(doARIAEncryptEx2, doARIADecrypt2, AriaAdapter)
QOR_DEFINE_BLOCK_ADAPTERS(doAESEncryptEx, doAESDecrypt, AesAdapter)
QOR_DEFINE_BLOCK_ADAPTERS(doDES3EncryptEx, doDES3Decrypt, Des3TwoKeyAdapter)
QOR_DEFINE_BLOCK_ADAPTERS(doDES3Encrypt_3keyEx, doDES3Decrypt_3key, Des3ThreeKeyAdapter)
QOR_DEFINE_BLOCK_ADAPTERS(doLEAEncryptEx, doLEADecrypt, LeaAdapter)
