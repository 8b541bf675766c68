/* The emergency policy file and the policy key info container.
 *
 * Emergency policy file ("conf/agent.dat" under the agent home): 32 bytes of
 * file salt, then the policy record encrypted with ARIA-256-CBC under the key
 * and IV taken from SHA-384(file secret || file salt) (32 key bytes, 16 IV
 * bytes). The 16-byte file secret is the installation's: the file
 * "conf/agent.key" under the agent home, 16 raw bytes, mode 0600, created by the
 * agent when it is missing and only read by the library. Without it, or with
 * a different one, the emergency file does not load.
 *
 * Policy key info container: "1.01", two 16-byte values, the operation code,
 * a big-endian 32-bit length and the body of a packet's first record,
 * encrypted with the server cipher (ServerKACU_Create). */
#ifndef QOR_POLICY_FILE_H
#define QOR_POLICY_FILE_H

#include "qor/data_buffer.h"
#include "qor/packet.h"

QOR_BEGIN_DECLS

/* 1 when a file exists at |path|, 0 when not or |path| is NULL. */
QOR_API int IsPolicyFile(const char *path);
/* Decrypts the emergency policy file at |path| with the 16-byte |fileSecret| and
 * the 32-byte |fileSalt| (the file's first 32 bytes). On success (0) |record|
 * holds a new zero-terminated buffer of length + 1 bytes the caller frees; on
 * failure (-1 or the decryption's code) |record| is left as it was. A record
 * that does not start with a whole SEQUENCE (wrong secret, damaged file) fails. */
QOR_API int ReadPolicyFile(const char *path, DataBuffer *record, const unsigned char *fileSecret,
                           const unsigned char *fileSalt);
/* Writes |packet|'s first record with the two 16-byte values as a policy key
 * info file (the server cipher's Base64 text): 0, or -1 with nothing written. */
QOR_API int WritePolicyFile(const char *path, const Packet *packet, const unsigned char *firstValue,
                            const unsigned char *secondValue);
/* Reads the raw (Base64-decoded) form of a policy key info container. On 0 with
 * version "1.01" the two 16-byte outputs are filled and |packet| (which must
 * hold no data) gets the operation code, record count 1 and a new body of
 * length + 1 bytes the caller frees. Another version gives 0 and fills nothing.
 * Failure: -1 or the decryption's code, nothing filled. */
QOR_API int ReadPolicyKeyInfo(const DataBuffer *text, Packet *packet, unsigned char *firstValue,
                              unsigned char *secondValue);

QOR_END_DECLS

#endif
