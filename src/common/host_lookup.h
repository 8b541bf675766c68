// Host name and IPv4 address lookups. They report why a lookup failed and
// leave the logging to their callers.
#pragma once

#include <netinet/in.h>

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

// Name to first IPv4 address: true and |*address| filled, or false when the
// name does not resolve. SystemResolve asks the system (getaddrinfo).
using Resolver = bool (*)(const char* name, in_addr* address);
bool SystemResolve(const char* name, in_addr* address);
// Tests only: every lookup above goes through |resolver| from now on, so a
// test can make names fail without asking a real name server; nullptr
// restores SystemResolve.
void SetResolverForTesting(Resolver resolver);

}  // namespace qor::host
