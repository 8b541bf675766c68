// The one-shot block-cipher adapters: each cipher's traits for the shared
// template, and the exported entries of the encrypt and decrypt tables.
#include <cstring>

#include "common/secure_wipe.h"
#include "engine/adapters/block_adapter.h"
#include "qor/lea.h"
#include "qor/nc_aes.h"
#include "qor/nc_aria.h"
#include "qor/nc_des.h"
#include "qor/nc_seed.h"

namespace qor::engine::adapters {
namespace {

struct SeedCipher {
  using Ctx = NC_SEED_CTX;
  static constexpr int kBlock = 16;
  static constexpr char kUnit[] = "source/Crypto/CuSEED";
  static constexpr Texts kTexts = kEnglishTexts;
  static bool Encrypt(const Ctx& k, const uint8_t* iv, const uint8_t* in, uint8_t* out, int len) {
    return NC_E_SEED_CBC_Encrypt(in, out, k.rk, len, iv) == len;
  }
  static bool Decrypt(const Ctx& k, const uint8_t* iv, const uint8_t* in, uint8_t* out, int len) {
    return NC_E_SEED_CBC_Decrypt(in, out, k.rk, len, iv) == len;
  }
};

// ARIA's one-shot functions by mode code: CBC, ECB, CTR.
using AriaOneShotFn = int (*)(const uint8_t*, uint8_t*, const uint8_t*, int, const uint8_t*, int);
constexpr AriaOneShotFn NC_ARIA_EncrpytFunctions[3] = {NC_E_ARIA_CBC_Encrypt, NC_E_ARIA_ECB_Crypt,
                                                       NC_E_ARIA_CTR_Crypt};
constexpr AriaOneShotFn NC_ARIA_DecrpytFunctions[3] = {NC_E_ARIA_CBC_Decrypt, NC_E_ARIA_ECB_Crypt,
                                                       NC_E_ARIA_CTR_Crypt};

struct AriaCipher {
  using Ctx = NC_ARIA_CTX;
  static constexpr int kBlock = 16;
  static constexpr char kUnit[] = "source/Crypto/CuARIA";
  static constexpr Texts kTexts = kEnglishTexts;
  // Modes past the table (OFB, CFB) have no ARIA function.
  static bool Run(const AriaOneShotFn (&table)[3], const Ctx& k, const uint8_t* iv, const uint8_t* in, uint8_t* out,
                  int len) {
    if (k.mode < 0 || k.mode > 2) return false;
    return table[k.mode](in, out, k.roundKey, len, iv, k.rounds) == len;
  }
  static bool Encrypt(const Ctx& k, const uint8_t* iv, const uint8_t* in, uint8_t* out, int len) {
    return Run(NC_ARIA_EncrpytFunctions, k, iv, in, out, len);
  }
  static bool Decrypt(const Ctx& k, const uint8_t* iv, const uint8_t* in, uint8_t* out, int len) {
    return Run(NC_ARIA_DecrpytFunctions, k, iv, in, out, len);
  }
};

struct Des3Cipher {
  using Ctx = NC_DES3_CTX;
  static constexpr int kBlock = 8;
  static constexpr char kUnit[] = "source/Crypto/CuDES3";
  static constexpr Texts kTexts = kKoreanTexts;
  static bool Encrypt(const Ctx& k, const uint8_t* iv, const uint8_t* in, uint8_t* out, int len) {
    return NC_E_DES3_CBC_Encrypt(in, out, k.ks[0], len, iv) == len;
  }
  static bool Decrypt(const Ctx& k, const uint8_t* iv, const uint8_t* in, uint8_t* out, int len) {
    return NC_E_DES3_CBC_Decrypt(in, out, k.ks[0], len, iv) == len;
  }
};

struct Des3ThreeKeyCipher : Des3Cipher {
  static bool Encrypt(const Ctx& k, const uint8_t* iv, const uint8_t* in, uint8_t* out, int len) {
    return NC_E_DES3_3Key_CBC_Encrypt(in, out, k.ks[0], len, iv) == len;
  }
  static bool Decrypt(const Ctx& k, const uint8_t* iv, const uint8_t* in, uint8_t* out, int len) {
    return NC_E_DES3_3Key_CBC_Decrypt(in, out, k.ks[0], len, iv) == len;
  }
};

struct LeaCipher {
  using Ctx = NC_LEA_CTX;
  static constexpr int kBlock = 16;
  static constexpr char kUnit[] = "source/Crypto/CuLEA";
  static constexpr Texts kTexts = kKoreanTexts;
  static bool Encrypt(const Ctx& k, const uint8_t* iv, const uint8_t* in, uint8_t* out, int len) {
    return lea_cbc_enc(out, in, static_cast<uint32_t>(len), iv, &k.key) == 0;
  }
  static bool Decrypt(const Ctx& k, const uint8_t* iv, const uint8_t* in, uint8_t* out, int len) {
    return lea_cbc_dec(out, in, static_cast<uint32_t>(len), iv, &k.key) == 0;
  }
};

struct AesCipher {
  using Ctx = NC_AES_CTX;
  static constexpr int kBlock = 16;
  static constexpr char kUnit[] = "source/Crypto/CuAES";
  static constexpr Texts kTexts{"input is null\n", "cipherText is less then 0\n"};

