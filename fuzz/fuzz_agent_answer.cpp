// Agent answers as they arrive: any body decrypted with the session cipher and
// parsed into a key manager, any key record read; and any plain record sealed
// the way the agent seals it, so the parser behind the decryption is reached.
//   byte 0, bit 0: 0 the rest is the sealed body, 1 the rest is the plain answer
//   byte 0, bits 1-2: the policy key length for the key record (16, 24, 32)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "agent/policy/single_key_reader.h"
#include "agent/socket/client_protocol.h"
#include "qor/key_download.h"
#include "qor/key_mgr.h"
#include "qor/policy.h"

namespace {

UACipherUtil* SessionCipher() {
  static UACipherUtil* cipher = [] {
    (void)std::freopen("/dev/null", "w", stdout);  // the parser's "not found" lines
    unsigned char seed[qor::agent::kSeedSize];
    for (size_t i = 0; i < sizeof seed; ++i) seed[i] = static_cast<unsigned char>(i * 7 + 1);
    unsigned char key[qor::agent::kSessionKeySize];
    unsigned char iv[qor::agent::kSessionIvSize];
    qor::agent::DeriveSessionKey(seed, qor::agent::kOpKeySet, key, iv);
    return qor::agent::CreateSessionCipher(key, iv);
  }();
  return cipher;
}

// The body as ReadPacket hands it over: two zero bytes after it.
Packet AnswerPacket(const unsigned char* body, size_t length) {
  Packet packet{};
  packet.opcode = qor::agent::kOpKeySet;
  packet.recordCount = 1;
  packet.length = static_cast<int32_t>(length);
  packet.data = static_cast<unsigned char*>(std::calloc(length + 2, 1));
  if (length > 0) std::memcpy(packet.data, body, length);
  return packet;
}

void ParseAll(const unsigned char* plain, size_t length, uint32_t keyBytes) {
  static KeyMgr* mgr = KeyMgr_Create(nullptr);
  std::vector<unsigned char> copy(plain, plain + length);
  const DataBuffer record{static_cast<int32_t>(length), copy.data()};
  KeyMgrParse(&record, mgr, 0, 0);
  mgr->Clear(mgr);
  qor::agent::KeyRecord key;
  qor::agent::ReadKeyRecord(copy.data(), copy.size(), keyBytes, &key);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  if (size < 1 || size > 1 << 16) return 0;
  UACipherUtil* cipher = SessionCipher();
  static KeyMgr* mgr = KeyMgr_Create(nullptr);
  const bool sealRest = (data[0] & 1) != 0;
  const uint32_t keyBytes = 16 + 8 * ((data[0] >> 1) % 3);
  const unsigned char* rest = data + 1;
  const size_t restLength = size - 1;

  Packet packet{};
  if (sealRest) {
    DataBuffer sealed{0, nullptr};
    if (qor::agent::EncryptAnswer(cipher, rest, static_cast<int32_t>(restLength), &sealed) != 0) {
      if (restLength > 0) abort();  // the agent's side seals anything non-empty
      return 0;
    }
    packet = AnswerPacket(sealed.data, static_cast<size_t>(sealed.length));
    std::free(sealed.data);
  } else {
    packet = AnswerPacket(rest, restLength);
  }

  // What the agent sealed comes back unchanged, except the three one-byte
  // plaintexts the value format reserves (0x00 empty, 0x06 null, 0x07 empty),
  // which no answer consists of.
  const bool reserved = restLength == 1 && (rest[0] == 0x00 || rest[0] == 0x06 || rest[0] == 0x07);
  DataBuffer plain{0, nullptr};
  if (qor::agent::DecryptAnswer(cipher, packet, &plain) == 0) {
    if (sealRest && !reserved &&
        (size_t(plain.length) != restLength || std::memcmp(plain.data, rest, restLength) != 0)) {
      abort();
    }
    ParseAll(plain.data, static_cast<size_t>(plain.length), keyBytes);
    std::free(plain.data);
  } else if (sealRest && restLength > 0 && !reserved) {
    abort();
  }
  ErrorInfo errors{};
  Packet_OpGetKeyinfo2KeyMgr(&packet, mgr, cipher, &errors, 0, 0);
  mgr->Clear(mgr);
  DestroyPacket(&packet);
  return 0;
}
