// Setters of the error record. Every error lands in the last record of the
// chain it is given; all setters and the copying reader share one lock.
#pragma once

#include "qor/error.h"

namespace qor {

// The instance's own record: the end of every chain.
ErrorInfo* LastErrorRecord();

// Stores |code| and the formatted message (at most 1022 characters).
void ErrorSet(ErrorInfo* record, int code, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Code 0 and an empty message in every record of the chain.
void ErrorClearChain(ErrorInfo* record);

}  // namespace qor

// The instance record's setter: keeps the old message when |text| is empty.
void ErrorInfo_Set(int code, const char* text);
