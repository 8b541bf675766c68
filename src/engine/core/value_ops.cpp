// Placeholder definitions until the value core lands: every operation fails.
#include "engine/core/value_ops.h"

namespace qor::engine {

int Encrypt_API(UACipherUtil**, DataBuffer*, DataBuffer*) { return -1; }
int Decrypt_API(UACipherUtil**, DataBuffer*, DataBuffer*) { return -1; }
int EncryptToBase64(UACipherUtil**, DataBuffer*, DataBuffer*) { return -1; }
int DecryptFromBase64(UACipherUtil**, DataBuffer*, DataBuffer*) { return -1; }
int Encrypt_API_ACC(UACipherUtil**, DataBuffer*, DataBuffer*, int, const char*, const char*,
                    const char*) {
  return -1;
}
int EncryptToBase64_ACC(UACipherUtil**, DataBuffer*, DataBuffer*, int, const char*, const char*,
                        const char*) {
  return -1;
}
int Decrypt_API_ACC(UACipherUtil**, DataBuffer*, DataBuffer*, QOR_KeyFetchFn, const char*,
                    const char*, const char*) {
  return -1;
}
int DecryptFromBase64_ACC(UACipherUtil**, DataBuffer*, DataBuffer*, QOR_KeyFetchFn, const char*,
                          const char*, const char*) {
  return -1;
}
int Encrypt_API_Init(UACipherUtil**, void**, const unsigned char*, int) { return -1; }
int Encrypt_API_Update(UACipherUtil**, void**, const DataBuffer*, DataBuffer*) { return -1; }
int Encrypt_API_Final(UACipherUtil**, void**, DataBuffer*) { return -1; }
int Decrypt_API_Init(UACipherUtil**, void**, QOR_KeyFetchFn, const unsigned char*, int) {
  return -1;
}
int Decrypt_API_Update(UACipherUtil**, void**, const DataBuffer*, DataBuffer*) { return -1; }
int Decrypt_API_Final(UACipherUtil**, void**, DataBuffer*) { return -1; }

}  // namespace qor::engine
