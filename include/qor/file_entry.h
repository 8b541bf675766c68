/* The exported file entry points: whole-file encryption and decryption under
 * a policy, run by the library instance through the file pipelines of
 * qor/qorfile.h. */
#ifndef QOR_FILE_ENTRY_H
#define QOR_FILE_ENTRY_H

#include "qor/export.h"
#include "qor/qorfile.h"

QOR_BEGIN_DECLS

/* Encrypts |sourcePath| into |targetPath| under the policy |keyName|
 * (the same path: in place). |count| 1: three identity texts follow. Returns
 * the run's result code (0 success), or -1 before the run. */
QOR_API int QOR_EncryptFile(const char *keyName, const char *sourcePath, const char *targetPath,
                            int count, ...);
/* Decrypts likewise. */
QOR_API int QOR_DecryptFile(const char *keyName, const char *sourcePath, const char *targetPath,
                            int count, ...);
/* Encrypts in a forked child: a new record (caller frees) whose code is 0
 * when the child succeeded, else -1; no other field comes back from the
 * child. NULL only when memory runs out. Identities may be NULL. */
QOR_API FileResult *QOR_EncryptFile_JNI(int keyNameLength, const char *keyName,
                                        const char *sourcePath, const char *targetPath,
                                        const char *identity1, const char *identity2,
                                        const char *identity3);
/* Decrypts and returns the run's whole record. */
QOR_API FileResult QOR_DecryptFile_JNI(int keyNameLength, const char *keyName,
                                       const char *sourcePath, const char *targetPath,
                                       const char *identity1, const char *identity2,
                                       const char *identity3);

QOR_END_DECLS

#endif
