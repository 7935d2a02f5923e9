// The real command runner (used by every command-driven backend and by xdg-open) and ShellOpen.

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "PlatformTestTools.h"
#include "platform/Process.h"
#include "platform/Shell.h"

namespace muralo {
namespace {

using test::FileText;
using test::TXdgSandbox;

bool WaitForFile(const std::string& name) {
  for (int i = 0; i < 200; ++i) {
    if (std::filesystem::exists(name) && std::filesystem::file_size(name) > 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return false;
}

TEST(CommandRunner, RunsToTheEndAndGivesStatusAndOutput) {
  TSystemCommandRunner runner;
  std::string output;
  EXPECT_EQ(runner.Run({"sh", "-c", "printf 'a b\\nc'; exit 3"}, &output), 3);
  EXPECT_EQ(output, "a b\nc");
  EXPECT_EQ(runner.Run({"true"}), 0);
  // Arguments reach the program as they are, spaces and quotes included.
  EXPECT_EQ(runner.Run({"printf", "%s|", "x y", "'\"", ""}, &output), 0);
  EXPECT_EQ(output, "x y|'\"||");
  EXPECT_EQ(runner.Run({"no-such-program-muralo"}, &output), -1);
  EXPECT_EQ(runner.Run({}), -1);
  EXPECT_EQ(runner.Run({"sh", "-c", "kill -9 $$"}), -1);
  EXPECT_TRUE(runner.HasProgram("sh"));
  EXPECT_FALSE(runner.HasProgram("no-such-program-muralo"));
}

TEST(CommandRunner, SpawnsDetachedAndEndsOnlyWhatItNames) {
  TXdgSandbox sandbox;
  TSystemCommandRunner runner;
  const std::string mark = sandbox.Root + "/mark";
  long pid = runner.Spawn({"sh", "-c", "echo $$ > '" + mark + "'; exec sleep 30"});
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(WaitForFile(mark));
  EXPECT_EQ(std::stol(FileText(mark)), pid);
  // The process runs in a session of its own, so it outlives our terminal, and is not our child.
  EXPECT_NE(getsid(static_cast<pid_t>(pid)), getsid(0));
  EXPECT_NE(getppid(), pid);
  // The shell has written its mark; wait until it has become "sleep".
  const std::string comm = "/proc/" + std::to_string(pid) + "/comm";
  for (int i = 0; i < 500 && FileText(comm) != "sleep\n"; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(FileText(comm), "sleep\n");
  EXPECT_FALSE(runner.Terminate(pid, "swaybg"));  // not the program named: left alone
  EXPECT_EQ(kill(static_cast<pid_t>(pid), 0), 0);
  EXPECT_TRUE(runner.Terminate(pid, "sleep"));
  bool gone = false;
  for (int i = 0; i < 200 && !gone; ++i) {
    gone = kill(static_cast<pid_t>(pid), 0) != 0 ||
           FileText("/proc/" + std::to_string(pid) + "/stat").find(") Z") != std::string::npos;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(gone);
  EXPECT_EQ(runner.Spawn({"no-such-program-muralo"}), -1);
  EXPECT_FALSE(runner.Terminate(-1, "sleep"));
}

TEST(ShellOpen, HandsTheTargetToXdgOpen) {
  test::TFakeRunner runner;
  EXPECT_TRUE(ShellOpen("/home/ann/aide muralo.html", runner));
  EXPECT_TRUE(ShellOpen("mailto:someone@example.org", runner));
  EXPECT_FALSE(ShellOpen("", runner));
  EXPECT_EQ(runner.Spawns, (std::vector<TCommandLine>{{"xdg-open", "/home/ann/aide muralo.html"},
                                                      {"xdg-open", "mailto:someone@example.org"}}));
  runner.SpawnFails = true;
  EXPECT_FALSE(ShellOpen("/x", runner));
}

TEST(ShellOpen, StartsTheRealOpenerDetached) {
  TXdgSandbox sandbox;
  const std::string bin = sandbox.Root + "/bin";
  std::filesystem::create_directories(bin);
  const std::string log = sandbox.Root + "/opened";
  test::WriteText(bin + "/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > '" + log + "'\n");
  std::filesystem::permissions(bin + "/xdg-open", std::filesystem::perms::owner_all);
  const char* old = std::getenv("PATH");
  const std::string saved = old ? old : "";
  setenv("PATH", (bin + ":/usr/bin:/bin").c_str(), 1);
  const bool started = ShellOpen("/srv/dir x/file é.txt");
  setenv("PATH", "/nonexistent", 1);
  const bool withoutOpener = ShellOpen("/x");
  setenv("PATH", saved.c_str(), 1);
  EXPECT_TRUE(started);
  EXPECT_FALSE(withoutOpener);
  ASSERT_TRUE(WaitForFile(log));
  EXPECT_EQ(FileText(log), "/srv/dir x/file é.txt");
}

}  // namespace
}  // namespace muralo
