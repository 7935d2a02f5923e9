#pragma once
// How the platform layer tells the user what went wrong or what it chose, without printing itself:
// one process-wide callback that the program and the tool set at start (they show the text on
// stderr, tests capture it). Until one is set, messages go nowhere.

#include <functional>
#include <string>

namespace muralo {

// One line of text, in French, without the program's name or a line end.
using TPlatformReporter = std::function<void(const std::string& message)>;

// Sets the callback (an empty one silences the layer); returns the previous one.
TPlatformReporter SetPlatformReporter(TPlatformReporter reporter);

// Hands a message to the callback, if any.
void PlatformReport(const std::string& message);

// The reporter the program and the tool use: "<program>: <message>" on stderr.
TPlatformReporter StderrReporter(const std::string& program);

}  // namespace muralo
