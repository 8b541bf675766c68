#include "common/host_lookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstring>

namespace qor::host {

Lookup HostName(char* out, size_t size) {
  if (gethostname(out, size) != 0) return Lookup::kSystemFailed;
  out[size - 1] = '\0';  // a name that filled the buffer carries no terminator
  return Lookup::kOk;
}

Lookup AddressOf(const char* name, char* out, size_t size) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr) {
    return Lookup::kResolveFailed;
  }
  Lookup result = Lookup::kResolveFailed;
  for (const addrinfo* it = found; it != nullptr; it = it->ai_next) {
    if (it->ai_family != AF_INET || it->ai_addr == nullptr) continue;
    const auto* address = reinterpret_cast<const sockaddr_in*>(it->ai_addr);
    char text[INET_ADDRSTRLEN];
    if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof(text)) == nullptr) break;
    const size_t n = std::strlen(text);
    if (n < size) {
      std::memcpy(out, text, n + 1);
      result = Lookup::kOk;
    } else {
      result = Lookup::kTooLong;
    }
    break;
  }
  freeaddrinfo(found);
  return result;
}

Lookup LocalAddress(char* out, size_t size, char* node, size_t nodeSize) {
  struct utsname name {};
  if (uname(&name) != 0) return Lookup::kUnameFailed;
  if (node != nullptr && nodeSize > 0) {
    const size_t n = strnlen(name.nodename, nodeSize - 1);
    std::memcpy(node, name.nodename, n);
    node[n] = '\0';
  }
  return AddressOf(name.nodename, out, size);
}

}  // namespace qor::host
