// The rows of the algorithm table, and the exported tables indexed by
// algorithm code, built from the rows at compile time.
#include "engine/algorithms/algorithm_table.h"

#include "engine/adapters/adapters.h"
#include "engine/adapters/ciphers.h"
#include "engine/adapters/key_contexts.h"

namespace qor::engine::algorithms {
namespace {

namespace ad = qor::engine::adapters;

// Digests keep no key context.
int CreateDigest(const DataBuffer&, CipherUtil* record) {
  record->pEKey = record->pDKey = nullptr;
  return 0;
}

// RC4 records are accepted and hold nothing; its table entries refuse values.
int CreateNothing(const DataBuffer&, CipherUtil*) { return 0; }

int RefuseTicn(const DataBuffer&, CipherUtil* record) {
  record->algType = QOR_ALG_UNKNOWN;
  QOR_CREATE_LOG("Can Not Use TICN\n");
  return -1;
}

int RefuseUnknown(const DataBuffer&, CipherUtil* record) {
  record->algType = QOR_ALG_UNKNOWN;
  QOR_CREATE_LOG("Unknown Algorithm\n");
  return -1;
}

#define QOR_STREAM_ENTRIES(Cipher)                                                                   \
  StreamEntries {                                                                                    \
    do##Cipher##EncInit, do##Cipher##EncUpdate, do##Cipher##EncFinal, do##Cipher##DecInit,           \
        do##Cipher##DecUpdate, do##Cipher##DecFinal                                                  \
  }
constexpr StreamEntries kSeedStream = QOR_STREAM_ENTRIES(SEED);
constexpr StreamEntries kAriaStream = QOR_STREAM_ENTRIES(ARIA);
constexpr StreamEntries kDes3Stream = QOR_STREAM_ENTRIES(DES3);
constexpr StreamEntries kAesStream = QOR_STREAM_ENTRIES(AES);
constexpr StreamEntries kLeaStream = QOR_STREAM_ENTRIES(LEA);
#undef QOR_STREAM_ENTRIES

}  // namespace

// Codes without a cipher of their own stream through ARIA (SEED for code 0).
extern constexpr Algorithm kAlgorithms[QOR_ALG_COUNT] = {
    {.code = QOR_ALG_UNKNOWN, .create = RefuseUnknown,
     .encrypt = doUnknownEncryptEx, .decrypt = doUnknownDecrypt, .stream = kSeedStream},
    {.code = QOR_ALG_SEED, .names = {"SEED"}, .keyBytes = 16, .blockBytes = 16,
     .contextBytes = sizeof(NC_SEED_CTX), .create = ad::CreateStaged<ad::SeedAdapter, 16>,
     .encrypt = doSEEDEncryptEx, .decrypt = doSEEDDecrypt, .encryptInto = ad::doSEEDEncryptExInto, .stream = kSeedStream},
    {.code = QOR_ALG_ARIA128, .names = {"ARIA"}, .keyBytes = 16, .nameNeedsKeyBytes = true, .blockBytes = 16,
     .contextBytes = sizeof(NC_ARIA_CTX), .create = ad::CreateStaged<ad::AriaAdapter, 16>,
     .encrypt = doARIAEncryptEx2, .decrypt = doARIADecrypt2, .encryptInto = ad::doARIAEncryptEx2Into, .stream = kAriaStream},
    {.code = QOR_ALG_DES3_2KEY, .names = {"3DES", "TDES"}, .keyBytes = 16, .nameNeedsKeyBytes = true,
     .blockBytes = 8, .contextBytes = sizeof(NC_DES3_CTX), .create = ad::CreateStaged<ad::Des3TwoKeyAdapter, 16>,
     .encrypt = doDES3EncryptEx, .decrypt = doDES3Decrypt, .encryptInto = ad::doDES3EncryptExInto, .stream = kDes3Stream},
    {.code = QOR_ALG_RC4, .names = {"RC4"}, .create = CreateNothing,
     .encrypt = doUnknownEncryptEx, .decrypt = doUnknownDecrypt, .stream = kAriaStream},
    {.code = QOR_ALG_AES128, .names = {"AES"}, .keyBytes = 16, .nameNeedsKeyBytes = true, .blockBytes = 16,
     .contextBytes = sizeof(NC_AES_CTX), .create = ad::CreateStaged<ad::AesAdapter, 16>,
     .encrypt = doAESEncryptEx, .decrypt = doAESDecrypt, .encryptInto = ad::doAESEncryptExInto, .stream = kAesStream},
    // Reserved: no records, though the tables hold the AES entries.
    {.code = QOR_ALG_AES_RESERVED, .blockBytes = 16, .create = RefuseUnknown,
     .encrypt = doAESEncryptEx, .decrypt = doAESDecrypt, .encryptInto = ad::doAESEncryptExInto, .stream = kAesStream},
    {.code = QOR_ALG_AES256, .names = {"AES"}, .keyBytes = 32, .nameNeedsKeyBytes = true, .blockBytes = 16,
     .contextBytes = sizeof(NC_AES_CTX), .create = ad::CreateStaged<ad::AesAdapter, 32>,
     .encrypt = doAESEncryptEx, .decrypt = doAESDecrypt, .encryptInto = ad::doAESEncryptExInto, .stream = kAesStream},
    // Not chosen by name: "SHA1" gives code 0.
    {.code = QOR_ALG_SHA1, .digestBytes = 20, .oneWay = true, .textDecryptCopies = true,
     .binaryDecryptRefused = true, .create = CreateDigest,
     .encrypt = doSHA1EncryptEx, .decrypt = doSHA1DecryptPseude, .stream = kAriaStream},
    {.code = QOR_ALG_SHA256, .names = {"SHA256"}, .digestBytes = 32, .oneWay = true, .textDecryptCopies = true,
     .binaryDecryptRefused = true, .create = CreateDigest,
     .encrypt = doSHA256EncryptEx, .decrypt = doSHA256DecryptPseude, .stream = kAriaStream},
    {.code = QOR_ALG_SHA384, .digestBytes = 48, .oneWay = true, .textDecryptCopies = true,
     .binaryDecryptRefused = true, .create = CreateDigest,
     .encrypt = doSHA384EncryptEx, .decrypt = doSHA384DecryptPseude, .stream = kAriaStream},
    {.code = QOR_ALG_SHA512, .names = {"SHA512"}, .digestBytes = 64, .oneWay = true, .textDecryptCopies = true,
     .binaryDecryptRefused = true, .create = CreateDigest,
     .encrypt = doSHA512EncryptEx, .decrypt = doSHA512DecryptPseude, .stream = kAriaStream},
    // The second two-key triple-DES code: records only, never chosen by name.
    {.code = QOR_ALG_DES3_2KEY_B, .keyBytes = 16, .blockBytes = 8, .contextBytes = sizeof(NC_DES3_CTX),
     .create = ad::CreateStaged<ad::Des3TwoKeyAdapter, 16>,
     .encrypt = doDES3EncryptEx, .decrypt = doDES3Decrypt, .encryptInto = ad::doDES3EncryptExInto, .stream = kDes3Stream},
    {.code = QOR_ALG_ARIA_RESERVED, .blockBytes = 16, .create = RefuseUnknown,
     .encrypt = doARIAEncryptEx2, .decrypt = doARIADecrypt2, .encryptInto = ad::doARIAEncryptEx2Into, .stream = kAriaStream},
    {.code = QOR_ALG_ARIA256, .names = {"ARIA"}, .keyBytes = 32, .nameNeedsKeyBytes = true, .blockBytes = 16,
     .contextBytes = sizeof(NC_ARIA_CTX), .create = ad::CreateStaged<ad::AriaAdapter, 32>,
     .encrypt = doARIAEncryptEx2, .decrypt = doARIADecrypt2, .encryptInto = ad::doARIAEncryptEx2Into, .stream = kAriaStream},
    // LEA schedules the key as given: 16, 24 or 32 bytes under either code.
    {.code = QOR_ALG_LEA128, .names = {"LEA"}, .keyBytes = 16, .nameNeedsKeyBytes = true, .blockBytes = 16,
     .contextBytes = sizeof(NC_LEA_CTX), .create = ad::LeaAdapter::Create,
     .encrypt = doLEAEncryptEx, .decrypt = doLEADecrypt, .encryptInto = ad::doLEAEncryptExInto, .stream = kLeaStream},
    {.code = QOR_ALG_LEA_RESERVED, .blockBytes = 16, .create = RefuseUnknown,
     .encrypt = doLEAEncryptEx, .decrypt = doLEADecrypt, .encryptInto = ad::doLEAEncryptExInto, .stream = kLeaStream},
    {.code = QOR_ALG_LEA256, .names = {"LEA"}, .keyBytes = 32, .nameNeedsKeyBytes = true, .blockBytes = 16,
     .contextBytes = sizeof(NC_LEA_CTX), .create = ad::LeaAdapter::Create,
     .encrypt = doLEAEncryptEx, .decrypt = doLEADecrypt, .encryptInto = ad::doLEAEncryptExInto, .stream = kLeaStream},
    // An older SHA3-256 code: one-way records, but decryption runs the table entries.
    {.code = QOR_ALG_SHA3_256_B, .digestBytes = 32, .oneWay = true, .create = CreateDigest,
     .encrypt = doSHA3_256Encrypt, .decrypt = doSHA256DecryptPseude, .stream = kAriaStream},
    // Binary decryption of the SHA-3 codes runs the pseudo-decrypt entry.
    {.code = QOR_ALG_SHA3_256, .names = {"SHA3256"}, .digestBytes = 32, .oneWay = true,
     .textDecryptCopies = true, .create = CreateDigest,
     .encrypt = doSHA3_256Encrypt, .decrypt = doSHA256DecryptPseude, .stream = kAriaStream},
    {.code = QOR_ALG_SHA3_512, .names = {"SHA3512"}, .digestBytes = 64, .oneWay = true,
     .textDecryptCopies = true, .create = CreateDigest,
     .encrypt = doSHA3_512Encrypt, .decrypt = doSHA512DecryptPseude, .stream = kAriaStream},
    {.code = QOR_ALG_LSH512_256, .names = {"LSH256"}, .digestBytes = 32, .oneWay = true,
     .textDecryptCopies = true, .binaryDecryptRefused = true, .create = CreateDigest,
     .encrypt = doLSH512_256Encrypt, .decrypt = doLSHDecryptPseude, .stream = kAriaStream},
    // Codes from here on have no streaming entries.
    {.code = QOR_ALG_LSH512_512, .names = {"LSH512"}, .digestBytes = 64, .oneWay = true,
     .textDecryptCopies = true, .binaryDecryptRefused = true, .create = CreateDigest,
     .encrypt = doLSH512_512Encrypt, .decrypt = doLSHDecryptPseude},
    // Digit strings keep their length and their alphabet; the digit context serves both ways.
    {.code = QOR_ALG_FPE, .names = {"FPE"}, .oneWay = true, .create = ad::CreateDigits, .release = ad::ReleaseDigits,
     .encrypt = ad::DigitEncrypt, .decrypt = ad::DigitDecrypt},
    {.code = QOR_ALG_DES3_3KEY, .names = {"3DES", "TDES"}, .keyBytes = 24, .nameNeedsKeyBytes = true,
     .blockBytes = 8, .contextBytes = sizeof(NC_DES3_CTX), .create = ad::CreateStaged<ad::Des3ThreeKeyAdapter, 24>,
     .encrypt = doDES3Encrypt_3keyEx, .decrypt = doDES3Decrypt_3key, .encryptInto = ad::doDES3Encrypt_3keyExInto},
    {.code = QOR_ALG_TICN, .names = {"TICN"}, .create = RefuseTicn,
     .encrypt = doUnknownEncryptEx, .decrypt = doUnknownDecrypt},
};

namespace {

constexpr bool RowsInCodeOrder() {
  for (uint32_t c = 0; c < QOR_ALG_COUNT; ++c) {
    const Algorithm& row = kAlgorithms[c];
    if (row.code != c || row.create == nullptr || row.encrypt == nullptr || row.decrypt == nullptr) return false;
  }
  return true;
}
static_assert(RowsInCodeOrder(), "every code has its row, in code order, with create, encrypt and decrypt");

constexpr bool StreamsComplete() {
  for (uint32_t c = 0; c < 22; ++c) {
    const StreamEntries& s = kAlgorithms[c].stream;
    if (!s.encInit || !s.encUpdate || !s.encFinal || !s.decInit || !s.decUpdate || !s.decFinal) return false;
  }
  return true;
}
static_assert(StreamsComplete(), "codes 0..21 have streaming entries");

}  // namespace
}  // namespace qor::engine::algorithms

