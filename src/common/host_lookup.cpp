#include "common/host_lookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace qor::host {

Lookup HostName(char* out, size_t size) {
  if (gethostname(out, size) != 0) return Lookup::kSystemFailed;
  out[size - 1] = '\0';  // a name that filled the buffer carries no terminator
  return Lookup::kOk;
}

namespace {

std::atomic<Resolver> g_resolver{nullptr};

}  // namespace

bool SystemResolve(const char* name, in_addr* address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr) return false;
  bool resolved = false;
  for (const addrinfo* it = found; it != nullptr; it = it->ai_next) {
    if (it->ai_family != AF_INET || it->ai_addr == nullptr) continue;
    *address = reinterpret_cast<const sockaddr_in*>(it->ai_addr)->sin_addr;
    resolved = true;
    break;
  }
  freeaddrinfo(found);
  return resolved;
}

void SetResolverForTesting(Resolver resolver) { g_resolver.store(resolver); }

Lookup AddressOf(const char* name, char* out, size_t size) {
  const Resolver replaced = g_resolver.load();
  in_addr address{};
  if (!(replaced != nullptr ? replaced(name, &address) : SystemResolve(name, &address))) {
    return Lookup::kResolveFailed;
  }
  char text[INET_ADDRSTRLEN];
  if (inet_ntop(AF_INET, &address, text, sizeof(text)) == nullptr) return Lookup::kResolveFailed;
  const size_t n = std::strlen(text);
  if (n >= size) return Lookup::kTooLong;
  std::memcpy(out, text, n + 1);
  return Lookup::kOk;
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
