// The process-wide last-error record: the end of every chain, and its setter.
#pragma once

#include "common/error_record.h"

namespace qor {

// The instance's own record: the end of every chain.
ErrorInfo* LastErrorRecord();

}  // namespace qor

// The instance record's setter: keeps the old message when |text| is empty.
void ErrorInfo_Set(int code, const char* text);
