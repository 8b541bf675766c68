// Assembling and tearing down the keyed cipher object. Its operation slots
// point at the value operations of this folder, so the creators live here,
// above the object's own pieces.
#pragma once

#include <cstddef>

#include "qor/ua_cipher_util.h"

namespace qor::engine {

// Fills every operation slot; |hmac| NULL selects doHMACDigest.
void FillOperations(UACipherUtil* object, QOR_HmacFn hmac);

// The Destroy slot: wipes and frees the object and everything it owns.
void Destroy(UACipherUtil** self);

// Tests watch key bytes being released: called with each key-name and
// single-key buffer right before it is freed. NULL (the default) turns it off.
using ReleasedKeyBytesObserver = void (*)(const unsigned char* bytes, std::size_t length);
void SetReleasedKeyBytesObserver(ReleasedKeyBytesObserver observer);

}  // namespace qor::engine
