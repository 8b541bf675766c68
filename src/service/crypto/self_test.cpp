// The crypto module's known-answer test.
#include "service/crypto/self_test.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "qor/crypto_service.h"
#include "qor/ua_cipher_util.h"

namespace qor::crypto {

// Key and IV are printable text padded with zero bytes.
constinit const KnownAnswer kSelfTestVector = {
    QOR_ALG_ARIA256,
    {'Q', 'O', 'R', '.', 'S', 'e', 'l', 'f', 'T', 'e', 's', 't', '.', 'A', 'R', 'I',
     'A', '2', '5', '6', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {'Q', 'O', 'R', '-', 'K', 'A', 'T', '-', 'I', 'V', 0, 0, 0, 0, 0, 0},
    {'Q', 'O', 'R', ' ', 's', 'e', 'l', 'f', ' ', 't', 'e', 's', 't', ' ', '1', '7', 'B'},
    {0xcf, 0x05, 0x8b, 0x44, 0xae, 0xf7, 0x16, 0xf6, 0xa7, 0x15, 0x79, 0x72, 0x73, 0xb5, 0xaf, 0x28,
     0x2a, 0x38, 0xff, 0x1c, 0xa7, 0xd5, 0xcc, 0xa0, 0x06, 0x90, 0x81, 0xcc, 0x9d, 0x8b, 0xd2, 0x1a},
};

namespace {

constinit std::atomic<const KnownAnswer*> g_testVector{nullptr};

struct ObjectDeleter {
  void operator()(UACipherUtil* object) const {
    if (object != nullptr) object->Destroy(&object);
  }
};

struct OutputBuffer {
  DataBuffer buffer{0, nullptr};
  ~OutputBuffer() { std::free(buffer.data); }
};

bool Matches(const DataBuffer& out, const unsigned char* expected, size_t size) {
  // The whole expected value, not just as much as came out: a short or empty
  // output must not pass.
  return out.data != nullptr && out.length == static_cast<int32_t>(size) &&
         std::memcmp(out.data, expected, size) == 0;
}

}  // namespace

int RunKnownAnswer(const KnownAnswer& vector) {
  const DataBuffer key{sizeof(vector.key), const_cast<unsigned char*>(vector.key)};
  const DataBuffer iv{sizeof(vector.iv), const_cast<unsigned char*>(vector.iv)};
  std::unique_ptr<UACipherUtil, ObjectDeleter> object(
      UACipherUtil_Create_deprecated(vector.algType, &key, &iv));
  if (!object) return 1;
  UACipherUtil* self = object.get();

  // Encryption pads in the input buffer: room for a whole padding block.
  unsigned char input[sizeof(vector.plaintext) + 17] = {};
  std::memcpy(input, vector.plaintext, sizeof(vector.plaintext));
  DataBuffer plain{sizeof(vector.plaintext), input};
  OutputBuffer encrypted;
  if (self->Encrypt_API(&self, &plain, &encrypted.buffer) != 0) return 1;
  if (!Matches(encrypted.buffer, vector.ciphertext, sizeof(vector.ciphertext))) return 1;

  OutputBuffer decrypted;
  if (self->Decrypt_API(&self, &encrypted.buffer, &decrypted.buffer) != 0) return 1;
  if (!Matches(decrypted.buffer, vector.plaintext, sizeof(vector.plaintext))) return 1;
  return 0;
}

void SetSelfTestVectorForTesting(const KnownAnswer* vector) { g_testVector.store(vector); }

}  // namespace qor::crypto

extern "C" int Self_Test(void) {
  const qor::crypto::KnownAnswer* vector = qor::crypto::g_testVector.load();
  return qor::crypto::RunKnownAnswer(vector != nullptr ? *vector : qor::crypto::kSelfTestVector);
}
