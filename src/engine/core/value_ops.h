// The value operations a keyed cipher object offers through its slots: binary
// and text forms, with and without access control, whole or by pattern, and
// the streaming Init/Update/Final. The creators fill the slots with these.
#pragma once

#include <cstdint>

#include "qor/ua_cipher_util.h"

namespace qor::engine {

int Encrypt_API(UACipherUtil** self, DataBuffer* in, DataBuffer* out);
int Decrypt_API(UACipherUtil** self, DataBuffer* in, DataBuffer* out);
int EncryptToBase64(UACipherUtil** self, DataBuffer* in, DataBuffer* out);
int DecryptFromBase64(UACipherUtil** self, DataBuffer* in, DataBuffer* out);
int Encrypt_API_ACC(UACipherUtil** self, DataBuffer* in, DataBuffer* out, int ignored,
                    const char* identity1, const char* identity2, const char* identity3);
int EncryptToBase64_ACC(UACipherUtil** self, DataBuffer* in, DataBuffer* out, int ignored,
                        const char* identity1, const char* identity2, const char* identity3);
int Decrypt_API_ACC(UACipherUtil** self, DataBuffer* in, DataBuffer* out, QOR_KeyFetchFn fetch,
                    const char* identity1, const char* identity2, const char* identity3);
int DecryptFromBase64_ACC(UACipherUtil** self, DataBuffer* in, DataBuffer* out,
                          QOR_KeyFetchFn fetch, const char* identity1, const char* identity2,
                          const char* identity3);

// The access-controlled forms as the value pipeline runs them: the text form
// through the policy's pattern; encryption under |recordIv| when the caller
// drew one (see ValueCall).
int EncryptUnderAccess(UACipherUtil** self, DataBuffer* in, DataBuffer* out, bool text,
                       const char* identity1, const char* identity2, const char* identity3,
                       const uint32_t* recordIv);
int DecryptUnderAccess(UACipherUtil** self, DataBuffer* in, DataBuffer* out, bool text,
                       QOR_KeyFetchFn fetch, const char* identity1, const char* identity2,
                       const char* identity3);

int Encrypt_API_Init(UACipherUtil** self, void** holder, const unsigned char* iv, int flag);
int Encrypt_API_Update(UACipherUtil** self, void** holder, const DataBuffer* in, DataBuffer* out);
int Encrypt_API_Final(UACipherUtil** self, void** holder, DataBuffer* out);
int Decrypt_API_Init(UACipherUtil** self, void** holder, QOR_KeyFetchFn fetch,
                     const unsigned char* iv, int keyVersion);
int Decrypt_API_Update(UACipherUtil** self, void** holder, const DataBuffer* in, DataBuffer* out);
int Decrypt_API_Final(UACipherUtil** self, void** holder, DataBuffer* out);

}  // namespace qor::engine
