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

// Wipes and frees a block that may hold key material.
void WipeAndFree(DataBuffer* block);

}  // namespace qor::agent
