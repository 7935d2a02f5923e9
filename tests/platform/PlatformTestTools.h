#pragma once
// Shared pieces of the platform tests: a private set of XDG directories per test, and a command
// runner that records what the backends would run.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "kit/TestKit.h"
#include "platform/Process.h"
#include "platform/Report.h"

namespace muralo::test {

// A temporary folder with the user's XDG directories inside, set in the environment for the
// test's lifetime, so nothing touches the real user's configuration.
class TXdgSandbox {
 public:
  TXdgSandbox() {
    Root = Dir.Path.string();
    Config = Root + "/config";
    Data = Root + "/data";
    Runtime = Root + "/runtime";
    std::filesystem::create_directories(Config);
    std::filesystem::create_directories(Data);
    std::filesystem::create_directories(Runtime);
    chmod(Runtime.c_str(), 0700);
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"}) {
      const char* old = std::getenv(name);
      Saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    }
    setenv("XDG_CONFIG_HOME", Config.c_str(), 1);
    setenv("XDG_DATA_HOME", Data.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", Runtime.c_str(), 1);
  }
  ~TXdgSandbox() {
    for (const auto& [name, value] : Saved) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
  }
  TXdgSandbox(const TXdgSandbox&) = delete;
  TXdgSandbox& operator=(const TXdgSandbox&) = delete;

  std::string Root, Config, Data, Runtime;

 private:
  TempDir Dir;  // removed after the variables are restored
  std::vector<std::pair<std::string, std::optional<std::string>>> Saved;
};

// Records every command; answers from a table keyed by the joined command line's prefix.
class TFakeRunner final : public TCommandRunner {
 public:
  struct TAnswer {
    int Status = 0;
    std::string Output;
  };

  std::vector<TCommandLine> Runs;
  std::vector<TCommandLine> Spawns;
  std::vector<std::pair<long, std::string>> Terminated;
  std::vector<int> Sleeps;
  std::map<std::string, TAnswer> Answers;  // prefix of "arg0 arg1 ..." -> answer (longest wins)
  long NextPid = 4000;
  std::set<long> Dead;  // spawned processes that have already ended
  bool SpawnFails = false;

  static std::string Joined(const TCommandLine& argv) {
    std::string text;
    for (const std::string& arg : argv) text += (text.empty() ? "" : " ") + arg;
    return text;
  }

  int Run(const TCommandLine& argv, std::string* output) override {
    Runs.push_back(argv);
    const std::string line = Joined(argv);
    const TAnswer* best = nullptr;
    size_t bestLength = 0;
    for (const auto& [prefix, answer] : Answers)
      if (line.rfind(prefix, 0) == 0 && prefix.size() >= bestLength) {
        best = &answer;
        bestLength = prefix.size();
      }
    if (output) *output = best ? best->Output : "";
    return best ? best->Status : 0;
  }
  long Spawn(const TCommandLine& argv) override {
    Spawns.push_back(argv);
    return SpawnFails ? -1 : NextPid++;
  }
  bool Terminate(long pid, const std::string& programName) override {
    Terminated.emplace_back(pid, programName);
    return true;
  }
  bool IsRunning(long pid, const std::string&) override { return !Dead.count(pid); }
  void Sleep(int milliseconds) override { Sleeps.push_back(milliseconds); }
  bool HasProgram(const std::string&) override { return true; }
};

// Collects what the platform layer reports while it lives.
class TReportCapture {
 public:
  TReportCapture() : FPrevious(SetPlatformReporter([this](const std::string& m) { Messages += m + "\n"; })) {}
  ~TReportCapture() { SetPlatformReporter(FPrevious); }
  TReportCapture(const TReportCapture&) = delete;
  TReportCapture& operator=(const TReportCapture&) = delete;

  std::string Messages;

 private:
  TPlatformReporter FPrevious;
};

}  // namespace muralo::test
