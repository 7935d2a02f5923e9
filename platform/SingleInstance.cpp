#include "platform/SingleInstance.h"
#include "platform/Report.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "platform/System.h"

namespace muralo {

namespace {

std::string DirOrRuntime(const std::string& directory) { return directory.empty() ? RuntimeDir() : directory; }

// One message on the wire: a tag, then the message and its two parameters, little-endian.
constexpr uint32_t kTag = 0x4F4C524D;  // "MRLO"
constexpr size_t kMessageBytes = 4 + 4 + 8 + 8;
constexpr size_t kMaxPending = 32;
constexpr int kFreshWaitMilliseconds = 200;
using Clock = std::chrono::steady_clock;

bool WaitReadable(int fd, Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return false;
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, static_cast<int>(left)) > 0;
}

void PutLE(uint8_t* out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t GetLE(const uint8_t* in, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(in[i]) << (8 * i);
  return value;
}

bool FillAddress(const std::string& path, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

int ConnectTo(const std::string& path) {
  sockaddr_un address;
  if (!FillAddress(path, address)) return -1;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool SameUser(int fd) {
  ucred peer{};
  socklen_t length = sizeof peer;
  return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.uid == getuid();
}

}  // namespace

TNamedMutex::TNamedMutex(std::string name, std::string directory)
    : FLockFile(DirOrRuntime(directory) + "/" + name + ".lock") {}

TNamedMutex::~TNamedMutex() { Release(); }

bool TNamedMutex::TryAcquire() {
  if (FFd >= 0) return true;
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(FLockFile).parent_path(), ignored);
  int fd = open(FLockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) throw Exception(Format("Impossible de créer le verrou %s : %s", FLockFile, std::strerror(errno)));
  // flock locks belong to the open file description: a second object of this process is refused
  // like another process, and the kernel drops the lock when the holder dies however it dies.
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    int error = errno;
    close(fd);
    if (error == EWOULDBLOCK) return false;
    throw Exception(Format("Impossible de prendre le verrou %s : %s", FLockFile, std::strerror(error)));
  }
  FFd = fd;
  return true;
}

void TNamedMutex::Release() {
  if (FFd >= 0) {
    close(FFd);
    FFd = -1;
  }
}

std::string InstanceSocketPath(const std::string& windowTitle, const std::string& directory) {
  return DirOrRuntime(directory) + "/" + windowTitle + ".sock";
}

TInstanceWindow::TInstanceWindow(std::string windowTitle, std::string directory)
    : FPath(InstanceSocketPath(windowTitle, directory)) {}

TInstanceWindow::~TInstanceWindow() { Close(); }

bool TInstanceWindow::Listen() {
  if (FListenFd >= 0) return true;
  sockaddr_un address;
  if (!FillAddress(FPath, address)) {
    PlatformReport("chemin de socket trop long : " + FPath);
    return false;
  }
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(FPath).parent_path(), ignored);
  for (int attempt = 0; attempt < 2; ++attempt) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) break;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
      chmod(FPath.c_str(), 0600);  // only this user may connect; the peer check below says so too
      if (listen(fd, 16) == 0) {
        FListenFd = fd;
        return true;
      }
      close(fd);
      break;
    }
    int error = errno;
    close(fd);
    if (error != EADDRINUSE) {
      PlatformReport("socket " + FPath + " : " + std::strerror(error));
      return false;
    }
    // The name is taken: by a live instance (it accepts) or by the file a dead one left behind.
    if (int live = ConnectTo(FPath); live >= 0) {
      close(live);
      PlatformReport("une autre instance écoute déjà sur " + FPath);
      return false;
    }
    unlink(FPath.c_str());
  }
  PlatformReport("socket " + FPath + " impossible à créer");
  return false;
}

std::vector<TInstanceMessage> TInstanceWindow::ReadPendingMessages() {
  std::vector<TInstanceMessage> messages;
  if (FListenFd < 0) return messages;
  for (;;) {
    int client = accept4(FListenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (client < 0) {
      if (errno == EINTR) continue;
      break;  // EAGAIN: nobody else waiting
    }
    if (!SameUser(client)) {
      close(client);
      continue;
    }
    // A sender writes its few bytes at once; one that keeps a connection open without finishing
    // must not pile up descriptors.
    if (FClients.size() >= kMaxPending) {
      close(FClients.front().Fd);
      FClients.erase(FClients.begin());
    }
    FClients.push_back({client, {}, true});
  }
  // How long this call may wait for senders it has just accepted.
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kFreshWaitMilliseconds);
  for (size_t i = 0; i < FClients.size();) {
    TPending& pending = FClients[i];
    bool done = false;
    pending.Fresh = pending.Fresh && Clock::now() < deadline;
    for (;;) {
      uint8_t buffer[64];
      ssize_t n = read(pending.Fd, buffer, sizeof buffer);
      if (n > 0) {
        pending.Bytes.insert(pending.Bytes.end(), buffer, buffer + n);
        if (pending.Bytes.size() >= kMessageBytes) {
          done = true;
          break;
        }
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && pending.Fresh &&
                 WaitReadable(pending.Fd, deadline)) {
        // Accepted between the sender's connect and its write: the bytes follow at once, and the
        // listening socket would not wake the caller again for them.
        continue;
      } else {
        // n == 0: the sender closed early; n < 0 with EAGAIN: the rest comes later.
        done = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
        break;
      }
    }
    if (!done) {
      ++i;
      continue;
    }
    if (pending.Bytes.size() >= kMessageBytes && GetLE(pending.Bytes.data(), 4) == kTag) {
      const uint8_t* p = pending.Bytes.data();
      messages.push_back(
          {static_cast<uint32_t>(GetLE(p + 4, 4)), GetLE(p + 8, 8), static_cast<int64_t>(GetLE(p + 16, 8))});
    }
    close(pending.Fd);
    FClients.erase(FClients.begin() + static_cast<std::ptrdiff_t>(i));
  }
  for (TPending& pending : FClients) pending.Fresh = false;  // later calls do not wait for them
  return messages;
}

void TInstanceWindow::Close() {
  for (TPending& pending : FClients) close(pending.Fd);
  FClients.clear();
  if (FListenFd >= 0) {
    close(FListenFd);
    FListenFd = -1;
    unlink(FPath.c_str());
  }
}

bool SendInstanceMessage(const std::string& windowTitle, const TInstanceMessage& message,
                         const std::string& directory) {
  int fd = ConnectTo(InstanceSocketPath(windowTitle, directory));
  if (fd < 0) return false;
  uint8_t bytes[kMessageBytes];
  PutLE(bytes, kTag, 4);
  PutLE(bytes + 4, message.Msg, 4);
  PutLE(bytes + 8, message.WParam, 8);
  PutLE(bytes + 16, static_cast<uint64_t>(message.LParam), 8);
  size_t done = 0;
  while (done < sizeof bytes) {
    ssize_t n = send(fd, bytes + done, sizeof bytes - done, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      close(fd);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  close(fd);
  return true;
}

}  // namespace muralo
