// Overwrites memory that held key material before it is released.
#ifndef QOR_COMMON_SECURE_WIPE_H
#define QOR_COMMON_SECURE_WIPE_H

#include <cstddef>

namespace qor {

// Zeroes |n| bytes at |p| (NULL or 0 is a no-op); the stores are never
// optimised away.
void SecureWipe(void* p, std::size_t n);

// Overwrites |n| bytes at |p| with |value| (NULL or 0 is a no-op), for the
// buffers whose release pattern is not zero; never optimised away either.
void SecureFill(void* p, unsigned char value, std::size_t n);

}  // namespace qor

#endif
