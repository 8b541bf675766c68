// Policies for the value-operation tests: a keyed cipher object built the
// way the key manager builds one, the keys each version gets, and the
// independent CBC of every block cipher to rebuild a binary value with.
#pragma once

#include <crypto++/aes.h>
#include <crypto++/aria.h>
#include <crypto++/des.h>
#include <crypto++/lea.h>
#include <crypto++/seed.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "qor/base64.h"
#include "qor/ua_cipher_util.h"
#include "support/bytes.h"
#include "support/cryptopp_oracle.h"

namespace qor::test {

inline const Bytes kPolicyIv = FromHex("0f1e2d3c4b5a69788796a5b4c3d2e1f0");

// Key bytes of one version: distinct per version, so a wrong version shows.
inline Bytes VersionKey(int version, int keyLength) {
  Bytes key(static_cast<size_t>(keyLength));
  for (int i = 0; i < keyLength; ++i)
    key[static_cast<size_t>(i)] = static_cast<uint8_t>(version * 29 + i * 7 + 1);
  return key;
}

struct VersionDesc {
  int version;
  const char* status = "active";
};

struct PolicyDesc {
  uint32_t alg = QOR_ALG_AES128;
  int keyLength = 16;
  std::vector<VersionDesc> versions = {{0}};  // head first
  int compatibility = 0;
  int nullProcess = 0;
  bool recordIv = false;  // every record carries a record-IV tail, as for ivType RECORD
  int encDuplication = 0;
  int decDuplication = 0;
  const PatternBlock* pattern = nullptr;
  int aclCount = 0;
  const AccessControlData* acl = nullptr;
  int unauthorizedDecryption = 0;
  int prio = 0;
};

// Owns one keyed cipher object.
class Policy {
 public:
  explicit Policy(const PolicyDesc& desc) : desc_(desc) {
    std::vector<KeyEntry> entries(desc.versions.size());
    std::vector<Bytes> keys;
    keys.reserve(desc.versions.size());
    for (size_t i = 0; i < desc.versions.size(); ++i) {
      keys.push_back(VersionKey(desc.versions[i].version, desc.keyLength));
      entries[i] = KeyEntry{desc.versions[i].version,
                            keys.back().data(),
                            const_cast<char*>(desc.versions[i].status),
                            1700000000 + static_cast<int32_t>(i),
                            0,
                            i + 1 < entries.size() ? &entries[i + 1] : nullptr};
    }
    const std::string name = "policy.core.test";
    const DataBuffer nameBuf{static_cast<int32_t>(name.size()),
                             reinterpret_cast<unsigned char*>(const_cast<char*>(name.data()))};
    const DataBuffer iv{16, const_cast<uint8_t*>(kPolicyIv.data())};
    object_ = UACipherUtil_CreateEx3(
        desc.alg, &nameBuf, desc.keyLength, static_cast<int32_t>(entries.size()), entries.data(),
        &iv, nullptr, desc.pattern, desc.nullProcess, desc.aclCount, desc.acl,
        desc.unauthorizedDecryption, desc.prio, 1, 0, 0, 0, 4, 0, "", 0, 0, 0, 0, 0);
    if (object_ == nullptr) return;
    object_->SetCompatibility(&object_, desc.compatibility);
    UACipherUtil_SetEncDuplication(&object_, desc.encDuplication);
    UACipherUtil_SetDecDuplication(&object_, desc.decDuplication);
    if (desc.recordIv) {
      for (CipherUtil* r = object_->data->ciphers; r != nullptr; r = r->next) r->useRecordIV = 1;
    }
  }
  ~Policy() {
    if (object_ != nullptr) object_->Destroy(&object_);
  }
  Policy(const Policy&) = delete;
  Policy& operator=(const Policy&) = delete;

  UACipherUtil** self() { return &object_; }
  UACipherUtil* operator->() { return object_; }
  bool ok() const { return object_ != nullptr; }
  CipherUtil* head() { return object_->data->ciphers; }
  const PolicyDesc& desc() const { return desc_; }

