// The connection object: creation, the non-blocking connect with its time
// limit, and the small accessors of its table.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <new>

#include "agent/connection/connection_internal.h"
#include "common/error_codes.h"
#include "common/error_record.h"
#include "common/host_lookup.h"
#include "qor/qoutil.h"

namespace qor::agent {

namespace {

constexpr int kDefaultTimeLimitMs = 5000;

// Table and state in one block, so Destroy frees one allocation.
struct ConnectionBlock {
  Connection table;
  ConnectionState state;
};

int Disconnect(Connection* connection) {
  if (ConnectionState* state = StateOf(connection)) CloseSocket(state);
  return 0;
}

// Gives up a connect attempt: the descriptor it made is never kept.
int FailConnect(ConnectionState* state, int fd) {
  if (fd >= 0) close(fd);
  state->socket = 0;
  return -1;
}

int PendingError(int fd) {
  int pending = 0;
  socklen_t size = sizeof(pending);
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &size) != 0) return errno;
  return pending;
}

// Waits for writability up to |limitMs| in total, across interruptions.
// Returns poll's result (negative with errno set on failure).
int WaitWritable(int fd, int limitMs, short* revents) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd entry{fd, POLLOUT, 0};
    const int ready = poll(&entry, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
    if (ready < 0 && errno == EINTR) continue;
    *revents = entry.revents;
    return ready;
  }
}

int Connect(Connection* connection) {
  ConnectionState* state = StateOf(connection);
  if (state == nullptr) return -1;
  if (state->socket != 0) CloseSocket(state);  // a second Connect must not leak the first socket
  if (!QOUtil_IsValidPortNumber(state->port)) {
    ErrorSet(&state->error, err::kPort, "Invalid Port [%d]", state->port);
    return -1;
  }
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 2) {
    ErrorSet(&state->error, err::kConnect, "[code:%d] Invalid Socket", errno);
    return FailConnect(state, fd);
  }

  char address[INET_ADDRSTRLEN] = {};
  if (state->host[0] < '0' || state->host[0] > '9') {
    if (host::AddressOf(state->host, address, sizeof(address)) != host::Lookup::kOk) {
      ErrorSet(&state->error, err::kConnect, "DNS failed [%s]", state->host);
      return FailConnect(state, fd);
    }
  } else {
    std::memcpy(address, state->host, std::min(std::strlen(state->host), sizeof(address) - 1));
  }

  const int limitMs = EffectiveTimeLimitMs(*state);
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(state->port);
  if (inet_pton(AF_INET, address, &peer.sin_addr) != 1) {
    ErrorSet(&state->error, err::kConnect, "[code:%d][%dms][IP:%s, PORT:%d] failed to connect",
             EINVAL, limitMs, state->host, state->port);
    return FailConnect(state, fd);
  }

  const int reuse = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse));
  const int flags = fcntl(fd, F_GETFL, 0);
  if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);

  if (connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof(peer)) == 0) {
    state->socket = fd;
    StartExchange(state);
    return 0;
  }
  if (errno != EINPROGRESS && errno != EAGAIN) {
    ErrorSet(&state->error, err::kConnect, "[code:%d][%dms][IP:%s, PORT:%d] failed to connect",
             errno, limitMs, state->host, state->port);
    return FailConnect(state, fd);
  }

  short revents = 0;
  const int ready = WaitWritable(fd, limitMs, &revents);
  if (ready == 0) {
    ErrorSet(&state->error, err::kConnect, "[code:%d][%dms][IP:%s, PORT:%d] connect timeout",
             ETIMEDOUT, limitMs, state->host, state->port);
    return FailConnect(state, fd);
  }
  if (ready < 0) {
    ErrorSet(&state->error, err::kConnect, "[code:%d] poll failed", errno);
    return FailConnect(state, fd);
  }
  if ((revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
    // The pending error names the cause (refused, unreachable); errno would be stale.
    ErrorSet(&state->error, err::kConnect, "[code:%d] poll revents error", PendingError(fd));
    return FailConnect(state, fd);
  }
  const int pending = PendingError(fd);
  if (pending != 0) {
    ErrorSet(&state->error, err::kConnect, "[code:%d] connect error", pending);
    return FailConnect(state, fd);
  }
  state->socket = fd;
  StartExchange(state);
  return 0;
}

int AcceptConnect(Connection*) { return 0; }

