// Host name and IPv4 address lookups. They report why a lookup failed and
// leave the logging to their callers.
#pragma once

#include <cstddef>

namespace qor::host {

enum class Lookup { kOk, kUnameFailed, kResolveFailed, kTooLong, kSystemFailed };

// gethostname into |out| (|size| > 0 bytes), always zero-terminated.
Lookup HostName(char* out, size_t size);
// First IPv4 address of |name| as dotted text into |out| (|size| bytes).
Lookup AddressOf(const char* name, char* out, size_t size);
// First IPv4 address of this machine's node name; the node name goes to
// |node| (|nodeSize| bytes) so the caller can say which name failed.
Lookup LocalAddress(char* out, size_t size, char* node, size_t nodeSize);

}  // namespace qor::host
