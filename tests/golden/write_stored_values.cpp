// Writes stored_values.inc once, from the library as it stood when the
// fixtures were made. Not part of the test suite and never run by it: build
// it on request (target write_stored_values) and run
//   write_stored_values tests/golden/stored_values.inc
// only when a new case is added; existing entries must never change.
//
// Before writing, every block-cipher value is checked against Crypto++: the
// ciphertext must be the CBC encryption, under the case's key and IV, of the
// input (plus the compatibility blank where the layout adds one) with
// PKCS#7 padding.
#include <crypto++/aes.h>
#include <crypto++/aria.h>
#include <crypto++/des.h>
#include <crypto++/lea.h>
#include <crypto++/seed.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>

#include "api/instance_testing.h"
#include "engine/cipher/fixed_secrets.h"
#include "golden/stored_value_cases.h"
#include "qor/base64.h"
#include "qor/config.h"
#include "qor/qostring.h"
#include "service/crypto/qor_crypto.h"
#include "service/table/service_table.h"
#include "support/cryptopp_oracle.h"
#include "support/test_support.h"

namespace {

using qor::golden::Bytes;

std::optional<Bytes> OracleDecrypt(uint32_t code, const Bytes& key, const uint8_t* iv,
                                   const Bytes& ct) {
  using qor::test::CryptoppCbc;
  switch (code) {
    case 1: return CryptoppCbc<CryptoPP::SEED>(false, key, iv, ct);
    case 2: case 14: return CryptoppCbc<CryptoPP::ARIA>(false, key, iv, ct);
    case 3: case 12: return CryptoppCbc<CryptoPP::DES_EDE2>(false, key, iv, ct);
    case 24: return CryptoppCbc<CryptoPP::DES_EDE3>(false, key, iv, ct);
    case 5: case 7: return CryptoppCbc<CryptoPP::AES>(false, key, iv, ct);
    case 15: case 17: return CryptoppCbc<CryptoPP::LEA>(false, key, iv, ct);
    default: return std::nullopt;
  }
}

uint32_t CodeOf(const char* algorithm, int keyLength) {
  const std::string a = algorithm;
  if (a == "SEED") return 1;
  if (a == "ARIA") return keyLength == 32 ? 14 : 2;
  if (a == "3DES" || a == "TDES") return keyLength == 24 ? 24 : 3;
  if (a == "AES") return keyLength == 32 ? 7 : 5;
  if (a == "LEA") return keyLength == 32 ? 17 : 15;
  return 0;
}

// Checks a stored block-cipher value (binary layout) against Crypto++.
bool CheckBlockValue(uint32_t code, int version, const Bytes& key, const uint8_t* policyIv,
                     bool recordIv, const std::string& plain, Bytes stored) {
  const size_t block = code == 3 || code == 12 || code == 24 ? 8 : 16;
  Bytes iv(policyIv, policyIv + 16);
  if (version != 0) {
    if (stored.size() < 3 || stored[0] != (version >> 8) || stored[1] != (version & 0xFF) ||
        stored[2] != 0xFE) {
      return false;
    }
    stored.erase(stored.begin(), stored.begin() + 3);
  }
  if (recordIv) {
    if (stored.size() < 4) return false;
    std::copy(stored.end() - 4, stored.end(), iv.begin());
    stored.resize(stored.size() - 4);
  }
  if (stored.empty() || stored.size() % block != 0) return false;
  const std::optional<Bytes> padded = OracleDecrypt(code, key, iv.data(), stored);
  if (!padded) return false;
  const uint8_t pad = padded->back();
  if (pad == 0 || pad > block) return false;
  const std::string text(padded->begin(), padded->end() - pad);
  return text == plain || text == plain + " ";
}

// The binary layout inside a text value ("$." and Base64, or Base64 alone).
Bytes FromText(const std::string& shown) {
  std::string body = shown;
  const int prefixFlag = body.rfind("$.", 0) == 0 ? 0 : 1;  // 0 skips the prefix
  char* in = body.data();
  unsigned char* out = nullptr;
  const int n = QOR_Base64Decode(in, static_cast<int>(body.size()), &out, prefixFlag);
  Bytes b = n > 0 ? Bytes(out, out + n) : Bytes();
  std::free(out);
  return b;
}

// A C++ string literal, cut into lines of at most 100 characters.
std::string Literal(const std::string& s) {
  std::string out;
  for (size_t at = 0; at < s.size() || at == 0; at += 100) {
    out += at == 0 ? "\"" : "\n     \"";
    for (char c : s.substr(at, 100)) {
      if (c == '"' || c == '\\') out += '\\';
      out += c;
    }
    out += "\"";
    if (s.empty()) break;
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: write_stored_values <output .inc>\n";
    return 2;
  }
  qor::test::TempDir home;
  QORApiConf* config = QORGet_DefaultInfo();
  x_strcpy(config->data->home, sizeof(config->data->home), home.path().c_str());
  config->data->useLog = 0;
  config->data->bypass = 0;
  qor::api::testing::SetSocketFactory(
      [](const char*, uint16_t, const char*, uint16_t, int, ErrorInfo*) -> QORSocket* {
        return nullptr;
      });
  QORCrypto_SetConfigData(config->data);
  QORCrypto_Create(&gCrypto, qor::crypto::TableMode::kReal);
  KeyMgr* mgr = qor::golden::NewGoldenKeySet();
  if (mgr == nullptr) {
    std::cerr << "key set not built\n";
    return 1;
  }
  qor::api::testing::InstallKeySet(mgr, config);

  std::string inc =
      "// Stored values written once by write_stored_values.cpp (block-cipher values\n"
      "// checked against Crypto++ first). Never regenerate existing entries.\n";
  int bad = 0;
  for (const auto& c : qor::golden::kCodes) {
    for (int version : {0, qor::golden::kVersion}) {
      for (bool binary : {false, true}) {
        const std::string shown = qor::golden::EncryptByCode(c, version, binary);
        if (OracleDecrypt(c.code, Bytes(c.keyLength), qor::golden::kCodeIv.data(), Bytes(16))) {
          const Bytes stored =
              binary ? qor::test::FromHex(shown) : FromText(shown);
          if (!CheckBlockValue(c.code, version, qor::golden::Key(version, c.keyLength),
                               qor::golden::kCodeIv.data(), false, qor::golden::CodeInput(c),
                               stored)) {
            std::cerr << "oracle disagrees: " << qor::golden::CodeCaseId(c, version, binary)
                      << " " << shown << "\n";
            ++bad;
          }
        }
        inc += "{\"" + qor::golden::CodeCaseId(c, version, binary) + "\",\n " + Literal(shown) +
               "},\n";
      }
    }
  }
  for (const auto& c : qor::golden::ValueCases()) {
    const std::string shown = qor::golden::EncryptValue(c);
    for (const auto& p : qor::golden::kPolicies) {
      if (std::string(p.name) != c.policy) continue;
      const uint32_t code = CodeOf(p.algorithm, p.keyLength);
      if (code == 0 || p.patternType != nullptr) break;
      const Bytes stored = c.binary ? qor::test::FromHex(shown) : FromText(shown);
      if (!CheckBlockValue(code, p.version, qor::golden::Key(p.version, p.keyLength),
                           qor::engine::NC_NEW_FIXED_IV, p.ivType == QOR_IV_RECORD, c.plain,
                           stored)) {
        std::cerr << "oracle disagrees: " << c.id << " " << shown << "\n";
        ++bad;
      }
    }
    inc += "{\"" + std::string(c.id) + "\",\n " + Literal(shown) + "},\n";
  }
  for (bool binary : {false, true}) {
    inc += std::string("{\"lob.") + (binary ? "binary" : "text") + "\",\n " +
           Literal(qor::golden::EncryptLob(binary)) + "},\n";
  }
  if (bad != 0) return 1;
  std::ofstream(argv[1]) << inc;
  return 0;
}
