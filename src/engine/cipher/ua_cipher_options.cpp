// Policy options of the keyed cipher object: the getters the crypto service
// consults and the few setters used while a policy is built.
#include <cstdlib>
#include <cstring>

#include "engine/cipher/cipher_lock.h"
#include "engine/cipher/ua_cipher_internal.h"
#include "engine/engine_log.h"

namespace {

constexpr char kLogUnit[] = "source/Crypto/UACipherUtil";

// Stores |value| into the field |member| of a present object for the setter
// |caller|: 0, else -1.
int SetOption(const char* caller, UACipherUtil** object, int32_t UACipherUtilData::*member,
              int value) {
  UACipherUtilData* data = qor::engine::DataOf(object);
  if (data == nullptr) {
    QOR_LOG_AS(qor::log::kCrit, caller, kLogUnit, "Null Pointer Exception\n");
    return -1;
  }
  data->*member = value;
  return 0;
}

int GetOption(UACipherUtil** self, int32_t UACipherUtilData::*member) {
  const UACipherUtilData* data = qor::engine::DataOf(self);
  return data != nullptr ? data->*member : 0;
}

}  // namespace

namespace qor::engine {

int GetAlgorithmType(UACipherUtil** self) {
  const CipherUtil* head = HeadRecord(DataOf(self));
  return head != nullptr ? static_cast<int>(head->algType) : 0;
}

int GetKeyLength(UACipherUtil** self) { return GetOption(self, &UACipherUtilData::keyLength); }

DataBuffer GetKeyValue(UACipherUtil** self) {
  const UACipherUtilData* data = DataOf(self);
  return data != nullptr ? data->UsKey : DataBuffer{0, nullptr};
}

DataBuffer GetKeyName(UACipherUtil** self) {
  const UACipherUtilData* data = DataOf(self);
  return data != nullptr ? data->keyName : DataBuffer{0, nullptr};
}

void SetCompatibility(UACipherUtil** self, int compatibility) {
  SetOption(__func__, self, &UACipherUtilData::compatibility, compatibility);
}

int GetCompatibility(UACipherUtil** self) {
  return GetOption(self, &UACipherUtilData::compatibility);
}

int GetACL_count(UACipherUtil** self) { return GetOption(self, &UACipherUtilData::aclCount); }

int GetUnauthorizedDecryption(UACipherUtil** self) {
  return GetOption(self, &UACipherUtilData::unauthorizedDecryption);
}

int Getprio(UACipherUtil** self) { return GetOption(self, &UACipherUtilData::prio); }

AccessControlData* GetACL(UACipherUtil** self) {
  const UACipherUtilData* data = DataOf(self);
  return data != nullptr ? data->acl : nullptr;
}

int Geterror_process(UACipherUtil** self) {
  return GetOption(self, &UACipherUtilData::errorProcess);
}

int GetDecrypt_cnt(UACipherUtil** self) { return GetOption(self, &UACipherUtilData::decryptCnt); }

void GetAudit(UACipherUtil** self, int32_t audit[4]) {
  if (audit == nullptr) return;
  const UACipherUtilData* data = DataOf(self);
  for (int i = 0; i < 4; ++i) audit[i] = data != nullptr ? data->audit[i] : 0;
}

int Getnull_process(UACipherUtil** self) { return GetOption(self, &UACipherUtilData::nullProcess); }

int GetKeyStatus(UACipherUtil** self) { return GetOption(self, &UACipherUtilData::keyStatus); }

int GetKeyAvailable(UACipherUtil** self) {
  return GetOption(self, &UACipherUtilData::keyAvailable);
}

int GetKeyPeriod(UACipherUtil** self) { return GetOption(self, &UACipherUtilData::keyPeriod); }

int GettargetExist(UACipherUtil** self) { return GetOption(self, &UACipherUtilData::targetExist); }

int GetorgFileHandling(UACipherUtil** self) {
  return GetOption(self, &UACipherUtilData::orgFileHandling);
}

const char* GetorgBackupExtension(UACipherUtil** self) {
  const UACipherUtilData* data = DataOf(self);
  return data != nullptr ? data->orgBackupExtension : nullptr;
}

int GetencFileDelete(UACipherUtil** self) {
  return GetOption(self, &UACipherUtilData::encFileDelete);
}

int GetencDataVerify(UACipherUtil** self) {
  return GetOption(self, &UACipherUtilData::encDataVerify);
}

int GetorgDataVerify(UACipherUtil** self) {
  return GetOption(self, &UACipherUtilData::orgDataVerify);
}

int GetDuplicate(UACipherUtil** self) { return GetOption(self, &UACipherUtilData::encDuplication); }

void SetPatternInfo(UACipherUtil** self, const char* text) {
  UACipherUtilData* data = DataOf(self);
  if (data == nullptr) return;
  char* copy = nullptr;
  if (text != nullptr && (copy = strdup(text)) == nullptr) {
    QOR_LOG(qor::log::kCrit, "Memory Allocation Failed.\n");
    return;  // the old text stays rather than none
  }
  std::free(data->patternInfo);
  data->patternInfo = copy;
}

const char* GetPatternInfo(UACipherUtil** self) {
  const UACipherUtilData* data = DataOf(self);
  return data != nullptr ? data->patternInfo : nullptr;
}

int IsPeriodicKey(UACipherUtil** self) {
  const UACipherUtilData* data = DataOf(self);
  return data != nullptr ? data->isPeriodicKey : -1;
}

}  // namespace qor::engine

extern "C" {

int UACipherUtil_SetEncDuplication(UACipherUtil** object, int value) {
  return SetOption(__func__, object, &UACipherUtilData::encDuplication, value);
}

int UACipherUtil_SetDecDuplication(UACipherUtil** object, int value) {
  return SetOption(__func__, object, &UACipherUtilData::decDuplication, value);
}

int UACipherUtil_SetNullEncryption(UACipherUtil** object, int value) {
  return SetOption(__func__, object, &UACipherUtilData::nullProcess, value);
}

}  // extern "C"
