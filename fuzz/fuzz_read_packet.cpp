// Any bytes from the peer, read as framed messages over a real socket pair:
// the reader never goes past what arrived, never hands back a short body as
// whole, and keeps its zero terminator after every body.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "qor/connection.h"

namespace {

uint32_t Announced(const unsigned char* header) {
  return (uint32_t{header[1]} << 24) | (uint32_t{header[2]} << 16) | (uint32_t{header[3]} << 8) |
         header[4];
}

// The reader sets aside the announced body (up to QOR_PACKET_BODY_MAX) before
// any of it arrives; announcing megabytes only makes each run slow, so such
// inputs are left out and the runs go to the parsing instead. Lengths past
// the limit are kept: they must be refused unread.
bool AnnouncesMegabytes(const unsigned char* data, size_t size) {
  size_t offset = 0;
  for (int message = 0; message < 4 && offset + 5 <= size; ++message) {
    const uint32_t length = Announced(data + offset);
    if (length > (1u << 20) && length <= QOR_PACKET_BODY_MAX) return true;
    offset += 5 + size_t{length};
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  if (size > 60000 || AnnouncesMegabytes(data, size)) return 0;
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) abort();
  const int bufferSize = 1 << 18;
  setsockopt(pair[1], SOL_SOCKET, SO_SNDBUF, &bufferSize, sizeof bufferSize);
  size_t written = 0;
  while (written < size) {
    const ssize_t n = send(pair[1], data + written, size - written, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  // The peer is done: every read ends at what was sent instead of waiting.
  shutdown(pair[1], SHUT_WR);

  Connection* connection = AcceptConnection_Create(pair[0], 1, 1000, 0);
  if (connection == nullptr) abort();
  ErrorInfo errors{};
  connection->SetErrorVariable(connection, &errors);
  size_t offset = 0;
  for (int message = 0; message < 4; ++message) {
    Packet packet{};
    const int rc = connection->ReadPacket(connection, &packet);
    if (rc == 0) {
      // A whole message: header, body of the announced length (an empty one
      // is returned empty), from the input.
      if (offset + 5 > written || packet.opcode == 0 || packet.length < 0) abort();
      const uint32_t announced = Announced(data + offset);
      if (packet.opcode != data[offset] || uint32_t(packet.length) != announced) abort();
      if (offset + 5 + announced > written) abort();
      if (std::memcmp(packet.data, data + offset + 5, announced) != 0) abort();
      if (packet.data[announced] != 0 || packet.data[announced + 1] != 0) abort();
      offset += 5 + announced;
    }
    DestroyPacket(&packet);
    if (rc != 0) break;
  }
  connection->SetErrorVariable(connection, nullptr);
  connection->Destroy(&connection);
  close(pair[1]);
  return 0;
}
