#pragma once
// ShellExecuteA(..., "open", target, ...): hands a file or a link to the desktop's opener.

#include <string>

#include "platform/Process.h"

namespace muralo {

// Spawns "xdg-open target" detached. The program ignores the result; true when the opener could
// be started.
bool ShellOpen(const std::string& target);
bool ShellOpen(const std::string& target, TCommandRunner& runner);

}  // namespace muralo
