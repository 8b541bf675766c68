/*
 * Library failures as PostgreSQL errors. The detail carries the library's
 * code and message; a message that quotes the caller's value has the value
 * cut out, because server logs keep error details.
 */
#include "qor_pg.h"

#include <stdlib.h>
#include <string.h>

#include "qorapi.h"
#include "utils/elog.h"

/* Library codes the SQL caller can act on. */
#define QOR_CODE_POLICY_NOT_FOUND 3015

/* Messages of the value pipeline that end in, or start with, the value. */
static const char *const value_prefixes[] = {
	"key or data check(",
	"This data is already encrypted.",
};
static const char value_suffix[] = " is not encrypted data.";

/* Copies |message| into |out| (|size| bytes) without the value it quotes. */
static void
redact_value(const char *message, char *out, size_t size)
{
	size_t		length = strlen(message);
	size_t		suffix = sizeof(value_suffix) - 1;

	for (size_t i = 0; i < lengthof(value_prefixes); i++)
	{
		size_t		n = strlen(value_prefixes[i]);

		if (strncmp(message, value_prefixes[i], n) == 0)
		{
			bool		bracket = value_prefixes[i][n - 1] == '(';

			snprintf(out, size, "%s%s", value_prefixes[i], bracket ? "...)" : "");
			return;
		}
	}
	if (length >= suffix && strcmp(message + length - suffix, value_suffix) == 0)
	{
		snprintf(out, size, "value%s", value_suffix);
		return;
	}
	strlcpy(out, message, size);
}

void
qor_raise_library_error(const char *function, const char *policy, void *owned)
{
	int			code = QOR_GetLastErrorCode();
	char		message[QOR_ERROR_MESSAGE_SIZE];
	int			sqlstate = ERRCODE_EXTERNAL_ROUTINE_EXCEPTION;

	free(owned);
	redact_value(QOR_GetLastErrorMsg(), message, sizeof(message));
	if (code == QOR_CODE_POLICY_NOT_FOUND)
		sqlstate = ERRCODE_UNDEFINED_OBJECT;
	else if (strncmp(message, "Permission Denied", 17) == 0)
		sqlstate = ERRCODE_INSUFFICIENT_PRIVILEGE;

	ereport(ERROR,
			(errcode(sqlstate),
			 errmsg("%s failed under policy \"%s\"", function,
					policy != NULL ? policy : "(null)"),
			 errdetail("QOR error %d: %s", code,
					   message[0] != '\0' ? message : "no reason recorded")));
	pg_unreachable();
}
