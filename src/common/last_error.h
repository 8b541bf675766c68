// The process-wide last-error record: the end of every chain, its setter and
// (exported through qor/error.h) its readers.
#pragma once

#include "common/error_record.h"

namespace qor {

// The library's own record: the end of every chain. Lives as long as the
// process; host threads may still read it while the process exits.
ErrorInfo* LastErrorRecord();

}  // namespace qor

// The instance record's setter: keeps the old message when |text| is empty.
void ErrorInfo_Set(int code, const char* text);
