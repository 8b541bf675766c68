// The parser's process-wide audit switch and the keyword tables it applies.
#pragma once

#include <atomic>
#include <cstdint>

#include "qor/key_mgr.h"
#include "qor/policy.h"

namespace qor::agent {

// Set to 1 when any parsed policy switches an audit item on; never cleared by
// the parser. The key download reads it to start the audit files.
extern std::atomic<int> AuditFlag;

// Option codes of the policy keywords (texts as the agent sends them; a null
// text is an absent item).
int32_t IvTypeOf(const char* text);
int32_t ErrorProcessOf(const char* text);
int32_t DuplicationOf(const char* text);
int32_t PositionOf(const char* text);
int32_t CompatibilityOf(const char* text, int32_t configCompatibility);
int32_t DecryptCountUnitOf(const char* text);
int32_t UnauthorizedDecryptionOf(const char* text);
int32_t PrioOf(const char* text);
int32_t TargetExistOf(const char* text);
int32_t OrgFileHandlingOf(const char* text, const char* backupExtension);

// Hands one read policy to |mgr|'s AddKeyInfo, as the record parser does;
// |nameLength| is the length of its name item.
void AddParsedPolicy(KeyMgr* mgr, const PolicyData& policy, uint32_t nameLength,
                     int32_t cryptoMode, int32_t configCompatibility);

}  // namespace qor::agent
