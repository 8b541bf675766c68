// The value slots of a keyed cipher object: each hands the policy's null
// processing to its whole-value operation; the text forms run it through the
// policy's pattern.
#include "engine/core/value_ops.h"

#include "engine/core/core.h"
#include "engine/pattern/pattern.h"

namespace qor::engine {

int Encrypt_API(UACipherUtil** self, DataBuffer* in, DataBuffer* out) {
  return EncryptValue(self, in, out, {.op = "E"});
}

int Decrypt_API(UACipherUtil** self, DataBuffer* in, DataBuffer* out) {
  return DecryptValue(self, in, out, {.op = "D"});
}

int EncryptToBase64(UACipherUtil** self, DataBuffer* in, DataBuffer* out) {
  return RunWithPattern(self, in, out, false, [&](DataBuffer* segment, DataBuffer* segmentOut) {
    return EncryptValue(self, segment, segmentOut, {.op = "E_to_B64", .text = true});
  });
}

int DecryptFromBase64(UACipherUtil** self, DataBuffer* in, DataBuffer* out) {
  return RunWithPattern(self, in, out, true, [&](DataBuffer* segment, DataBuffer* segmentOut) {
    return DecryptValue(self, segment, segmentOut, {.op = "D_from_B64", .text = true});
  });
}

int EncryptUnderAccess(UACipherUtil** self, DataBuffer* in, DataBuffer* out, bool text,
                       const char* identity1, const char* identity2, const char* identity3,
                       const uint32_t* recordIv) {
  if (!text) {
    return EncryptValue(self, in, out,
                        {.op = "E_to_ACC", .access = true, .identity1 = identity1,
                         .identity2 = identity2, .identity3 = identity3, .recordIv = recordIv});
  }
  return RunWithPattern(self, in, out, false, [&](DataBuffer* segment, DataBuffer* segmentOut) {
    return EncryptValue(self, segment, segmentOut,
                        {.op = "E_to_B64_ACC", .text = true, .access = true,
                         .identity1 = identity1, .identity2 = identity2, .identity3 = identity3,
                         .recordIv = recordIv});
  });
}

int DecryptUnderAccess(UACipherUtil** self, DataBuffer* in, DataBuffer* out, bool text,
                       QOR_KeyFetchFn fetch, const char* identity1, const char* identity2,
                       const char* identity3) {
  if (!text) {
    return DecryptValue(self, in, out,
                        {.op = "D_ACC", .access = true, .identity1 = identity1,
                         .identity2 = identity2, .identity3 = identity3, .fetch = fetch});
  }
  return RunWithPattern(self, in, out, true, [&](DataBuffer* segment, DataBuffer* segmentOut) {
    return DecryptValue(self, segment, segmentOut,
                        {.op = "D_from_B64_ACC", .text = true, .access = true,
                         .identity1 = identity1, .identity2 = identity2, .identity3 = identity3,
                         .fetch = fetch});
  });
}

int Encrypt_API_ACC(UACipherUtil** self, DataBuffer* in, DataBuffer* out, int,
                    const char* identity1, const char* identity2, const char* identity3) {
  return EncryptUnderAccess(self, in, out, false, identity1, identity2, identity3, nullptr);
}

int EncryptToBase64_ACC(UACipherUtil** self, DataBuffer* in, DataBuffer* out, int,
                        const char* identity1, const char* identity2, const char* identity3) {
  return EncryptUnderAccess(self, in, out, true, identity1, identity2, identity3, nullptr);
}

int Decrypt_API_ACC(UACipherUtil** self, DataBuffer* in, DataBuffer* out, QOR_KeyFetchFn fetch,
                    const char* identity1, const char* identity2, const char* identity3) {
  return DecryptUnderAccess(self, in, out, false, fetch, identity1, identity2, identity3);
}

int DecryptFromBase64_ACC(UACipherUtil** self, DataBuffer* in, DataBuffer* out,
                          QOR_KeyFetchFn fetch, const char* identity1, const char* identity2,
                          const char* identity3) {
  return DecryptUnderAccess(self, in, out, true, fetch, identity1, identity2, identity3);
}

int Encrypt_API_Init(UACipherUtil** self, void** holder, const unsigned char* iv, int) {
  return EInit(self, holder, iv);
}

int Encrypt_API_Update(UACipherUtil** self, void** holder, const DataBuffer* in, DataBuffer* out) {
  return EUpdate(self, holder, in, out);
}

int Encrypt_API_Final(UACipherUtil** self, void** holder, DataBuffer* out) {
  return EFinal(self, holder, out);
}

int Decrypt_API_Init(UACipherUtil** self, void** holder, QOR_KeyFetchFn fetch,
                     const unsigned char* iv, int keyVersion) {
  return DInit(self, holder, fetch, iv, keyVersion);
}

int Decrypt_API_Update(UACipherUtil** self, void** holder, const DataBuffer* in, DataBuffer* out) {
  return DUpdate(self, holder, in, out);
}

int Decrypt_API_Final(UACipherUtil** self, void** holder, DataBuffer* out) {
  return DFinal(self, holder, out);
}

}  // namespace qor::engine
