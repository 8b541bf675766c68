// The crypto service table filled by mode, for C++ callers.
#pragma once

#include "qor/qorcrypto.h"
#include "service/crypto/qor_crypto.h"

inline void QORCrypto_Create(QORCrypto* table, qor::crypto::TableMode mode) {
  QORCrypto_Create(table, static_cast<int>(mode));
}
