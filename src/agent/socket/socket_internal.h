// The request steps of the agent socket object, shared by its checks and by
// the key and policy downloads.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "agent/connection/streamed_read.h"
#include "agent/socket/client_protocol.h"
#include "common/free_bytes.h"
#include "agent/socket/qor_socket.h"
#include "qor/connection.h"

namespace qor::agent {

// Owners for what one request allocates, released however the request ends.
using Bytes = std::unique_ptr<unsigned char, FreeBytes>;

struct CipherDeleter {
  void operator()(UACipherUtil* cipher) const {
    if (cipher != nullptr) cipher->Destroy(&cipher);
  }
};
using CipherPtr = std::unique_ptr<UACipherUtil, CipherDeleter>;

struct PacketGuard {
  Packet packet{};
  ~PacketGuard() { DestroyPacket(&packet); }
};

struct SocketState {
  Connection* first;   // always present
  Connection* second;  // may be absent
  unsigned char iv[kSessionIvSize];
  unsigned char key[kSessionKeySize];
  ErrorInfo error;
};

inline SocketState* StateOf(QORSocket* socket) {
  return socket != nullptr ? static_cast<SocketState*>(socket->state) : nullptr;
}

// Draws a seed, derives this request's key and IV into the object and copies
// the seed to |seed|: 0, or -1 when no seed could be drawn.
int GenSessionKey(QORSocket* socket, uint8_t opcode, unsigned char seed[kSeedSize]);

// A request without payload for |opcode| into |request| (malloc block, the
// caller frees): 0, or 1 with the reason recorded.
int GetSendPacketInfo(QORSocket* socket, DataBuffer* request, int opcode);

// The single-key request (operation 3) with |payload| appended: 0 or 1.
int GetSendPacketInfoFromSpecfic(QORSocket* socket, DataBuffer* request, const DataBuffer* payload);

// One round trip to agent |which| (1 first, 2 second): connect, send a copy of
// |request| under |opcode|, read the answer into |answer| (an empty packet the
// caller releases), disconnect. A body |sink| takes goes there instead of
// into |answer|. 0 when an answer was read, else 1.
int GetPolicyInfoFromQORServer(QORSocket* socket, const DataBuffer* request, Packet* answer,
                               int which, int opcode, BodySink* sink = nullptr);

// The session cipher of the object's last request, or NULL (not recorded).
UACipherUtil* CreateSessionCipher(QORSocket* socket);

// The key operations of the table (key_requests.cpp): 0 on success.
int GetKeyMgrFromQORServer(QORSocket* socket, KeyMgr** slot, QORApiConf* config);
int GetSpecficKeyFromQORServer(QORSocket* socket, KeyMgr* mgr, QORApiConf* config, int nameLength,
                               const char* name, int version);
int GetKeyMgrUpdateFromQORServer(QORSocket* socket, KeyMgr** slot, QORApiConf* config);
int AppendPolicyFromQORServer(QORSocket* socket, KeyMgr* mgr, QORApiConf* config);

}  // namespace qor::agent
