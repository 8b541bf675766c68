// Makes fork() safe for the library in a multi-threaded host: every
// process-wide lock of the library is taken before a fork and released after
// it in parent and child, so the child never starts with a lock held by a
// thread it does not have.
#pragma once

namespace qor::api {

// Installs the fork handlers once per process (later calls do nothing).
void InstallForkHandlers();

}  // namespace qor::api
