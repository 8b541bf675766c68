/* The value pair passed into and out of the library. */
#ifndef QOR_DATA_BUFFER_H
#define QOR_DATA_BUFFER_H

#include <stdint.h>

#include "qor/export.h"

QOR_BEGIN_DECLS

/* A value in or out of the library. An output with a non-null |data| owns a
 * zero-terminated heap block of at least |length| + 1 bytes (caller frees).
 * Negative lengths are result codes: -1 failed, -2 no value produced, -3 empty
 * input decrypted under a policy without null processing. */
typedef struct DataBuffer {
  int32_t length;
  unsigned char *data;
} DataBuffer;

QOR_END_DECLS

#endif
