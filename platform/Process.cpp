#include "platform/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace muralo {

namespace {

std::vector<char*> ArgvPointers(const TCommandLine& argv) {
  std::vector<char*> pointers;
  pointers.reserve(argv.size() + 1);
  for (const std::string& arg : argv) pointers.push_back(const_cast<char*>(arg.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

void RedirectToNull(int fd, int flags) {
  int null = open("/dev/null", flags);
  if (null >= 0 && null != fd) {
    dup2(null, fd);
    close(null);
  }
}

// In a forked child: becomes the program, or writes errno to reportFd (a close-on-exec pipe, so
// the parent reads nothing when the exec succeeds) and exits.
[[noreturn]] void ExecOrReport(std::vector<char*>& args, int reportFd) {
  execvp(args[0], args.data());
  int err = errno;
  ssize_t ignored = write(reportFd, &err, sizeof err);
  (void)ignored;
  _exit(127);
}

int WaitFor(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The name the kernel shows for a process (/proc/<pid>/comm, cut to 15 bytes).
std::string ProcessName(long pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

}  // namespace

int TSystemCommandRunner::Run(const TCommandLine& argv, std::string* output) {
  if (argv.empty()) return -1;
  int pipeFds[2] = {-1, -1};
  if (output && pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
  // The exec failure travels back through a close-on-exec pipe, so "cannot start" is told apart
  // from a program that ran and failed.
  int execFds[2];
  if (pipe2(execFds, O_CLOEXEC) != 0) {
    if (output) {
      close(pipeFds[0]);
      close(pipeFds[1]);
    }
    return -1;
  }
  std::vector<char*> args = ArgvPointers(argv);
  pid_t pid = fork();
  if (pid == 0) {
    RedirectToNull(STDIN_FILENO, O_RDONLY);
    if (output) dup2(pipeFds[1], STDOUT_FILENO);
    ExecOrReport(args, execFds[1]);
  }
  close(execFds[1]);
  if (output) close(pipeFds[1]);
  if (pid < 0) {
    close(execFds[0]);
    if (output) close(pipeFds[0]);
    return -1;
  }
  if (output) {
    output->clear();
    char buffer[4096];
    for (;;) {
      ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
      if (n > 0)
        output->append(buffer, static_cast<size_t>(n));
      else if (n == 0 || errno != EINTR)
        break;
    }
    close(pipeFds[0]);
  }
  int execError = 0;
  ssize_t got = read(execFds[0], &execError, sizeof execError);
  close(execFds[0]);
  int status = WaitFor(pid);
  return got == static_cast<ssize_t>(sizeof execError) ? -1 : status;
}

long TSystemCommandRunner::Spawn(const TCommandLine& argv) {
  if (argv.empty()) return -1;
  // Double fork: the grandchild is adopted by init (or the session's subreaper) and never becomes
  // our zombie; its id comes back through a pipe, and an exec failure through a second one.
  int idFds[2], execFds[2];
  if (pipe2(idFds, O_CLOEXEC) != 0) return -1;
  if (pipe2(execFds, O_CLOEXEC) != 0) {
    close(idFds[0]);
    close(idFds[1]);
    return -1;
  }
  std::vector<char*> args = ArgvPointers(argv);
  pid_t child = fork();
  if (child == 0) {
    setsid();
    pid_t grandchild = fork();
    if (grandchild == 0) {
      RedirectToNull(STDIN_FILENO, O_RDONLY);
      RedirectToNull(STDOUT_FILENO, O_WRONLY);
      signal(SIGPIPE, SIG_DFL);
      ExecOrReport(args, execFds[1]);
    }
    long id = grandchild;
    ssize_t ignored = write(idFds[1], &id, sizeof id);
    (void)ignored;
    _exit(grandchild > 0 ? 0 : 1);
  }
  close(idFds[1]);
  close(execFds[1]);
  long id = -1;
  if (child > 0) {
    if (read(idFds[0], &id, sizeof id) != static_cast<ssize_t>(sizeof id)) id = -1;
    WaitFor(child);
    int execError = 0;
    if (read(execFds[0], &execError, sizeof execError) == static_cast<ssize_t>(sizeof execError)) id = -1;
  }
  close(idFds[0]);
  close(execFds[0]);
  return id;
}

bool TSystemCommandRunner::Terminate(long pid, const std::string& programName) {
  if (pid <= 0) return false;
  std::string name = ProcessName(pid);
  if (name.empty() || name != programName.substr(0, 15)) return false;
  return kill(static_cast<pid_t>(pid), SIGTERM) == 0;
}

bool TSystemCommandRunner::IsRunning(long pid, const std::string& programName) {
  if (pid <= 0 || ProcessName(pid) != programName.substr(0, 15)) return false;
  // proc(5): the state is the first field after the parenthesised command name.
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  const size_t close = line.rfind(')');
  if (close == std::string::npos || close + 2 >= line.size()) return false;
  const char state = line[close + 2];
  return state != 'Z' && state != 'X';
}

void TSystemCommandRunner::Sleep(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool TSystemCommandRunner::HasProgram(const std::string& name) {
  if (name.find('/') != std::string::npos) return access(name.c_str(), X_OK) == 0;
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
    struct stat st {};
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(candidate.c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

TCommandRunner& SystemCommandRunner() {
  static TSystemCommandRunner runner;
  return runner;
}

}  // namespace muralo
