/* The policy record: a BER-TLV tree holding every policy of a key set and its
 * keys, read into a flat element list and from there into the key manager. */
#ifndef QOR_POLICY_H
#define QOR_POLICY_H

#include <stdint.h>

#include "qor/access_control.h"
#include "qor/data_buffer.h"
#include "qor/key_mgr.h"
#include "qor/ua_cipher_util.h"

QOR_BEGIN_DECLS

/* One parsed element. |value| points into the parsed buffer (never owned);
 * for a BIT STRING it starts after the unused-bit count, which |length| excludes. */
typedef struct BerTlv {
  uint8_t tag;
  uint32_t length;
  unsigned char *value;
} BerTlv;

/* Elements in document order: a constructed element is followed by its
 * children (depth + 1), then by its next sibling. */
typedef struct BerTlvNode {
  BerTlv tlv;
  uint32_t depth;
  struct BerTlvNode *next;
} BerTlvNode;

#define BER_TAG_BOOLEAN 0x01
#define BER_TAG_INTEGER 0x02
#define BER_TAG_BIT_STRING 0x03
#define BER_TAG_OCTET_STRING 0x04
#define BER_TAG_SEQUENCE 0x30
#define BER_CONSTRUCTED 0x20

/* Sets *|list| to the empty list. */
QOR_API void BerTlv_Init(BerTlvNode **list);
/* Frees every node of |list| (not the buffer the values point into). */
QOR_API void BerTlv_free(BerTlvNode *list);
/* Parses |buffer| from *|position| to |length| at |depth|. Returns the new list
 * (free with BerTlv_free; NULL when nothing was parsed), adds the number of
 * elements to *|count| and advances *|position|. A malformed or truncated
 * element ends the list there; nesting deeper than 32 levels ends it too. */
QOR_API BerTlvNode *Parse_Tlv(unsigned char *buffer, uint32_t length, uint32_t depth,
                              uint32_t *count, uint32_t *position);
/* Reads the length field at |bytes| (|remaining| bytes available) into *|length|;
 * returns the first byte after it, or NULL for a malformed field. */
QOR_API const unsigned char *tlv_parseLength(uint32_t *length, const unsigned char *bytes,
                                             uint32_t remaining);

/* Diagnostics on standard output. BerTlv_Print skips |first| elements, then prints |count|. */
QOR_API void BerTlv_Print(const BerTlvNode *list, int first, int count);
QOR_API void Policy_print(const BerTlvNode *node);
/* Shifts a BIT STRING's content right by its unused-bit count, in place. */
QOR_API void Process_BitString(BerTlvNode *node);
QOR_API int maxcmp(int a, int b);

/* A policy read from the record (Policy_getPolicy); released with freePolicy.
 * Texts are zero-terminated copies (an empty item gives ""). */
typedef struct PolicyData {
  char *name;                    /* 1 */
  char *item2;                   /* 2, not used by the key manager */
  char *algorithm;               /* 3 */
  uint64_t keyBits;              /* 4 */
  char *ivType;                  /* 6 */
  char *item7;                   /* 7 */
  char *errorProcess;            /* 8 */
  uint8_t nullProcess;           /* 9 */
  char *duplication;             /* 10 */
  char *patternType;             /* 11 */
  char *patternChars;            /* 12, NULL when 11 is "ALL" */
  int32_t patternCharsLength;
  char *position;                /* 13, NULL when 11 is "ALL" */
  char *compatibility;           /* 14 */
  char *item15;
  char *item16;
  char *decryptCountUnit;        /* 17 */
  uint64_t item18;
  uint64_t decryptCnt;           /* 19 */
  char *unauthorizedDecryption;  /* 20 */
  char *item21;
  char *prio;                    /* 22 */
  uint8_t audit[4];              /* 23..26 */
  char *targetExist;             /* 28 */
  char *orgFileHandling;         /* 29 */
  char *orgBackupExtension;      /* 30 */
  uint8_t encFileDelete;         /* 31 */
  uint8_t encDataVerify;         /* 32 */
  uint8_t orgDataVerify;         /* 33 */
  int32_t firstVersionFlag;      /* 1 when the first version's low 16 bits are not 0 */
  int32_t keyCount;
  KeyEntry *keys;                /* key bytes and status owned; key bytes wiped on release */
  int32_t aclCount;
  AccessControlData *acl;        /* owned */
} PolicyData;

/* Number of policies (depth-2 elements); *|hash| gets the value of the last
 * depth-1 OCTET STRING or NULL. |count| bounds the walk. */
QOR_API uint32_t Policy_count(const BerTlvNode *list, uint32_t count, const BerTlv **hash);
/* Fills |idList| (room for |count| entries) with the policy nodes; returns their number. */
QOR_API uint32_t Policy_getIDList(const BerTlvNode *list, uint32_t count,
                                  const BerTlvNode **idList);
/* The first / second item of a policy, or NULL. */
QOR_API const BerTlv *Policy_getName(const BerTlvNode *policy);
QOR_API const BerTlv *Policy_getAlgorithm(const BerTlvNode *policy);
/* Reads the first policy named |name| into a new *|parsed| (release with
 * freePolicy): 1, or 0 when none matches or that policy is unreadable (too few
 * or wrongly typed items, short keys, over-long rule texts). */
QOR_API int Policy_getPolicy(const BerTlvNode **idList, uint32_t idCount, const char *name,
                             uint32_t nameLength, PolicyData **parsed);
/* New zero-terminated copy of the value (free()), or NULL without memory. */
QOR_API char *Policy_split_item(const BerTlv *element);
/* A time value: all characters but the last three as a decimal number; 0 for
 * texts shorter than 2 or longer than 48 characters or out of range. */
QOR_API int32_t Policy_split_item2(const BerTlv *element);
/* Number of consecutive depth-6 elements after |node|. */
QOR_API int count_rule(const BerTlvNode *node);
/* Builds the rule list of one rule-list SEQUENCE into *|rules| (NULL for an
 * empty list; free with free_acl). 0, or -1 for a rule that is not a text of at
 * most 127 characters. */
QOR_API int Policy_check_seq(const BerTlvNode *node, AccessRule **rules);
/* Key versions of item 5 |node| into a new list (release with the policy): 0, or -1. */
QOR_API int cipherInfo_parse(const BerTlvNode *node, uint32_t keyBytes, KeyEntry **keys,
                             int32_t *count, int32_t *firstVersionFlag);
/* Access rule entries of item 27 |node| into a new list (AccessControlData_Destroy): 0, or -1. */
QOR_API int ACL_parse(const BerTlvNode *node, AccessControlData **acl, int32_t *count);
/* Releases a parsed policy and clears the caller's pointer. */
QOR_API void freePolicy(PolicyData **parsed);
/* Releases one rule list. */
QOR_API void free_acl(AccessRule *rules);

/* Adds every readable policy of |record| to |mgr| and stores the record's
 * policy hash. Always 1: unreadable policies are skipped. */
QOR_API int KeyMgrParse(const DataBuffer *record, KeyMgr *mgr, int32_t cryptoMode,
                        int32_t compatibility);

QOR_END_DECLS

#endif
