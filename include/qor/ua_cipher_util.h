/* The keyed cipher object: one policy with its key versions, options and value operations. */
#ifndef QOR_UA_CIPHER_UTIL_H
#define QOR_UA_CIPHER_UTIL_H

#include <stdint.h>

#include "qor/data_buffer.h"
#include "qor/access_control.h"
#include "qor/cipher_util.h"

QOR_BEGIN_DECLS

/* One key version as delivered by the policy parser. */
typedef struct KeyEntry {
  int64_t version;           /* the record keeps the low 16 bits */
  unsigned char *key;        /* key length bytes (the policy's key length) */
  char *status;              /* "active", "deactive" or other */
  int32_t firstTime;
  int32_t secondTime;
  struct KeyEntry *next;
} KeyEntry;

/* Partial-encryption pattern block (272 bytes). */
enum { QOR_PATTERN_NONE = 0, QOR_PATTERN_EXCLUDE_STRING = 1, QOR_PATTERN_CHARACTER = 2, QOR_PATTERN_MIDDLE = 3 };
enum { QOR_POSITION_FRONT = 1, QOR_POSITION_BACK = 2 };
typedef struct PatternBlock {
  int32_t type;
  int32_t position;
  unsigned char chars[264];  /* up to 256 pattern characters, zero-terminated */
} PatternBlock;

/* Fetches a key version the policy lacks (adds it with AddKey): 0 added, else non-zero. */
typedef int (*QOR_KeyFetchFn)(int nameLength, const char *name, int version);
typedef int (*QOR_HmacFn)(const DataBuffer *data, const DataBuffer *key, DataBuffer *out);

typedef struct UACipherUtilData {
  DataBuffer keyName;
  DataBuffer UsKey;
  int32_t keyLength;
  int32_t keyCount;
  CipherUtil *ciphers;       /* head = latest version */
  int32_t hasPattern;
  PatternBlock pattern;
  int32_t isPeriodicKey;
  int32_t encDuplication;    /* 0 ALLOW, 1 RETURN_INPUT, 2 refuse */
  int32_t decDuplication;
  int32_t aclCount;
  int32_t unauthorizedDecryption;
  int32_t prio;
  int32_t errorProcess;
  AccessControlData *acl;
  int32_t audit[4];
  int32_t nullProcess;
  int32_t compatibility;
  int32_t decryptCnt;
  int32_t keyStatus;
  int32_t keyAvailable;
  int32_t keyPeriod;
  int32_t targetExist;
  int32_t orgFileHandling;
  char *orgBackupExtension;
  int32_t encFileDelete;
  int32_t encDataVerify;
  int32_t orgDataVerify;
  int32_t decryptCounter;
  int32_t counterStamp;
  int32_t decryptCountUnit;
  char *patternInfo;
} UACipherUtilData;

typedef struct UACipherUtil UACipherUtil;
typedef int (*UAValueFn)(UACipherUtil **self, DataBuffer *in, DataBuffer *out);
typedef int (*UAEncryptAccFn)(UACipherUtil **self, DataBuffer *in, DataBuffer *out, int ignored,
                              const char *identity1, const char *identity2, const char *identity3);
typedef int (*UADecryptAccFn)(UACipherUtil **self, DataBuffer *in, DataBuffer *out,
                              QOR_KeyFetchFn fetch, const char *identity1, const char *identity2,
                              const char *identity3);
typedef int (*UAGetIntFn)(UACipherUtil **self);

struct UACipherUtil {
  UACipherUtilData *data;
  UAValueFn DecryptFromBase64;
  int (*DecryptKeyFromBase64)(UACipherUtil **self, DataBuffer *in, DataBuffer *out, int nullProcess);
  UAValueFn EncryptToBase64;
  UAValueFn Encrypt_API;
  UAValueFn Decrypt_API;
  UAEncryptAccFn EncryptToBase64_ACC;
  UAEncryptAccFn Encrypt_API_ACC;
  UADecryptAccFn DecryptFromBase64_ACC;
  UADecryptAccFn Decrypt_API_ACC;
  QOR_HmacFn Hmac;
  /* Streaming: |holder| keeps the stream context between Init and Final.
   * Update writes into out->data (room for in->length + 16) and sets out->length;
   * Final writes the last bytes and sets out->length. */
  int (*Encrypt_API_Init)(UACipherUtil **self, void **holder, const unsigned char *iv, int flag);
  int (*Encrypt_API_Update)(UACipherUtil **self, void **holder, const DataBuffer *in, DataBuffer *out);
  int (*Encrypt_API_Final)(UACipherUtil **self, void **holder, DataBuffer *out);
  int (*Decrypt_API_Init)(UACipherUtil **self, void **holder, QOR_KeyFetchFn fetch,
                          const unsigned char *iv, int keyVersion);
  int (*Decrypt_API_Update)(UACipherUtil **self, void **holder, const DataBuffer *in, DataBuffer *out);
  int (*Decrypt_API_Final)(UACipherUtil **self, void **holder, DataBuffer *out);
  UAGetIntFn GetAlgorithmType;
  UAGetIntFn GetKeyLength;
  DataBuffer (*GetKeyValue)(UACipherUtil **self);
  void (*Destroy)(UACipherUtil **self);
  void *reserved;
  void (*SetCompatibility)(UACipherUtil **self, int compatibility);
  UAGetIntFn GetCompatibility;
  UAGetIntFn GetACL_count;
  UAGetIntFn GetUnauthorizedDecryption;
  UAGetIntFn Getprio;
  AccessControlData *(*GetACL)(UACipherUtil **self);
  UAGetIntFn Geterror_process;
  UAGetIntFn GetDecrypt_cnt;
  void (*GetAudit)(UACipherUtil **self, int32_t audit[4]);
  UAGetIntFn Getnull_process;
  UAGetIntFn GetKeyStatus;
  UAGetIntFn GetKeyAvailable;
  UAGetIntFn GetKeyPeriod;
  UAGetIntFn GettargetExist;
  UAGetIntFn GetorgFileHandling;
  const char *(*GetorgBackupExtension)(UACipherUtil **self);
  UAGetIntFn GetencFileDelete;
  UAGetIntFn GetencDataVerify;
  UAGetIntFn GetorgDataVerify;
  UAGetIntFn GetDuplicate;
  unsigned char *(*GetRecordIV)(UACipherUtil **self);
  void (*SetPatternInfo)(UACipherUtil **self, const char *text);
  const char *(*GetPatternInfo)(UACipherUtil **self);
  DataBuffer (*GetKeyName)(UACipherUtil **self);
  UAGetIntFn IsPeriodicKey;
  UAGetIntFn GetLatestKeyVersion;
  int (*AddKey)(UACipherUtil **self, CipherUtil *record);
  CipherUtil *(*GetCipher)(UACipherUtil **self, int version);
};

