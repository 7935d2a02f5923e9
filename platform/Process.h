#pragma once
// Running the desktop's own commands. Everything that spawns a program goes through one
// TCommandRunner, so the desktop backends can be checked with a fake that records command lines.

#include <string>
#include <vector>

namespace muralo {

using TCommandLine = std::vector<std::string>;

class TCommandRunner {
 public:
  virtual ~TCommandRunner() = default;
  // Runs argv[0] (looked up on PATH) to its end; stdout goes to *output when given, stderr is
  // inherited. Returns the exit status, or -1 when the program cannot be started or was killed.
  virtual int Run(const TCommandLine& argv, std::string* output = nullptr) = 0;
  // Starts a program detached from this process (own session, stdin/stdout on /dev/null); it is not
  // waited for and outlives us. Returns its process id, or -1 when it cannot be started.
  virtual long Spawn(const TCommandLine& argv) = 0;
  // Ends a process started by Spawn (possibly by an earlier run of the program), after checking that
  // it is still the program named (so a recycled id is left alone). False when nothing was ended.
  virtual bool Terminate(long pid, const std::string& programName) = 0;
  // True while a process started by Spawn still runs as the program named (not ended, not a zombie).
  virtual bool IsRunning(long pid, const std::string& programName) = 0;
  // Waits; the fake returns at once.
  virtual void Sleep(int milliseconds) = 0;
  // True when the program can be found on PATH.
  virtual bool HasProgram(const std::string& name) = 0;
};

// The runner that really runs programs (fork + execvp).
class TSystemCommandRunner final : public TCommandRunner {
 public:
  int Run(const TCommandLine& argv, std::string* output = nullptr) override;
  long Spawn(const TCommandLine& argv) override;
  bool Terminate(long pid, const std::string& programName) override;
  bool IsRunning(long pid, const std::string& programName) override;
  void Sleep(int milliseconds) override;
  bool HasProgram(const std::string& name) override;
};

// The process-wide real runner.
TCommandRunner& SystemCommandRunner();

}  // namespace muralo
