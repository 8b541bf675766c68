// The key and policy downloads of the agent socket object. Until they are
// built, each reports that it cannot load keys.
#include "agent/socket/socket_internal.h"
#include "common/error_codes.h"
#include "common/error_record.h"
#include "log/log.h"

namespace {
constexpr char kLogUnit[] = "source/QORSocket";

int NotAvailable(QORSocket* socket, const char* function) {
  qor::agent::SocketState* state = qor::agent::StateOf(socket);
  if (state == nullptr) return -1;
  qor::ErrorSet(&state->error, qor::err::kGeneral, "%s is not available: keys cannot be loaded",
                function);
  QOR_LOG_AS(function, qor::log::kCrit, "key download is not available\n");
  return 1;
}
}  // namespace

namespace qor::agent {

int GetKeyMgrFromQORServer(QORSocket* socket, KeyMgr**, QORApiConf*) {
  return NotAvailable(socket, __func__);
}

int GetSpecficKeyFromQORServer(QORSocket* socket, KeyMgr*, QORApiConf*, int, const char*, int) {
  return NotAvailable(socket, __func__);
}

int GetKeyMgrUpdateFromQORServer(QORSocket* socket, KeyMgr**, QORApiConf*) {
  return NotAvailable(socket, __func__);
}

int AppendPolicyFromQORServer(QORSocket* socket, KeyMgr*, QORApiConf*) {
  return NotAvailable(socket, __func__);
}

}  // namespace qor::agent
