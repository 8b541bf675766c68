// The exported host lookups: the lookups themselves are common utilities that
// do not log; these wrappers report their failures in the API log.
#include <sys/utsname.h>

#include <cstring>

#include "common/host_lookup.h"
#include "log/log.h"
#include "qor/qoutil_host.h"

namespace {
constexpr char kLogUnit[] = "source/Common/QOUtil";
}  // namespace

using qor::host::Lookup;

extern "C" {

QOR_API int QOUtil_GetHostName(char* out, int size) {
  if (out == nullptr) {
    QOR_LOG(qor::log::kCrit, "pszOutBuffer is null\n");
    return -1;
  }
  if (size < 1) return -1;
  return qor::host::HostName(out, static_cast<size_t>(size)) == Lookup::kOk ? 0 : -1;
}

QOR_API int QOUtil_getCurLocalIP_unix(char* out, int size) {
  if (out == nullptr || size < 1) return -1;
  char node[sizeof(utsname::nodename)] = {0};
  switch (qor::host::LocalAddress(out, static_cast<size_t>(size), node, sizeof(node))) {
    case Lookup::kOk:
      return 0;
    case Lookup::kUnameFailed:
      QOR_LOG(qor::log::kCrit, "uname failed\n");
      return -1;
    case Lookup::kResolveFailed:
      QOR_LOG(qor::log::kCrit, "getaddrinfo failed [hostname : %s ]\n", node);
      return -1;
    default:
      return -1;
  }
}

QOR_API int GetIP(char* out, int size) { return QOUtil_getCurLocalIP_unix(out, size); }

QOR_API int QOUtil_GetIPAddressByHostname(const char* name, char* out) {
  if (out == nullptr) {
    QOR_LOG(qor::log::kCrit, "pszOutBuffer is null\n");
    return -1;
  }
  if (name == nullptr) return -1;
  return qor::host::AddressOf(name, out, 20) == Lookup::kOk ? 0 : -1;
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
