// Pieces of the keyed cipher object shared by its source files: the slot
// functions the creators put into the operation table, and small accessors.
#pragma once

#include <cstddef>

#include "qor/ua_cipher_util.h"

namespace qor::engine {

// The object's data, or NULL for a missing object.
inline UACipherUtilData* DataOf(UACipherUtil** self) {
  return (self != nullptr && *self != nullptr) ? (*self)->data : nullptr;
}

// Option slots.
int GetAlgorithmType(UACipherUtil** self);
int GetKeyLength(UACipherUtil** self);
DataBuffer GetKeyValue(UACipherUtil** self);
DataBuffer GetKeyName(UACipherUtil** self);
void SetCompatibility(UACipherUtil** self, int compatibility);
int GetCompatibility(UACipherUtil** self);
int GetACL_count(UACipherUtil** self);
int GetUnauthorizedDecryption(UACipherUtil** self);
int Getprio(UACipherUtil** self);
AccessControlData* GetACL(UACipherUtil** self);
int Geterror_process(UACipherUtil** self);
int GetDecrypt_cnt(UACipherUtil** self);
void GetAudit(UACipherUtil** self, int32_t audit[4]);
int Getnull_process(UACipherUtil** self);
int GetKeyStatus(UACipherUtil** self);
int GetKeyAvailable(UACipherUtil** self);
int GetKeyPeriod(UACipherUtil** self);
int GettargetExist(UACipherUtil** self);
int GetorgFileHandling(UACipherUtil** self);
const char* GetorgBackupExtension(UACipherUtil** self);
int GetencFileDelete(UACipherUtil** self);
int GetencDataVerify(UACipherUtil** self);
int GetorgDataVerify(UACipherUtil** self);
int GetDuplicate(UACipherUtil** self);
void SetPatternInfo(UACipherUtil** self, const char* text);
const char* GetPatternInfo(UACipherUtil** self);
int IsPeriodicKey(UACipherUtil** self);

// Key-version slots.
int GetLatestKeyVersion(UACipherUtil** self);
int AddKey(UACipherUtil** self, CipherUtil* record);
CipherUtil* GetCipher(UACipherUtil** self, int version);

int DecryptKeyFromBase64(UACipherUtil** self, DataBuffer* in, DataBuffer* out, int nullProcess);

}  // namespace qor::engine
