// Reference AES interface in the classic word-schedule form, used by the
// format-preserving digit code in a hot loop. Blocks go through the AES
// instructions when the processor has them, else through the round tables.
#include "qor/rijndael.h"

#include <cstring>

#include "common/secure_wipe.h"
#include "primitives/aes/aes_internal.h"

namespace {

bool ValidKeyBits(int keyBits) { return keyBits == 128 || keyBits == 192 || keyBits == 256; }

}  // namespace

int rijndaelKeySetupEnc(uint32_t rk[], const uint8_t cipherKey[], int keyBits) {
  if (rk == nullptr || cipherKey == nullptr || !ValidKeyBits(keyBits)) return 0;
  return qor::aes::ExpandEncryptKey(cipherKey, static_cast<size_t>(keyBits / 8), rk);
}

int rijndaelKeySetupDec(uint32_t rk[], const uint8_t cipherKey[], int keyBits) {
  if (rk == nullptr || cipherKey == nullptr || !ValidKeyBits(keyBits)) return 0;
  uint32_t enc[qor::aes::kMaxRoundKeyWords];
  const int rounds = qor::aes::ExpandEncryptKey(cipherKey, static_cast<size_t>(keyBits / 8), enc);
  qor::aes::MakeDecryptKey(enc, rounds, rk);
  qor::SecureWipe(enc, sizeof enc);
  return rounds;
}

void rijndaelEncrypt(const uint32_t rk[], int Nr, const uint8_t pt[16], uint8_t ct[16]) {
  if (Nr != 10 && Nr != 12 && Nr != 14) return;
  qor::aes::Active().encryptBlock(rk, Nr, pt, ct);
}

void rijndaelDecrypt(const uint32_t rk[], int Nr, const uint8_t ct[16], uint8_t pt[16]) {
  if (Nr != 10 && Nr != 12 && Nr != 14) return;
  qor::aes::Active().decryptBlock(rk, Nr, ct, pt);
}

int aes_128_cbc_encrypt(const uint8_t key[16], const uint8_t iv[16], const uint8_t* in, uint8_t* out,
                        size_t len) {
  if (key == nullptr || iv == nullptr || len % 16 != 0) return -1;
  if (len == 0) return 0;
  if (in == nullptr || out == nullptr) return -1;
  uint32_t rk[qor::aes::kMaxRoundKeyWords];
  const int rounds = rijndaelKeySetupEnc(rk, key, 128);
  uint8_t chain[16];
  std::memcpy(chain, iv, 16);
  qor::aes::Active().cbcEncrypt(rk, rounds, chain, in, out, len / 16);
  qor::SecureWipe(rk, sizeof rk);
  return 0;
}

int aes_128_cbc_decrypt(const uint8_t key[16], const uint8_t iv[16], const uint8_t* in, uint8_t* out,
                        size_t len) {
  if (key == nullptr || iv == nullptr || len % 16 != 0) return -1;
  if (len == 0) return 0;
  if (in == nullptr || out == nullptr) return -1;
  uint32_t rk[qor::aes::kMaxRoundKeyWords];
  const int rounds = rijndaelKeySetupDec(rk, key, 128);
  uint8_t chain[16];
  std::memcpy(chain, iv, 16);
  qor::aes::Active().cbcDecrypt(rk, rounds, chain, in, out, len / 16);
  qor::SecureWipe(rk, sizeof rk);
  return 0;
}
