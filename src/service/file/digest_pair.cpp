// Digests beside the cipher: one helper per digest, one piece in flight each.
#include "service/file/digest_pair.h"

#include <cstring>
#include <system_error>

namespace qor::file {

DigestPair::Lane::Lane(bool used) : used_(used) {
  std::memset(digest, 0, sizeof(digest));
  if (used_) NC_NewSha2_Init(&context_);
}

DigestPair::Lane::~Lane() {
  if (!worker_.joinable()) return;
  {
    std::lock_guard guard(lock_);
    stop_ = true;
  }
  changed_.notify_all();
  worker_.join();
}

void DigestPair::Lane::Start() {
  if (!used_ || worker_.joinable()) return;
  try {
    worker_ = std::thread(&Lane::Work, this);
  } catch (const std::system_error&) {
    // No thread: digest in line.
  }
}

void DigestPair::Lane::Work() {
  std::unique_lock guard(lock_);
  for (;;) {
    changed_.wait(guard, [&] { return pending_ || stop_; });
    if (!pending_) return;
    const unsigned char* data = data_;
    const size_t length = length_;
    guard.unlock();
    NC_NewSha2_Update(&context_, data, length);
    guard.lock();
    pending_ = false;
    changed_.notify_all();
  }
}

void DigestPair::Lane::WaitIdle() {
  if (!worker_.joinable()) return;
  std::unique_lock guard(lock_);
  changed_.wait(guard, [&] { return !pending_; });
}

void DigestPair::Lane::Post(const unsigned char* data, size_t length) {
  if (!used_ || length == 0) return;
  if (!worker_.joinable()) {
    NC_NewSha2_Update(&context_, data, length);
    return;
  }
  WaitIdle();
  {
    std::lock_guard guard(lock_);
    data_ = data;
    length_ = length;
    pending_ = true;
  }
  changed_.notify_all();
}

void DigestPair::Lane::DigestNow(const unsigned char* data, size_t length) {
  if (!used_ || length == 0) return;
  WaitIdle();
  NC_NewSha2_Update(&context_, data, length);
}

void DigestPair::Lane::Finish() {
  if (!used_) return;
  WaitIdle();
  NC_NewSha2_Final(&context_, digest);
}

DigestPair::DigestPair(bool plaintext, bool ciphertext) : plain_(plaintext), cipher_(ciphertext) {}

void DigestPair::Feed(const unsigned char* plain, size_t plainLength, const unsigned char* cipher,
                      size_t cipherLength) {
  // A file of one piece is digested on the spot; from the second piece on the
  // helpers take them.
  if (++fed_ == 2) {
    plain_.Start();
    cipher_.Start();
  }
  plain_.Post(plain, plainLength);
  cipher_.Post(cipher, cipherLength);
}

void DigestPair::FeedNow(const unsigned char* plain, size_t plainLength,
                         const unsigned char* cipher, size_t cipherLength) {
  plain_.DigestNow(plain, plainLength);
  cipher_.DigestNow(cipher, cipherLength);
}

void DigestPair::Finish() {
  plain_.Finish();
  cipher_.Finish();
}

}  // namespace qor::file
