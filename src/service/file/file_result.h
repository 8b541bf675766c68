// The result record of one file operation. The file pipelines fill it; the
// bypass operations hand it back zero-filled.
#pragma once

#include <cstdint>

#include "qor/error.h"

struct FileResult {
  int32_t reserved;                        // always 0
  char message[QOR_ERROR_MESSAGE_SIZE];    // last error message, only on failure
  char tag[4];                             // "KED", "IOE", "KLE", "ACC", "DUP", "UNK"
  int32_t code;                            // 0 success
  int32_t ciphertextVerified;              // 1: the stored ciphertext digest matched
  int32_t plaintextVerified;               // 1: the stored plaintext digest matched
  int64_t time;                            // seconds since the epoch
  char deviceAddress[16];
  char keyName[128];
  uint16_t keyVersion;
};