  // Every mode code but ECB, OFB and CFB runs CBC, which has a path that
  // leaves the shared context alone.
  static bool RunsCbc(const Ctx& k) {
    return k.mode != NC_AES_MODE_ECB && k.mode != NC_AES_MODE_OFB && k.mode != NC_AES_MODE_CFB;
  }

  // The other modes stream through a private copy of the context.
  template <bool kEncrypt>
  static bool Stream(const Ctx& k, const uint8_t* iv, const uint8_t* in, uint8_t* out, int len) {
    Ctx copy;
    std::memcpy(&copy, &k, sizeof(copy));
    NC_AES_SetAlgInfo(k.mode, NC_AES_PAD_NONE, iv, &copy);
    int n1 = 0, n2 = 0;
    bool ok;
    if constexpr (kEncrypt) {
      ok = NC_AES_EncInit(&copy) == 0 && NC_AES_EncUpdate(&copy, in, len, out, &n1) == 0 &&
           NC_AES_EncFinal(&copy, out + n1, &n2) == 0;
    } else {
      ok = NC_AES_DecInit(&copy) == 0 && NC_AES_DecUpdate(&copy, in, len, out, &n1) == 0 &&
           NC_AES_DecFinal(&copy, out + n1, &n2) == 0;
    }
    qor::SecureWipe(&copy, sizeof(copy));
    return ok && n1 + n2 == len;
  }

  static bool Encrypt(const Ctx& k, const uint8_t* iv, const uint8_t* in, uint8_t* out, int len) {
    if (RunsCbc(k)) return NC_AES_CBC_Encrypt(&k, iv, in, len, out) == len;
    return Stream<true>(k, iv, in, out, len);
  }
  static bool Decrypt(const Ctx& k, const uint8_t* iv, const uint8_t* in, uint8_t* out, int len) {
    if (RunsCbc(k)) return NC_AES_CBC_Decrypt(&k, iv, in, len, out) == len;
    return Stream<false>(k, iv, in, out, len);
  }
};

}  // namespace
}  // namespace qor::engine::adapters

namespace ad = qor::engine::adapters;

#define QOR_DEFINE_BLOCK_ADAPTERS(Enc, Dec, Cipher)                                                          \
  extern "C" QOR_API int Enc(DataBuffer* in, const void* key, const unsigned char* iv, DataBuffer* out,      \
                             uint16_t keyVersion, int32_t useRecordIV, int32_t) {                            \
    return ad::BlockEncrypt<ad::Cipher>(#Enc, in, key, iv, out, keyVersion, useRecordIV);                    \
  }                                                                                                          \
  extern "C" QOR_API int Dec(DataBuffer* in, const void* key, const unsigned char* iv, DataBuffer* out,      \
                             int32_t nullProcess, int32_t compatibility) {                                   \
    return ad::BlockDecrypt<ad::Cipher>(#Dec, in, key, iv, out, nullProcess, compatibility);                 \
  }

QOR_DEFINE_BLOCK_ADAPTERS(doSEEDEncryptEx, doSEEDDecrypt, SeedCipher)
QOR_DEFINE_BLOCK_ADAPTERS(doARIAEncryptEx2, doARIADecrypt2, AriaCipher)
QOR_DEFINE_BLOCK_ADAPTERS(doAESEncryptEx, doAESDecrypt, AesCipher)
QOR_DEFINE_BLOCK_ADAPTERS(doDES3EncryptEx, doDES3Decrypt, Des3Cipher)
QOR_DEFINE_BLOCK_ADAPTERS(doDES3Encrypt_3keyEx, doDES3Decrypt_3key, Des3ThreeKeyCipher)
QOR_DEFINE_BLOCK_ADAPTERS(doLEAEncryptEx, doLEADecrypt, LeaCipher)
