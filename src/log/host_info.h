#pragma once

struct lwl_s;

namespace qor::log {
// Fills the handle's host name and first IPv4 address for the host fields.
void LookUpHost(lwl_s* handle);
}  // namespace qor::log
