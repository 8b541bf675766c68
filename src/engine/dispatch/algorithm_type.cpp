// Algorithm name and key length -> algorithm code.
#include <cstring>

#include "qor/cipher_util.h"

namespace {

// Listed names match as prefixes of the caller's text, case-sensitively.
bool StartsWith(const char* text, const char* listed) {
  return std::strncmp(text, listed, std::strlen(listed)) == 0;
}

uint32_t ByLength(int keyLength, int len16, uint32_t code16, int lenOther, uint32_t codeOther) {
  if (keyLength == len16) return code16;
  if (keyLength == lenOther) return codeOther;
  return QOR_ALG_UNKNOWN;
}

}  // namespace

extern "C" QOR_API uint32_t GetCryptoAlgorithmType(const char* name, int keyLength) {
  if (name == nullptr) return QOR_ALG_UNKNOWN;
  if (StartsWith(name, "SEED")) return QOR_ALG_SEED;
  if (StartsWith(name, "ARIA")) return ByLength(keyLength, 32, QOR_ALG_ARIA256, 16, QOR_ALG_ARIA128);
  if (StartsWith(name, "AES")) return ByLength(keyLength, 16, QOR_ALG_AES128, 32, QOR_ALG_AES256);
  if (StartsWith(name, "3DES") || StartsWith(name, "TDES")) {
    return ByLength(keyLength, 24, QOR_ALG_DES3_3KEY, 16, QOR_ALG_DES3_2KEY);
  }
  if (StartsWith(name, "LEA")) return ByLength(keyLength, 32, QOR_ALG_LEA256, 16, QOR_ALG_LEA128);
  if (StartsWith(name, "SHA")) {
    if (StartsWith(name, "SHA256")) return QOR_ALG_SHA256;
    if (StartsWith(name, "SHA512")) return QOR_ALG_SHA512;
    if (StartsWith(name, "SHA3256")) return QOR_ALG_SHA3_256;
    if (StartsWith(name, "SHA3512")) return QOR_ALG_SHA3_512;
    return QOR_ALG_UNKNOWN;
  }
  if (StartsWith(name, "LSH")) {
    if (StartsWith(name, "LSH256")) return QOR_ALG_LSH512_256;
    if (StartsWith(name, "LSH512")) return QOR_ALG_LSH512_512;
    return QOR_ALG_UNKNOWN;
  }
  if (StartsWith(name, "RC4")) return QOR_ALG_RC4;
  if (StartsWith(name, "TICN")) return QOR_ALG_TICN;
  if (StartsWith(name, "FPE")) return QOR_ALG_FPE;
  return QOR_ALG_UNKNOWN;
}
