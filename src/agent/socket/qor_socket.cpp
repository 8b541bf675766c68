#include "agent/socket/qor_socket.h"

#include "common/error_record.h"
#include "log/log.h"

namespace {
constexpr char kLogUnit[] = "source/QORSocket";
}

// The agent protocol is not part of this build yet: creating a socket object
// fails, so initialisation reports that no key set could be loaded.
QORSocket* QORSocket_Create(const char* firstHost, uint16_t firstPort, const char* secondHost,
                            uint16_t secondPort, int timeLimitMs, ErrorInfo* record) {
  if (record != nullptr) {
    qor::ErrorSet(record, 1, "agent connection is not available [%s:%u]",
                  firstHost != nullptr ? firstHost : "NULL", firstPort);
  }
  QOR_LOG(qor::log::kCrit, "agent connection is not available [%s:%u]\n",
          firstHost != nullptr ? firstHost : "NULL", firstPort);
  return nullptr;
}
