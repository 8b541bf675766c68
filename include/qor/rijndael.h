/* Table-driven reference AES (FIPS 197) used by the format-preserving digits. */
#ifndef QOR_RIJNDAEL_H
#define QOR_RIJNDAEL_H

#include <stddef.h>
#include <stdint.h>

#include "qor/export.h"

QOR_BEGIN_DECLS

#define RIJNDAEL_MAXNR 14

/* Expands |cipherKey| (keyBits 128, 192 or 256) into |rk| (room for
 * 4 * (RIJNDAEL_MAXNR + 1) words). Returns the number of rounds, 0 for a bad size. */
QOR_API int rijndaelKeySetupEnc(uint32_t rk[], const uint8_t cipherKey[], int keyBits);
/* As above, for the decryption direction. */
QOR_API int rijndaelKeySetupDec(uint32_t rk[], const uint8_t cipherKey[], int keyBits);
/* One block with a schedule from rijndaelKeySetupEnc / rijndaelKeySetupDec. */
QOR_API void rijndaelEncrypt(const uint32_t rk[], int Nr, const uint8_t pt[16], uint8_t ct[16]);
QOR_API void rijndaelDecrypt(const uint32_t rk[], int Nr, const uint8_t ct[16], uint8_t pt[16]);


/* AES-128-CBC over whole blocks with the functions above. |len| must be a
 * multiple of 16 (0 allowed); |in| and |out| may be the same buffer. |iv| is
 * read, not updated. Returns 0, or -1 (nothing written) for a bad length or a
 * null pointer. */
QOR_API int aes_128_cbc_encrypt(const uint8_t key[16], const uint8_t iv[16], const uint8_t* in,
                                uint8_t* out, size_t len);
QOR_API int aes_128_cbc_decrypt(const uint8_t key[16], const uint8_t iv[16], const uint8_t* in,
                                uint8_t* out, size_t len);

QOR_END_DECLS

#endif
