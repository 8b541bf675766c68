// The crypto service table: which value and file operations a mode serves.
// It sits above the pipelines it points at, so that they may use the crypto
// service without the service depending on them.
#include "service/table/service_table.h"

#include "qor/qorcrypto.h"
#include "service/crypto/qor_crypto.h"

extern "C" {

void QORCrypto_Create(QORCrypto* table, int mode) {
  if (table == nullptr) return;
  switch (mode) {
    case QORCRYPTO_REAL:
      *table = {QORCrypto_Encrypt, QORCrypto_Decrypt, QORCrypto_EncryptFile,
                QORCrypto_DecryptFile};
      break;
    case QORCRYPTO_BYPASS_VALUES:
      *table = {QORCrypto_Encrypt_BYPASS, QORCrypto_Decrypt_BYPASS, QORCrypto_EncryptFile,
                QORCrypto_DecryptFile};
      break;
    case QORCRYPTO_BYPASS_ALL:
      *table = {QORCrypto_Encrypt_BYPASS, QORCrypto_Decrypt_BYPASS, QORCrypto_EncryptFile_BYPASS,
                QORCrypto_DecryptFile_BYPASS};
      break;
    default:
      break;
  }
}

}  // extern "C"
