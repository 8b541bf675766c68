// Checks an operator's tool runs besides the status reports: the server
// behind the agent, the crypto self test, a bare connection test, a single
// key fetch, this host's name and address, and the version text.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "agent/socket/qor_socket.h"
#include "common/last_error.h"
#include "api/instance.h"
#include "config/build.h"
#include "qor/config.h"
#include "qor/crypto_service.h"
#include "qor/qoutil.h"
#include "qor/qoutil_host.h"
#include "qor/test_entries.h"
#include "qorapi.h"

namespace {

constexpr int kServerCheckTimeLimitMs = 6000;
constexpr int kHostTextSize = 256;
constexpr int kCheckAgentExSize = 2048;

// The server is asked through the first agent only. A configuration built
// here is not the instance's: a later initialisation builds its own.
int CheckServer() {
  QORApiData copy;
  QORApiConf* own = nullptr;
  const QORApiData* data = nullptr;
  if (qor::api::CopyConfigData(&copy)) {
    data = &copy;
  } else {
    own = qor::config::Build(qor::LastErrorRecord(), Filter_level.load());
    if (own == nullptr) return 1;
    data = own->data;
  }
  QORSocket* socket = qor::api::CreateAgentSocket(data, false, kServerCheckTimeLimitMs);
  int result = 1;
  if (socket != nullptr) {
    result = socket->HealthCheckServer(socket) != 0 ? 1 : 0;
    socket->Destroy(&socket);
  }
  if (own != nullptr) API_Destroy(own);
  return result;
}

// A new 256-byte text filled by |fill|, or nullptr when it fails.
char* HostText(int (*fill)(char* out, int size)) {
  char* text = static_cast<char*>(std::calloc(kHostTextSize, 1));
  if (text != nullptr && fill(text, kHostTextSize) != 0) {
    std::free(text);
    return nullptr;
  }
  return text;
}

int TextLength(const char* out, int size) {
  if (out == nullptr || size <= 0) return 0;
  return static_cast<int>(strnlen(out, static_cast<size_t>(size)));
}

}  // namespace

extern "C" {

QOR_API int QOR_HealthCheckServer(void) { return CheckServer(); }

QOR_API int QOR_CheckCryptoModule(void) { return Self_Test() == 0 ? 0 : 1; }

QOR_API int QOR_Connect_test(const char* address, int port, int opcode) {
  return Connect_test(address, static_cast<uint16_t>(port), opcode);
}

QOR_API int Test_QOR_AddKey(const char* keyName, int version) {
  return qor::api::FetchKeyVersion(keyName, version);
}

QOR_API int test(int value) { return value + 1; }

QOR_API int QOR_GetVersionEx(char* out) {
  if (out == nullptr) return -1;
  std::snprintf(out, 13, "%s.%s.%sRN%s%s%s%s", "3", "7", "3", "2", "0", "26", "7");
  return 0;
}

QOR_API char* QOR_GetHostName(void) { return HostText(QOUtil_GetHostName); }

QOR_API char* QOR_GetHostIP(void) { return HostText(GetIP); }

QOR_API int QOR_checkAgentFilter(char* out, int size, const char* command) {
  QOR_AgentChecker_GetInfo(command, out, size);
  return TextLength(out, size);
}

QOR_API int QOR_checkAgentEx(char* out, const char* command) {
  return QOR_checkAgentFilter(out, kCheckAgentExSize, command);
}

}  // extern "C"
