// The request layout and the session cipher shared by both ends.
#include "agent/socket/client_protocol.h"

#include <cstdlib>
#include <cstring>

#include "common/secure_wipe.h"
#include "qor/nc_sha.h"

namespace qor::agent {

namespace {

// Spare room the value encryption needs after the plain text (padding and the
// compatibility blank are written in place).
constexpr size_t kEncryptRoom = 17;

void DigestOf(const unsigned char seed[kSeedSize], uint8_t opcode, const char* label,
              size_t labelLength, unsigned char digest[32]) {
  unsigned char input[kSeedSize + 1 + 3];
  std::memcpy(input, seed, kSeedSize);
  input[kSeedSize] = opcode;
  std::memcpy(input + kSeedSize + 1, label, labelLength);
  NC_E_SHA256(digest, nullptr, input, kSeedSize + 1 + labelLength);
  SecureWipe(input, sizeof(input));
}

}  // namespace

void DeriveSessionKey(const unsigned char seed[kSeedSize], uint8_t opcode,
                      unsigned char key[kSessionKeySize], unsigned char iv[kSessionIvSize]) {
  unsigned char digest[32];
  DigestOf(seed, opcode, "iv", 2, digest);
  std::memcpy(iv, digest, kSessionIvSize);
  DigestOf(seed, opcode, "enc", 3, key);
  SecureWipe(digest, sizeof(digest));
}

int BuildRequest(uint8_t opcode, const unsigned char seed[kSeedSize], const unsigned char* payload,
                 int32_t payloadLength, DataBuffer* out) {
  if (out == nullptr || seed == nullptr || payloadLength < 0 ||
      (payloadLength > 0 && payload == nullptr)) {
    return -1;
  }
  // The whole request must fit the signed length of a packet record.
  if (static_cast<size_t>(payloadLength) > INT32_MAX - kRequestBaseSize) return -1;
  const size_t size = kRequestBaseSize + static_cast<size_t>(payloadLength);
  auto* bytes = static_cast<unsigned char*>(std::calloc(size, 1));
  if (bytes == nullptr) return -1;
  const uint32_t length = kRequestBaseLength + static_cast<uint32_t>(payloadLength);
  bytes[0] = opcode;
  bytes[1] = static_cast<unsigned char>(length >> 24);
  bytes[2] = static_cast<unsigned char>(length >> 16);
  bytes[3] = static_cast<unsigned char>(length >> 8);
  bytes[4] = static_cast<unsigned char>(length);
  std::memcpy(bytes + 5, kFixedField1, sizeof(kFixedField1));
  std::memcpy(bytes + 13, kFixedField2, sizeof(kFixedField2));
  std::memcpy(bytes + 21, seed, kSeedSize);
  if (payloadLength > 0) std::memcpy(bytes + kRequestBaseSize, payload, static_cast<size_t>(payloadLength));
  *out = DataBuffer{static_cast<int32_t>(size), bytes};
  return 0;
}

UACipherUtil* CreateSessionCipher(const unsigned char key[kSessionKeySize],
                                  const unsigned char iv[kSessionIvSize]) {
  // The creator copies key and IV and never writes through these pointers.
  const DataBuffer keyBuffer{static_cast<int32_t>(kSessionKeySize), const_cast<unsigned char*>(key)};
  const DataBuffer ivBuffer{static_cast<int32_t>(kSessionIvSize), const_cast<unsigned char*>(iv)};
  return UACipherUtil_CreateEx(kSessionAlgorithm, &keyBuffer, &ivBuffer, nullptr);
}

int DecryptAnswer(UACipherUtil* cipher, const Packet& answer, DataBuffer* plain) {
  if (cipher == nullptr || plain == nullptr || answer.data == nullptr || answer.length < 1) return -1;
  *plain = DataBuffer{0, nullptr};
  DataBuffer body{answer.length, answer.data};
  DataBuffer out{0, nullptr};
  if (cipher->Decrypt_API(&cipher, &body, &out) != 0 || out.length < 0) {
    std::free(out.data);
    return -1;
  }
  *plain = out;
  return 0;
}

int EncryptAnswer(UACipherUtil* cipher, const unsigned char* plain, int32_t length, DataBuffer* body) {
  if (cipher == nullptr || body == nullptr || length < 0 || (length > 0 && plain == nullptr)) return -1;
  *body = DataBuffer{0, nullptr};
  auto* work = static_cast<unsigned char*>(std::calloc(static_cast<size_t>(length) + kEncryptRoom, 1));
  if (work == nullptr) return -1;
  if (length > 0) std::memcpy(work, plain, static_cast<size_t>(length));
  DataBuffer in{length, work};
  DataBuffer out{0, nullptr};
  const int result = cipher->Encrypt_API(&cipher, &in, &out);
  SecureWipe(work, static_cast<size_t>(length) + kEncryptRoom);
  std::free(work);
  if (result != 0 || out.length < 1) {
    std::free(out.data);
    return -1;
  }
  *body = out;
  return 0;
}

}  // namespace qor::agent
