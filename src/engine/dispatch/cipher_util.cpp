// Key-version records: building the key contexts of one version, releasing them.
#include <cstdlib>
#include <cstring>

#include "common/secure_wipe.h"
#include "engine/engine_log.h"
#include "qor/cipher_util.h"
#include "qor/cupin.h"
#include "qor/lea.h"
#include "qor/nc_aes.h"
#include "qor/nc_aria.h"
#include "qor/nc_des.h"
#include "qor/nc_seed.h"

namespace {

constexpr char kLogUnit[] = "source/Crypto/CipherUtil";

using qor::log::kCrit;

// Helpers below log on behalf of the creation function.
#define CREATE_LOG(fmt, ...) QOR_LOG_AS(kCrit, "CipherUtil_Create", kLogUnit, fmt __VA_OPT__(, ) __VA_ARGS__)

// Key bytes staged for a schedule; wiped when the scope ends.
template <size_t N>
struct KeyBuffer {
  unsigned char bytes[N] = {};
  KeyBuffer() = default;
  KeyBuffer(const KeyBuffer&) = delete;
  KeyBuffer& operator=(const KeyBuffer&) = delete;
  ~KeyBuffer() { qor::SecureWipe(bytes, N); }
};

// The key's first bytes, at most N, the rest zero.
template <size_t N>
void FillKey(KeyBuffer<N>& k, const DataBuffer& key) {
  const size_t n = static_cast<size_t>(key.length) < N ? static_cast<size_t>(key.length) : N;
  std::memcpy(k.bytes, key.data, n);
}

// 32-byte key of the 256-bit ARIA and AES codes: a 16-byte key is used twice.
void FillKey256(KeyBuffer<32>& k, const DataBuffer& key) {
  std::memcpy(k.bytes, key.data, key.length < 16 ? static_cast<size_t>(key.length) : 16);
  if (key.length >= 32) {
    std::memcpy(k.bytes + 16, key.data + 16, 16);
  } else {
    std::memcpy(k.bytes + 16, k.bytes, 16);
  }
}


// Size of the key context a code allocates (0: none, or not plain memory).
size_t ContextSize(uint32_t code) {
  switch (code) {
    case QOR_ALG_SEED:
      return sizeof(NC_SEED_CTX);
    case QOR_ALG_ARIA128:
    case QOR_ALG_ARIA256:
      return sizeof(NC_ARIA_CTX);
    case QOR_ALG_DES3_2KEY:
    case QOR_ALG_DES3_2KEY_B:
    case QOR_ALG_DES3_3KEY:
      return sizeof(NC_DES3_CTX);
    case QOR_ALG_AES128:
    case QOR_ALG_AES256:
      return sizeof(NC_AES_CTX);
    case QOR_ALG_LEA128:
    case QOR_ALG_LEA256:
      return sizeof(NC_LEA_CTX);
    default:
      return 0;
  }
}

void FreeContext(void* ctx, size_t size) {
  if (ctx == nullptr) return;
  qor::SecureWipe(ctx, size);
  std::free(ctx);
}

template <class Ctx>
Ctx* NewContext(const char* which) {
  auto* ctx = static_cast<Ctx*>(std::calloc(1, sizeof(Ctx)));
  if (ctx == nullptr) CREATE_LOG("%s Memory Allocation failed.\n", which);
  return ctx;
}

int CreateSeed(const DataBuffer& key, CipherUtil* p) {
  KeyBuffer<16> k;
  FillKey(k, key);
  auto* ctx = NewContext<NC_SEED_CTX>("p->pEKey");
  if (ctx == nullptr) return -1;
  NC_SEED_SetAlgInfo(p->mode, NC_AES_PAD_NONE, nullptr, ctx);
  if (p->keyStatus != QOR_KEY_REVOKED) NC_E_SEED_KeyScheduleEx(ctx, k.bytes);
  p->pEKey = p->pDKey = ctx;
  return 0;
}

int CreateAria(const unsigned char* k, int rounds, CipherUtil* p) {
  auto* enc = NewContext<NC_ARIA_CTX>("p->pEKey");
  if (enc == nullptr) return -1;
  NC_ARIA_SetAlgInfo(p->mode, NC_ARIA_PADDING_NONE, nullptr, enc);
  if (p->keyStatus != QOR_KEY_REVOKED) NC_ARIA_EncKeyGen(k, enc, rounds);
  p->pEKey = p->pDKey = enc;
  // Counter mode runs the encryption schedule both ways.
  if (p->mode == QOR_MODE_CTR) return 0;
  auto* dec = NewContext<NC_ARIA_CTX>("p->pDKey");
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

int CreateDes3(const unsigned char* k, bool threeKeys, CipherUtil* p) {
  auto* ctx = NewContext<NC_DES3_CTX>("p->pEKey");
  if (ctx == nullptr) return -1;
  NC_DES3_SetAlgInfo(p->mode, 1, nullptr, ctx);
  if (p->keyStatus != QOR_KEY_REVOKED) {
    if (threeKeys) {
      NC_E_DES3_3Key_ScheduleEx(ctx, k);
    } else {
      NC_E_DES3_KeyScheduleEx(ctx, k);
    }
  }
  p->pEKey = p->pDKey = ctx;
  return 0;
}

// AES keeps a decryption context of its own in every mode: its contexts know no
// counter mode, so sharing one under mode code 2 is not a choice to make here.
int CreateAes(const unsigned char* k, int keyLen, CipherUtil* p) {
  auto* enc = NewContext<NC_AES_CTX>("p->pEKey");
  if (enc == nullptr) return -1;
  NC_AES_SetAlgInfo(p->mode, NC_AES_PAD_NONE, nullptr, enc);
  if (p->keyStatus != QOR_KEY_REVOKED && NC_AES_EncKeySchedule(k, keyLen, enc) != 0) {
    CREATE_LOG("NC_AES_EncKeySchedule() Error\n");
    FreeContext(enc, sizeof(*enc));
    return -1;
  }
  auto* dec = NewContext<NC_AES_CTX>("p->pDKey");
  if (dec == nullptr) {
    FreeContext(enc, sizeof(*enc));
    return -1;
  }
  NC_AES_SetAlgInfo(p->mode, NC_AES_PAD_NONE, nullptr, dec);
  if (p->keyStatus != QOR_KEY_REVOKED && NC_AES_DecKeySchedule(k, keyLen, dec) != 0) {
    CREATE_LOG("NC_AES_DecKeySchedule() Error\n");
    FreeContext(enc, sizeof(*enc));
    FreeContext(dec, sizeof(*dec));
    return -1;
  }
  p->pEKey = enc;
  p->pDKey = dec;
  return 0;
}

int CreateLea(const DataBuffer& key, CipherUtil* p) {
  if (key.length != 16 && key.length != 24 && key.length != 32) {
    CREATE_LOG("LEA not supported %d keylength\n", key.length);
    return -1;
  }
  auto* ctx = NewContext<NC_LEA_CTX>("p->pEKey");
  if (ctx == nullptr) return -1;
  NC_LEA_SetAlgInfo(p->mode, NC_LEA_PADDING_NONE, nullptr, ctx);
  if (p->keyStatus != QOR_KEY_REVOKED) NC_E_LEA_KeyScheduleEx(ctx, key.data, key.length);
  p->pEKey = p->pDKey = ctx;
  return 0;
}

int CreateDigits(const DataBuffer& key, CipherUtil* p) {
  DigitContext* ctx = initRadix10(10, key.data, key.length, nullptr, 0);
  // A version without a digit context would hand every value back unciphered.
  if (ctx == nullptr) {
    CREATE_LOG("initRadix10() Error. key length = [%d]\n", key.length);
    return -1;
  }
  p->pEKey = p->pDKey = ctx;
  p->oneWay = 1;
  return 0;
}

}  // namespace

extern "C" QOR_API int ChiperUtil_Set(CipherUtil* record, int64_t keyVersion, int32_t firstTime,
                                      int32_t secondTime, const char* status) {
  if (record == nullptr) {
    QOR_LOG(kCrit, "pCiherUtil is null\n");
    return -1;
  }
  record->keyVersion = static_cast<uint16_t>(keyVersion);
  record->firstTime = firstTime;
  record->secondTime = secondTime;
  if (status == nullptr) {
    QOR_LOG(kCrit, "key Status is NULL! set to deactive\n");
    record->keyStatus = QOR_KEY_DEACTIVE;
  } else if (std::strcmp(status, "active") == 0) {
    record->keyStatus = QOR_KEY_ACTIVE;
  } else if (std::strcmp(status, "deactive") == 0) {
    record->keyStatus = QOR_KEY_DEACTIVE;
  } else {
    record->keyStatus = QOR_KEY_REVOKED;
  }
  return 0;
}

extern "C" QOR_API int CipherUtil_Create(uint32_t algType, const DataBuffer* key, const DataBuffer* iv,
                                         CipherUtil* record) {
  if (record == nullptr) {
    QOR_LOG(kCrit, "pCiherUtil is null\n");
    return -1;
  }
  if (key == nullptr || key->length <= 0 || key->data == nullptr) {
    QOR_LOG(kCrit, "pUsKey->length <= 0\n");
    return -1;
  }
  if (iv != nullptr && iv->data != nullptr && iv->length > 0) {
    std::memcpy(record->iv, iv->data, iv->length < 16 ? static_cast<size_t>(iv->length) : 16);
  }
  record->algType = algType;
  record->oneWay = 0;

  switch (algType) {
    case QOR_ALG_SEED:
      return CreateSeed(*key, record);
    case QOR_ALG_ARIA128: {
      KeyBuffer<16> k;
      FillKey(k, *key);
      return CreateAria(k.bytes, 12, record);
    }
    case QOR_ALG_ARIA256: {
      KeyBuffer<32> k;
      FillKey256(k, *key);
      return CreateAria(k.bytes, 16, record);
    }
    case QOR_ALG_DES3_2KEY:
    case QOR_ALG_DES3_2KEY_B: {
      KeyBuffer<16> k;
      FillKey(k, *key);
      return CreateDes3(k.bytes, false, record);
    }
    case QOR_ALG_DES3_3KEY: {
      KeyBuffer<24> k;
      FillKey(k, *key);
      return CreateDes3(k.bytes, true, record);
    }
    case QOR_ALG_AES128: {
      KeyBuffer<16> k;
      FillKey(k, *key);
      return CreateAes(k.bytes, 16, record);
    }
    case QOR_ALG_AES256: {
      KeyBuffer<32> k;
      FillKey256(k, *key);
      return CreateAes(k.bytes, 32, record);
    }
    case QOR_ALG_LEA128:
    case QOR_ALG_LEA256:
      return CreateLea(*key, record);
    case QOR_ALG_SHA1:
    case QOR_ALG_SHA256:
    case QOR_ALG_SHA384:
    case QOR_ALG_SHA512:
    case QOR_ALG_SHA3_256_B:
    case QOR_ALG_SHA3_256:
    case QOR_ALG_SHA3_512:
    case QOR_ALG_LSH512_256:
    case QOR_ALG_LSH512_512:
      record->oneWay = 1;
      record->pEKey = record->pDKey = nullptr;
      return 0;
    case QOR_ALG_FPE:
      return CreateDigits(*key, record);
    case QOR_ALG_RC4:
      return 0;
    case QOR_ALG_TICN:
      record->algType = QOR_ALG_UNKNOWN;
      QOR_LOG(kCrit, "Can Not Use TICN\n");
      return -1;
    default:
      record->algType = QOR_ALG_UNKNOWN;
      QOR_LOG(kCrit, "Unknown Algorithm\n");
      return -1;
  }
}

extern "C" QOR_API int CipherUtilKey_Destroy(CipherUtil* record) {
  if (record == nullptr) {
    QOR_LOG(kCrit, "pCiherUtil is null\n");
    return -1;
  }
  if (record->algType == QOR_ALG_FPE) {
    auto* digits = static_cast<DigitContext*>(record->pEKey);
    removeRadix10(&digits);
  } else {
    const size_t size = ContextSize(record->algType);
    if (record->pDKey != record->pEKey) FreeContext(record->pDKey, size);
    FreeContext(record->pEKey, size);
  }
  record->pEKey = record->pDKey = nullptr;
  record->algType = QOR_ALG_UNKNOWN;
  return 0;
}

extern "C" QOR_API void CipherUtil_Destroy(CipherUtil* first) {
  while (first != nullptr) {
    CipherUtil* next = first->next;
    CipherUtilKey_Destroy(first);
    qor::SecureWipe(first, sizeof(*first));
    std::free(first);
    first = next;
  }
}
