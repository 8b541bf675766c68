// Adapters that exist only as table entries (no exported name of their own).
#pragma once

#include "qor/cipher_adapters.h"

namespace qor::engine::adapters {

// Digit policies (code 23) in the shape of the encrypt and decrypt tables.
int DigitEncrypt(DataBuffer* in, const void* key, const unsigned char* iv, DataBuffer* out, uint16_t keyVersion,
                 int32_t useRecordIV, int32_t compatibility);
int DigitDecrypt(DataBuffer* in, const void* key, const unsigned char* iv, DataBuffer* out, int32_t nullProcess,
                 int32_t compatibility);
// The digit context of a record (one for both directions), and its release.
int CreateDigits(const DataBuffer& key, CipherUtil* record);
void ReleaseDigits(CipherUtil* record);

// The block ciphers' encryption into the caller's memory (room for
// value::EncryptedBinaryLength bytes): the binary form's length, or -1.
int doSEEDEncryptExInto(DataBuffer*, const void*, const unsigned char*, unsigned char*, uint16_t, int32_t);
int doARIAEncryptEx2Into(DataBuffer*, const void*, const unsigned char*, unsigned char*, uint16_t, int32_t);
int doAESEncryptExInto(DataBuffer*, const void*, const unsigned char*, unsigned char*, uint16_t, int32_t);
int doDES3EncryptExInto(DataBuffer*, const void*, const unsigned char*, unsigned char*, uint16_t, int32_t);
int doDES3Encrypt_3keyExInto(DataBuffer*, const void*, const unsigned char*, unsigned char*, uint16_t, int32_t);
int doLEAEncryptExInto(DataBuffer*, const void*, const unsigned char*, unsigned char*, uint16_t, int32_t);

}  // namespace qor::engine::adapters
