// The two SHA-256 digests of a file run (plaintext and ciphertext), each
// taken only when the policy asks for it; a digest not taken stays 32 zero
// bytes. From the second piece on, a helper thread digests a piece while the
// run encrypts and writes the next one, so the digests cost little time
// beside the cipher.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

#include "qor/nc_sha.h"
#include "qor/qorfile.h"

namespace qor::file {

class DigestPair {
 public:
  DigestPair(bool plaintext, bool ciphertext);
  ~DigestPair();
  DigestPair(const DigestPair&) = delete;
  DigestPair& operator=(const DigestPair&) = delete;

  // Hands over one piece of each side (either may be empty). The bytes must
  // stay untouched until the next Feed or Finish returns: the caller
  // alternates between two buffer pairs.
  void Feed(const unsigned char* plain, size_t plainLength, const unsigned char* cipher,
            size_t cipherLength);

  // Like Feed, for bytes that do not outlive the call (the last block sits
  // in the caller's frame): digested before it returns.
  void FeedNow(const unsigned char* plain, size_t plainLength, const unsigned char* cipher,
               size_t cipherLength);

  // Waits for the last piece and completes both digests.
  void Finish();

  const unsigned char* plaintext() const { return plainDigest_; }
  const unsigned char* ciphertext() const { return cipherDigest_; }

 private:
  struct Piece {
    const unsigned char* plain = nullptr;
    size_t plainLength = 0;
    const unsigned char* cipher = nullptr;
    size_t cipherLength = 0;
  };

  void Digest(const Piece& piece);
  void WaitIdle();
  void Work();

  bool usePlain_;
  bool useCipher_;
  NC_NEWSHA2_CTX plain_;
  NC_NEWSHA2_CTX cipher_;
  unsigned char plainDigest_[QOR_FILE_DIGEST_SIZE];
  unsigned char cipherDigest_[QOR_FILE_DIGEST_SIZE];

  int fed_ = 0;
  std::mutex lock_;
  std::condition_variable changed_;
  Piece pending_;
  bool hasPending_ = false;
  bool stop_ = false;
  std::thread worker_;
};

}  // namespace qor::file
