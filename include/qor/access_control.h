/* Access rules of a policy: three caller identities, weekday, date and time of day. */
#ifndef QOR_ACCESS_CONTROL_H
#define QOR_ACCESS_CONTROL_H

#include <stdint.h>
#include <time.h>

#include "qor/export.h"

QOR_BEGIN_DECLS

/* One rule: a zero-terminated prefix pattern (at most 127 characters). */
typedef struct AccessRule {
  char pattern[128];
  struct AccessRule *next;
} AccessRule;

/* One ACL entry. A NULL rule list tests nothing. Lists 1..3 match identities
 * 1..3, list 4 the weekday digit ("1" Sunday .. "7" Saturday). */
typedef struct AccessControlData {
  AccessRule *rules1;
  AccessRule *rules2;
  AccessRule *rules3;
  AccessRule *rules4;
  char dateFrom[16]; /* "%d-%d-%d"; empty: no date rule */
  char dateTo[16];
  char timeFrom[16]; /* "%d:%d"; empty: no time rule */
  char timeTo[16];
  int32_t decryptAllowed;
  int32_t encryptAllowed;
  struct AccessControlData *next;
} AccessControlData;

enum { QOR_ACL_ENCRYPT = 1, QOR_ACL_DECRYPT = 2 };
enum { QOR_PRIO_ALLOW_FIRST = 1, QOR_PRIO_BLOCK_FIRST = 2 };

/* 1 allowed, 0 refused. |operation| is QOR_ACL_ENCRYPT or QOR_ACL_DECRYPT. */
QOR_API int comp_ACL(const AccessControlData *acl, int prio, const char *identity1,
                     const char *identity2, const char *identity3, int operation);
/* 1 when some rule is a prefix of |value| (an empty rule matches all); NULL value: 0. */
QOR_API int Compare_string(const char *value, const AccessRule *rules);
/* 1 when |now|'s local time of day lies in [from, to] ("%d:%d"); never across midnight. */
QOR_API int Compare_time(time_t now, const char *from, const char *to);
/* 1 when |now| lies in [from 00:00:00, to 23:59:59] local time ("%d-%d-%d"). */
QOR_API int Compare_date(time_t now, const char *from, const char *to);

/* Deep copy of a rule list (NULL for NULL); caller frees with acs_rule_destroy. */
QOR_API AccessRule *acs_copy(const AccessRule *rules);
QOR_API void acs_rule_destroy(AccessRule *rules);
/* Frees an entry list with its rule lists. */
QOR_API void AccessControlData_Destroy(AccessControlData *acl);

QOR_END_DECLS

#endif
