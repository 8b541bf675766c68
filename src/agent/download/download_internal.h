// Pieces of the key download shared by the socket's key operations.
#pragma once

#include <cstdint>

#include "qor/connection.h"
#include "qor/data_buffer.h"
#include "qor/error.h"
#include "qor/key_mgr.h"

struct QORSocket;

namespace qor::agent {

// The emergency policy file under |home| read into |record| (a new block the
// caller wipes and frees).
enum class FileRecord { kRead, kMissing, kUnreadable };
FileRecord GetPolicyInfoFromFile(const char* home, DataBuffer* record, ErrorInfo* errorRecord);

// Reads one single-key answer |plain| into a new version of |info|'s policy
// and adds it. 0 added; -1 with the reason logged (nothing added).
int AddKeyRecord(const DataBuffer& plain, KeyInfo* info, int32_t cryptoMode, const char* name,
                 int version);

// Checks |record| (from |source|: "agent answer", "emergency policy file")
// against its policy hash and parses it into |mgr|: true when it holds at
// least one policy. Otherwise code 1 and the reason go to |error| and the log
// (under |function|), and |mgr| may hold a part.
bool LoadCheckedRecord(const DataBuffer& record, KeyMgr* mgr, int32_t cryptoMode,
                       int32_t compatibility, ErrorInfo* error, const char* function,
                       const char* source);

// Remembers that the emergency file under |home| as it is now could not be
// loaded (the reason is the last of |error|'s chain), so the next calls do
// not read and decrypt it again while it stays the same.
void NoteFailedFileLoad(const char* home, const ErrorInfo* error);

// Wipes and frees a block that may hold key material.
void WipeAndFree(DataBuffer* block);

}  // namespace qor::agent