// The exported tables, column by column from the rows.
#define QOR_STREAM_CODES(X)                                                                          \
  X(0) X(1) X(2) X(3) X(4) X(5) X(6) X(7) X(8) X(9) X(10) X(11) X(12) X(13) X(14) X(15) X(16) X(17) \
  X(18) X(19) X(20) X(21)
#define QOR_ALL_CODES(X) QOR_STREAM_CODES(X) X(22) X(23) X(24) X(25)
static_assert(QOR_ALG_COUNT == 26, "QOR_ALL_CODES lists every code");
#define QOR_ROW_ENCRYPT(c) qor::engine::algorithms::kAlgorithms[c].encrypt,
#define QOR_ROW_DECRYPT(c) qor::engine::algorithms::kAlgorithms[c].decrypt,
#define QOR_ROW_STREAM(c, op) qor::engine::algorithms::kAlgorithms[c].stream.op,
#define QOR_ROW_ENC_INIT(c) QOR_ROW_STREAM(c, encInit)
#define QOR_ROW_ENC_UPDATE(c) QOR_ROW_STREAM(c, encUpdate)
#define QOR_ROW_ENC_FINAL(c) QOR_ROW_STREAM(c, encFinal)
#define QOR_ROW_DEC_INIT(c) QOR_ROW_STREAM(c, decInit)
#define QOR_ROW_DEC_UPDATE(c) QOR_ROW_STREAM(c, decUpdate)
#define QOR_ROW_DEC_FINAL(c) QOR_ROW_STREAM(c, decFinal)

extern "C" {

const CipherEncryptFn EncryptFunctions[QOR_ALG_COUNT] = {QOR_ALL_CODES(QOR_ROW_ENCRYPT)};
const CipherDecryptFn DecryptFunctions[QOR_ALG_COUNT] = {QOR_ALL_CODES(QOR_ROW_DECRYPT)};
const CipherStreamInitFn EncryptInitFunctions[22] = {QOR_STREAM_CODES(QOR_ROW_ENC_INIT)};
const CipherStreamUpdateFn EncryptUpdateFunctions[22] = {QOR_STREAM_CODES(QOR_ROW_ENC_UPDATE)};
const CipherStreamFinalFn EncryptFinalFunctions[22] = {QOR_STREAM_CODES(QOR_ROW_ENC_FINAL)};
const CipherStreamInitFn DecryptInitFunctions[22] = {QOR_STREAM_CODES(QOR_ROW_DEC_INIT)};
const CipherStreamUpdateFn DecryptUpdateFunctions[22] = {QOR_STREAM_CODES(QOR_ROW_DEC_UPDATE)};
const CipherStreamFinalFn DecryptFinalFunctions[22] = {QOR_STREAM_CODES(QOR_ROW_DEC_FINAL)};

}  // extern "C"
