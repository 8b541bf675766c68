// The fallback when neither agent answers: the emergency policy file under
// the agent home.
#include "agent/download/download_internal.h"
#include "agent/emergency/emergency_file.h"
#include "common/error_codes.h"
#include "common/error_record.h"
#include "log/log.h"

namespace qor::agent {

namespace {
constexpr char kLogUnit[] = "source/QORSocket";
}  // namespace

FileRecord GetPolicyInfoFromFile(const char* home, DataBuffer* record, ErrorInfo* errorRecord) {
  *record = {0, nullptr};
  // No file leaves the agents' connection error as the reason.
  switch (LoadEmergencyPolicy(home, record, nullptr)) {
    case EmergencyLoad::kOk:
      return FileRecord::kRead;
    case EmergencyLoad::kNoFile:
      return FileRecord::kMissing;
    case EmergencyLoad::kNoSecret:
    case EmergencyLoad::kUnreadable:
      break;
  }
  ErrorSet(errorRecord, err::kGeneral, "failed to ReadPolicyFile");
  QOR_LOG_AS("GetPolicyInfoFromFile", log::kCrit, "%s\n", "failed to ReadPolicyFile");
  *record = {0, nullptr};
  return FileRecord::kUnreadable;
}

}  // namespace qor::agent
