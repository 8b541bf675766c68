// The algorithm table: name lookup, the exported tables built from its rows
// and the facts the value operations read from them.
#include <gtest/gtest.h>

#include <set>

#include "engine/algorithms/algorithm_table.h"
#include "qor/cipher_util.h"

namespace {

TEST(AlgorithmType, NamesAndKeyLengths) {
  struct Case {
    const char* name;
    int length;
    uint32_t code;
  } const cases[] = {
      {nullptr, 16, 0},       {"SEED", 16, 1},        {"SEED", 7, 1},         {"SEED128", 0, 1},
      {"ARIA", 16, 2},        {"ARIA", 32, 14},       {"ARIA", 24, 0},        {"ARIA256", 32, 14},
      {"AES", 16, 5},         {"AES", 32, 7},         {"AES", 24, 0},         {"AES128", 16, 5},
      {"aes", 16, 0},         {"3DES", 16, 3},        {"3DES", 24, 24},       {"TDES", 16, 3},
      {"TDES", 24, 24},       {"3DES", 8, 0},         {"LEA", 16, 15},        {"LEA", 32, 17},
      {"LEA", 24, 0},         {"SHA", 0, 0},          {"SHA1", 0, 0},         {"SHA384", 0, 0},
      {"SHA256", 0, 9},       {"SHA256X", 0, 9},      {"SHA512", 0, 11},      {"SHA3256", 0, 19},
      {"SHA3512", 0, 20},     {"SHA3384", 0, 0},      {"LSH", 0, 0},          {"LSH256", 0, 21},
      {"LSH512", 0, 22},      {"RC4", 0, 4},          {"TICN", 0, 25},        {"FPE", 16, 23},
      {"", 16, 0},            {"DES", 16, 0},         {"SEE", 16, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GetCryptoAlgorithmType(c.name, c.length), c.code)
        << (c.name ? c.name : "(null)") << " " << c.length;
  }
}

TEST(AdapterTables, EntriesByCode) {
  const CipherEncryptFn enc[QOR_ALG_COUNT] = {
      doUnknownEncryptEx, doSEEDEncryptEx,   doARIAEncryptEx2,    doDES3EncryptEx,     doUnknownEncryptEx,
      doAESEncryptEx,     doAESEncryptEx,    doAESEncryptEx,      doSHA1EncryptEx,     doSHA256EncryptEx,
      doSHA384EncryptEx,  doSHA512EncryptEx, doDES3EncryptEx,     doARIAEncryptEx2,    doARIAEncryptEx2,
      doLEAEncryptEx,     doLEAEncryptEx,    doLEAEncryptEx,      doSHA3_256Encrypt,   doSHA3_256Encrypt,
      doSHA3_512Encrypt,  doLSH512_256Encrypt, doLSH512_512Encrypt, nullptr /* digits */, doDES3Encrypt_3keyEx,
      doUnknownEncryptEx};
  const CipherDecryptFn dec[QOR_ALG_COUNT] = {
      doUnknownDecrypt,      doSEEDDecrypt,         doARIADecrypt2,        doDES3Decrypt,         doUnknownDecrypt,
      doAESDecrypt,          doAESDecrypt,          doAESDecrypt,          doSHA1DecryptPseude,   doSHA256DecryptPseude,
      doSHA384DecryptPseude, doSHA512DecryptPseude, doDES3Decrypt,         doARIADecrypt2,        doARIADecrypt2,
      doLEADecrypt,          doLEADecrypt,          doLEADecrypt,          doSHA256DecryptPseude, doSHA256DecryptPseude,
      doSHA512DecryptPseude, doLSHDecryptPseude,    doLSHDecryptPseude,    nullptr,               doDES3Decrypt_3key,
      doUnknownDecrypt};
  for (uint32_t code = 0; code < QOR_ALG_COUNT; ++code) {
    ASSERT_NE(EncryptFunctions[code], nullptr) << code;
    ASSERT_NE(DecryptFunctions[code], nullptr) << code;
    // The digit entries are checked by running them (adapters_test).
    if (code == QOR_ALG_FPE) continue;
    EXPECT_EQ(EncryptFunctions[code], enc[code]) << code;
    EXPECT_EQ(DecryptFunctions[code], dec[code]) << code;
  }
  for (uint32_t code = 0; code < 22; ++code) {
    const bool seed = code <= 1, des = code == 3 || code == 12, aes = code >= 5 && code <= 7,
               lea = code >= 15 && code <= 17;
    const CipherStreamInitFn init = seed ? doSEEDEncInit : des ? doDES3EncInit : aes ? doAESEncInit
                                    : lea ? doLEAEncInit : doARIAEncInit;
    const CipherStreamFinalFn final = seed ? doSEEDDecFinal : des ? doDES3DecFinal : aes ? doAESDecFinal
                                      : lea ? doLEADecFinal : doARIADecFinal;
    EXPECT_EQ(EncryptInitFunctions[code], init) << code;
    EXPECT_EQ(DecryptFinalFunctions[code], final) << code;
  }
}

// The facts the value operations and the length estimate read from the rows,
// by code: the one-way decryption rules, the padding block and the stored
// length of the digests.
TEST(AlgorithmTable, RowFactsByCode) {
  using qor::engine::algorithms::AlgorithmOf;
  const std::set<uint32_t> textCopies = {8, 9, 10, 11, 19, 20, 21, 22};
  const std::set<uint32_t> binaryRefused = {8, 9, 10, 11, 21, 22};
  const std::set<uint32_t> oneWay = {8, 9, 10, 11, 18, 19, 20, 21, 22, 23};
  const std::set<uint32_t> des3 = {3, 12, 24};
  const int digest[QOR_ALG_COUNT] = {0, 0, 0, 0, 0, 0, 0, 0, 20, 32, 48, 64, 0,
                                     0, 0, 0, 0, 0, 32, 32, 64, 32, 64, 0, 0, 0};
  for (uint32_t code = 0; code < QOR_ALG_COUNT; ++code) {
    const auto& row = AlgorithmOf(code);
    EXPECT_EQ(row.code, code);
    EXPECT_EQ(row.textDecryptCopies, textCopies.count(code) == 1) << code;
    EXPECT_EQ(row.binaryDecryptRefused, binaryRefused.count(code) == 1) << code;
    EXPECT_EQ(row.oneWay, oneWay.count(code) == 1) << code;
    EXPECT_EQ(row.digestBytes, digest[code]) << code;
    if (row.blockBytes != 0) {
      EXPECT_EQ(row.blockBytes, des3.count(code) == 1 ? 8 : 16) << code;
    }
  }
  // Codes past the table read as the unknown row.
  EXPECT_EQ(AlgorithmOf(QOR_ALG_COUNT).code, 0u);
  EXPECT_EQ(AlgorithmOf(0xFFFFFFFFu).code, 0u);
}

}  // namespace
