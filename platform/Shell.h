#pragma once
// ShellExecuteA(..., "open", target, ...): hands a file or a link to the desktop's opener.

#include <string>
#include <vector>

#include "platform/Process.h"

namespace muralo {

// Spawns "xdg-open target" detached. The program ignores the result; true when the opener could
// be started.
bool ShellOpen(const std::string& target);
bool ShellOpen(const std::string& target, TCommandRunner& runner);

// The MIME types a CHM file goes by (shared-mime-info's name and its older alias).
inline const std::vector<std::string> ChmMimeTypes = {"application/vnd.ms-htmlhelp", "application/x-chm"};
// Whether the desktop has a default program for one of the MIME types ("xdg-mime query default").
bool HasOpenerFor(const std::vector<std::string>& mimeTypes);
bool HasOpenerFor(const std::vector<std::string>& mimeTypes, TCommandRunner& runner);

}  // namespace muralo
