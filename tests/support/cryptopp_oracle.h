// Crypto++ as the reference for whole-message cipher results.
#pragma once

#include <crypto++/modes.h>

#include <cstdint>

#include "support/bytes.h"

namespace qor::test {

// Runs all of |in| through a keyed Crypto++ mode object, no padding.
template <class Mode>
Bytes CryptoppRun(Mode&& mode, const Bytes& in) {
  Bytes out(in.size());
  if (!in.empty()) mode.ProcessData(out.data(), in.data(), in.size());
  return out;
}

// CBC over whole blocks (|in| already a multiple of the block size).
template <class Cipher>
Bytes CryptoppCbc(bool encrypt, const Bytes& key, const uint8_t* iv, const Bytes& in) {
  if (in.empty()) return {};
  if (encrypt) return CryptoppRun(typename CryptoPP::CBC_Mode<Cipher>::Encryption(key.data(), key.size(), iv), in);
  return CryptoppRun(typename CryptoPP::CBC_Mode<Cipher>::Decryption(key.data(), key.size(), iv), in);
}

}  // namespace qor::test
