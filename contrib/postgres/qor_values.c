/*
 * The SQL functions: one value through the library per call. Inputs are
 * copied into a scratch buffer with room behind them, as the library's value
 * entry points ask of their callers; results come back in malloc'd library
 * buffers, are copied into palloc'd datums and freed before anything can
 * raise an error.
 */
#include "qor_pg.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "qorapi.h"
#include "fmgr.h"
#include "mb/pg_wchar.h"
#include "utils/builtins.h"
#include "utils/memutils.h"

PG_MODULE_MAGIC;

PG_FUNCTION_INFO_V1(qor_encrypt_text);
PG_FUNCTION_INFO_V1(qor_encrypt_bytea);
PG_FUNCTION_INFO_V1(qor_decrypt_text);
PG_FUNCTION_INFO_V1(qor_decrypt_bytea);
PG_FUNCTION_INFO_V1(qor_rewrap_text);
PG_FUNCTION_INFO_V1(qor_rewrap_bytea);
PG_FUNCTION_INFO_V1(qor_key_version_text);
PG_FUNCTION_INFO_V1(qor_key_version_bytea);

/* The library's output modes. */
#define QOR_TEXT_FORM 0
#define QOR_BINARY_FORM 1

/* Room the library may use behind a value it is given. */
#define QOR_INPUT_SPARE 32
/* Values up to this size reuse one buffer per backend. */
#define QOR_SCRATCH_KEEP (64 * 1024)

typedef enum QorOperation
{
	QOR_ENCRYPT,
	QOR_DECRYPT
} QorOperation;

/* One value as SQL sees it. */
typedef struct QorValue
{
	bool		isnull;
	const char *data;			/* may be NULL when length is 0 */
	int			length;
} QorValue;

/* The policy name as a C string: short names stay on the caller's stack. */
typedef struct QorPolicy
{
	const char *name;			/* NULL for an SQL NULL */
	char		inline_name[NAMEDATALEN * 2];
} QorPolicy;

static unsigned char *scratch = NULL;
static size_t scratch_size = 0;

void		_PG_init(void);

void
_PG_init(void)
{
	qor_identity_init();
}

static void
read_policy(FunctionCallInfo fcinfo, QorPolicy *policy)
{
	text	   *name;
	int			length;

	if (PG_ARGISNULL(0))
	{
		policy->name = NULL;
		return;
	}
	name = PG_GETARG_TEXT_PP(0);
	length = VARSIZE_ANY_EXHDR(name);
	if (length < (int) sizeof(policy->inline_name))
	{
		memcpy(policy->inline_name, VARDATA_ANY(name), length);
		policy->inline_name[length] = '\0';
		policy->name = policy->inline_name;
	}
	else
		policy->name = text_to_cstring(name);
}

static QorValue
read_value(FunctionCallInfo fcinfo)
{
	QorValue	value = {true, NULL, 0};
	struct varlena *datum;

	if (PG_ARGISNULL(1))
		return value;
	datum = PG_GETARG_VARLENA_PP(1);
	value.isnull = false;
	value.data = VARDATA_ANY(datum);
	value.length = VARSIZE_ANY_EXHDR(datum);
	return value;
}

/* A writable copy of |value| with spare room behind it. */
static unsigned char *
writable_copy(const QorValue *value)
{
	size_t		need = (size_t) value->length + QOR_INPUT_SPARE;
	unsigned char *copy;

	if (need > QOR_SCRATCH_KEEP)
		copy = palloc(need);
	else
	{
		if (scratch_size < need)
		{
			size_t		grown = Max(need, 1024);

			scratch = scratch == NULL
				? MemoryContextAlloc(TopMemoryContext, grown)
				: repalloc(scratch, grown);
			scratch_size = grown;
		}
		copy = scratch;
	}
	if (value->length > 0)
		memcpy(copy, value->data, value->length);
	return copy;
}

/*
 * Runs |value| through the library and maps its result back to SQL:
 * encryption gives no value (-2) for a null the policy does not encrypt;
 * decryption reports an encrypted empty value as -2 and an encrypted null
 * (or a null input) as -3. A result without bytes is the input's own kind of
 * nothing. On return *owned is the library buffer |result| points into
 * (the caller frees it), or NULL.
 */
static QorValue
run_library(QorOperation operation, const char *function, const QorPolicy *policy,
			QorValue value, int mode, void **owned)
{
	QorIdentities ids;
	unsigned char *input = NULL;
	int			length = -2;	/* a null value */
	DataBuffer	out;
	QorValue	result = {true, NULL, 0};

	qor_current_identities(&ids);
	if (!value.isnull)
	{
		input = writable_copy(&value);
		length = value.length;
	}
	if (operation == QOR_ENCRYPT)
		out = QOR_EncryptExUdf(policy->name, input, length, ids.user, ids.address,
							   ids.application, mode);
	else
		out = QOR_DecryptExUdf(policy->name, input, length, ids.user, ids.address,
							   ids.application, mode);
	if (input != NULL && input != scratch)
		pfree(input);

	*owned = out.data;
	if (out.length > 0 && out.data != NULL)
	{
		result.isnull = false;
		result.data = (const char *) out.data;
		result.length = out.length;
	}
	else if (out.length == 0)
	{
		/*
		 * No bytes: encryption passed a null or empty input through as it
		 * came; a decryption without bytes is the policy answering a failure
		 * with no value, unless the bytes are an empty plaintext.
		 */
		result.isnull = out.data == NULL && (value.isnull || operation == QOR_DECRYPT);
	}
	else if (out.length == -2)
		result.isnull = operation == QOR_ENCRYPT;
	else if (out.length == -3 && operation == QOR_DECRYPT)
		result.isnull = true;
	else
		qor_raise_library_error(function, policy->name, out.data);
	return result;
}

