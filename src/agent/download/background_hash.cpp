#include "agent/download/background_hash.h"

#include <system_error>

namespace qor::agent {

BackgroundPolicyHash::BackgroundPolicyHash(const unsigned char* bytes, uint32_t from,
                                           bool threaded)
    : bytes_(bytes), handed_(from), hashed_(from) {
  if (!threaded) return;
  try {
    worker_ = std::jthread([this](std::stop_token stop) { Run(stop); });
    threaded_ = true;
  } catch (const std::system_error&) {
    // No thread to be had: the caller's thread hashes.
  }
}

BackgroundPolicyHash::~BackgroundPolicyHash() {
  if (!threaded_) return;
  worker_.request_stop();
  worker_.join();
}

void BackgroundPolicyHash::Run(std::stop_token stop) {
  std::unique_lock lock(lock_);
  while (changed_.wait(lock, stop, [this] { return handed_ > hashed_; })) {
    const uint32_t from = hashed_;
    const uint32_t to = handed_;
    lock.unlock();
    hash_.Update(bytes_ + from, to - from);
    lock.lock();
    hashed_ = to;
    changed_.notify_all();
  }
}

void BackgroundPolicyHash::HandOver(uint32_t end) {
  if (!threaded_) {
    hash_.Update(bytes_ + hashed_, end - hashed_);
    hashed_ = handed_ = end;
    return;
  }
  {
    std::lock_guard lock(lock_);
    handed_ = end;
  }
  changed_.notify_all();
}

bool BackgroundPolicyHash::Finish(char (&text)[kPolicyHashTextSize]) {
  if (threaded_) {
    // The worker is idle once it has caught up; it touches the hash again
    // only for bytes handed over later, and none are.
    std::unique_lock lock(lock_);
    changed_.wait(lock, [this] { return hashed_ == handed_; });
  }
  return hash_.Finish(text);
}

}  // namespace qor::agent
