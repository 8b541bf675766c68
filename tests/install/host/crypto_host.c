/* A host that includes qor/qorcrypto.h alone and names everything that header
 * has always declared: compiled, never run. */
#include <qor/qorcrypto.h>

typedef void (*AnyFn)(void);

int crypto_host_names(void);
int crypto_host_names(void) {
  QOR_FindKeyInfoFn find = 0;
  QOR_UpdateKeySetFn update = 0;
  QOR_AddKeyFn addKey = 0;
  struct FileResult *fileResult = 0;
  const AnyFn names[] = {
      (AnyFn)QORCrypto_Create,         (AnyFn)QORCrypto_SetConfigData,
      (AnyFn)QORCrypto_Encrypt,        (AnyFn)QORCrypto_Decrypt,
      (AnyFn)QORCrypto_EncryptFile,    (AnyFn)QORCrypto_DecryptFile,
      (AnyFn)QORCrypto_Encrypt_BYPASS, (AnyFn)QORCrypto_Decrypt_BYPASS,
      (AnyFn)QORCrypto_EncryptFile_BYPASS, (AnyFn)QORCrypto_DecryptFile_BYPASS,
      (AnyFn)SetCipherText,            (AnyFn)Compare_time2,
      (AnyFn)Self_Test,                (AnyFn)Connect_test,
  };
  const int modes[] = {QORCRYPTO_REAL, QORCRYPTO_BYPASS_VALUES, QORCRYPTO_BYPASS_ALL};
  return (int)(sizeof names / sizeof names[0]) + modes[0] + (find == 0) + (update == 0) +
         (addKey == 0) + (fileResult == 0);
}