/* A palloc'd text or bytea datum of |value|; frees |owned| on every path. */
static struct varlena *
to_datum(const char *function, const QorPolicy *policy, QorValue value, void *owned,
		 bool is_text)
{
	struct varlena *datum;
	size_t		size = (size_t) value.length + VARHDRSZ;

	if (is_text && value.length > 0 && !pg_verifymbstr(value.data, value.length, true))
	{
		free(owned);
		ereport(ERROR,
				(errcode(ERRCODE_CHARACTER_NOT_IN_REPERTOIRE),
				 errmsg("%s under policy \"%s\" produced bytes that are not valid %s text",
						function, policy->name, GetDatabaseEncodingName()),
				 errhint("Values encrypted from bytea decrypt with the bytea variant.")));
	}
	if (!AllocSizeIsValid(size))
	{
		free(owned);
		ereport(ERROR,
				(errcode(ERRCODE_PROGRAM_LIMIT_EXCEEDED),
				 errmsg("%s under policy \"%s\": result of %d bytes is too large",
						function, policy->name, value.length)));
	}
	datum = palloc_extended(size, MCXT_ALLOC_NO_OOM);
	if (datum == NULL)
	{
		free(owned);
		ereport(ERROR,
				(errcode(ERRCODE_OUT_OF_MEMORY),
				 errmsg("out of memory"),
				 errdetail("Failed on request of size %zu in %s.", size, function)));
	}
	SET_VARSIZE(datum, size);
	if (value.length > 0)
		memcpy(VARDATA(datum), value.data, value.length);
	free(owned);
	return datum;
}

static Datum
one_way(FunctionCallInfo fcinfo, QorOperation operation, const char *function, bool is_text)
{
	QorPolicy	policy;
	QorValue	result;
	void	   *owned;

	read_policy(fcinfo, &policy);
	result = run_library(operation, function, &policy, read_value(fcinfo),
						 is_text ? QOR_TEXT_FORM : QOR_BINARY_FORM, &owned);
	if (result.isnull)
	{
		free(owned);
		PG_RETURN_NULL();
	}
	PG_RETURN_POINTER(to_datum(function, &policy, result, owned, is_text));
}

/* Decrypts and encrypts again; the plaintext is copied out of the library's
 * buffer (freed at once) so that no library buffer outlives an error. */
static Datum
rewrap(FunctionCallInfo fcinfo, const char *function, bool is_text)
{
	int			mode = is_text ? QOR_TEXT_FORM : QOR_BINARY_FORM;
	QorPolicy	policy;
	QorValue	plain;
	QorValue	result;
	void	   *owned;
	char	   *copy = NULL;

	read_policy(fcinfo, &policy);
	plain = run_library(QOR_DECRYPT, function, &policy, read_value(fcinfo), mode, &owned);
	if (!plain.isnull && plain.length > 0)
	{
		copy = palloc_extended(plain.length, MCXT_ALLOC_NO_OOM);
		if (copy == NULL)
		{
			free(owned);
			ereport(ERROR, (errcode(ERRCODE_OUT_OF_MEMORY), errmsg("out of memory")));
		}
		memcpy(copy, plain.data, plain.length);
		plain.data = copy;
	}
	free(owned);
	result = run_library(QOR_ENCRYPT, function, &policy, plain, mode, &owned);
	if (copy != NULL)
		pfree(copy);
	if (result.isnull)
	{
		free(owned);
		PG_RETURN_NULL();
	}
	PG_RETURN_POINTER(to_datum(function, &policy, result, owned, is_text));
}

Datum
qor_encrypt_text(PG_FUNCTION_ARGS)
{
	return one_way(fcinfo, QOR_ENCRYPT, "qor_encrypt", true);
}

Datum
qor_encrypt_bytea(PG_FUNCTION_ARGS)
{
	return one_way(fcinfo, QOR_ENCRYPT, "qor_encrypt", false);
}

Datum
qor_decrypt_text(PG_FUNCTION_ARGS)
{
	return one_way(fcinfo, QOR_DECRYPT, "qor_decrypt", true);
}

Datum
qor_decrypt_bytea(PG_FUNCTION_ARGS)
{
	return one_way(fcinfo, QOR_DECRYPT, "qor_decrypt", false);
}

Datum
qor_rewrap_text(PG_FUNCTION_ARGS)
{
	return rewrap(fcinfo, "qor_rewrap", true);
}

Datum
qor_rewrap_bytea(PG_FUNCTION_ARGS)
{
	return rewrap(fcinfo, "qor_rewrap", false);
}

Datum
qor_key_version_text(PG_FUNCTION_ARGS)
{
	char	   *value = text_to_cstring(PG_GETARG_TEXT_PP(0));
	int			version = QOR_GetKeyVersion(value);

	pfree(value);
	if (version < 0)
		PG_RETURN_NULL();
	PG_RETURN_INT32(version);
}

/* The binary form carries the version in its first two bytes, as the text
 * form does once decoded. */
Datum
qor_key_version_bytea(PG_FUNCTION_ARGS)
{
	bytea	   *value = PG_GETARG_BYTEA_PP(0);
	const unsigned char *bytes = (const unsigned char *) VARDATA_ANY(value);

	if (VARSIZE_ANY_EXHDR(value) < 2)
		PG_RETURN_NULL();
	PG_RETURN_INT32((bytes[0] << 8) | bytes[1]);
}
