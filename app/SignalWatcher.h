#pragma once
// Turns SIGTERM (what a logout or a shutdown sends) and SIGHUP into a call on the GUI thread, through
// a self-pipe watched by a QSocketNotifier, so the program can save before it exits.

#include <QObject>
#include <QSocketNotifier>

#include <functional>
#include <memory>

namespace muralo {

class TSignalWatcher : public QObject {
 public:
  // Installs the handlers; onSignal runs on the GUI thread with the signal number.
  explicit TSignalWatcher(std::function<void(int signal)> onSignal, QObject* parent = nullptr);
  ~TSignalWatcher() override;

 private:
  void Drain();
  std::function<void(int)> OnSignal;
  std::unique_ptr<QSocketNotifier> Notifier;
};

}  // namespace muralo
