// The cases whose stored bytes are pinned in stored_values.inc: fixed keys,
// fixed inputs and a fixed record-IV counter, so that every stored value is
// reproducible. The test (stored_values_test.cpp) and the program that wrote
// the fixtures once (write_stored_values.cpp) both run the operations below;
// only the program ever writes the fixture file.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "qor/cipher_util.h"
#include "qor/key_mgr.h"
#include "qor/ua_cipher_util.h"
#include "qorapi.h"
#include "support/bytes.h"

namespace qor::golden {

using test::Bytes;

// Key bytes of one version: distinct per version and per length.
inline Bytes Key(int version, int length) {
  Bytes key(static_cast<size_t>(length));
  for (int i = 0; i < length; ++i) {
    key[static_cast<size_t>(i)] = static_cast<uint8_t>(0x3C + version * 53 + i * 11 + length);
  }
  return key;
}

// The policy IV handed to keyed cipher objects built directly by code (the
// key manager uses the library's own fixed IV instead).
inline const Bytes kCodeIv = test::FromHex("c0ffee00112233445566778899aabbcc");

// A version that needs both bytes of its prefix.
inline constexpr int kVersion = 0x0102;

// ---------------------------------------------------------------------------
// Every algorithm code, on a keyed cipher object created by number.

struct CodeCase {
  uint32_t code;
  int keyLength;
};

inline constexpr CodeCase kCodes[] = {
    {0, 16},  {1, 16},  {2, 16},  {3, 16},  {4, 16},  {5, 16},  {6, 16},  {7, 32},  {8, 16},
    {9, 16},  {10, 16}, {11, 16}, {12, 16}, {13, 16}, {14, 32}, {15, 16}, {16, 16}, {17, 32},
    {18, 16}, {19, 16}, {20, 16}, {21, 16}, {22, 16}, {23, 16}, {24, 24}, {25, 16},
};

// 20 bytes: more than one block of every cipher.
inline constexpr char kCodeInput[] = "stored value 0123456";
inline constexpr char kDigitInput[] = "01234567890123456789";  // what code 23 takes

inline bool IsOneWay(uint32_t code) { return (code >= 8 && code <= 11) || (code >= 18 && code <= 22); }

// "refused" when the object cannot be made, "failed(<rc>)" when the
// operation fails; otherwise the text form as it is or the binary form in hex.
inline std::string CodeCaseId(const CodeCase& c, int version, bool binary) {
  return "code" + std::to_string(c.code) + (version != 0 ? ".v" : ".v0") +
         (binary ? ".binary" : ".text");
}

inline UACipherUtil* CreateByCode(const CodeCase& c, int version) {
  Bytes key = Key(version, c.keyLength);
  char status[] = "active";
  const KeyEntry entry{version, key.data(), status, 1700000000, 1700000001, nullptr};
  const std::string name = "golden.code";
  const DataBuffer nameBuf{static_cast<int32_t>(name.size()),
                           reinterpret_cast<unsigned char*>(const_cast<char*>(name.data()))};
  const DataBuffer iv{16, const_cast<uint8_t*>(kCodeIv.data())};
  return UACipherUtil_CreateEx3(c.code, &nameBuf, c.keyLength, 1, &entry, &iv, nullptr, nullptr,
                                0, 0, nullptr, 0, 0, 1, 0, 0, 0, 4, 2, "", 0, 0, 0, QOR_MODE_CBC,
                                0);
}

inline std::string CodeInput(const CodeCase& c) {
  return c.code == 23 ? kDigitInput : kCodeInput;
}

// Runs one value operation on a private copy of |in| with room behind it.
template <class Op>
inline int RunOp(UACipherUtil** object, const Bytes& in, Op op, Bytes* out) {
  Bytes block = in;
  block.resize(in.size() + 48, 0);
  DataBuffer input{static_cast<int32_t>(in.size()), block.data()};
  DataBuffer output{0, nullptr};
  const int rc = op(object, &input, &output);
  out->clear();
  if (output.data != nullptr && output.length > 0) {
    out->assign(output.data, output.data + output.length);
  }
  std::free(output.data);
  return rc;
}

inline std::string Shown(const Bytes& stored, bool binary) {
  return binary ? test::ToHex(stored) : std::string(stored.begin(), stored.end());
}

inline Bytes Unshown(const std::string& shown, bool binary) {
  return binary ? test::FromHex(shown) : Bytes(shown.begin(), shown.end());
}

inline std::string EncryptByCode(const CodeCase& c, int version, bool binary) {
  UACipherUtil* object = CreateByCode(c, version);
  if (object == nullptr) return "refused";
  const std::string plain = CodeInput(c);
  Bytes out;
  const int rc = RunOp(&object, Bytes(plain.begin(), plain.end()),
                       [&](UACipherUtil** o, DataBuffer* in, DataBuffer* res) {
                         return binary ? (*o)->Encrypt_API(o, in, res)
                                       : (*o)->EncryptToBase64(o, in, res);
                       },
                       &out);
  object->Destroy(&object);
  if (rc < 0) return "failed(" + std::to_string(rc) + ")";
  return Shown(out, binary);
}

// The plaintext the stored value |shown| decrypts to, or "failed(<rc>)".
inline std::string DecryptByCode(const CodeCase& c, int version, bool binary,
                                 const std::string& shown) {
  UACipherUtil* object = CreateByCode(c, version);
  if (object == nullptr) return "refused";
  Bytes out;
  const int rc = RunOp(&object, Unshown(shown, binary),
                       [&](UACipherUtil** o, DataBuffer* in, DataBuffer* res) {
                         return binary ? (*o)->Decrypt_API(o, in, res)
                                       : (*o)->DecryptFromBase64(o, in, res);
                       },
                       &out);
  object->Destroy(&object);
  if (rc < 0) return "failed(" + std::to_string(rc) + ")";
  return std::string(out.begin(), out.end());
}

// ---------------------------------------------------------------------------
// Policies as the key manager builds them from a downloaded record (by
// algorithm name, under the library's fixed policy IV), through the public
// value and large-object entry points.

struct NamedPolicy {
  const char* name;
  const char* algorithm;
  int keyLength;
  int version;
  int64_t ivType = QOR_IV_POLICY;
  int compatibility = 0;
  const char* patternType = nullptr;  // partial encryption when set
  int position = 0;
  const char* patternChars = "";
};

inline constexpr NamedPolicy kPolicies[] = {
    {"seed", "SEED", 16, 0},
    {"seed.v", "SEED", 16, kVersion},
    {"aria128", "ARIA", 16, 0},
    {"aria128.v", "ARIA", 16, kVersion},
    {"aria256", "ARIA", 32, 0},
    {"aria256.v", "ARIA", 32, kVersion},
    {"des3.2key", "3DES", 16, 0},
    {"des3.2key.v", "TDES", 16, kVersion},
    {"des3.3key", "TDES", 24, 0},
    {"des3.3key.v", "3DES", 24, kVersion},
    {"aes128", "AES", 16, 0},
    {"aes128.v", "AES", 16, kVersion},
    {"aes256", "AES", 32, 0},
    {"aes256.v", "AES", 32, kVersion},
    {"lea128", "LEA", 16, 0},
    {"lea128.v", "LEA", 16, kVersion},
    {"lea256", "LEA", 32, 0},
    {"lea256.v", "LEA", 32, kVersion},
    {"sha256", "SHA256", 16, 0},
    {"sha512", "SHA512", 16, 0},
    {"sha3-256", "SHA3256", 16, 0},
    {"sha3-512", "SHA3512", 16, 0},
    {"lsh256", "LSH256", 16, 0},
    {"lsh512", "LSH512", 16, 0},
    {"sha256.v", "SHA256", 16, kVersion},
    {"fpe", "FPE", 16, 0},
    {"fpe.v", "FPE", 16, kVersion},
    // Record IV in every value; compatibility texts (no "$.", two Base64 alphabets).
    {"aes256.record", "AES", 32, kVersion, QOR_IV_RECORD},
    {"des3.record", "TDES", 24, 0, QOR_IV_RECORD},
    {"aria256.record", "ARIA", 32, 5, QOR_IV_RECORD},
    {"aes128.compat1", "AES", 16, 0, QOR_IV_POLICY, 1},
    {"aes128.compat2", "AES", 16, kVersion, QOR_IV_POLICY, 2},
    // Every pattern type and position.
    {"exclude.front", "ARIA", 16, 0, QOR_IV_POLICY, 0, "EXCLUDE_STRING", QOR_POSITION_FRONT, "4"},
    {"exclude.back", "ARIA", 16, kVersion, QOR_IV_POLICY, 0, "EXCLUDE_STRING", QOR_POSITION_BACK,
     "4"},
    {"character.front", "SEED", 16, 0, QOR_IV_POLICY, 0, "CHARACTER", QOR_POSITION_FRONT, "-"},
    {"character.back", "SEED", 16, 0, QOR_IV_POLICY, 0, "CHARACTER", QOR_POSITION_BACK, "-"},
    {"middle.front", "AES", 16, 0, QOR_IV_POLICY, 0, "MIDDLE", QOR_POSITION_FRONT, "2,6"},
    {"middle.other", "AES", 16, kVersion, QOR_IV_POLICY, 0, "MIDDLE", 0, "3,6"},
};

// Adds every policy above to a new key manager, or returns nullptr.
inline KeyMgr* NewGoldenKeySet() {
  KeyMgr* mgr = KeyMgr_Create(nullptr);
  if (mgr == nullptr) return nullptr;
  for (const NamedPolicy& p : kPolicies) {
    Bytes key = Key(p.version, p.keyLength);
    char status[] = "active";
    const KeyEntry entry{p.version, key.data(), status, 1700000000, 1700000001, nullptr};
    const DataBuffer name{static_cast<int32_t>(std::strlen(p.name)),
                          reinterpret_cast<unsigned char*>(const_cast<char*>(p.name))};
    const DataBuffer chars{static_cast<int32_t>(std::strlen(p.patternChars)),
                           reinterpret_cast<unsigned char*>(const_cast<char*>(p.patternChars))};
    const bool partial = p.patternType != nullptr;
    KeyInfo* info = mgr->AddKeyInfo(
        mgr, &name, p.algorithm, 4, p.ivType, 1, p.keyLength, 1, &entry, p.version != 0 ? 1 : 0,
        partial ? 1 : 0, p.patternType, partial ? p.position : 0, partial ? &chars : nullptr, 0,
        0, 0, p.compatibility, 0, 0, nullptr, 0, 0, 0, 0, 0, 0, 0, 0, 4, 2, "", 0, 0, 0,
        QOR_MODE_CBC);
    if (info == nullptr) {
      mgr->Destroy(&mgr);
      return nullptr;
    }
  }
  return mgr;
}

// One value through QOR_EncryptExUdf / QOR_DecryptExUdf.
struct ValueCase {
  const char* id;
  const char* policy;
  const char* plain;
  bool binary = false;
};

inline const char* Digits(size_t n) {
  static const std::string all = [] {
    std::string s;
    for (int i = 0; i < 255; ++i) s += static_cast<char>('0' + (i * 7 + i / 10) % 10);
    return s;
  }();
  static std::string cut[256];
  if (cut[n].empty()) cut[n] = all.substr(0, n);
  return cut[n].c_str();
}

inline std::vector<ValueCase> ValueCases() {
  std::vector<ValueCase> cases;
  static const char* const kBlock[] = {"seed",       "seed.v",      "aria128",   "aria128.v",
                                       "aria256",    "aria256.v",   "des3.2key", "des3.2key.v",
                                       "des3.3key",  "des3.3key.v", "aes128",    "aes128.v",
                                       "aes256",     "aes256.v",    "lea128",    "lea128.v",
                                       "lea256",     "lea256.v",    "aes256.record",
                                       "des3.record", "aria256.record"};
  static std::vector<std::string> ids;
  ids.reserve(256);
  auto add = [&](std::string id, const char* policy, const char* plain, bool binary) {
    ids.push_back(std::move(id));
    cases.push_back({ids.back().c_str(), policy, plain, binary});
  };
  for (const char* p : kBlock) {
    add(std::string(p) + ".text", p, "900101-1234567", false);
    add(std::string(p) + ".binary", p, "900101-1234567", true);
    add(std::string(p) + ".block.text", p, "sixteen bytes!!!", false);
  }
  for (const char* p : {"sha256", "sha512", "sha3-256", "sha3-512", "lsh256", "lsh512",
                        "sha256.v"}) {
    add(std::string(p) + ".text", p, "digest me", false);
    add(std::string(p) + ".binary", p, "digest me", true);
  }
  for (size_t n : {2u, 16u, 17u, 33u, 255u}) {
    add("fpe.digits" + std::to_string(n), "fpe", Digits(n), false);
  }
  add("fpe.v.digits16", "fpe.v", Digits(16), false);
  add("fpe.digits17.binary", "fpe", Digits(17), true);
  add("aes128.compat1.text", "aes128.compat1", "compatibility one", false);
  add("aes128.compat2.text", "aes128.compat2", "compatibility two", false);
  add("exclude.front.text", "exclude.front", "1234567890abcdef", false);
  add("exclude.back.text", "exclude.back", "1234567890abcdef", false);
  add("character.front.text", "character.front", "before-after", false);
  add("character.back.text", "character.back", "before-after", false);
  add("middle.front.text", "middle.front", "AB123456CDEF", false);
  add("middle.other.text", "middle.other", "AB123456CDEF", false);
  return cases;
}

// The record-IV counter every value case starts from.
inline constexpr uint32_t kRecordIvStart = 0x5EED0100;

inline std::string EncryptValue(const ValueCase& c) {
  g_RecordIV = kRecordIvStart;
  std::string plain = c.plain;
  plain.resize(plain.size() + 32, '\0');
  DataBuffer out = QOR_EncryptExUdf(c.policy, reinterpret_cast<unsigned char*>(plain.data()),
                                    static_cast<int>(std::strlen(c.plain)), "", "", "",
                                    c.binary ? 1 : 0);
  std::string shown;
  if (out.data == nullptr || out.length <= 0) {
    shown = "failed(" + std::to_string(out.length) + ")";
  } else {
    shown = Shown(Bytes(out.data, out.data + out.length), c.binary);
  }
  std::free(out.data);
  return shown;
}

inline std::string DecryptValue(const ValueCase& c, const std::string& shown) {
  Bytes stored = Unshown(shown, c.binary);
  const size_t n = stored.size();
  stored.resize(n + 32, 0);
  DataBuffer out = QOR_DecryptExUdf(c.policy, stored.data(), static_cast<int>(n), "", "", "",
                                    c.binary ? 1 : 0);
  std::string plain = out.data == nullptr || out.length < 0
                          ? "failed(" + std::to_string(out.length) + ")"
                          : std::string(reinterpret_cast<const char*>(out.data),
                                        static_cast<size_t>(out.length));
  std::free(out.data);
  return plain;
}

// ---------------------------------------------------------------------------
// A large object of two pieces (4096 bytes and the rest), in both forms,
// under a record-IV policy, so every piece carries its own version and IV.

inline constexpr char kLobPolicy[] = "aria256.record";

inline std::string LobPlain() {
  std::string s(4096 + 300, '\0');
  for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>(' ' + (i * 37 + i / 97) % 95);
  return s;
}

inline std::string EncryptLob(bool binary) {
  g_RecordIV = kRecordIvStart;
  std::string plain = LobPlain();
  std::string out(2 * 6694 + 1, '\0');
  const int64_t n = QOR_EncryptLobEx(kLobPolicy, reinterpret_cast<unsigned char*>(plain.data()),
                                     plain.size(), reinterpret_cast<unsigned char*>(out.data()),
                                     binary ? 1 : 0, 0);
  if (n <= 0) return "failed(" + std::to_string(n) + ")";
  out.resize(static_cast<size_t>(n));
  return binary ? test::ToHex(Bytes(out.begin(), out.end())) : out;
}

inline std::string DecryptLob(bool binary, const std::string& shown) {
  const Bytes stored = Unshown(shown, binary);
  std::string in(stored.begin(), stored.end());
  std::string out(stored.size() + 1, '\0');
  const int64_t n = QOR_DecryptLobEx(kLobPolicy, reinterpret_cast<unsigned char*>(in.data()),
                                     in.size(), reinterpret_cast<unsigned char*>(out.data()),
                                     binary ? 1 : 0, 0);
  if (n < 0) return "failed(" + std::to_string(n) + ")";
  out.resize(static_cast<size_t>(n));
  return out;
}

}  // namespace qor::golden
