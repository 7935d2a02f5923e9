// The single-instance lock across processes, and the message a second instance sends the first.

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "PlatformTestTools.h"
#include "classlib/Exception.h"
#include "platform/SingleInstance.h"

namespace muralo {
namespace {

using test::TXdgSandbox;

// Runs body in a child process; its exit code comes back.
template <typename F>
int InChild(F&& body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A child that takes the mutex, says so through a pipe, then waits to be killed.
pid_t HolderChild(int& readyFd) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    TNamedMutex mutex;
    char ok = mutex.TryAcquire() ? 'y' : 'n';
    ssize_t ignored = write(fds[1], &ok, 1);
    (void)ignored;
    for (;;) pause();
  }
  close(fds[1]);
  readyFd = fds[0];
  return pid;
}

TEST(NamedMutex, OneHolderAtATimeAcrossProcesses) {
  TXdgSandbox sandbox;
  int ready = -1;
  pid_t holder = HolderChild(ready);
  ASSERT_GT(holder, 0);
  char ok = 0;
  ASSERT_EQ(read(ready, &ok, 1), 1);
  close(ready);
  ASSERT_EQ(ok, 'y');

  TNamedMutex mine;
  EXPECT_EQ(mine.LockFile(), sandbox.Runtime + "/MuraloMutex.lock");
  EXPECT_FALSE(mine.TryAcquire());  // the other process runs
  EXPECT_FALSE(mine.Held());

  // Killed without a chance to clean up: the kernel drops the lock.
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  EXPECT_TRUE(mine.TryAcquire());
  EXPECT_TRUE(mine.Held());
  EXPECT_EQ(InChild([] { return TNamedMutex().TryAcquire() ? 1 : 0; }), 0);

  mine.Release();
  EXPECT_EQ(InChild([] { return TNamedMutex().TryAcquire() ? 1 : 0; }), 1);
}

TEST(NamedMutex, ASecondObjectInTheSameProcessIsRefusedToo) {
  TXdgSandbox sandbox;
  TNamedMutex first, second;
  EXPECT_TRUE(first.TryAcquire());
  EXPECT_TRUE(first.TryAcquire());  // holding it already
  EXPECT_FALSE(second.TryAcquire());
}

TEST(NamedMutex, AnUnusableDirectoryIsAnError) {
  TXdgSandbox sandbox;
  test::WriteText(sandbox.Root + "/file", "x");
  TNamedMutex mutex("MuraloMutex", sandbox.Root + "/file");
  EXPECT_THROW(mutex.TryAcquire(), Exception);
}

TEST(InstanceWindow, ASecondInstanceReachesTheFirst) {
  TXdgSandbox sandbox;
  TInstanceWindow window;
  ASSERT_TRUE(window.Listen());
  EXPECT_GE(window.SocketFd(), 0);
  EXPECT_TRUE(std::filesystem::exists(sandbox.Runtime + "/Muralo.sock"));
  EXPECT_TRUE(window.ReadPendingMessages().empty());

  EXPECT_EQ(InChild([] { return SendInstanceMessage("Muralo", {WM_SHOWMAIN, 0, 0}) ? 0 : 1; }), 0);
  EXPECT_EQ(InChild([] { return SendInstanceMessage("Muralo", {WM_SHOWMAIN, 0xFFFFFFFFFFull, -7}) ? 0 : 1; }), 0);
  const std::vector<TInstanceMessage> messages = window.ReadPendingMessages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].Msg, 2024u);
  EXPECT_EQ(messages[0].WParam, 0u);
  EXPECT_EQ(messages[0].LParam, 0);
  EXPECT_EQ(messages[1].WParam, 0xFFFFFFFFFFull);
  EXPECT_EQ(messages[1].LParam, -7);
  EXPECT_TRUE(window.ReadPendingMessages().empty());

  // Another title is another window.
  EXPECT_FALSE(SendInstanceMessage("Autre", {WM_SHOWMAIN, 0, 0}));
  window.Close();
  EXPECT_FALSE(std::filesystem::exists(sandbox.Runtime + "/Muralo.sock"));
  EXPECT_FALSE(SendInstanceMessage("Muralo", {WM_SHOWMAIN, 0, 0}));  // FindWindow finds nothing
}

TEST(InstanceWindow, AStaleSocketOfADeadInstanceNeverBlocksAStart) {
  TXdgSandbox sandbox;
  // A child listens and is killed: its socket file stays behind.
  EXPECT_EQ(InChild([] {
              TInstanceWindow window;
              if (!window.Listen()) return 1;
              kill(getpid(), SIGKILL);
              return 2;
            }),
            -1);
  ASSERT_TRUE(std::filesystem::exists(sandbox.Runtime + "/Muralo.sock"));
  EXPECT_FALSE(SendInstanceMessage("Muralo", {WM_SHOWMAIN, 0, 0}));
  TInstanceWindow window;
  ASSERT_TRUE(window.Listen());
  ASSERT_TRUE(SendInstanceMessage("Muralo", {WM_SHOWMAIN, 1, 2}));
  ASSERT_EQ(window.ReadPendingMessages().size(), 1u);
}

