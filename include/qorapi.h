/* QOR API: column-value, large-object and file encryption under centrally
 * managed policies. This header is valid C and C++. Buffers the library
 * returns are heap blocks the caller releases with free(). */
#ifndef QORAPI_H
#define QORAPI_H

#include <stdint.h>

#include "qor/export.h"
#include "qor/error.h"
#include "qor/base64.h"
#include "qor/data_buffer.h"

QOR_BEGIN_DECLS

/* Forces a complete (re)initialisation and runs the self test: 0 ok, 1 failed. */
QOR_API int QOR_Init(void);
/* 0 when the instance is initialised, 1 when not. */
QOR_API int QOR_IsInit(void);
/* Static text "Result: SUCCESS|FAIL, Date: ..." overwritten by the next call. */
QOR_API char *QOR_InitResult(void);
/* Destroys the current key set; the next call reloads it. Returns 0. */
QOR_API int QOR_ClearKeys(void);
/* Key-name listing of the current key set into |*out| (see the key manager);
 * 0 when nothing is loaded. */
QOR_API int QOR_loadKeyName(char ***out);
/* Builds the configuration when missing and re-maps the update-stamp file:
 * 1 built now, 0 already there, 7011 could not build, -1 could not wait. */
QOR_API int QOR_ReconnectFile(void);
/* Kept for callers of older releases; does nothing. */
QOR_API int sync_env(void);

/* Value entry points. |data| need not be zero-terminated. Identities go unchanged to the policy's access rules
 * and may be NULL. |mode| 0 gives the text form, anything else binary. */

/* Encrypts one value. The result owns its buffer (caller frees .data);
 * .length -1 failed (see the last error), -2 no value produced. */
QOR_API DataBuffer QOR_EncryptExUdf(const char *keyName, unsigned char *data, int length,
                                    const char *identity1, const char *identity2,
                                    const char *identity3, int mode);
/* Decrypts one value; as above, and .length -3 for an empty input under a
 * policy that does not encrypt empty values. */
QOR_API DataBuffer QOR_DecryptExUdf(const char *keyName, unsigned char *data, int length,
                                    const char *identity1, const char *identity2,
                                    const char *identity3, int mode);
/* Text form of one value as a new zero-terminated text (caller frees), or
 * NULL when empty or failed. |count| 1: three identity texts follow. NULL
 * |data| is a null value. */
QOR_API char *QOR_Encrypt(const char *keyName, unsigned char *data, int length, int count, ...);
/* Decrypts a text-form value into a new buffer (caller frees), or NULL. */
QOR_API char *QOR_Decrypt(const char *keyName, unsigned char *data, int length, int count, ...);
/* Encrypts into the caller's |out| (room for the largest result; nothing is
 * written past the returned length): the length, or -1/-2. Kinds 1, 4, 5
 * take three identity texts; 2/4 encrypt an empty and 3/5 a null value and
 * set |data|[0] to a blank. */
QOR_API int QOR_EncryptExMsSql(const char *keyName, unsigned char *data, int length,
                               unsigned char *out, int binary, int kind, ...);
/* Decrypts into the caller's |out|: the length, or a negative result. Kind 1
 * takes three identity texts. */
QOR_API int QOR_DecryptExMsSql(const char *keyName, unsigned char *data, int length,
                               unsigned char *out, int binary, int kind, ...);

/* Large objects, in pieces of 4096 bytes, each encrypted as one value. |out|
 * is the caller's, with room for the whole result and a terminating zero
 * byte (QOR_LobEncryptedSize gives it); it is written only on success.
 * Size of one piece of n bytes under the policy's newest key version:
 *   block ciphers, binary: n (+1 for the compatibility blank under
 *     compatibility 1 or 3, or 2 with null processing) rounded up to the next
 *     whole block (16 bytes, 8 for triple DES; a whole extra block when
 *     already a multiple), +3 when the key version is not 0, +4 with a record
 *     IV: 4115 for a whole piece under a version, 4119 with a record IV,
 *     4112 only under version 0 without a record IV;
 *   digests, binary: the digest (20, 32, 48 or 64 bytes);
 *   digit (FPE) policies: n;
 *   text form: 8 length digits + ("$." under compatibility 0) + the Base64
 *     of the binary piece (4 characters per 3 bytes, rounded up), digit
 *     policies 8 + n.
 * Kinds 2 and up replace the first piece by a one-byte empty or null marker.
 * A pattern (partial) policy may need more than these figures. */

/* Bytes |out| needs for QOR_EncryptLobEx of |length| bytes in form |binary|
 * and kind |kind| under policy |keyName|, the terminating zero byte included
 * (the sum of the figures above over the pieces). Initialises the instance
 * when needed. -1 when the policy is not loaded (error 3015) or the
 * instance cannot be initialised. */
QOR_API int64_t QOR_LobEncryptedSize(const char *keyName, uint64_t length, int binary, int kind);

/* Encrypts an object into |out|. Kinds 1, 4, 5 take three identity texts;
 * kinds 2 and up make the first piece an empty or null value. Returns the bytes written (zero byte
 * not counted), a negative result of the failed piece, -1 when the instance
 * cannot be initialised or the object is malformed, 0 when a key-set update
 * failed or memory ran out. */
