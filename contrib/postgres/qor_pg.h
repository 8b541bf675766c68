/* Shared declarations of the qor extension's source files. */
#ifndef QOR_PG_H
#define QOR_PG_H

#include "postgres.h"

/* The three identity texts the library's access rules test, in its order:
 * the session user, the client's address (NULL without one, e.g. over a
 * Unix socket) and the application name. */
typedef struct QorIdentities
{
	const char *user;
	const char *address;
	const char *application;
} QorIdentities;

/* Fills |ids| for the current call. The texts live until the next call. In a
 * parallel worker the address is the leader's client address. */
extern void qor_current_identities(QorIdentities *ids);

/* Forgets the cached session user name (role renamed or session changed). */
extern void qor_identity_init(void);

/* Raises the library's last error as a PostgreSQL error for |function| under
 * |policy|; frees |owned| (a library buffer, may be NULL) first. */
extern void qor_raise_library_error(const char *function, const char *policy,
									void *owned) pg_attribute_noreturn();

#endif
