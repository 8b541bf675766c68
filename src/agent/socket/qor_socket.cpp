// The agent socket object: its two connections, the session-keyed requests
// and the health and policy checks. The key downloads are in key_requests.cpp.
#include "agent/socket/qor_socket.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "agent/socket/socket_internal.h"
#include "common/error_codes.h"
#include "common/error_record.h"
#include "common/secure_wipe.h"
#include "log/log.h"
#include "qor/key_mgr.h"
#include "qor/nc_random.h"

namespace {
constexpr char kLogUnit[] = "source/QORSocket";
}  // namespace

namespace qor::agent {

namespace {

struct SocketBlock {
  QORSocket table;
  SocketState state;
};

const char* GetLastErrorMsg(QORSocket* socket) {
  SocketState* state = StateOf(socket);
  if (state == nullptr) return "";
  // The chain ends in the process-wide record, which other threads' calls
  // clear and set: each thread gets its own copy, taken under the lock.
  thread_local char message[QOR_ERROR_MESSAGE_SIZE];
  std::lock_guard lock(ErrorLock());
  std::memcpy(message, ErrorChainEnd(&state->error)->message, sizeof(message));
  message[sizeof(message) - 1] = '\0';
  return message;
}

void SetErrorVariable(QORSocket* socket, ErrorInfo* record) {
  if (SocketState* state = StateOf(socket)) state->error.next = record;
}

int Connect(QORSocket* socket, int which) {
  SocketState* state = StateOf(socket);
  if (state == nullptr) return 1;
  if (which == 2) {
    if (state->second == nullptr || state->second->Connect(state->second) != 0) {
      QOR_LOG(log::kCrit, "Failed to Connect Second[ msg:%s]\n", GetLastErrorMsg(socket));
      return 1;
    }
    return 0;
  }
  if (state->first->Connect(state->first) != 0) {
    if (which == 1) QOR_LOG(log::kCrit, "Failed to Connect Main[ msg:%s]\n", GetLastErrorMsg(socket));
    return 1;
  }
  return 0;
}

void Disconnect(QORSocket* socket) {
  SocketState* state = StateOf(socket);
  if (state == nullptr) return;
  if (state->first != nullptr) state->first->Disconnect(state->first);
  if (state->second != nullptr) state->second->Disconnect(state->second);
}

void Destroy(QORSocket** socket) {
  if (socket == nullptr || *socket == nullptr) return;
  SocketState* state = StateOf(*socket);
  if (state->first != nullptr) state->first->Destroy(&state->first);
  if (state->second != nullptr) state->second->Destroy(&state->second);
  SecureWipe(state->key, sizeof(state->key));
  SecureWipe(state->iv, sizeof(state->iv));
  delete reinterpret_cast<SocketBlock*>(*socket);
  *socket = nullptr;
}

// One request to the first agent and its decrypted answer in |plain| (the
// caller frees plain->data): 0, or 1 with the reason recorded.
int RequestPlain(QORSocket* socket, uint8_t opcode, DataBuffer* plain) {
  SocketState* state = StateOf(socket);
  DataBuffer request{0, nullptr};
  if (GetSendPacketInfo(socket, &request, opcode) != 0) return 1;
  Bytes requestBytes(request.data);
  PacketGuard answer;
  if (GetPolicyInfoFromQORServer(socket, &request, &answer.packet, 1, opcode) != 0) return 1;
  CipherPtr cipher(CreateSessionCipher(socket));
  if (cipher == nullptr) {
    ErrorSet(&state->error, err::kGeneral, "failed to UACipherUtil_CreateEx");
    QOR_LOG(log::kCrit, "%s\n", GetLastErrorMsg(socket));
    return 1;
  }
  if (DecryptAnswer(cipher.get(), answer.packet, plain) != 0) {
    ErrorSet(&state->error, err::kGeneral, "Record Decrypt Failed");
    QOR_LOG(log::kCrit, "Fail to Packet Decrypt, Packet Len : %d\n", answer.packet.length);
    return 1;
  }
  return 0;
}

int HealthCheck(QORSocket* socket, uint8_t opcode) {
  if (StateOf(socket) == nullptr) return -1;
  DataBuffer plain{0, nullptr};
  if (RequestPlain(socket, opcode, &plain) != 0) return 1;
  // The agent answers 1 for healthy; anything else, or nothing, is a failure.
  const int result = plain.length > 0 ? plain.data[0] - 1 : 1;
  std::free(plain.data);
  return result;
}

int HealthCheckAgent(QORSocket* socket) { return HealthCheck(socket, kOpAgentHealth); }

int HealthCheckServer(QORSocket* socket) { return HealthCheck(socket, kOpServerHealth); }

int CheckPolicy(QORSocket* socket, KeyMgr* mgr) {
  if (StateOf(socket) == nullptr || mgr == nullptr) return -1;
  DataBuffer plain{0, nullptr};
  if (RequestPlain(socket, kOpPolicyHash, &plain) != 0) return 1;
  const int result = mgr->CheckPolicyHash(mgr, &plain) == 0 ? 0 : 1;
  std::free(plain.data);
  return result;
}

// Records a request that could not be built, in the words the log expects.
int RequestFailed(SocketState* state, const char* what) {
  ErrorSet(&state->error, err::kInternal, "%s", what);
  QOR_LOG_AS("GetSendPacketInfo", log::kCrit, "%s\n", what);
  return 1;
}

int BuildSessionRequest(QORSocket* socket, DataBuffer* request, uint8_t opcode,
                        const DataBuffer* payload) {
  SocketState* state = StateOf(socket);
  if (state == nullptr || request == nullptr) return 1;
  *request = DataBuffer{0, nullptr};
  unsigned char seed[kSeedSize];
  if (GenSessionKey(socket, opcode, seed) != 0) return RequestFailed(state, "failed to GenSessionKey");
  const bool hasPayload = payload != nullptr && payload->data != nullptr && payload->length > 0;
  if (BuildRequest(opcode, seed, hasPayload ? payload->data : nullptr, hasPayload ? payload->length : 0,
                   request) != 0) {
    return RequestFailed(state, "failed to SEND_PACKET_DATA");
  }
  return 0;
}

}  // namespace

int GenSessionKey(QORSocket* socket, uint8_t opcode, unsigned char seed[kSeedSize]) {
  SocketState* state = StateOf(socket);
  if (state == nullptr || NC_GenerateRandom(seed, static_cast<int32_t>(kSeedSize)) != 0) return -1;
  DeriveSessionKey(seed, opcode, state->key, state->iv);
  return 0;
}

int GetSendPacketInfo(QORSocket* socket, DataBuffer* request, int opcode) {
  return BuildSessionRequest(socket, request, static_cast<uint8_t>(opcode), nullptr);
}

int GetSendPacketInfoFromSpecfic(QORSocket* socket, DataBuffer* request, const DataBuffer* payload) {
  return BuildSessionRequest(socket, request, kOpSingleKey, payload);
}

int GetPolicyInfoFromQORServer(QORSocket* socket, const DataBuffer* request, Packet* answer,
                               int which, int opcode, BodySink* sink) {
  SocketState* state = StateOf(socket);
  if (state == nullptr || request == nullptr || answer == nullptr) return 1;
  if (Connect(socket, which) != 0) return 1;
  Connection* connection = which == 2 ? state->second : state->first;
  PacketGuard sent;
  int result = 1;
  if (GenPacket(static_cast<uint8_t>(opcode), request, &sent.packet) != 0) {
    ErrorSet(&state->error, err::kGeneral, "faild to GenPacket[opcode:%d]", opcode);
    QOR_LOG(log::kCrit, "%s\n", GetLastErrorMsg(socket));
  } else if (connection->SendPacket(connection, &sent.packet) != 0 ||
             (sink != nullptr ? ReadPacketInto(connection, answer, sink)
                              : connection->ReadPacket(connection, answer)) != 0) {
    QOR_LOG(log::kCrit, "%s\n", GetLastErrorMsg(socket));
  } else {
    result = 0;
  }
  Disconnect(socket);
  return result;
}

UACipherUtil* CreateSessionCipher(QORSocket* socket) {
  SocketState* state = StateOf(socket);
  return state != nullptr ? CreateSessionCipher(state->key, state->iv) : nullptr;
}

}  // namespace qor::agent

