/* The key manager: every policy of the current key set, by name. */
#ifndef QOR_KEY_MGR_H
#define QOR_KEY_MGR_H

#include <stdint.h>

#include "qor/data_buffer.h"
#include "qor/ua_cipher_util.h"

QOR_BEGIN_DECLS

enum { QOR_IV_POLICY = 1, QOR_IV_RECORD = 2 };
#define QOR_POLICY_HASH_SIZE 88

/* One policy. */
typedef struct KeyInfo {
  int32_t nameLength;
  char *name;                /* owned, zero-terminated */
  int64_t policyKind;        /* always 4 */
  int64_t ivType;            /* QOR_IV_POLICY or QOR_IV_RECORD */
  UACipherUtil *cipher;      /* owned */
  void (*Destroy)(struct KeyInfo **info);
  struct KeyInfo *(*Clone)(struct KeyInfo *info);
} KeyInfo;

typedef struct KeyMgr KeyMgr;
struct KeyMgr {
  void *data;
  KeyInfo *(*AddKeyInfo)(KeyMgr *mgr, const DataBuffer *name, const char *algorithm,
                         int64_t policyKind, int64_t ivType, int32_t errorProcess,
                         int32_t keyLength, int32_t keyCount, const KeyEntry *keys,
                         int32_t firstVersionFlag, int32_t partial, const char *patternType,
                         int32_t position, const DataBuffer *patternChars, int32_t nullProcess,
                         int32_t encDuplication, int32_t decDuplication, int32_t compatibility,
                         int32_t unused, int32_t aclCount, const AccessControlData *acl,
                         int32_t unauthorizedDecryption, int32_t prio, int32_t audit1,
                         int32_t audit2, int32_t audit3, int32_t audit4,
                         int32_t decryptCountUnit, int32_t decryptCnt, int32_t targetExist,
                         int32_t orgFileHandling, const char *orgBackupExtension,
                         int32_t encFileDelete, int32_t encDataVerify, int32_t orgDataVerify,
                         int32_t mode);
  int (*AppendKeyInfo)(KeyMgr *mgr, KeyInfo *info);
  KeyInfo *(*GetKeyInfo)(KeyMgr *mgr, const DataBuffer *name);
  void (*SetPolicyHash)(KeyMgr *mgr, const unsigned char *hash);
  int (*CheckPolicyHash)(KeyMgr *mgr, const DataBuffer *hash);
  int (*LoadKeyName)(KeyMgr *mgr, char ***names);
  int (*GetPolicyCount)(KeyMgr *mgr);
  void *(*Clear)(KeyMgr *mgr);
  void (*Destroy)(KeyMgr **mgr);
};

/* New, empty key manager (Destroy slot frees it) or NULL. */
QOR_API KeyMgr *KeyMgr_Create(QOR_HmacFn hmac);
/* New policy record that owns |cipher| (destroyed on failure too), or NULL. */
QOR_API KeyInfo *KeyInfo_Create(const DataBuffer *name, uint32_t algType, int64_t policyKind,
                                int64_t ivType, UACipherUtil *cipher);

QOR_END_DECLS

#endif
