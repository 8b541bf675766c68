#include "log/host_info.h"

#include <netdb.h>
#include <arpa/inet.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "log/lwl_handle.h"

namespace qor::log {

void LookUpHost(lwl_s* handle) {
  char name[256] = {0};
  if (gethostname(name, sizeof(name) - 1) != 0) return;
  free(handle->hostName);
  handle->hostName = strdup(name);
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &result) != 0 || result == nullptr) return;
  const auto* address = reinterpret_cast<const sockaddr_in*>(result->ai_addr);
  inet_ntop(AF_INET, &address->sin_addr, handle->hostIp, sizeof(handle->hostIp));
  freeaddrinfo(result);
}

}  // namespace qor::log
