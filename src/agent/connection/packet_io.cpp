// Sending a packet's records and reading one framed message.
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "agent/connection/connection_internal.h"
#include "agent/connection/streamed_read.h"
#include "common/error_codes.h"
#include "common/error_record.h"
#include "log/log.h"

namespace {
constexpr char kLogUnit[] = "source/Common/connection";

// The two send refusals are kept in the host code page (EUC-KR).
constexpr char kNoMessage[] =
    "\xc0\xfc\xb4\xde\xc7\xd2 \xb8\xde\xbd\xc3\xc1\xf6\xb0\xa1 \xbe\xf8\xbd\xc0\xb4\xcf\xb4\xd9.";
constexpr char kBadMessageLength[] =
    "\xc0\xfc\xb4\xde\xc7\xd2 \xb8\xde\xbd\xc3\xc1\xf6 \xb1\xe6\xc0\xcc\xb0\xa1 \xc0\xdf\xb8\xf8 "
    "\xb5\xc7\xbe\xfa\xbd\xc0\xb4\xcf\xb4\xd9.";

constexpr size_t kHeaderSize = 5;
// A body taken piecewise is handed on in steps of this much.
constexpr uint32_t kStreamPiece = 64 * 1024;
}  // namespace

namespace qor::agent {

namespace {

const char* ErrnoText(int error, char* buffer, size_t size) {
  // GNU strerror_r may return a static text instead of filling |buffer|.
  return strerror_r(error, buffer, size);
}

// poll for |events| up to |limitMs| in total, across interruptions.
int WaitFor(int fd, short events, int limitMs, short* revents) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd entry{fd, events, 0};
    const int ready = poll(&entry, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
    if (ready < 0 && errno == EINTR) continue;
    *revents = entry.revents;
    return ready;
  }
}

// Sends one buffer completely: 0 or -1 (recorded).
int SendBuffer(ConnectionState* state, const unsigned char* data, int32_t length) {
  if (data == nullptr) {
    ErrorSet(&state->error, err::kInternal, "%s", kNoMessage);
    return -1;
  }
  if (length < 1) {
    ErrorSet(&state->error, err::kGeneral, "%s", kBadMessageLength);
    return -1;
  }
  const int fd = state->socket;
  int32_t written = 0;
  ssize_t last = 0;
  while (written < length) {
    if (fd <= 0) {
      // Descriptor 0 means "not connected"; it must never reach send (standard input).
      errno = ENOTCONN;
      last = -1;
      break;
    }
    // A peer that closed must fail this send, not raise SIGPIPE in the host.
    last = send(fd, data + written, static_cast<size_t>(length - written), MSG_NOSIGNAL);
    if (last > 0) {
      written += static_cast<int32_t>(last);
      continue;
    }
    if (last < 0 && errno == EINTR) continue;
    if (last < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // The socket is non-blocking: a full send buffer means wait, not fail.
      short revents = 0;
      const int waitMs = WaitLimitMs(*state);
      if (waitMs > 0 && WaitFor(fd, POLLOUT, waitMs, &revents) > 0 &&
          (revents & (POLLERR | POLLHUP | POLLNVAL)) == 0) {
        continue;
      }
      if (revents == 0) errno = ETIMEDOUT;
    }
    break;
  }
  if (written == length) return 0;
  ErrorSet(&state->error, err::kSend, "[code:%d][socket:%d, actualLen:%d, writtenLen:%d] failed to send",
           errno, fd, length, static_cast<int>(last));
  return -1;
}

uint32_t BigEndian32(const unsigned char* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

}  // namespace

long CTP_Read_CN(ConnectionState* state, unsigned char* buffer, size_t n, size_t* received) {
  size_t got = 0;
  if (received != nullptr) *received = 0;
  char text[128];
  const auto fail = [&](int code, const char* format, int error) {
    ErrorSet(&state->error, code, format, error, ErrnoText(error, text, sizeof(text)));
    CloseSocket(state);
    return -1L;
  };
  if (state->socket <= 0) return fail(err::kReceive, "recv error : [%d](%s)", ENOTCONN);
  const int limitMs = EffectiveTimeLimitMs(*state);
  while (got < n) {
    short revents = 0;
    // The limit holds for the whole exchange, not for each piece: a peer
    // that trickles its answer must not keep the caller waiting past it.
    const int waitMs = WaitLimitMs(*state);
    const int ready = waitMs > 0 ? WaitFor(state->socket, POLLIN, waitMs, &revents) : 0;
    if (ready == 0) {
      ErrorSet(&state->error, err::kTimeLimit, "the time limit expired [%d msec]", limitMs);
      CloseSocket(state);
      return -1;
    }
    if (ready < 0) {
      ErrorSet(&state->error, err::kGeneral, "[code:%d] failed to poll", errno);
      CloseSocket(state);
      return -1;
    }
    if ((revents & (POLLERR | POLLNVAL)) != 0) {
      int pending = 0;
      socklen_t size = sizeof(pending);
      if (getsockopt(state->socket, SOL_SOCKET, SO_ERROR, &pending, &size) != 0 || pending == 0) {
        pending = errno;
      }
      return fail(err::kReceive, "FD is exception : [%d](%s)", pending);
    }
    const ssize_t count = recv(state->socket, buffer + got, n - got, 0);
    if (count == 0) return 0;
    if (count < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
      return fail(err::kReceive, "recv error : [%d](%s)", errno);
    }
    got += static_cast<size_t>(count);
    if (received != nullptr) *received = got;
  }
  return static_cast<long>(n);
}

int SendPacket(Connection* connection, Packet* packet) {
  ConnectionState* state = StateOf(connection);
  if (state == nullptr) return -1;
  if (packet == nullptr) return SendBuffer(state, nullptr, 0);
  if (SendBuffer(state, packet->data, packet->length) != 0) return -1;
  int32_t sent = 1;
  for (PacketRecord* record = packet->records; record != nullptr && sent < packet->recordCount;
       record = record->next, ++sent) {
    if (SendBuffer(state, record->data, record->length) != 0) return -1;
  }
  return 0;
}

namespace {

// Reads the header into |packet| and checks its length: true to go on to the
// body; false with the reason recorded.
bool ReadHeader(ConnectionState* state, Packet* packet, uint32_t* bodyLength) {
  unsigned char header[kHeaderSize];
  size_t received = 0;
  const long headerRead = CTP_Read_CN(state, header, kHeaderSize, &received);
  if (headerRead != static_cast<long>(kHeaderSize)) {
    if (headerRead == 0) {
      ErrorSet(&state->error, err::kReceive,
               "connection closed by the peer [%zu of %zu header bytes received]", received,
               kHeaderSize);
      CloseSocket(state);
    }
    return false;
  }
  packet->opcode = header[0];
  *bodyLength = BigEndian32(header + 1);
  if (*bodyLength > QOR_PACKET_BODY_MAX) {
    // The length comes from the network: refuse it before it sizes anything.
    ErrorSet(&state->error, err::kGeneral,
             "size of the message to be read is too large [%u bytes, limit %u]", *bodyLength,
             QOR_PACKET_BODY_MAX);
    CloseSocket(state);  // the unread body would be taken for the next header
    return false;
  }
  return true;
}

// Reads |length| body bytes into |body| in pieces of |piece|, calling
// |arrived| with the running total after each: true when all came in.
template <class Arrived>
bool ReadBody(ConnectionState* state, unsigned char* body, uint32_t length, uint32_t piece,
              Arrived arrived) {
  uint32_t got = 0;
  while (got < length) {
    const uint32_t want = length - got < piece ? length - got : piece;
    size_t received = 0;
    const long read = CTP_Read_CN(state, body + got, want, &received);
    if (read != static_cast<long>(want)) {
      // A truncated body must not pass for the answer: the caller would
      // decrypt the zero bytes standing in for the missing part.
      if (read == 0) {
        ErrorSet(&state->error, err::kReceive,
                 "connection closed by the peer [%zu of %u body bytes received]",
                 got + received, length);
        CloseSocket(state);
      }
      return false;
    }
    got += want;
    arrived(got);
  }
  return true;
}

}  // namespace

int ReadPacketInto(Connection* connection, Packet* packet, BodySink* sink) {
  ConnectionState* state = StateOf(connection);
  if (state == nullptr) return -1;
  if (packet == nullptr) {
    ErrorSet(&state->error, err::kInternal, "buffer to be read is not allocated with malloc.");
    return -1;
  }
  uint32_t bodyLength = 0;
  if (!ReadHeader(state, packet, &bodyLength)) return -1;
  if (sink != nullptr && packet->opcode != 0 && bodyLength > 0) {
    if (unsigned char* room = sink->Begin(packet->opcode, bodyLength)) {
      packet->length = static_cast<int32_t>(bodyLength);
      packet->recordCount = 1;
      return ReadBody(state, room, bodyLength, kStreamPiece,
                      [sink](uint32_t received) { sink->Arrived(received); })
                 ? 0
                 : -1;
    }
  }
  auto* body = static_cast<unsigned char*>(std::calloc(size_t{bodyLength} + 2, 1));
  if (body == nullptr) {
    ErrorSet(&state->error, err::kInternal, "buffer to be read is not allocated with malloc.");
    CloseSocket(state);
    return -1;
  }
  packet->length = static_cast<int32_t>(bodyLength);
  packet->data = body;
  packet->recordCount = 1;

  bool complete = true;
  if (bodyLength < 1) {
    ErrorSet(&state->error, err::kGeneral, "size of the message to be read is incorrect.");
  } else {
    complete = ReadBody(state, body, bodyLength, bodyLength, [](uint32_t) {});
  }
  if (packet->opcode == 0) {
    QOR_LOG_AS("ReadPacket", log::kError, "Receive Message [%s]\n",
               reinterpret_cast<const char*>(body));
    ErrorSet(&state->error, err::kGeneral, "Receive Message [%s]", reinterpret_cast<const char*>(body));
    return -1;
  }
  return complete ? 0 : -1;
}

int ReadPacket(Connection* connection, Packet* packet) {
  return ReadPacketInto(connection, packet, nullptr);
}

}  // namespace qor::agent
