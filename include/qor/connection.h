/* TCP connections to a QOR Agent and the framed messages they carry.
 *
 * Every message on the wire is a five-byte header (operation code, body length
 * as unsigned 32-bit big-endian) followed by the body. A sent packet carries
 * its header inside its first record; a read packet holds the header's fields
 * and the body. */
#ifndef QOR_CONNECTION_H
#define QOR_CONNECTION_H

#include <stdint.h>

#include "qor/data_buffer.h"
#include "qor/error.h"

QOR_BEGIN_DECLS

/* Longest host text a connection keeps (plus the terminating zero). */
#define QOR_CONNECTION_HOST_MAX 44
/* Largest body ReadPacket accepts; a longer announced body is refused unread. */
#define QOR_PACKET_BODY_MAX (64u * 1024u * 1024u)

/* A further piece of a packet; |data| is owned by the packet. */
typedef struct PacketRecord {
  int32_t length;
  unsigned char *data;
  struct PacketRecord *next;
} PacketRecord;

/* One message. Start from an all-zero packet; release with DestroyPacket.
 * A read packet: |length| is the body length and |data| the body, followed by
 * two zero bytes. */
typedef struct Packet {
  uint8_t opcode;
  int32_t recordCount;
  int32_t length;            /* first record */
  unsigned char *data;       /* first record, owned */
  PacketRecord *records;     /* further records in sending order, owned */
} Packet;

typedef struct Connection Connection;
struct Connection {
  void *state;
  /* 0 connected, -1 failed (error recorded, no socket kept). */
  int (*Connect)(Connection *connection);
  /* Closes the socket; always 0. */
  int (*Disconnect)(Connection *connection);
  /* Reads one message into |packet| (an empty packet): 0, or -1 when nothing
   * usable arrived or the peer refused (operation code 0). */
  int (*ReadPacket)(Connection *connection, Packet *packet);
  /* Sends the records' bytes exactly as they are: 0 or -1. */
  int (*SendPacket)(Connection *connection, Packet *packet);
  /* The host text (owned by the connection); empty for an accepted socket. */
  const char *(*GetServerIPAddress)(Connection *connection);
  uint16_t (*GetServerPort)(Connection *connection);
  /* Links the connection's error record to |record|: errors land at the end
   * of that chain from now on. */
  void (*SetErrorVariable)(Connection *connection, ErrorInfo *record);
  /* 0 when the host is a dotted IPv4 address, else -1. */
  int (*IsValidIPAddress)(Connection *connection);
  /* 0 for a port from 1 to 65534, else -1. */
  int (*IsValidPort)(Connection *connection);
  /* Disconnects, frees the object and sets *|connection| to NULL. */
  void (*Destroy)(Connection **connection);
  /* Accepted sockets only (NULL otherwise): 1. */
  int (*IsAcceptSock)(Connection *connection);
};

/* New unconnected connection to |host| (at most 44 characters) and |port|;
 * every wait is bounded by |timeLimitMs|. NULL for an absent or long host or
 * no memory. Free with its Destroy slot. */
QOR_API Connection *Connection_Create(const char *host, uint16_t port, int mode,
                                      int64_t timeLimitMs);
/* Wraps the accepted socket |socket| (the connection closes it on Disconnect
 * and Destroy); Connect reports success. NULL when out of memory. */
QOR_API Connection *AcceptConnection_Create(int socket, int mode, int64_t timeLimitMs,
                                            int32_t value);

/* Sets |packet|'s operation code and adds a copy of |data| (length + 1 bytes,
 * the last one zero) as a record: 0, or -1 for no data or no memory (the
 * packet is then unchanged). */
QOR_API int GenPacket(uint8_t opcode, const DataBuffer *data, Packet *packet);
/* Adds |bytes| (|length| > 0, allocated with malloc) as the first record or at
 * the end of the further records; the packet owns them once 0 is returned.
 * -1 for bad arguments or no memory (|bytes| stay the caller's). */
QOR_API int RecordAdd(Packet *packet, int32_t length, unsigned char *bytes);
/* Frees every record of |packet| and leaves it empty; always 0. */
QOR_API int DestroyPacket(Packet *packet);

QOR_END_DECLS

#endif
