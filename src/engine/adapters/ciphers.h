// One description per block cipher of the algorithm table: its key context,
// padding block, log unit and argument texts, how a record's key contexts are
// built, the one-shot calls over the shared context and the streaming calls
// over a private copy. The rows of engine/algorithms point at these; the
// one-shot and streaming templates (block_adapter.h, stream_adapters.cpp)
// read them.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/secure_wipe.h"
#include "engine/adapters/block_adapter.h"
#include "engine/adapters/key_contexts.h"
#include "log/log.h"
#include "qor/cipher_adapters.h"
#include "qor/lea.h"
#include "qor/nc_aes.h"
#include "qor/nc_aria.h"
#include "qor/nc_des.h"
#include "qor/nc_seed.h"

namespace qor::engine::adapters {

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

// Every cipher below builds its contexts even for a revoked key, without
// the schedule: the record must still hold them to be released.

struct SeedCipher {
  using Ctx = NC_SEED_CTX;
  static constexpr int kBlock = 16;
  static constexpr char kUnit[] = "source/Crypto/CuSEED";
  static constexpr Texts kTexts = kEnglishTexts;

  static int Schedule(const unsigned char* k, int, CipherUtil* p) {
    auto* ctx = NewContext<Ctx>("p->pEKey");
    if (ctx == nullptr) return -1;
    NC_SEED_SetAlgInfo(p->mode, NC_AES_PAD_NONE, nullptr, ctx);
    if (p->keyStatus != QOR_KEY_REVOKED) NC_E_SEED_KeyScheduleEx(ctx, k);
    p->pEKey = p->pDKey = ctx;
    return 0;
  }
  static bool Encrypt(const Ctx& k, const uint8_t* iv, const uint8_t* in, uint8_t* out, int len) {
    return NC_E_SEED_CBC_Encrypt(in, out, k.rk, len, iv) == len;
  }
  static bool Decrypt(const Ctx& k, const uint8_t* iv, const uint8_t* in, uint8_t* out, int len) {
    return NC_E_SEED_CBC_Decrypt(in, out, k.rk, len, iv) == len;
  }
  static constexpr StreamOps<Ctx> kStream{NC_SEED_SetAlgInfo,    NC_SEED_EncInit,       NC_SEED_DecInit,
                                          NC_SEED_CBC_EncUpdate, NC_SEED_CBC_DecUpdate, NC_SEED_CBC_EncFinal,
                                          NC_SEED_CBC_DecFinal};
};

// ARIA's one-shot functions by mode code: CBC, ECB, CTR.
using AriaOneShotFn = int (*)(const uint8_t*, uint8_t*, const uint8_t*, int, const uint8_t*, int);
inline constexpr AriaOneShotFn NC_ARIA_EncrpytFunctions[3] = {NC_E_ARIA_CBC_Encrypt, NC_E_ARIA_ECB_Crypt,
                                                              NC_E_ARIA_CTR_Crypt};
inline constexpr AriaOneShotFn NC_ARIA_DecrpytFunctions[3] = {NC_E_ARIA_CBC_Decrypt, NC_E_ARIA_ECB_Crypt,
                                                              NC_E_ARIA_CTR_Crypt};

struct AriaCipher {
  using Ctx = NC_ARIA_CTX;
  static constexpr int kBlock = 16;
  static constexpr char kUnit[] = "source/Crypto/CuARIA";
  static constexpr Texts kTexts = kEnglishTexts;

  // 12 rounds for a 16-byte key, 16 for a 32-byte one.
  static int Schedule(const unsigned char* k, int keyBytes, CipherUtil* p) {
    const int rounds = keyBytes == 32 ? 16 : 12;
    auto* enc = NewContext<Ctx>("p->pEKey");
    if (enc == nullptr) return -1;
    NC_ARIA_SetAlgInfo(p->mode, NC_ARIA_PADDING_NONE, nullptr, enc);
    if (p->keyStatus != QOR_KEY_REVOKED) NC_ARIA_EncKeyGen(k, enc, rounds);
    p->pEKey = p->pDKey = enc;
    // Counter mode runs the encryption schedule both ways.
    if (p->mode == QOR_MODE_CTR) return 0;
    auto* dec = NewContext<Ctx>("p->pDKey");
    if (dec == nullptr) {
      FreeContext(enc, sizeof(*enc));
      p->pEKey = p->pDKey = nullptr;
      return -1;
    }
    NC_ARIA_SetAlgInfo(p->mode, NC_ARIA_PADDING_NONE, nullptr, dec);
    if (p->keyStatus != QOR_KEY_REVOKED) NC_ARIA_DecKeyGen(k, dec, rounds);
    p->pDKey = dec;
    return 0;
  }
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
  static constexpr StreamOps<Ctx> kStream{NC_ARIA_SetAlgInfo,    NC_ARIA_EncInit,       NC_ARIA_DecInit,
                                          NC_ARIA_CBC_EncUpdate, NC_ARIA_CBC_DecUpdate, NC_ARIA_CBC_EncFinal,
                                          NC_ARIA_CBC_DecFinal};
};

// Triple DES with two keys (16 key bytes) or three (24). Values are padded to
// the 8-byte DES block; streaming runs 16-byte units of two blocks.
template <bool kThreeKeys>
struct Des3Cipher {
  using Ctx = NC_DES3_CTX;
  static constexpr int kBlock = 8;
  static constexpr char kUnit[] = "source/Crypto/CuDES3";
  static constexpr Texts kTexts = kKoreanTexts;

