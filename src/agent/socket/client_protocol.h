// What both ends of the agent conversation agree on: the request layout, the
// operation codes and the per-request session key. The library sends with
// these; a program answering in the agent's place reads and answers with them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qor/connection.h"
#include "qor/ua_cipher_util.h"

namespace qor::agent {

enum Opcode : uint8_t {
  kOpKeySet = 1,        // the whole policy record
  kOpPolicyHash = 2,    // the 88-byte policy hash
  kOpSingleKey = 3,     // one key version; payload "name:version"
  kOpAgentHealth = 4,   // first plain byte 1: agent healthy
  kOpServerHealth = 5,  // first plain byte 1: server healthy
};

inline constexpr size_t kSeedSize = 32;
inline constexpr size_t kSessionKeySize = 32;
inline constexpr size_t kSessionIvSize = 16;
inline constexpr size_t kFrameHeaderSize = 5;
// Header, the two fixed fields and the seed; a payload follows.
inline constexpr size_t kRequestBaseSize = kFrameHeaderSize + 16 + kSeedSize;
// The length field counts every byte after the header.
inline constexpr uint32_t kRequestBaseLength = kRequestBaseSize - kFrameHeaderSize;
inline constexpr unsigned char kFixedField1[8] = {0x0C, 0x0D, 0x0B, 0, 0, 0, 0, 0};
inline constexpr unsigned char kFixedField2[8] = {0, 0, 0, 0, 0, 0, 0, 1};
// Algorithm code of the session cipher: ARIA with a 32-byte key, CBC.
inline constexpr uint32_t kSessionAlgorithm = 14;

// Key = SHA-256(seed | opcode | "enc"); IV = first 16 bytes of
// SHA-256(seed | opcode | "iv").
void DeriveSessionKey(const unsigned char seed[kSeedSize], uint8_t opcode,
                      unsigned char key[kSessionKeySize], unsigned char iv[kSessionIvSize]);

// The request bytes for |opcode|, |seed| and |payloadLength| bytes of
// |payload| into a new malloc block in |out|. 0, or -1 for no memory or a
// payload that does not fit the length field.
int BuildRequest(uint8_t opcode, const unsigned char seed[kSeedSize], const unsigned char* payload,
                 int32_t payloadLength, DataBuffer* out);

// The session cipher for a derived key and IV (destroy with its Destroy slot), or NULL.
UACipherUtil* CreateSessionCipher(const unsigned char key[kSessionKeySize],
                                  const unsigned char iv[kSessionIvSize]);

// Decrypts an answer's body into |plain| (a new block the caller frees):
// 0, or -1 for an empty body or a body that does not decrypt.
int DecryptAnswer(UACipherUtil* cipher, const Packet& answer, DataBuffer* plain);

// The agent's side: encrypts |length| bytes of |plain| as an answer body into
// |body| (a new block the caller frees): 0 or -1.
int EncryptAnswer(UACipherUtil* cipher, const unsigned char* plain, int32_t length, DataBuffer* body);

}  // namespace qor::agent
