/*
 * The identities handed to the library's access rules: session user, client
 * address and application name. A parallel worker has no client connection
 * of its own, so it takes the address of its leader from the shared backend
 * status; the session user and the application name travel to workers with
 * the rest of the session state. Both ends format the address the way
 * inet_client_addr() shows it ("127.0.0.1", "::1").
 */
#include "qor_pg.h"

#include <netdb.h>
#include <sys/socket.h>

#include "access/parallel.h"
#include "common/ip.h"
#include "fmgr.h"
#include "miscadmin.h"
#include "storage/proc.h"
#include "utils/backend_status.h"
#include "utils/builtins.h"
#include "utils/fmgrprotos.h"
#include "utils/guc.h"
#include "utils/inval.h"
#include "utils/syscache.h"

static Oid	cached_user_id = InvalidOid;
static char cached_user[NAMEDATALEN];

static bool address_known = false;
static bool address_present = false;
static char address[NI_MAXHOST];

/* A renamed role must not keep its old name here. */
static void
forget_user(Datum arg, int cacheid, uint32 hashvalue)
{
	cached_user_id = InvalidOid;
}

void
qor_identity_init(void)
{
	CacheRegisterSyscacheCallback(AUTHOID, forget_user, (Datum) 0);
}

static const char *
session_user_name(void)
{
	Oid			id = GetSessionUserId();

	if (id != cached_user_id)
	{
		char	   *name = GetUserNameFromId(id, true);

		strlcpy(cached_user, name != NULL ? name : "", sizeof(cached_user));
		if (name != NULL)
			pfree(name);
		cached_user_id = id;
	}
	return cached_user;
}

/* The numeric host of |addr|, as inet_client_addr() shows it; false for
 * anything but IPv4 and IPv6. */
static bool
format_address(const SockAddr *addr, char *out, size_t size)
{
	int			family = addr->addr.ss_family;

	if (family != AF_INET && family != AF_INET6)
		return false;
	if (pg_getnameinfo_all(&addr->addr, addr->salen, out, size, NULL, 0,
						   NI_NUMERICHOST | NI_NUMERICSERV) != 0)
		return false;
	clean_ipv6_addr(family, out);
	return true;
}

/* The leader's entry in the shared backend status, found by process id. */
static bool
leader_address(char *out, size_t size)
{
	PGPROC	   *leader = MyProc != NULL ? MyProc->lockGroupLeader : NULL;
	int			count;

	if (leader == NULL || leader == MyProc)
		return false;
	count = pgstat_fetch_stat_numbackends();
	for (int i = 1; i <= count; i++)
	{
		LocalPgBackendStatus *entry = pgstat_fetch_stat_local_beentry(i);

		if (entry != NULL && entry->backendStatus.st_procpid == leader->pid)
			return format_address(&entry->backendStatus.st_clientaddr, out, size);
	}
	return false;
}

/* This backend's own client address, as inet_client_addr() gives it. */
static bool
own_address(char *out, size_t size)
{
	LOCAL_FCINFO(call, 0);
	Datum		value;

	InitFunctionCallInfoData(*call, NULL, 0, InvalidOid, NULL, NULL);
	value = inet_client_addr(call);
	if (call->isnull)
		return false;
	strlcpy(out, DatumGetCString(DirectFunctionCall1(inet_out, value)), size);
	return true;
}

/* The address never changes for the life of a process: worked out once. */
static const char *
client_address(void)
{
	if (!address_known)
	{
		if (MyProcPort != NULL)
			address_present = own_address(address, sizeof(address));
		else if (IsParallelWorker())
			address_present = leader_address(address, sizeof(address));
		address_known = true;
	}
	return address_present ? address : NULL;
}

void
qor_current_identities(QorIdentities *ids)
{
	ids->user = session_user_name();
	ids->address = client_address();
	ids->application = application_name;
}