QOR_API int64_t QOR_EncryptLobEx(const char *keyName, unsigned char *data, uint64_t length,
                                 unsigned char *out, int binary, int kind, ...);
/* Decrypts an object written by QOR_EncryptLobEx in the same form. */
QOR_API int64_t QOR_DecryptLobEx(const char *keyName, unsigned char *data, uint64_t length,
                                 unsigned char *out, int binary, int kind, ...);

/* Diagnostics. */

/* Asks the first agent whether it is healthy: 0 yes, 1 no (the reason is the
 * last error). Builds a configuration of its own when none exists yet. */
QOR_API int QOR_HealthCheckAgent(void);
/* Compares the agent's policy hash with the loaded key set's: 0 equal, 1
 * changed, not initialised, or the agent could not be asked. */
QOR_API int QOR_CheckPolicy(void);
/* 0 when the loaded key set holds policy |keyName|; 1 when it does not (error
 * 3015), or without a key set or name (no error). Never initialises. */
QOR_API int QOR_ExistPolicy(const char *keyName);
/* Writes "ALGORITHM-KEYBITS versions=V1,V2,..." (newest version first, e.g.
 * "ARIA-256 versions=2,1") for policy |keyName| into the caller's |out| of
 * |size| bytes, initialising the instance when needed: 0; 1 unknown policy
 * (error 3015); -1 bad argument, no key set, or too small a buffer. */
QOR_API int QOR_DescribePolicy(const char *keyName, char *out, int size);
/* Key version carried by an encrypted text value (an optional "$." prefix is
 * skipped): the big-endian 16-bit number in its first two bytes, or -1 when
 * it does not decode to at least two bytes. */
QOR_API int QOR_GetKeyVersion(const char *text);
/* New Base64 text of {version high byte, low byte, 0xFE} (caller frees), or
 * NULL when memory ran out. */
QOR_API char *QOR_EncodeKeyVersion(int version);
/* Report for |command| (ignoring case) into |out| (|size| bytes with the
 * terminator, extra text cut): "all" initialises on demand and reports the
 * instance, "key-update" reloads the key set first, "reinit" also rebuilds
 * the configuration (these three return the initialisation result),
 * "show-conf" the configuration, "clear-all" the before/after report of
 * releasing the key set and configuration, "data type size" the platform's
 * type sizes, any other command the help text. */
QOR_API int QOR_AgentChecker_GetInfo(const char *command, char *out, int size);
/* The same report in a static 4096-byte buffer overwritten by the next call. */
QOR_API char *QOR_checkAgent(const char *command);

/* Writes the report for |command| into |out| (|size| bytes with the
 * terminator); returns the length of the text written. "reinit" also
 * rebuilds the configuration from its sources; "clear-all" reports the log
 * and audit paths and the key state before and after releasing the key set
 * and the configuration. */
QOR_API int QOR_checkAgentFilter(char *out, int size, const char *command);
/* The same with a |size| of 2048 bytes. */
QOR_API int QOR_checkAgentEx(char *out, const char *command);
/* Asks the QOR Server's health through the first agent: 0 healthy, 1 not
 * (the reason is the last error). Builds a configuration of its own when
 * none exists yet. */
QOR_API int QOR_HealthCheckServer(void);
/* Crypto known-answer self test: 0 passed, 1 failed. */
QOR_API int QOR_CheckCryptoModule(void);
/* 1 when an agent at |address|:|port| accepted a connection, 0 when not, -1
 * when no socket object could be made. */
QOR_API int QOR_Connect_test(const char *address, int port, int opcode);
/* Test_QOR_AddKey and test are declared in qor/test_entries.h. */
/* Writes the 12-character version text "3.7.3RN20267" and its terminator
 * into |out| (13 bytes): 0, or -1 without |out|. */
QOR_API int QOR_GetVersionEx(char *out);
/* This host's name, or its address, in a new 256-byte buffer (caller frees);
 * NULL when it cannot be found. */
QOR_API char *QOR_GetHostName(void);
QOR_API char *QOR_GetHostIP(void);

/* Settings. They change the configuration the library runs with (built
 * first when there is none): addresses and ports count from the next agent
 * connection, home, log and bypass settings from the next initialisation, so
 * set them before the first value call. Each returns 0, or -1 with the last
 * error 3001 for a NULL text or one too long for its field (at most 254
 * bytes for paths, 15 for addresses; nothing is changed), 7012 when no
 * configuration could be made. "reinit" and "clear-all" discard them. */
QOR_API int QOR_SetAgentHome(const char *home);
QOR_API int QOR_SetFirstPort(int port);  /* low 16 bits */
QOR_API int QOR_SetSecondPort(int port); /* low 16 bits */
/* "ERROR", "DEBUG", "NONE" (ignoring case); anything else INFO. */
QOR_API int QOR_SetLogLevel(const char *level);
/* Logs go to |directory| from the next initialisation. */
QOR_API int QOR_SetLogDir(const char *directory);
/* Sets the address of both agents. */
QOR_API int QOR_SetFirstIp(const char *address);
QOR_API int QOR_SetSecondIp(const char *address);
/* 0 switches the API log off; any other value changes nothing. */
QOR_API int QOR_SetUseLog(int flag);
/* Host kind: selects the configuration source order and the log file name.
 * Set it once, before the first call. */
QOR_API void QOR_Filter_set(int level);

QOR_END_DECLS

#endif
