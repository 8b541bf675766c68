/* Entries for testing an installation, kept out of qorapi.h: a name as
 * short as "test" would collide with a host's own. */
#ifndef QOR_TEST_ENTRIES_H
#define QOR_TEST_ENTRIES_H

#include "qor/export.h"

QOR_BEGIN_DECLS

/* Fetches key |version| of policy |keyName| from the first agent into the
 * loaded key set: 0 fetched; 1 failed, no key set or no name; -1 another
 * fetch kept running for 10 seconds. */
QOR_API int Test_QOR_AddKey(const char *keyName, int version);
/* Returns |value| + 1: the library is loaded and callable. */
QOR_API int test(int value);

QOR_END_DECLS

#endif
