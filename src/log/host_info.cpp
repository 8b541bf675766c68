#include "log/host_info.h"

#include <cstdlib>
#include <cstring>

#include "log/lwl_handle.h"
#include "qor/qoutil_host.h"

namespace qor::log {

void LookUpHost(lwl_s* handle) {
  char name[256] = {0};
  if (QOUtil_GetHostName(name, static_cast<int>(sizeof(name))) == 0) {
    free(handle->hostName);
    handle->hostName = strdup(name);
  }
  char ip[sizeof(handle->hostIp)] = {0};
  if (GetIP(ip, static_cast<int>(sizeof(ip))) == 0) memcpy(handle->hostIp, ip, sizeof(ip));
}

}  // namespace qor::log
