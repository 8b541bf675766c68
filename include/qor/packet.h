/* One message to or from the agent, held as a chain of records. */
#ifndef QOR_PACKET_H
#define QOR_PACKET_H

#include <stdint.h>

#include "qor/export.h"

QOR_BEGIN_DECLS

/* A further piece of a packet; |data| is owned by the packet. */
typedef struct PacketRecord {
  int32_t length;
  unsigned char *data;
  struct PacketRecord *next;
} PacketRecord;

/* A packet: operation code, number of records, the first record inline and
 * the chain of further ones. Every data buffer is owned by the packet. */
typedef struct Packet {
  uint8_t opcode;
  int32_t recordCount;
  int32_t length;
  unsigned char *data;
  PacketRecord *records;
} Packet;

QOR_END_DECLS

#endif
