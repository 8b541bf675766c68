// Where the library file itself lives, and what the system says about itself.
#include <dlfcn.h>
#include <link.h>
#include <strings.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "qor/qoutil.h"

namespace {

// dladdr names the main program by its argv[0], which may be relative or bare;
// the kernel knows its real path.
std::string ResolveModuleFile(const void* address) {
  Dl_info info{};
  link_map* map = nullptr;
  if (dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0) return {};
  if (map != nullptr && (map->l_name == nullptr || map->l_name[0] == '\0')) {
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
    if (n > 0) return std::string(exe, static_cast<size_t>(n));
  }
  if (info.dli_fname == nullptr || info.dli_fname[0] == '\0') return {};
  if (info.dli_fname[0] != '/') {
    char full[PATH_MAX];
    if (realpath(info.dli_fname, full) != nullptr) return full;
  }
  return info.dli_fname;
}

int StoreText(const std::string& text, char* out, int size) {
  if (text.size() >= static_cast<size_t>(size)) return -1;
  std::memcpy(out, text.c_str(), text.size() + 1);
  return 0;
}

}  // namespace

extern "C" {

QOR_API int QOUtil_GetModulePath(const void* address, char* out, int size) {
  if (out == nullptr || size < 1) return -1;
  if (address == nullptr) address = reinterpret_cast<const void*>(&QOUtil_GetModulePath);
  const std::string path = ResolveModuleFile(address);
  if (path.empty()) return -1;
  return StoreText(path, out, size);
}

QOR_API int QOUtil_GetModulePathNameOnly(const void* address, char* out, int size) {
  if (address == nullptr) address = reinterpret_cast<const void*>(&QOUtil_GetModulePath);
  if (QOUtil_GetModulePath(address, out, size) != 0) return -1;
  if (char* slash = std::strrchr(out, '/'); slash != nullptr) *slash = '\0';
  return 0;
}

QOR_API int QOUtil_GetModuleFileNameOnly(const void* address, char* out, int size) {
  if (out == nullptr || size < 1) return -1;
  if (address == nullptr) address = reinterpret_cast<const void*>(&QOUtil_GetModulePath);
  char path[256];
  if (QOUtil_GetModulePath(address, path, sizeof(path)) != 0) return -1;
  const char* slash = std::strrchr(path, '/');
  return StoreText(slash != nullptr ? slash + 1 : path, out, size);
}

QOR_API int QOUtil_GetSystemInfo(struct utsname* buffer) {
  if (buffer == nullptr) return -1;
  return uname(buffer) == 0 ? 0 : -1;
}

QOR_API int QOUtil_GetNumberOfCPU(void) {
  const long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n < 1 ? 1 : static_cast<int>(n);
}

QOR_API int QOUtil_GetUnixSysName(void) {
  struct utsname name {};
  if (uname(&name) != 0) return QOUTIL_OS_OTHER;
  static constexpr const char* kNames[] = {"LINUX", "SUNOS", "HP_UX", "AIX"};
  for (int i = 0; i < 4; ++i) {
    if (strcasecmp(name.sysname, kNames[i]) == 0) return i;
  }
  return QOUTIL_OS_OTHER;
}

QOR_API int QOUtil_isLittleEndian(void) { return 1; }

QOR_API int QOUtil_GetMacAddress(void) { return 0; }

}  // extern "C"
