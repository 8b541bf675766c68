// The whole-value operations behind the value slots, and the pieces they
// share. One encryption and one decryption, each in four forms (binary or
// text, with or without access control) chosen by a ValueCall; streaming:
// EInit .. DFinal.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/error_codes.h"
#include "common/value_format.h"
#include "engine/algorithms/algorithm_table.h"
#include "log/log.h"
#include "qor/ua_cipher_util.h"

namespace qor::engine {

// One whole-value call. The policy's null processing applies to every form.
struct ValueCall {
  const char* op = "";  // the operation log lines name (E, E_to_B64_ACC, D_ACC ...)
  bool text = false;    // Base64 text form, else binary
  bool access = false;  // checks the identities against the policy's access list
  const char* identity1 = nullptr;
  const char* identity2 = nullptr;
  const char* identity3 = nullptr;
  // Decryption: requests a key version the policy does not hold; none: the
  // version is reported as unknown.
  QOR_KeyFetchFn fetch = nullptr;
  // Encryption: the record IV this value was drawn; none: the one the
  // exported setter left on this thread, else a fresh draw.
  const uint32_t* recordIv = nullptr;
};

// The value encrypted under the policy's head record into |out|.
int EncryptValue(UACipherUtil** self, DataBuffer* in, DataBuffer* out, const ValueCall& call);
// The value decrypted under the key version it names into |out|.
int DecryptValue(UACipherUtil** self, DataBuffer* in, DataBuffer* out, const ValueCall& call);

int EInit(UACipherUtil** self, void** holder, const unsigned char* iv);
int EUpdate(UACipherUtil** self, void** holder, const DataBuffer* in, DataBuffer* out);
int EFinal(UACipherUtil** self, void** holder, DataBuffer* out);
int DInit(UACipherUtil** self, void** holder, QOR_KeyFetchFn fetch, const unsigned char* iv,
          int keyVersion);
int DUpdate(UACipherUtil** self, void** holder, const DataBuffer* in, DataBuffer* out);
int DFinal(UACipherUtil** self, void** holder, DataBuffer* out);

namespace core {

// Result codes of the value operations; the shared ones live with every
// other error code.
enum : int {
  kDone = 0,
  kFailed = -1,
  kUnknownVersion = 1,
  kOneWay = 3103,
};
inline constexpr int kKeyUnusable = err::kKeyUnusable;
inline constexpr int kRefused = err::kRefused;
inline constexpr int kAlreadyEncrypted = err::kAlreadyEncrypted;
inline constexpr int kNotEncrypted = err::kNotEncrypted;
inline constexpr int kDuplicateRefused = err::kDuplicateRefused;

// The object's data and its head (latest) record, or nulls when the object
// cannot run a value operation.
struct Policy {
  const char* op = "";  // the operation log lines name
  UACipherUtil** self = nullptr;
  UACipherUtilData* data = nullptr;
  CipherUtil* head = nullptr;
};

// Fills |policy| for the operation |op| from |self|; false (and one log line)
// when anything is missing.
bool Open(const char* op, UACipherUtil** self, Policy* policy);

// Log lines name the value operation, not the helper that writes them.
#define QOR_CORE_LOG(level, policy, fmt, ...) \
  QOR_LOG_UNIT_AS(level, (policy).op, kLogUnit, fmt __VA_OPT__(, ) __VA_ARGS__)

// Marks the value layout needs: a version prefix and a record-IV tail exist
// only for block ciphers (digests and digit strings carry neither).
inline bool HasPrefix(const CipherUtil* record) {
  return !record->oneWay && record->keyVersion != 0;
}
inline bool HasTail(const CipherUtil* record) {
  return !record->oneWay && record->useRecordIV != 0;
}

// A new zero-terminated copy of |length| bytes into |out| (length 0 gives
// {0, none}): 0, or -1 without memory.
int CopyOut(const unsigned char* bytes, int length, DataBuffer* out);

// Releases what |out| holds and empties it to {length, none}.
inline void Reset(DataBuffer* out, int length = 0) {
  std::free(out->data);
  out->data = nullptr;
  out->length = length;
}

// Encryption steps shared by every form: the compatibility blank, then the
// head's adapter with this call's record IV (|recordIv|, see ValueCall).
// |out| receives the adapter output.
int EncryptWithHead(const Policy& policy, DataBuffer* in, DataBuffer* out,
                    const uint32_t* recordIv);

// 2100 (and its log line) when the head's key is revoked, else 0.
int RefuseUnusableHead(const Policy& policy);

// Access check for encryption: 0 allowed, 2200 refused (output {0, none}).
int CheckEncryptAccess(const Policy& policy, DataBuffer* out, const char* identity1,
                       const char* identity2, const char* identity3);

// Access check for decryption: 0 allowed, else 2200 with the refusal output.
int CheckDecryptAccess(const Policy& policy, const DataBuffer* in, DataBuffer* out,
                       const char* identity1, const char* identity2, const char* identity3);

enum class Lookup { kFound, kUnknown, kRevoked };

// The record of |version|: the head without locking when it matches, else a
// walk under the read side of the key lock; a missing version is fetched once
// through |fetch| (when given) and looked up again.
Lookup FindKeyVersion(const Policy& policy, int version, QOR_KeyFetchFn fetch, CipherUtil** found);

// The record of |version| when the policy holds it, without any fetch.
CipherUtil* HeldKeyVersion(const Policy& policy, int version);

// How a decryption picks its key version and reads the record-IV tail.
struct DecryptRules {
  QOR_KeyFetchFn fetch = nullptr;  // none: a missing version is not requested
  bool unknownIsUnusable = false;  // an unknown version gives 2100 (binary) instead of 1
  bool tailBySelected = false;     // the selected record says whether a tail exists (binary)
};

// Decrypts the working bytes of one value (prefix, ciphertext, tail) into
// |out| through the adapter of the selected record. Returns the adapter's
// result or 1 / 2100 / -1 for a version or layout it cannot use.
int DecryptWorking(const Policy& policy, const unsigned char* bytes, int length, DataBuffer* out,
                   int nullProcess, const DecryptRules& rules, bool* adapterRan);

// The decryption's duplicate rule after a failed adapter: RETURN_INPUT
// copies the input (3034), refuse gives {-1, none} and 3035, ALLOW keeps |result|.
int ApplyDecryptDuplication(const Policy& policy, const DataBuffer* in, DataBuffer* out,
                            int result);

// A decrypted value of one zero byte is the empty value.
inline void CollapseZeroByte(DataBuffer* out) {
  if (out->length == 1 && out->data != nullptr && out->data[0] == 0) out->length = 0;
}

// Algorithm codes whose decryption is a copy of the input (text forms) and
// those the binary forms refuse.
inline bool IsOneWayText(uint32_t alg) {
  return algorithms::AlgorithmOf(alg).textDecryptCopies;
}
inline bool IsOneWayBinary(uint32_t alg) {
  return algorithms::AlgorithmOf(alg).binaryDecryptRefused;
}

// Text into working bytes: the Base64 body (after "$." with compatibility 0)
// decoded into |scratch| when it fits, else into a heap block kept in |heap|.
class WorkingBytes {
 public:
  WorkingBytes() = default;
  ~WorkingBytes() { std::free(heap_); }
  WorkingBytes(const WorkingBytes&) = delete;
  WorkingBytes& operator=(const WorkingBytes&) = delete;

  // Number of decoded bytes; 0 or -1 when the text does not decode.
  int Decode(const char* text, int length, int compatibility);
  const unsigned char* data() const { return data_; }

 private:
  unsigned char small_[1024];
  unsigned char* heap_ = nullptr;
  unsigned char* data_ = small_;
};

}  // namespace core
}  // namespace qor::engine
