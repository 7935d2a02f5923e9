#pragma once
// Helpers every test area shares: a temporary folder, shell quoting, and running the independent
// tools (ImageMagick, netpbm, libtiff, libjpeg-turbo, Pillow) whose output the tests compare with.

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include <stdlib.h>

namespace muralo::test {

// A folder under the system's temporary directory, removed with everything in it at the end.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "muralo-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    Path = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(Path, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string operator/(const std::string& name) const { return (Path / name).string(); }
  std::string File(const std::string& name) const { return (Path / name).string(); }
  const std::filesystem::path& path() const { return Path; }

  std::filesystem::path Path;
};

// A string quoted for the POSIX shell.
inline std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

inline bool ToolAvailable(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs an oracle command; a missing tool or a failing command fails the test loudly.
inline void RunOracle(const std::string& tool, const std::string& arguments) {
  if (!ToolAvailable(tool)) throw std::runtime_error("oracle tool missing: " + tool + " (see scripts/install-deps)");
  const std::string command = tool + " " + arguments;
  if (std::system(command.c_str()) != 0) throw std::runtime_error("oracle command failed: " + command);
}

// The same for a whole command line whose first word is the tool.
inline void RunTool(const std::string& command) {
  const std::string tool = command.substr(0, command.find(' '));
  RunOracle(tool, command.size() > tool.size() ? command.substr(tool.size() + 1) : std::string());
}

}  // namespace muralo::test
