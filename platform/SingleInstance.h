#pragma once
// The single-instance guard and the message a second instance sends to the first.
//
// TNamedMutex stands in for the kernel mutex "MuraloMutex": an exclusive flock on a file in the
// runtime directory, held until the object dies or the process ends (the kernel drops it even when
// the process is killed, so a crashed instance never blocks the next start).
//
// TInstanceWindow stands in for the main window as FindWindowA/SendMessageA see it: a per-user
// local (Unix domain) socket named after the window title ("Muralo"), in the runtime directory.
// The first instance listens; SendInstanceMessage connects and writes one message. A socket file
// left by a dead instance is detected (nobody accepts on it) and replaced.

#include <cstdint>
#include <string>
#include <vector>

namespace muralo {

// WM_USER + 1000: the running instance is to show its main window.
inline constexpr uint32_t WM_USER = 0x400;
inline constexpr uint32_t WM_SHOWMAIN = WM_USER + 1000;

class TNamedMutex {
 public:
  // The lock file is <directory>/<name>.lock; directory "" means RuntimeDir().
  explicit TNamedMutex(std::string name = "MuraloMutex", std::string directory = "");
  ~TNamedMutex();
  TNamedMutex(const TNamedMutex&) = delete;
  TNamedMutex& operator=(const TNamedMutex&) = delete;

  // Takes the mutex without waiting: true when this object now holds it, false when another
  // process (or another object) holds it. Raises Exception when the lock file cannot be made.
  bool TryAcquire();
  bool Held() const { return FFd >= 0; }
  void Release();
  const std::string& LockFile() const { return FLockFile; }

 private:
  std::string FLockFile;
  int FFd = -1;
};

struct TInstanceMessage {
  uint32_t Msg = 0;
  uint64_t WParam = 0;
  int64_t LParam = 0;
};

// The socket path for a window title: <directory>/<title>.sock; directory "" means RuntimeDir().
std::string InstanceSocketPath(const std::string& windowTitle, const std::string& directory = "");

class TInstanceWindow {
 public:
  explicit TInstanceWindow(std::string windowTitle = "Muralo", std::string directory = "");
  ~TInstanceWindow();
  TInstanceWindow(const TInstanceWindow&) = delete;
  TInstanceWindow& operator=(const TInstanceWindow&) = delete;

  // Starts listening. A stale socket file is replaced; false (with the reason on stderr) when a
  // live listener already owns the name or the socket cannot be made.
  bool Listen();
  bool Listening() const { return FListenFd >= 0; }
  // The listening socket: readable when a message may be waiting (for the program's event loop).
  int SocketFd() const { return FListenFd; }
  // Every complete message received so far. Waits (200 ms at most) only for a sender it has just
  // accepted that has not written yet. Only processes of this user are heard.
  std::vector<TInstanceMessage> ReadPendingMessages();
  void Close();

 private:
  struct TPending {
    int Fd;
    std::vector<uint8_t> Bytes;
    bool Fresh;  // accepted by the current call
  };
  std::string FPath;
  int FListenFd = -1;
  std::vector<TPending> FClients;
};

// FindWindowA + SendMessageA: delivers one message to the instance listening under windowTitle.
// False when no instance listens (no window found); the first instance's answer is not awaited.
bool SendInstanceMessage(const std::string& windowTitle, const TInstanceMessage& message,
                         const std::string& directory = "");

}  // namespace muralo