TEST(InstanceWindow, ALiveListenerKeepsItsName) {
  TXdgSandbox sandbox;
  TInstanceWindow first, second;
  ASSERT_TRUE(first.Listen());
  muralo::test::TReportCapture capture;
  EXPECT_FALSE(second.Listen());
  EXPECT_NE(capture.Messages.find("autre instance"), std::string::npos);
  ASSERT_TRUE(SendInstanceMessage("Muralo", {WM_SHOWMAIN, 0, 0}));
  EXPECT_EQ(first.ReadPendingMessages().size(), 1u);
}

TEST(InstanceWindow, PartialAndForeignBytesAreHandled) {
  TXdgSandbox sandbox;
  TInstanceWindow window;
  ASSERT_TRUE(window.Listen());
  auto connectRaw = [&] {
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, InstanceSocketPath("Muralo").c_str());
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    return fd;
  };
  // A message in two pieces, with a read of pending messages in between.
  const uint8_t message[24] = {0x4D, 0x52, 0x4C, 0x4F, 0xE8, 0x07, 0,    0,    5,    0,    0,    0,
                               0,    0,    0,    0,    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  int slow = connectRaw();
  ASSERT_EQ(write(slow, message, 10), 10);
  EXPECT_TRUE(window.ReadPendingMessages().empty());
  ASSERT_EQ(write(slow, message + 10, 14), 14);
  std::vector<TInstanceMessage> got = window.ReadPendingMessages();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].Msg, WM_SHOWMAIN);
  EXPECT_EQ(got[0].WParam, 5u);
  EXPECT_EQ(got[0].LParam, -1);
  close(slow);
  // Garbage and a sender that closes early give nothing and leave the window working.
  int garbage = connectRaw();
  ASSERT_EQ(write(garbage, "GET / HTTP/1.0\r\n\r\nxxxxxx", 24), 24);
  close(garbage);
  int early = connectRaw();
  ASSERT_EQ(write(early, message, 5), 5);
  close(early);
  EXPECT_TRUE(window.ReadPendingMessages().empty());
  ASSERT_TRUE(SendInstanceMessage("Muralo", {WM_SHOWMAIN, 0, 0}));
  EXPECT_EQ(window.ReadPendingMessages().size(), 1u);
  // Connections that never finish do not pile up: the oldest are dropped, new senders still heard.
  std::vector<int> idle;
  for (int i = 0; i < 100; ++i) {
    idle.push_back(connectRaw());
    if (i % 10 == 9) {
      EXPECT_TRUE(window.ReadPendingMessages().empty());
    }
  }
  int dropped = 0;
  for (int fd : idle) {
    char c;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 0) == 1 && read(fd, &c, 1) == 0) ++dropped;  // closed by the window
    close(fd);
  }
  EXPECT_GE(dropped, 100 - 32);
  ASSERT_TRUE(SendInstanceMessage("Muralo", {WM_SHOWMAIN, 3, 0}));
  got = window.ReadPendingMessages();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].WParam, 3u);
}

TEST(InstanceWindow, ASenderAcceptedBeforeItWritesIsStillHeardAtOnce) {
  // The program reads when the listening socket wakes it, which can be between the sender's
  // connect and its write; the message must come in that same read, as no later wake-up follows.
  TXdgSandbox sandbox;
  TInstanceWindow window;
  ASSERT_TRUE(window.Listen());
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, InstanceSocketPath("Muralo").c_str());
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  pid_t writer = fork();
  if (writer == 0) {
    usleep(30000);
    const uint8_t message[24] = {0x4D, 0x52, 0x4C, 0x4F, 0xE8, 0x07, 0, 0, 9};
    _exit(write(fd, message, sizeof message) == 24 ? 0 : 1);
  }
  const std::vector<TInstanceMessage> got = window.ReadPendingMessages();
  int status = 0;
  waitpid(writer, &status, 0);
  close(fd);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].Msg, WM_SHOWMAIN);
  EXPECT_EQ(got[0].WParam, 9u);
}

TEST(InstanceWindow, TheSocketFdTurnsReadableWhenAMessageWaits) {
  TXdgSandbox sandbox;
  TInstanceWindow window;
  ASSERT_TRUE(window.Listen());
  pollfd p{window.SocketFd(), POLLIN, 0};
  EXPECT_EQ(poll(&p, 1, 0), 0);
  ASSERT_TRUE(SendInstanceMessage("Muralo", {WM_SHOWMAIN, 0, 0}));
  EXPECT_EQ(poll(&p, 1, 1000), 1);
  EXPECT_EQ(window.ReadPendingMessages().size(), 1u);
}

}  // namespace
}  // namespace muralo
