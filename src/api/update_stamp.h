// The agent's update stamp: eight bytes the agent rewrites when it publishes
// a new key set, compared by every call. Read with pread from one descriptor
// held open for the life of the process, never mapped: a mapped file that is
// truncated raises SIGBUS in the host on the next read, and a mapping per
// initialisation would pile up towards the process's map limit.
#pragma once

#include <atomic>
#include <cstdint>

#include "qor/error.h"

namespace qor::api {

class UpdateStamp {
 public:
  // Opens the stamp at |path| and reads it into |*value|: 0, or 1 with
  // error 2000 in |error|. A later Open reuses the same descriptor number,
  // so no number of re-initialisations costs more than one descriptor.
  // Callers serialise Open.
  int Open(const char* path, ErrorInfo* error, uint64_t* value);
  // The stamp's eight bytes now: false when it is not open or the file no
  // longer holds eight bytes. Safe from any thread at any time.
  bool Read(uint64_t* value) const;

 private:
  std::atomic<int> fd_{-1};
  std::atomic<bool> usable_{false};
};

}  // namespace qor::api
