#include "api/error_record.h"

namespace {
ErrorInfo g_last_error_placeholder;
}

ErrorInfo* qor::LastErrorRecord() { return &g_last_error_placeholder; }
