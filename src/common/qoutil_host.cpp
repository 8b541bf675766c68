// Host name and IPv4 address lookups.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstring>

#include "log/log.h"
#include "qor/qoutil.h"

namespace {

constexpr char kLogUnit[] = "source/Common/QOUtil";

// First IPv4 address of |name| as dotted text: 0, -1 when the lookup failed,
// -2 when the text does not fit |size| bytes.
int FirstIPv4(const char* name, char* out, size_t size) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr) return -1;
  int result = -1;
  for (const addrinfo* it = found; it != nullptr; it = it->ai_next) {
    if (it->ai_family != AF_INET || it->ai_addr == nullptr) continue;
    const auto* address = reinterpret_cast<const sockaddr_in*>(it->ai_addr);
    char text[INET_ADDRSTRLEN];
    if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof(text)) == nullptr) break;
    const size_t n = std::strlen(text);
    if (n < size) {
      std::memcpy(out, text, n + 1);
      result = 0;
    } else {
      result = -2;
    }
    break;
  }
  freeaddrinfo(found);
  return result;
}

}  // namespace

extern "C" {

QOR_API int QOUtil_GetHostName(char* out, int size) {
  if (out == nullptr) {
    QOR_LOG(2, "pszOutBuffer is null\n");
    return -1;
  }
  if (size < 1) return -1;
  if (gethostname(out, static_cast<size_t>(size)) != 0) return -1;
  out[size - 1] = '\0';  // a name that filled the buffer carries no terminator
  return 0;
}

QOR_API int QOUtil_getCurLocalIP_unix(char* out, int size) {
  if (out == nullptr || size < 1) return -1;
  struct utsname name {};
  if (uname(&name) != 0) {
    QOR_LOG(2, "uname failed\n");
    return -1;
  }
  const int rc = FirstIPv4(name.nodename, out, static_cast<size_t>(size));
  if (rc == -1) QOR_LOG(2, "getaddrinfo failed [hostname : %s ]\n", name.nodename);
  return rc == 0 ? 0 : -1;
}

QOR_API int GetIP(char* out, int size) { return QOUtil_getCurLocalIP_unix(out, size); }

QOR_API int QOUtil_GetIPAddressByHostname(const char* name, char* out) {
  if (out == nullptr) {
    QOR_LOG(2, "pszOutBuffer is null\n");
    return -1;
  }
  if (name == nullptr) return -1;
  return FirstIPv4(name, out, 20) == 0 ? 0 : -1;
}

QOR_API int QOUtil_getHostIP(char* out, int size) {
  if (out == nullptr || size < 1) return -1;
  char host[256];
  if (QOUtil_GetHostName(host, sizeof(host)) != 0) return -1;
  char address[20];
  if (QOUtil_GetIPAddressByHostname(host, address) != 0) return -1;
  if (std::strlen(address) >= static_cast<size_t>(size)) return -1;
  std::memcpy(out, address, std::strlen(address) + 1);
  return 0;
}

}  // extern "C"