/* Creators: a new object (Destroy slot frees it) or NULL. */
QOR_API UACipherUtil *UACipherUtil_CreateEx3(
    uint32_t algType, const DataBuffer *keyName, int32_t keyLength, int32_t keyCount,
    const KeyEntry *keys, const DataBuffer *iv, QOR_HmacFn hmac, const PatternBlock *pattern,
    int32_t nullProcess, int32_t aclCount, const AccessControlData *acl,
    int32_t unauthorizedDecryption, int32_t prio, int32_t errorProcess, uint64_t auditPair1,
    uint64_t auditPair2, int32_t decryptCnt, int32_t targetExist, int32_t orgFileHandling,
    const char *orgBackupExtension, int32_t encFileDelete, int32_t encDataVerify,
    int32_t orgDataVerify, int32_t mode, int32_t decryptCountUnit);
QOR_API UACipherUtil *UACipherUtil_CreateEx(uint32_t algType, const DataBuffer *key,
                                            const DataBuffer *iv, QOR_HmacFn hmac);
QOR_API UACipherUtil *UACipherUtil_Create_deprecated(uint32_t algType, const DataBuffer *key,
                                                     const DataBuffer *iv);
/* ARIA-256 object under the fixed server key and IV (emergency policy file). */
QOR_API UACipherUtil *ServerKACU_Create(QOR_HmacFn hmac);
QOR_API void ServerKACU_Free(UACipherUtil **object);

QOR_API int UACipherUtil_SetEncDuplication(UACipherUtil **object, int value);
QOR_API int UACipherUtil_SetDecDuplication(UACipherUtil **object, int value);
QOR_API int UACipherUtil_SetNullEncryption(UACipherUtil **object, int value);
/* No text: draw the next record IV for this thread's next encryption under the
 * object. A text: the policy IV becomes the first 16 bytes of its SHA-256. 0 or -1. */
QOR_API int UACipherUtil_SetRecordIV(UACipherUtil **object, const char *text);
/* Draws the next record-IV counter value into *|value|: 0 or -1. */
QOR_API int UDE_SetRecordIV(uint32_t *value);

/* The object's access check: its decryption count limit, then its policy's
 * rule entries. 1 allowed, 0 refused. |operation| is QOR_ACL_ENCRYPT or
 * QOR_ACL_DECRYPT. */
QOR_API int checkACL(UACipherUtil **object, const char *identity1, const char *identity2,
                     const char *identity3, int operation);

/* Value helpers. */
QOR_API int UACipherUtil_doDecode(const DataBuffer *in, DataBuffer *out);
QOR_API int UACipherUtil_doDecodeBase64(const DataBuffer *in, DataBuffer *out);
QOR_API int UACipherUtil_doDigestEncode(const DataBuffer *in, DataBuffer *out);
QOR_API int UACipherUtil_isDuplicationChecking(UACipherUtil **object, const char *text, int length);
QOR_API int isDoubleEncryptPrevention(UACipherUtil **object, const char *text, int length, int flag);
QOR_API int isDupNumericString(const char *text, int length);
QOR_API int isUppercaseAlphabet(const char *text, int length);

/* Partial encryption. */
typedef struct SplitResult {
  char *front;
  char *middle;
  char *back;
} SplitResult;
QOR_API SplitResult *split_char(SplitResult *result, const char *text, int length, const char *separator);
QOR_API SplitResult *triple_char(SplitResult *result, const char *text, int length,
                                 const char *pattern, int position, UACipherUtil **object);
QOR_API int getCryptoLen(int length, int useRecordIV, int compatibility, uint16_t keyVersion);

QOR_END_DECLS

#endif
