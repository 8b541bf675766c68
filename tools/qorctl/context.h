// The line of context qorctl adds under the library's failure line when it
// knows more than the message says: the variable that is missing, the
// addresses and files that were tried, what the loaded key set holds.
#pragma once

#include <string>

namespace qorctl {

// "" when there is nothing to add for |code| and |message|.
std::string ContextFor(int code, const std::string& message);

// The system's text for the "[code:N]" a connection message starts with
// ("connection refused"), or "".
std::string SystemReason(const std::string& message);

}  // namespace qorctl
