#include "agent/download/answer_side_work.h"

#include <cstring>
#include <system_error>

#include "common/secure_wipe.h"

namespace qor::agent {

namespace {
constexpr uint32_t kBlock = 16;
}  // namespace

AnswerSideWork::AnswerSideWork(unsigned char* body, const NC_ARIA_CTX& cipher,
                               const unsigned char iv[16], bool threaded)
    : body_(body), cipher_(cipher) {
  std::memcpy(chain_, iv, kBlock);
  if (!threaded) return;
  try {
    worker_ = std::jthread([this](std::stop_token stop) { Run(stop); });
    threaded_ = true;
  } catch (const std::system_error&) {
    // No thread to be had: the caller's thread does the work.
  }
}

AnswerSideWork::~AnswerSideWork() {
  if (threaded_) {
    worker_.request_stop();
    worker_.join();
  }
  SecureWipe(&cipher_, sizeof(cipher_));
  SecureWipe(chain_, sizeof(chain_));
}

void AnswerSideWork::Decrypt(uint32_t from, uint32_t to) {
  // In place: the chaining block for the next stretch is saved first.
  unsigned char next[kBlock];
  std::memcpy(next, body_ + to - kBlock, kBlock);
  NC_E_ARIA_CBC_Decrypt(body_ + from, body_ + from, cipher_.roundKey, static_cast<int>(to - from),
                        chain_, cipher_.rounds);
  std::memcpy(chain_, next, kBlock);
}

void AnswerSideWork::Run(std::stop_token stop) {
  std::unique_lock lock(lock_);
  while (changed_.wait(lock, stop, [this] { return Pending(); })) {
    if (received_ > decrypted_) {
      const uint32_t from = decrypted_;
      const uint32_t to = received_;
      lock.unlock();
      Decrypt(from, to);
      lock.lock();
      decrypted_ = to;
    } else {
      const uint32_t from = hashed_;
      const uint32_t to = handed_;
      lock.unlock();
      hash_.Update(body_ + from, to - from);
      lock.lock();
      hashed_ = to;
    }
    changed_.notify_all();
  }
}

uint32_t AnswerSideWork::Arrived(uint32_t received) {
  const uint32_t whole = received - received % kBlock;
  if (!threaded_) {
    if (whole > decrypted_) Decrypt(decrypted_, whole);
    decrypted_ = received_ = whole;
    return decrypted_;
  }
  std::lock_guard lock(lock_);
  if (whole > received_) {
    received_ = whole;
    changed_.notify_all();
  }
  return decrypted_;
}

void AnswerSideWork::WaitDecrypted(uint32_t length) {
  if (!threaded_) return;
  std::unique_lock lock(lock_);
  changed_.wait(lock, [&] { return decrypted_ >= length; });
}

void AnswerSideWork::StartHash(uint32_t from) {
  std::lock_guard lock(lock_);
  handed_ = hashed_ = from;
}

void AnswerSideWork::HandOver(uint32_t end) {
  if (!threaded_) {
    hash_.Update(body_ + hashed_, end - hashed_);
    hashed_ = handed_ = end;
    return;
  }
  std::lock_guard lock(lock_);
  handed_ = end;
  changed_.notify_all();
}

bool AnswerSideWork::FinishHash(char (&text)[kPolicyHashTextSize]) {
  if (threaded_) {
    // The worker is idle once it has caught up, and nothing more comes.
    std::unique_lock lock(lock_);
    changed_.wait(lock, [this] { return !Pending(); });
  }
  return hash_.Finish(text);
}

}  // namespace qor::agent