QORSocket* QORSocket_Create(const char* firstHost, uint16_t firstPort, const char* secondHost,
                            uint16_t secondPort, int timeLimitMs, ErrorInfo* record) {
  using namespace qor::agent;
  auto* block = new (std::nothrow) SocketBlock{};
  if (block == nullptr) {
    qor::ErrorSet(record, qor::err::kInternal, "Memory Allocation Failed.");
    return nullptr;
  }
  SocketState& state = block->state;
  state.error.next = record;
  state.first = Connection_Create(firstHost, firstPort, 1, timeLimitMs);
  if (state.first == nullptr) {
    qor::ErrorSet(record, qor::err::kGeneral, "failed to create the connection [%s:%u]",
                  firstHost != nullptr ? firstHost : "NULL", firstPort);
    delete block;
    return nullptr;
  }
  // Health checks pass no second agent; a second connection is optional.
  state.second = Connection_Create(secondHost, secondPort, 1, timeLimitMs);
  state.first->SetErrorVariable(state.first, &state.error);
  if (state.second != nullptr) state.second->SetErrorVariable(state.second, &state.error);

  QORSocket& table = block->table;
  table.state = &state;
  table.Connect = Connect;
  table.Disconnect = Disconnect;
  table.GetLastErrorMsg = GetLastErrorMsg;
  table.SetErrorVariable = SetErrorVariable;
  table.GetKeyMgrFromQORServer = GetKeyMgrFromQORServer;
  table.GetSpecficKeyFromQORServer = GetSpecficKeyFromQORServer;
  table.GetKeyMgrUpdateFromQORServer = GetKeyMgrUpdateFromQORServer;
  table.CheckPolicy = CheckPolicy;
  table.HealthCheckServer = HealthCheckServer;
  table.HealthCheckAgent = HealthCheckAgent;
  table.AppendPolicyFromQORServer = AppendPolicyFromQORServer;
  table.Destroy = Destroy;
  return &table;
}