  static int Schedule(const unsigned char* k, int, CipherUtil* p) {
    auto* ctx = NewContext<Ctx>("p->pEKey");
    if (ctx == nullptr) return -1;
    NC_DES3_SetAlgInfo(p->mode, 1, nullptr, ctx);
    if (p->keyStatus != QOR_KEY_REVOKED) {
      if constexpr (kThreeKeys) {
        NC_E_DES3_3Key_ScheduleEx(ctx, k);
      } else {
        NC_E_DES3_KeyScheduleEx(ctx, k);
      }
    }
    p->pEKey = p->pDKey = ctx;
    return 0;
  }
  static bool Encrypt(const Ctx& k, const uint8_t* iv, const uint8_t* in, uint8_t* out, int len) {
    if constexpr (kThreeKeys) return NC_E_DES3_3Key_CBC_Encrypt(in, out, k.ks[0], len, iv) == len;
    return NC_E_DES3_CBC_Encrypt(in, out, k.ks[0], len, iv) == len;
  }
  static bool Decrypt(const Ctx& k, const uint8_t* iv, const uint8_t* in, uint8_t* out, int len) {
    if constexpr (kThreeKeys) return NC_E_DES3_3Key_CBC_Decrypt(in, out, k.ks[0], len, iv) == len;
    return NC_E_DES3_CBC_Decrypt(in, out, k.ks[0], len, iv) == len;
  }
  static constexpr StreamOps<Ctx> kStream{NC_DES3_SetAlgInfo,    NC_DES3_EncInit,       NC_DES3_DecInit,
                                          NC_DES3_CBC_EncUpdate, NC_DES3_CBC_DecUpdate, NC_DES3_CBC_EncFinal,
                                          NC_DES3_CBC_DecFinal};
};
using Des3TwoKeyCipher = Des3Cipher<false>;
using Des3ThreeKeyCipher = Des3Cipher<true>;

// LEA takes the key as given (16, 24 or 32 bytes): it is not staged.
struct LeaCipher {
  using Ctx = NC_LEA_CTX;
  static constexpr int kBlock = 16;
  static constexpr char kUnit[] = "source/Crypto/CuLEA";
  static constexpr Texts kTexts = kKoreanTexts;

  static int Create(const DataBuffer& key, CipherUtil* p) {
    if (key.length != 16 && key.length != 24 && key.length != 32) {
      QOR_CREATE_LOG("LEA not supported %d keylength\n", key.length);
      return -1;
    }
    auto* ctx = NewContext<Ctx>("p->pEKey");
    if (ctx == nullptr) return -1;
    NC_LEA_SetAlgInfo(p->mode, NC_LEA_PADDING_NONE, nullptr, ctx);
    if (p->keyStatus != QOR_KEY_REVOKED) NC_E_LEA_KeyScheduleEx(ctx, key.data, key.length);
    p->pEKey = p->pDKey = ctx;
    return 0;
  }
  static bool Encrypt(const Ctx& k, const uint8_t* iv, const uint8_t* in, uint8_t* out, int len) {
    return lea_cbc_enc(out, in, static_cast<uint32_t>(len), iv, &k.key) == 0;
  }
  static bool Decrypt(const Ctx& k, const uint8_t* iv, const uint8_t* in, uint8_t* out, int len) {
    return lea_cbc_dec(out, in, static_cast<uint32_t>(len), iv, &k.key) == 0;
  }
  static constexpr StreamOps<Ctx> kStream{NC_LEA_SetAlgInfo,    NC_LEA_EncInit,       NC_LEA_DecInit,
                                          NC_LEA_CBC_EncUpdate, NC_LEA_CBC_DecUpdate, NC_LEA_CBC_EncFinal,
                                          NC_LEA_CBC_DecFinal};
};

struct AesCipher {
  using Ctx = NC_AES_CTX;
  static constexpr int kBlock = 16;
  static constexpr char kUnit[] = "source/Crypto/CuAES";
  static constexpr Texts kTexts{"input is null\n", "cipherText is less then 0\n"};

  // AES keeps a decryption context of its own in every mode: its contexts know no
  // counter mode, so sharing one under mode code 2 is not a choice to make here.
  static int Schedule(const unsigned char* k, int keyBytes, CipherUtil* p) {
    auto* enc = NewContext<Ctx>("p->pEKey");
    if (enc == nullptr) return -1;
    NC_AES_SetAlgInfo(p->mode, NC_AES_PAD_NONE, nullptr, enc);
    if (p->keyStatus != QOR_KEY_REVOKED && NC_AES_EncKeySchedule(k, keyBytes, enc) != 0) {
      QOR_CREATE_LOG("NC_AES_EncKeySchedule() Error\n");
      FreeContext(enc, sizeof(*enc));
      return -1;
    }
    auto* dec = NewContext<Ctx>("p->pDKey");
    if (dec == nullptr) {
      FreeContext(enc, sizeof(*enc));
      return -1;
    }
    NC_AES_SetAlgInfo(p->mode, NC_AES_PAD_NONE, nullptr, dec);
    if (p->keyStatus != QOR_KEY_REVOKED && NC_AES_DecKeySchedule(k, keyBytes, dec) != 0) {
      QOR_CREATE_LOG("NC_AES_DecKeySchedule() Error\n");
      FreeContext(enc, sizeof(*enc));
      FreeContext(dec, sizeof(*dec));
      return -1;
    }
    p->pEKey = enc;
    p->pDKey = dec;
    return 0;
  }

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
  static constexpr StreamOps<Ctx> kStream{NC_AES_SetAlgInfo, NC_AES_EncInit,  NC_AES_DecInit, NC_AES_EncUpdate,
                                          NC_AES_DecUpdate,  NC_AES_EncFinal, NC_AES_DecFinal};
};

}  // namespace qor::engine::adapters
