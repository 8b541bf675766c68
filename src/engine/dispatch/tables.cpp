// Adapter tables indexed by algorithm code.
#include "engine/adapters/adapters.h"
#include "qor/cipher_util.h"

namespace ad = qor::engine::adapters;

extern "C" {

const CipherEncryptFn EncryptFunctions[QOR_ALG_COUNT] = {
    doUnknownEncryptEx,   doSEEDEncryptEx,     doARIAEncryptEx2,    doDES3EncryptEx,     doUnknownEncryptEx,
    doAESEncryptEx,       doAESEncryptEx,      doAESEncryptEx,      doSHA1EncryptEx,     doSHA256EncryptEx,
    doSHA384EncryptEx,    doSHA512EncryptEx,   doDES3EncryptEx,     doARIAEncryptEx2,    doARIAEncryptEx2,
    doLEAEncryptEx,       doLEAEncryptEx,      doLEAEncryptEx,      doSHA3_256Encrypt,   doSHA3_256Encrypt,
    doSHA3_512Encrypt,    doLSH512_256Encrypt, doLSH512_512Encrypt, ad::DigitEncrypt,    doDES3Encrypt_3keyEx,
    doUnknownEncryptEx,
};

const CipherDecryptFn DecryptFunctions[QOR_ALG_COUNT] = {
    doUnknownDecrypt,      doSEEDDecrypt,         doARIADecrypt2,        doDES3Decrypt,      doUnknownDecrypt,
    doAESDecrypt,          doAESDecrypt,          doAESDecrypt,          doSHA1DecryptPseude, doSHA256DecryptPseude,
    doSHA384DecryptPseude, doSHA512DecryptPseude, doDES3Decrypt,         doARIADecrypt2,     doARIADecrypt2,
    doLEADecrypt,          doLEADecrypt,          doLEADecrypt,          doSHA256DecryptPseude, doSHA256DecryptPseude,
    doSHA512DecryptPseude, doLSHDecryptPseude,    doLSHDecryptPseude,    ad::DigitDecrypt,   doDES3Decrypt_3key,
    doUnknownDecrypt,
};

// Streaming: SEED for codes 0 and 1, triple DES 3 and 12, AES 5 to 7, LEA 15
// to 17, ARIA for every other code.
#define QOR_STREAM_TABLE(Kind)                                                                     \
  {                                                                                                \
    doSEED##Kind, doSEED##Kind, doARIA##Kind, doDES3##Kind, doARIA##Kind, doAES##Kind, doAES##Kind, \
        doAES##Kind, doARIA##Kind, doARIA##Kind, doARIA##Kind, doARIA##Kind, doDES3##Kind,          \
        doARIA##Kind, doARIA##Kind, doLEA##Kind, doLEA##Kind, doLEA##Kind, doARIA##Kind,            \
        doARIA##Kind, doARIA##Kind, doARIA##Kind,                                                   \
  }

const CipherStreamInitFn EncryptInitFunctions[22] = QOR_STREAM_TABLE(EncInit);
const CipherStreamUpdateFn EncryptUpdateFunctions[22] = QOR_STREAM_TABLE(EncUpdate);
const CipherStreamFinalFn EncryptFinalFunctions[22] = QOR_STREAM_TABLE(EncFinal);
const CipherStreamInitFn DecryptInitFunctions[22] = QOR_STREAM_TABLE(DecInit);
const CipherStreamUpdateFn DecryptUpdateFunctions[22] = QOR_STREAM_TABLE(DecUpdate);
const CipherStreamFinalFn DecryptFinalFunctions[22] = QOR_STREAM_TABLE(DecFinal);

}  // extern "C"
