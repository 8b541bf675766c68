/* Random bytes for session keys. This generator is NOT a cryptographically
 * strong source: its output follows from the time and a process-wide counter. */
#ifndef QOR_NC_RANDOM_H
#define QOR_NC_RANDOM_H

#include <stdint.h>

#include "qor/export.h"

QOR_BEGIN_DECLS

/* Fills exactly |len| bytes of the caller's |out|. Thread-safe. Returns 0, or
 * -1 for a null |out| with len > 0 or a negative |len|. */
QOR_API int NC_GenerateRandom(uint8_t* out, int32_t len);
/* Advances the process-wide congruential value (x = x * 1103515245 + 12345,
 * 32-bit) and returns the new value. Thread-safe. */
QOR_API uint32_t NC_Ulvex_Rand(void);

QOR_END_DECLS

#endif
