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

// Code 0 and an empty message in every record of the chain. Records that are
// already clear are only read, without the lock, so callers clearing a chain
// on every value call do not queue on the lock or bounce the shared record.
void ErrorClearChain(ErrorInfo* record);

// Stores |code| in the last record of the chain, leaving its message; a
// record that already holds |code| is left untouched, without the lock.
void ErrorSetChainCode(ErrorInfo* record, int code);

// Writes of a record's code and of its message's first byte go through these
// (under ErrorLock()), so the lock-free checks above may read them.
void ErrorStoreCode(ErrorInfo* record, int code);
void ErrorStoreLead(ErrorInfo* record, char lead);

}  // namespace qor
