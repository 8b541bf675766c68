// Reading an answer whose body is handed on while it arrives, so that its
// decryption and reading overlap the transfer.
#pragma once

#include <cstdint>

#include "qor/connection.h"

namespace qor::agent {

// Where a body read piecewise goes.
class BodySink {
 public:
  // Room for a body of |length| bytes under |opcode|, or nullptr to have the
  // body read whole into the packet as ReadPacket reads it.
  virtual unsigned char* Begin(uint8_t opcode, uint32_t length) = 0;
  // The first |received| bytes of the room have arrived.
  virtual void Arrived(uint32_t received) = 0;

 protected:
  ~BodySink() = default;
};

// ReadPacket, except that a body |sink| takes is read into its room (the
// packet then holds the opcode and length but no data). Refusals (operation
// 0) and empty bodies are always read whole. 0 when the whole answer
// arrived, -1 otherwise (recorded, as ReadPacket records it).
int ReadPacketInto(Connection* connection, Packet* packet, BodySink* sink);

}  // namespace qor::agent
