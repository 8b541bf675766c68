// Exported value helpers: decoding and digest encoding in the "$." form, and
// the tests that tell whether a text already looks like this policy's output.
#include <atomic>
#include <cstdlib>

#include "engine/core/core.h"
#include "qor/base64.h"

namespace {

bool IsBase64Char(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/' || c == '=';
}

template <class Pred>
int EveryByte(const char* text, int length, Pred pred) {
  if (text == nullptr || length < 2) return 0;
  for (int i = 0; i < length; ++i) {
    if (!pred(static_cast<unsigned char>(text[i]))) return 0;
  }
  return 1;
}

}  // namespace

extern "C" {

int UACipherUtil_doDecode(const DataBuffer* in, DataBuffer* out) {
  if (in == nullptr || out == nullptr || in->data == nullptr || in->length <= 0) return -1;
  unsigned char* bytes = nullptr;
  const int n = QOR_Base64Decode(reinterpret_cast<const char*>(in->data), in->length, &bytes, 0);
  if (n <= 0) {
    std::free(bytes);
    return -1;
  }
  // The length goes with the buffer: without it the bytes could not be used.
  *out = DataBuffer{n, bytes};
  return 0;
}

int UACipherUtil_doDecodeBase64(const DataBuffer* in, DataBuffer* out) {
  return UACipherUtil_doDecode(in, out);
}

int UACipherUtil_doDigestEncode(const DataBuffer* in, DataBuffer* out) {
  if (in == nullptr || out == nullptr) return -1;
  DataBuffer digest{0, nullptr};
  if (doDigest256(in, &digest) != 0 || digest.data == nullptr) {
    std::free(digest.data);
    return -1;
  }
  char* text = nullptr;
  const int n = QOR_Base64Encode(digest.data, digest.length, &text, 0);
  std::free(digest.data);
  if (n < 0) return -1;
  *out = DataBuffer{n, reinterpret_cast<unsigned char*>(text)};
  return 0;
}

int UACipherUtil_isDuplicationChecking(UACipherUtil** object, const char* text, int length) {
  return isDoubleEncryptPrevention(object, text, length, 1);
}

int isDoubleEncryptPrevention(UACipherUtil** object, const char* text, int length, int flag) {
  if (object == nullptr || *object == nullptr || (*object)->data == nullptr || text == nullptr) {
    return 0;
  }
  const UACipherUtilData* data = (*object)->data;
  // The head may be replaced by a fetched version meanwhile (release store).
  const CipherUtil* head =
      std::atomic_ref<CipherUtil*>((*object)->data->ciphers).load(std::memory_order_acquire);
  if (head == nullptr) return 0;
  if (data->compatibility == 0) {
    if (length < qor::value::kTextPrefixChars) return 0;
    text += qor::value::kTextPrefixChars;
    length -= qor::value::kTextPrefixChars;
  }
  switch (head->algType) {
    case QOR_ALG_DES3_2KEY:
    case QOR_ALG_DES3_2KEY_B:
    case QOR_ALG_DES3_3KEY:
      return 0;
    case QOR_ALG_SHA1:
      if (length != 28 || text[27] != '=') return 0;
      break;
    case QOR_ALG_SHA256:
      if (length != 44 || text[43] != '=') return 0;
      break;
    case QOR_ALG_SHA512:
      if (length != 88 || text[87] != '=') return 0;
      break;
    case QOR_ALG_FPE:
      return flag == 0 ? 1 : 0;
    default:
      if (length < 24) return 0;
      break;
  }
  const int padding = text[length - 1] != '=' ? 0 : text[length - 2] == '=' ? 2 : 1;
  const int prefix = head->keyVersion != 0 ? qor::value::kPrefixBytes : 0;
  const int tail = head->useRecordIV ? qor::value::kTailBytes : 0;
  if ((static_cast<long long>(length) * 6 / 8 - padding - prefix - tail) % 16 != 0) return 0;
  for (int i = 0; i < length; ++i) {
    if (!IsBase64Char(static_cast<unsigned char>(text[i]))) return 0;
  }
  return 1;
}

int isDupNumericString(const char* text, int length) {
  return EveryByte(text, length, [](unsigned char c) { return c >= '0' && c <= '9'; });
}

int isUppercaseAlphabet(const char* text, int length) {
  return EveryByte(text, length, [](unsigned char c) { return c >= 'A' && c <= 'Z'; });
}

}  // extern "C"
