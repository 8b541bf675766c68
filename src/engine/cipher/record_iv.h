// Record IVs kept with the call: a drawn value never lives in the policy's
// shared records, so concurrent values under one policy cannot mix IVs.
#pragma once

#include <cstdint>

#include "qor/ua_cipher_util.h"

namespace qor::engine {

// Next value of the process-wide counter g_RecordIV (atomic increment).
uint32_t DrawRecordIv();

// Remembers |value| as this thread's record IV for its next encryption under
// |object| (what UACipherUtil_SetRecordIV without text does).
void SetPendingRecordIv(const UACipherUtil* object, uint32_t value);

// Takes this thread's pending record IV for |object|: true and *value when one
// was set and not yet used, else false.
bool TakePendingRecordIv(const UACipherUtil* object, uint32_t* value);

// The 16-byte IV one call uses: |policyIv| with its first 4 bytes replaced by
// |recordIv| in native byte order.
inline void MakeCallIv(const unsigned char policyIv[16], uint32_t recordIv, unsigned char out[16]) {
  __builtin_memcpy(out, policyIv, 16);
  __builtin_memcpy(out, &recordIv, 4);
}

}  // namespace qor::engine
