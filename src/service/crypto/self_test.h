// The known-answer vector of the crypto self test and the check that runs one.
#pragma once

#include <cstdint>

namespace qor::crypto {

// One ARIA-256 CBC vector with PKCS#7 padding, as the keyed cipher object's
// binary operations produce it for a single-key object.
struct KnownAnswer {
  uint32_t algType;
  unsigned char key[32];
  unsigned char iv[16];
  unsigned char plaintext[17];
  unsigned char ciphertext[32];
};

extern const KnownAnswer kSelfTestVector;

// Encrypts the plaintext through a cipher object of |vector|'s code, compares
// with the ciphertext, decrypts it back and compares with the plaintext:
// 0 when every step matches, 1 otherwise.
int RunKnownAnswer(const KnownAnswer& vector);

// Makes Self_Test run |vector| instead of kSelfTestVector (null: back to it),
// so callers' tests can see a failing self test. Not for production use.
void SetSelfTestVectorForTesting(const KnownAnswer* vector);

}  // namespace qor::crypto
