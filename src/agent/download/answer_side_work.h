// The work on a key-set answer that can run beside its reading, on another
// core: decrypting each piece as it arrives, and hashing the policies the
// reader has finished with. One thread does both, decryption first, since the
// reader waits for it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "agent/policy/record_check.h"
#include "qor/nc_aria.h"

namespace qor::agent {

class AnswerSideWork {
 public:
  // Decrypts |body| in place under the session cipher's decryption schedule
  // |cipher| from |iv| on. On a thread of its own when |threaded| and one can
  // be had; otherwise each step runs on the caller's thread when asked for.
  AnswerSideWork(unsigned char* body, const NC_ARIA_CTX& cipher, const unsigned char iv[16],
                 bool threaded);
  // Stops the thread: the body may be released afterwards.
  ~AnswerSideWork();
  AnswerSideWork(const AnswerSideWork&) = delete;
  AnswerSideWork& operator=(const AnswerSideWork&) = delete;

  // The first |received| bytes of the body have arrived; returns how many are
  // plain text so far.
  uint32_t Arrived(uint32_t received);
  // Waits until the first |length| bytes (whole blocks) are plain text.
  void WaitDecrypted(uint32_t length);

  // The policies start at |from|; the bytes up to |end| may be hashed.
  void StartHash(uint32_t from);
  void HandOver(uint32_t end);
  // The hash of everything handed over; call once, after the last HandOver.
  bool FinishHash(char (&text)[kPolicyHashTextSize]);

 private:
  void Run(std::stop_token stop);
  bool Pending() const { return received_ > decrypted_ || handed_ > hashed_; }
  void Decrypt(uint32_t from, uint32_t to);

  unsigned char* body_;
  NC_ARIA_CTX cipher_;
  unsigned char chain_[16];
  PolicyHashStream hash_;
  std::mutex lock_;
  std::condition_variable_any changed_;
  uint32_t received_ = 0;  // whole blocks arrived
  uint32_t decrypted_ = 0;
  uint32_t handed_ = 0;
  uint32_t hashed_ = 0;
  bool threaded_ = false;
  std::jthread worker_;  // last: it starts once everything it reads is set
};

}  // namespace qor::agent
