// The algorithm table: one row per algorithm code, holding every fact the
// engine keeps about that code. The exported position-ordered tables
// (EncryptFunctions, DecryptFunctions and the streaming ones), the name
// lookup, the creation of key contexts, the one-way rules of the value
// operations and the encrypted-length estimate all read these rows.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qor/cipher_tables.h"

namespace qor::engine::algorithms {

// Builds the key contexts of |record| from |key| (length > 0): 0 or -1.
using CreateFn = int (*)(const DataBuffer& key, CipherUtil* record);
// Releases the key contexts a create step built into |record|.
using ReleaseFn = void (*)(CipherUtil* record);

struct StreamEntries {
  CipherStreamInitFn encInit;
  CipherStreamUpdateFn encUpdate;
  CipherStreamFinalFn encFinal;
  CipherStreamInitFn decInit;
  CipherStreamUpdateFn decUpdate;
  CipherStreamFinalFn decFinal;
};

struct Algorithm {
  uint32_t code = QOR_ALG_UNKNOWN;
  // Name prefixes GetCryptoAlgorithmType matches, case-sensitively; none: the
  // code is never chosen by name.
  const char* names[2] = {};
  // Key bytes the schedule takes (a shorter key is zero-filled; the 32-byte
  // codes repeat a key shorter than 32 bytes' first 16 bytes). 0: the key is
  // used as given, or not at all.
  int keyBytes = 0;
  // The name picks this code only with a key of keyBytes bytes.
  bool nameNeedsKeyBytes = false;
  // Padding block of a stored value; 0 where no block cipher runs.
  int blockBytes = 0;
  // Bytes a one-way code's encryption stores (before Base64); 0 otherwise.
  int digestBytes = 0;
  // Records are one-way: values carry no version prefix and no record-IV tail.
  bool oneWay = false;
  // Text decryption hands the stored value back (result 3103).
  bool textDecryptCopies = false;
  // Binary decryption refuses the value.
  bool binaryDecryptRefused = false;
  // Size of each key context the create step allocates (0: none, or not plain memory).
  size_t contextBytes = 0;
  CreateFn create = nullptr;
  ReleaseFn release = nullptr;  // null: the contexts are freed as contextBytes of plain memory
  CipherEncryptFn encrypt = nullptr;
  CipherDecryptFn decrypt = nullptr;
  // Block ciphers: encrypt into the caller's memory, so that a text value
  // needs no buffer of its own for the binary form. Null elsewhere.
  int (*encryptInto)(DataBuffer* in, const void* key, const unsigned char* iv, unsigned char* out,
                     uint16_t keyVersion, int32_t useRecordIV) = nullptr;
  // Codes 0..21 only; codes without a cipher of their own stream as it says.
  StreamEntries stream = {};
};

// Rows in code order: kAlgorithms[c].code == c.
extern const Algorithm kAlgorithms[QOR_ALG_COUNT];

// The row of |code|; a code past the table reads as the unknown row (0).
inline const Algorithm& AlgorithmOf(uint32_t code) {
  return kAlgorithms[code < QOR_ALG_COUNT ? code : uint32_t{QOR_ALG_UNKNOWN}];
}

}  // namespace qor::engine::algorithms
