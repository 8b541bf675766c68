// Private state of a connection object and the pieces its operations share.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qor/connection.h"

namespace qor::agent {

struct ConnectionState {
  char host[QOR_CONNECTION_HOST_MAX + 1];
  uint16_t port;
  int64_t timeLimitMs;
  int32_t mode;
  int32_t socket;  // 0: no socket open
  ErrorInfo error;
  int32_t accepted;
  int32_t value;
  // Steady-clock milliseconds by which the exchange begun at Connect must be
  // over (send and the whole answer); 0 when none runs (accepted sockets).
  int64_t exchangeDeadlineMs;
};

inline ConnectionState* StateOf(Connection* connection) {
  return connection != nullptr ? static_cast<ConnectionState*>(connection->state) : nullptr;
}

// The wait a connect or a read may take: the configured limit, or 5000 ms
// when none is configured, in the int that poll takes.
int EffectiveTimeLimitMs(const ConnectionState& state);

// Milliseconds a send or read may still wait: the time limit, cut to what is
// left of the exchange. 0 when the exchange is already over time.
int WaitLimitMs(const ConnectionState& state);

// What a whole exchange may take beyond one time limit: a loaded host may
// need it for a large answer, a peer that trickles gets no more.
inline constexpr int kExchangeSlackMs = 2000;

// Starts the exchange clock of a connected socket: send and the whole answer
// must be over within one time limit plus the slack from now.
void StartExchange(ConnectionState* state);

// Closes the socket unless it is a standard stream, and forgets it.
void CloseSocket(ConnectionState* state);

// Reads exactly |n| bytes. Returns |n|; 0 when the peer closed first; -1 on an
// error (recorded, socket closed). |*received| says how many bytes arrived.
long CTP_Read_CN(ConnectionState* state, unsigned char* buffer, size_t n, size_t* received);

// The slots implemented beside the socket handling.
int ReadPacket(Connection* connection, Packet* packet);
int SendPacket(Connection* connection, Packet* packet);

}  // namespace qor::agent
