// version and --version: qorctl's own version and the library's.
#include <cstdio>

#include "qorapi.h"
#include "qorctl.h"

namespace qorctl {

int Version() {
  std::printf("qorctl %s\n", QORCTL_VERSION);
  return kExitOk;
}

}  // namespace qorctl
