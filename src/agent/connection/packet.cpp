// Building and releasing packets: a first record and a chain of further ones.
#include <cstdlib>
#include <cstring>

#include "qor/connection.h"

extern "C" {

int RecordAdd(Packet* packet, int32_t length, unsigned char* bytes) {
  if (packet == nullptr || bytes == nullptr || length < 1) return -1;
  if (packet->data == nullptr && packet->length == 0) {
    packet->data = bytes;
    packet->length = length;
  } else {
    auto* record = static_cast<PacketRecord*>(std::malloc(sizeof(PacketRecord)));
    if (record == nullptr) return -1;
    *record = PacketRecord{length, bytes, nullptr};
    PacketRecord** end = &packet->records;
    while (*end != nullptr) end = &(*end)->next;
    *end = record;
  }
  ++packet->recordCount;
  return 0;
}

int GenPacket(uint8_t opcode, const DataBuffer* data, Packet* packet) {
  if (packet == nullptr || data == nullptr || data->data == nullptr || data->length < 1) return -1;
  auto* copy = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(data->length) + 1));
  if (copy == nullptr) return -1;
  std::memcpy(copy, data->data, static_cast<size_t>(data->length));
  copy[data->length] = 0;
  if (RecordAdd(packet, data->length, copy) != 0) {
    std::free(copy);
    return -1;
  }
  packet->opcode = opcode;
  return 0;
}

int DestroyPacket(Packet* packet) {
  if (packet == nullptr) return 0;
  std::free(packet->data);
  for (PacketRecord* record = packet->records; record != nullptr;) {
    PacketRecord* next = record->next;
    std::free(record->data);
    std::free(record);
    record = next;
  }
  *packet = Packet{};
  return 0;
}

}  // extern "C"
