// The two SHA-256 digests of a file run (plaintext and ciphertext), each
// taken only when the policy asks for it; a digest not taken stays 32 zero
// bytes.
#pragma once

#include <cstddef>
#include <cstring>

#include "qor/nc_sha.h"
#include "qor/qorfile.h"

namespace qor::file {

class DigestPair {
 public:
  DigestPair(bool plaintext, bool ciphertext) : usePlain_(plaintext), useCipher_(ciphertext) {
    std::memset(plainDigest_, 0, sizeof(plainDigest_));
    std::memset(cipherDigest_, 0, sizeof(cipherDigest_));
    if (usePlain_) NC_NewSha2_Init(&plain_);
    if (useCipher_) NC_NewSha2_Init(&cipher_);
  }

  // Feeds one piece of each side (either may be empty). Always true; the
  // shape leaves room for a digest that can fail.
  bool Feed(const unsigned char* plain, size_t plainLength, const unsigned char* cipher,
            size_t cipherLength) {
    if (usePlain_ && plainLength > 0) NC_NewSha2_Update(&plain_, plain, plainLength);
    if (useCipher_ && cipherLength > 0) NC_NewSha2_Update(&cipher_, cipher, cipherLength);
    return true;
  }

  void Finish() {
    if (usePlain_) NC_NewSha2_Final(&plain_, plainDigest_);
    if (useCipher_) NC_NewSha2_Final(&cipher_, cipherDigest_);
  }

  const unsigned char* plaintext() const { return plainDigest_; }
  const unsigned char* ciphertext() const { return cipherDigest_; }

 private:
  bool usePlain_;
  bool useCipher_;
  NC_NEWSHA2_CTX plain_;
  NC_NEWSHA2_CTX cipher_;
  unsigned char plainDigest_[QOR_FILE_DIGEST_SIZE];
  unsigned char cipherDigest_[QOR_FILE_DIGEST_SIZE];
};

}  // namespace qor::file
