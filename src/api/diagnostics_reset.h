// The "clear-all" report: what the instance runs with before and after its
// key set and configuration are released.
#pragma once

#include <cstddef>

namespace qor::api {

// Writes the before/after report into |out| (|size| bytes with the
// terminator; nothing without |out|) and clears the instance in between.
// Returns 0.
int ClearAllReport(char* out, size_t size);

}  // namespace qor::api
