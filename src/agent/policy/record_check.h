// What a policy record lets the library check before it trusts it: one outer
// SEQUENCE that fills the record exactly, a policy hash, and that hash being
// Base64 of SHA-512 over the encoded policies (the content of the policy
// SEQUENCE), as the agent computes it. A record that fails is never loaded.
#pragma once

#include <cstddef>

#include "qor/nc_sha.h"

namespace qor::agent {

inline constexpr size_t kPolicyHashTextSize = 88;

enum class RecordCheck {
  kOk = 0,
  kNotARecord,    // no outer SEQUENCE, or bytes before or after it
  kNoHash,        // no hash element of 88 bytes, or no policy SEQUENCE
  kHashMismatch,  // the hash does not match the policies it covers
};

// Base64 of SHA-512 over |policies| into |text| (88 characters, no terminator).
bool PolicyHashOf(const unsigned char* policies, size_t length,
                  char (&text)[kPolicyHashTextSize]);

// The same hash over policies that arrive in pieces.
class PolicyHashStream {
 public:
  PolicyHashStream();
  ~PolicyHashStream();
  PolicyHashStream(const PolicyHashStream&) = delete;
  PolicyHashStream& operator=(const PolicyHashStream&) = delete;

  void Update(const unsigned char* bytes, size_t length);
  // The hash of everything given so far; the stream is then spent.
  bool Finish(char (&text)[kPolicyHashTextSize]);

 private:
  NC_SHA512_CTX context_;
};

RecordCheck CheckPolicyRecord(const unsigned char* record, size_t length);

// A short reason for the error record and the log.
const char* RecordCheckText(RecordCheck check);

}  // namespace qor::agent
