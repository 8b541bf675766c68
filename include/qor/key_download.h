/* Key and policy download: turning the agent's answers into key manager
 * entries, and the small file helpers kept with them. */
#ifndef QOR_KEY_DOWNLOAD_H
#define QOR_KEY_DOWNLOAD_H

#include <stddef.h>
#include <stdint.h>

#include "qor/connection.h"
#include "qor/error.h"
#include "qor/key_mgr.h"
#include "qor/ua_cipher_util.h"

QOR_BEGIN_DECLS

/* Decrypts the policy-record |answer| with |sessionCipher| and adds its
 * policies to |mgr|. 1 on success; 0 with the reason in |errorRecord|'s chain
 * ("Invalid Packet", "Record Decrypt Failed") or the log. |answer| stays the
 * caller's. */
QOR_API int Packet_OpGetKeyinfo2KeyMgr(const Packet *answer, KeyMgr *mgr,
                                       UACipherUtil *sessionCipher, ErrorInfo *errorRecord,
                                       int32_t cryptoMode, int32_t compatibility);

/* Reads the whole file at |path| into a new *|data| (zero-terminated, free())
 * and its size into *|length|. 0 ok; 1 no readable file; 2 open failed; 3 no
 * memory; 4 short read (nothing handed back). */
QOR_API int readFileData(const char *path, unsigned char **data, size_t *length);
/* Writes |size| bytes to a new file at |path|: 1, or 0 when it cannot be
 * opened or written. */
QOR_API int Packet_writeFile(const unsigned char *bytes, size_t size, const char *path);
/* 1 when every character of |text| is a blank or control character (an empty
 * or absent text included), else 0. */
QOR_API int isWhitespace(const char *text);

QOR_END_DECLS

#endif
