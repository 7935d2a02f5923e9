#pragma once
// The framework's warning channel. Library code never prints: a warning (a title such as
// gesWarning and a text) goes to the handler the host installed — the program shows a message box,
// muralo-img prints it on stderr, tests capture it. Without a handler warnings are dropped.

#include <functional>
#include <string>

namespace muralo {

using TWarningHandler = std::function<void(const std::string& title, const std::string& text)>;

// Installs the handler and answers the previous one.
TWarningHandler SetWarningHandler(TWarningHandler handler);
void RaiseWarning(const std::string& title, const std::string& text);

}  // namespace muralo
