// The agent round trip behind the connection test.
#pragma once

#include <cstdint>

namespace qor::agent {

// Sends one request with operation |opcode| (low byte) to the agent at
// |address|:|port| and reads its answer: 1 sent (whatever the answer), 0 when
// the request could not be built or the agent not reached, -1 when no socket
// object could be made.
int RoundTrip(const char* address, uint16_t port, int opcode);

}  // namespace qor::agent
