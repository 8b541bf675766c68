// The crypto service table through which every entry point reaches encryption.
#pragma once

struct QORApiData;

// Four operation slots: value encrypt, value decrypt, file encrypt, file decrypt.
struct QORCrypto {
  void* Encrypt;
  void* Decrypt;
  void* EncryptFile;
  void* DecryptFile;
};

extern QORCrypto gCrypto;

// Fills |table|: 1 real operations, 2 bypass values with real files, 3 all bypass.
void QORCrypto_Create(QORCrypto* table, int mode);
// Hands the configuration data to the service.
void QORCrypto_SetConfigData(QORApiData* data);
// Known-answer test of the crypto module: 0 passed, 1 failed.
int Self_Test();
