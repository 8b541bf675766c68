// Setters of error records. Every object that reports errors embeds a record
// linked to its caller's; errors always land in the last record of the chain.
// One process-wide lock covers every record, so a reader copying the last
// message never sees half of an update.
#pragma once

#include <mutex>

#include "qor/error.h"

namespace qor {

// The lock shared by every setter and by the exported readers.
std::mutex& ErrorLock();

// The last record of |record|'s chain. Call with ErrorLock() held.
ErrorInfo* ErrorChainEnd(ErrorInfo* record);

// Stores |code| and the formatted message (at most 1022 characters).
void ErrorSet(ErrorInfo* record, int code, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Code 0 and an empty message in every record of the chain.
void ErrorClearChain(ErrorInfo* record);

}  // namespace qor
