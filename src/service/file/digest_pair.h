// The two SHA-256 digests of a file run (plaintext and ciphertext), each
// taken only when the policy asks for it; a digest not taken stays 32 zero
// bytes. From the second piece on, each digest has a helper thread of its
// own that digests a piece while the run ciphers and writes the next one:
// the two digests run beside each other and beside the cipher, so a run with
// both on is not held back by hashing twice its size on one thread.
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
  ~DigestPair() = default;
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

  // Waits for the last pieces and completes both digests.
  void Finish();

  const unsigned char* plaintext() const { return plain_.digest; }
  const unsigned char* ciphertext() const { return cipher_.digest; }

 private:
  // One digest and the helper that feeds it, one piece in flight at a time.
  class Lane {
   public:
    explicit Lane(bool used);
    ~Lane();
    Lane(const Lane&) = delete;
    Lane& operator=(const Lane&) = delete;

    bool used() const { return used_; }
    // Starts the helper; without one, pieces are digested in line.
    void Start();
    // Queues a piece behind the one in flight (in line without a helper).
    void Post(const unsigned char* data, size_t length);
    // Digests a piece now, behind any piece still with the helper.
    void DigestNow(const unsigned char* data, size_t length);
    void Finish();

    unsigned char digest[QOR_FILE_DIGEST_SIZE];

   private:
    void WaitIdle();
    void Work();

    bool used_;
    NC_NEWSHA2_CTX context_;
    std::mutex lock_;
    std::condition_variable changed_;
    const unsigned char* data_ = nullptr;
    size_t length_ = 0;
    bool pending_ = false;
    bool stop_ = false;
    std::thread worker_;
  };

  Lane plain_;
  Lane cipher_;
  int fed_ = 0;
};

}  // namespace qor::file
