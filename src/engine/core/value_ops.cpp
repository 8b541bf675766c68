// The value slots of a keyed cipher object: each hands the policy's null
// processing to its whole-value operation; the text forms run it through the
// policy's pattern.
#include "engine/core/value_ops.h"

#include "engine/core/core.h"
#include "engine/pattern/pattern.h"

namespace qor::engine {

namespace {

int NullProcessOf(UACipherUtil** self) {
  return self != nullptr && *self != nullptr && (*self)->data != nullptr
             ? (*self)->data->nullProcess
             : 0;
}

}  // namespace

int Encrypt_API(UACipherUtil** self, DataBuffer* in, DataBuffer* out) {
  return E(self, in, out, NullProcessOf(self));
}

int Decrypt_API(UACipherUtil** self, DataBuffer* in, DataBuffer* out) {
  return D(self, in, out, NullProcessOf(self));
}

int EncryptToBase64(UACipherUtil** self, DataBuffer* in, DataBuffer* out) {
  const int nullProcess = NullProcessOf(self);
  return RunWithPattern(self, in, out, false, [&](DataBuffer* segment, DataBuffer* segmentOut) {
    return E_to_B64(self, segment, segmentOut, nullProcess);
  });
}

int DecryptFromBase64(UACipherUtil** self, DataBuffer* in, DataBuffer* out) {
  const int nullProcess = NullProcessOf(self);
  return RunWithPattern(self, in, out, true, [&](DataBuffer* segment, DataBuffer* segmentOut) {
    return D_from_B64(self, segment, segmentOut, nullProcess);
  });
}

int Encrypt_API_ACC(UACipherUtil** self, DataBuffer* in, DataBuffer* out, int,
                    const char* identity1, const char* identity2, const char* identity3) {
  return E_to_ACC(self, in, out, NullProcessOf(self), identity1, identity2, identity3);
}

int EncryptToBase64_ACC(UACipherUtil** self, DataBuffer* in, DataBuffer* out, int,
                        const char* identity1, const char* identity2, const char* identity3) {
  const int nullProcess = NullProcessOf(self);
  return RunWithPattern(self, in, out, false, [&](DataBuffer* segment, DataBuffer* segmentOut) {
    return E_to_B64_ACC(self, segment, segmentOut, nullProcess, identity1, identity2, identity3);
  });
}

int Decrypt_API_ACC(UACipherUtil** self, DataBuffer* in, DataBuffer* out, QOR_KeyFetchFn fetch,
                    const char* identity1, const char* identity2, const char* identity3) {
  return D_ACC(self, in, out, fetch, identity1, identity2, identity3);
}

int DecryptFromBase64_ACC(UACipherUtil** self, DataBuffer* in, DataBuffer* out,
                          QOR_KeyFetchFn fetch, const char* identity1, const char* identity2,
                          const char* identity3) {
  return RunWithPattern(self, in, out, true, [&](DataBuffer* segment, DataBuffer* segmentOut) {
    return D_from_B64_ACC(self, segment, segmentOut, fetch, identity1, identity2, identity3);
  });
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
