// version and --version: qorctl's own version and the library's.
#include <cstdio>

#include "qorapi.h"
#include "qorctl.h"

namespace qorctl {

int Version() {
  char library[16] = {0};
  QOR_GetVersionEx(library);
  std::printf("qorctl %s\nlibqorapi %s\n", QORCTL_VERSION, library);
  return kExitOk;
}

}  // namespace qorctl
