#include "platform/Shell.h"

namespace muralo {

bool ShellOpen(const std::string& target, TCommandRunner& runner) {
  if (target.empty()) return false;
  // The opener is started detached and not waited for: it may hand the file to a program that
  // runs for hours. "--" is not passed: xdg-open takes exactly one argument.
  return runner.Spawn({"xdg-open", target}) > 0;
}

bool ShellOpen(const std::string& target) { return ShellOpen(target, SystemCommandRunner()); }

bool HasOpenerFor(const std::vector<std::string>& mimeTypes, TCommandRunner& runner) {
  for (const std::string& type : mimeTypes) {
    std::string desktopFile;
    if (runner.Run({"xdg-mime", "query", "default", type}, &desktopFile) == 0 &&
        desktopFile.find_first_not_of(" \t\r\n") != std::string::npos)
      return true;
  }
  return false;
}

bool HasOpenerFor(const std::vector<std::string>& mimeTypes) { return HasOpenerFor(mimeTypes, SystemCommandRunner()); }

}  // namespace muralo
