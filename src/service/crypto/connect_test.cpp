// The agent connection test of the crypto service: the round trip itself
// belongs to the agent socket.
#include "agent/socket/round_trip.h"
#include "qor/crypto_service.h"

extern "C" int Connect_test(const char* address, uint16_t port, int opcode) {
  return qor::agent::RoundTrip(address, port, opcode);
}
