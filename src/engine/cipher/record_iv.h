// Record IVs: the process-wide counter, the value drawn for one encryption,
// and the IV a call builds from it. A drawn value goes down to the cipher as
// a parameter and never lives in the policy's shared records, so concurrent
// values under one policy cannot mix IVs.
#pragma once

#include <cstdint>

#include "qor/ua_cipher_util.h"

namespace qor::engine {

// A value of the process-wide counter g_RecordIV no other draw in this
// process gets (until the counter wraps or is seeded again). A thread draws
// straight from the counter, which then holds the last value drawn, until
// it meets another thread there; from then on it reserves runs of values and
// draws from those without writing the counter (record_iv_draw.cpp).
uint32_t DrawRecordIv();

// Draws the record IV of one value under |object| and marks the object's
// head record as writing a record-IV tail. False (and a log line) when the
// object has no head record.
bool DrawRecordIvFor(UACipherUtil** object, uint32_t* value);

// The exported UACipherUtil_SetRecordIV hands its value to the object's next
// encryption on this thread; these keep it until then.
// Remembers |value| as this thread's record IV for its next encryption under |object|.
void SetPendingRecordIv(const UACipherUtil* object, uint32_t value);
// Takes this thread's pending record IV for |object|: true and *value when one
// was set and not yet used, else false.
bool TakePendingRecordIv(const UACipherUtil* object, uint32_t* value);
// Drops this thread's pending record IV for |object| (the object goes away).
void ForgetPendingRecordIv(const UACipherUtil* object);

// The GetRecordIV slot: the policy IV, or this thread's copy of it carrying
// the record IV it has pending for the object (valid until this thread's next call).
unsigned char* GetRecordIV(UACipherUtil** self);

// The 16-byte IV one call uses: |policyIv| with its first 4 bytes replaced by
// |recordIv| in native byte order.
inline void MakeCallIv(const unsigned char policyIv[16], uint32_t recordIv, unsigned char out[16]) {
  __builtin_memcpy(out, policyIv, 16);
  __builtin_memcpy(out, &recordIv, 4);
}

}  // namespace qor::engine
