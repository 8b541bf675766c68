// Deep copies of a policy's access-rule entries.
#pragma once

#include "qor/access_control.h"

namespace qor::engine {

// Copies the entry list |source| into *|copy| (NULL for NULL): each entry's four
// rule lists, its date pair when the date-from text is set, its time pair when
// the time-from text is set, and its two flags. False without memory (nothing
// is left allocated).
bool CopyAccessControlList(const AccessControlData* source, AccessControlData** copy);

}  // namespace qor::engine