 private:
  PolicyDesc desc_;
  UACipherUtil* object_ = nullptr;
};

// An owned output DataBuffer.
struct Out {
  DataBuffer buf{0, nullptr};
  ~Out() { std::free(buf.data); }
  Out() = default;
  Out(const Out&) = delete;
  Out& operator=(const Out&) = delete;
  DataBuffer* get() { return &buf; }
  int length() const { return buf.length; }
  std::string str() const {
    return buf.data == nullptr || buf.length <= 0
               ? std::string()
               : std::string(reinterpret_cast<const char*>(buf.data),
                             static_cast<size_t>(buf.length));
  }
  Bytes bytes() const {
    return buf.data == nullptr || buf.length <= 0 ? Bytes()
                                                  : Bytes(buf.data, buf.data + buf.length);
  }
};

// An input value in a heap block of exactly length + |spare| bytes (17 for
// encryption, 0 for decryption so that any over-read is caught).
class In {
 public:
  In(const std::string& text, size_t spare) : In(Bytes(text.begin(), text.end()), spare) {}
  In(const Bytes& bytes, size_t spare) {
    const size_t total = bytes.size() + spare;
    block_ = static_cast<unsigned char*>(std::malloc(total == 0 ? 1 : total));
    if (!bytes.empty()) std::memcpy(block_, bytes.data(), bytes.size());
    if (spare > 0) std::memset(block_ + bytes.size(), 0xCC, spare);
    buf_ = DataBuffer{static_cast<int32_t>(bytes.size()), block_};
  }
  ~In() { std::free(block_); }
  In(const In&) = delete;
  In& operator=(const In&) = delete;
  DataBuffer* get() { return &buf_; }
  const DataBuffer& buf() const { return buf_; }

 private:
  unsigned char* block_ = nullptr;
  DataBuffer buf_{};
};

inline constexpr size_t kSpare = 17;

// Independent CBC encryption of already padded bytes under the algorithm code.
inline Bytes OracleCbcEncrypt(uint32_t alg, const Bytes& key, const uint8_t* iv,
                              const Bytes& padded) {
  switch (alg) {
    case QOR_ALG_SEED:
      return CryptoppCbc<CryptoPP::SEED>(true, key, iv, padded);
    case QOR_ALG_ARIA128:
    case QOR_ALG_ARIA256:
      return CryptoppCbc<CryptoPP::ARIA>(true, key, iv, padded);
    case QOR_ALG_AES128:
    case QOR_ALG_AES256:
      return CryptoppCbc<CryptoPP::AES>(true, key, iv, padded);
    case QOR_ALG_LEA128:
    case QOR_ALG_LEA256:
      return CryptoppCbc<CryptoPP::LEA>(true, key, iv, padded);
    case QOR_ALG_DES3_2KEY:
      return CryptoppCbc<CryptoPP::DES_EDE2>(true, key, iv, padded);
    case QOR_ALG_DES3_3KEY:
      return CryptoppCbc<CryptoPP::DES_EDE3>(true, key, iv, padded);
    default:
      ADD_FAILURE() << "no oracle for code " << alg;
      return {};
  }
}

inline int BlockOf(uint32_t alg) {
  return alg == QOR_ALG_DES3_2KEY || alg == QOR_ALG_DES3_3KEY ? 8 : 16;
}

// The binary value an independent implementation lays out for |plain|
// (blank included when the rule asks for it) under |version|'s key.
inline Bytes ExpectedValue(uint32_t alg, int keyLength, int version, const Bytes& plain,
                           const uint8_t* recordIv) {
  Bytes iv = kPolicyIv;
  if (recordIv != nullptr) std::memcpy(iv.data(), recordIv, 4);
  Bytes out;
  if (version != 0)
    out = {static_cast<uint8_t>(version >> 8), static_cast<uint8_t>(version & 0xFF), 0xFE};
  const Bytes ct = OracleCbcEncrypt(alg, VersionKey(version, keyLength), iv.data(),
                                    Pkcs7Pad(plain, static_cast<size_t>(BlockOf(alg))));
  out.insert(out.end(), ct.begin(), ct.end());
  if (recordIv != nullptr) out.insert(out.end(), recordIv, recordIv + 4);
  return out;
}

inline std::string B64(const Bytes& bytes, int compatibility) {
  char* text = nullptr;
  const int n =
      QOR_Base64Encode(bytes.data(), static_cast<int>(bytes.size()), &text, compatibility);
  std::string s = n < 0 ? std::string() : std::string(text, static_cast<size_t>(n));
  std::free(text);
  return s;
}

inline Bytes UnB64(const std::string& text, int compatibility) {
  unsigned char* bytes = nullptr;
  const int n = QOR_Base64Decode(text.data(), static_cast<int>(text.size()), &bytes, compatibility);
  Bytes b = n > 0 ? Bytes(bytes, bytes + n) : Bytes();
  std::free(bytes);
  return b;
}

}  // namespace qor::test
