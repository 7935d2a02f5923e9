#include "app/SignalWatcher.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace muralo {

namespace {
int Pipe[2] = {-1, -1};

extern "C" void OnTermSignal(int signal) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(signal);
  // Only async-signal-safe calls here; a full pipe just drops the repeat.
  [[maybe_unused]] ssize_t n = ::write(Pipe[1], &byte, 1);
  errno = saved;
}
}  // namespace

TSignalWatcher::TSignalWatcher(std::function<void(int)> onSignal, QObject* parent)
    : QObject(parent), OnSignal(std::move(onSignal)) {
  if (Pipe[0] < 0 && ::pipe2(Pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  Notifier = std::make_unique<QSocketNotifier>(Pipe[0], QSocketNotifier::Read);
  connect(Notifier.get(), &QSocketNotifier::activated, this, &TSignalWatcher::Drain);
  struct sigaction action {};
  action.sa_handler = OnTermSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
}

TSignalWatcher::~TSignalWatcher() {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
}

void TSignalWatcher::Drain() {
  unsigned char byte = 0;
  int last = 0;
  while (::read(Pipe[0], &byte, 1) == 1) last = byte;
  if (last != 0 && OnSignal) OnSignal(last);
}

}  // namespace muralo
