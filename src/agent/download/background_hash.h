// The policy hash of an answer that is still being read, computed on another
// core: the reader hands over each stretch it has finished with and collects
// the hash once it has handed over the last.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "agent/policy/record_check.h"

namespace qor::agent {

class BackgroundPolicyHash {
 public:
  // Hashes |bytes| from |from| on, on a thread of its own when |threaded| and
  // one can be had, else on the caller's thread as stretches are handed over.
  BackgroundPolicyHash(const unsigned char* bytes, uint32_t from, bool threaded);
  // Stops the thread: the bytes may be released afterwards.
  ~BackgroundPolicyHash();
  BackgroundPolicyHash(const BackgroundPolicyHash&) = delete;
  BackgroundPolicyHash& operator=(const BackgroundPolicyHash&) = delete;

  // The bytes up to |end| are final and may be hashed.
  void HandOver(uint32_t end);
  // The hash of everything handed over; call once, after the last HandOver.
  bool Finish(char (&text)[kPolicyHashTextSize]);

 private:
  void Run(std::stop_token stop);

  const unsigned char* bytes_;
  PolicyHashStream hash_;
  std::mutex lock_;
  std::condition_variable_any changed_;
  uint32_t handed_;
  uint32_t hashed_;
  bool threaded_ = false;
  std::jthread worker_;  // last: it starts once everything it reads is set
};

}  // namespace qor::agent