const char* GetServerIPAddress(Connection* connection) {
  ConnectionState* state = StateOf(connection);
  return state != nullptr ? state->host : "";
}

uint16_t GetServerPort(Connection* connection) {
  ConnectionState* state = StateOf(connection);
  return state != nullptr ? state->port : 0;
}

void SetErrorVariable(Connection* connection, ErrorInfo* record) {
  if (ConnectionState* state = StateOf(connection)) state->error.next = record;
}

int IsValidIPAddress(Connection* connection) {
  ConnectionState* state = StateOf(connection);
  return state != nullptr && QOUtil_IsValidIPAddress(state->host) == 1 ? 0 : -1;
}

int IsValidPort(Connection* connection) {
  ConnectionState* state = StateOf(connection);
  return state != nullptr && QOUtil_IsValidPortNumber(state->port) == 1 ? 0 : -1;
}

int IsAcceptSock(Connection* connection) {
  ConnectionState* state = StateOf(connection);
  return state != nullptr ? state->accepted : 0;
}

void Destroy(Connection** connection) {
  if (connection == nullptr || *connection == nullptr) return;
  Disconnect(*connection);
  delete reinterpret_cast<ConnectionBlock*>(*connection);
  *connection = nullptr;
}

ConnectionBlock* NewBlock(int mode, int64_t timeLimitMs) {
  auto* block = new (std::nothrow) ConnectionBlock{};
  if (block == nullptr) return nullptr;
  Connection& table = block->table;
  table.state = &block->state;
  table.Connect = Connect;
  table.Disconnect = Disconnect;
  table.ReadPacket = ReadPacket;
  table.SendPacket = SendPacket;
  table.GetServerIPAddress = GetServerIPAddress;
  table.GetServerPort = GetServerPort;
  table.SetErrorVariable = SetErrorVariable;
  table.IsValidIPAddress = IsValidIPAddress;
  table.IsValidPort = IsValidPort;
  table.Destroy = Destroy;
  block->state.mode = mode;
  block->state.timeLimitMs = timeLimitMs;
  return block;
}

}  // namespace

int EffectiveTimeLimitMs(const ConnectionState& state) {
  if (state.timeLimitMs < 1) return kDefaultTimeLimitMs;
  return state.timeLimitMs > INT_MAX ? INT_MAX : static_cast<int>(state.timeLimitMs);
}

namespace {
int64_t SteadyNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

void StartExchange(ConnectionState* state) {
  state->exchangeDeadlineMs = SteadyNowMs() + EffectiveTimeLimitMs(*state) + kExchangeSlackMs;
}

int WaitLimitMs(const ConnectionState& state) {
  const int limit = EffectiveTimeLimitMs(state);
  if (state.exchangeDeadlineMs == 0) return limit;
  const int64_t left = state.exchangeDeadlineMs - SteadyNowMs();
  if (left <= 0) return 0;
  return left < limit ? static_cast<int>(left) : limit;
}

void CloseSocket(ConnectionState* state) {
  // Linux releases the descriptor even when close reports an error, so it is
  // forgotten either way: closing it again could hit a reused number.
  if (state->socket > 2) close(state->socket);
  state->socket = 0;
  state->exchangeDeadlineMs = 0;
}

}  // namespace qor::agent

using qor::agent::ConnectionBlock;

extern "C" {

Connection* Connection_Create(const char* host, uint16_t port, int mode, int64_t timeLimitMs) {
  if (host == nullptr) return nullptr;
  const size_t length = std::strlen(host);
  if (length > QOR_CONNECTION_HOST_MAX) return nullptr;
  ConnectionBlock* block = qor::agent::NewBlock(mode, timeLimitMs);
  if (block == nullptr) return nullptr;
  std::memcpy(block->state.host, host, length + 1);
  block->state.port = port;
  return &block->table;
}

Connection* AcceptConnection_Create(int socket, int mode, int64_t timeLimitMs, int32_t value) {
  ConnectionBlock* block = qor::agent::NewBlock(mode, timeLimitMs);
  if (block == nullptr) return nullptr;
  block->table.Connect = qor::agent::AcceptConnect;
  block->table.IsAcceptSock = qor::agent::IsAcceptSock;
  block->state.socket = socket;
  block->state.accepted = 1;
  block->state.value = value;
  return &block->table;
}

}  // extern "C"
