// Digests beside the cipher: one piece in flight at a time.
#include "service/file/digest_pair.h"

#include <cstring>
#include <system_error>

namespace qor::file {

DigestPair::DigestPair(bool plaintext, bool ciphertext)
    : usePlain_(plaintext), useCipher_(ciphertext) {
  std::memset(plainDigest_, 0, sizeof(plainDigest_));
  std::memset(cipherDigest_, 0, sizeof(cipherDigest_));
  if (usePlain_) NC_NewSha2_Init(&plain_);
  if (useCipher_) NC_NewSha2_Init(&cipher_);
}

DigestPair::~DigestPair() {
  if (!worker_.joinable()) return;
  {
    std::lock_guard guard(lock_);
    stop_ = true;
  }
  changed_.notify_all();
  worker_.join();
}

void DigestPair::Digest(const Piece& piece) {
  if (usePlain_ && piece.plainLength > 0) NC_NewSha2_Update(&plain_, piece.plain, piece.plainLength);
  if (useCipher_ && piece.cipherLength > 0) {
    NC_NewSha2_Update(&cipher_, piece.cipher, piece.cipherLength);
  }
}

void DigestPair::Work() {
  std::unique_lock guard(lock_);
  for (;;) {
    changed_.wait(guard, [&] { return hasPending_ || stop_; });
    if (!hasPending_) return;
    const Piece piece = pending_;
    guard.unlock();
    Digest(piece);
    guard.lock();
    hasPending_ = false;
    changed_.notify_all();
  }
}

void DigestPair::WaitIdle() {
  if (!worker_.joinable()) return;
  std::unique_lock guard(lock_);
  changed_.wait(guard, [&] { return !hasPending_; });
}

void DigestPair::Feed(const unsigned char* plain, size_t plainLength, const unsigned char* cipher,
                      size_t cipherLength) {
  if (!usePlain_ && !useCipher_) return;
  const Piece piece{plain, plainLength, cipher, cipherLength};
  // A file of one piece is digested on the spot; from the second piece on the
  // helper takes them, if one can be started.
  if (++fed_ == 2 && !worker_.joinable()) {
    try {
      worker_ = std::thread(&DigestPair::Work, this);
    } catch (const std::system_error&) {
      // No thread: digest in line.
    }
  }
  if (!worker_.joinable()) {
    Digest(piece);
    return;
  }
  WaitIdle();
  {
    std::lock_guard guard(lock_);
    pending_ = piece;
    hasPending_ = true;
  }
  changed_.notify_all();
}

void DigestPair::FeedNow(const unsigned char* plain, size_t plainLength,
                         const unsigned char* cipher, size_t cipherLength) {
  if (!usePlain_ && !useCipher_) return;
  // Behind any piece still with the helper, so the digests keep their order.
  WaitIdle();
  Digest(Piece{plain, plainLength, cipher, cipherLength});
}

void DigestPair::Finish() {
  WaitIdle();
  if (usePlain_) NC_NewSha2_Final(&plain_, plainDigest_);
  if (useCipher_) NC_NewSha2_Final(&cipher_, cipherDigest_);
}

}  // namespace qor::file
