// One request to the agent at an address and port, its answer read and
// decrypted and then dropped: the round trip behind the connection test.
#include "agent/socket/round_trip.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include "agent/socket/client_protocol.h"
#include "agent/socket/qor_socket.h"
#include "agent/socket/socket_internal.h"
#include "qor/connection.h"

namespace qor::agent {

namespace {

struct SocketHolder {
  QORSocket* socket = nullptr;
  ~SocketHolder() {
    if (socket != nullptr) socket->Destroy(&socket);
  }
};

}  // namespace

int RoundTrip(const char* address, uint16_t port, int opcode) {
  ErrorInfo record{};
  SocketHolder holder;
  holder.socket = QORSocket_Create(address, port, nullptr, 0, 1, &record);
  if (holder.socket == nullptr) return -1;
  QORSocket* socket = holder.socket;

  DataBuffer request{0, nullptr};
  const int code = opcode & 0xFF;
  if (GetSendPacketInfo(socket, &request, code) != 0) return 0;
  if (socket->Connect(socket, 1) != 0) {
    std::free(request.data);
    return 0;
  }
  Connection* connection = StateOf(socket)->first;
  PacketGuard sent;
  PacketGuard answer;
  if (GenPacket(static_cast<uint8_t>(code), &request, &sent.packet) == 0 &&
      connection->SendPacket(connection, &sent.packet) == 0) {
    // Give the agent its time to answer; the answer is only checked to decrypt.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    if (connection->ReadPacket(connection, &answer.packet) == 0) {
      UACipherUtil* cipher = CreateSessionCipher(socket);
      if (cipher != nullptr) {
        DataBuffer plain{0, nullptr};
        DecryptAnswer(cipher, answer.packet, &plain);
        std::free(plain.data);
        cipher->Destroy(&cipher);
      }
    }
  }
  socket->Disconnect(socket);
  std::free(request.data);
  return 1;
}

}  // namespace qor::agent
