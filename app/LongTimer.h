#pragma once
// TLongTimer: the interval timer of the main window (Timer2), for intervals of the full unsigned
// 32-bit range of milliseconds.
//
// A QTimer takes a signed int, so it cannot wait 25 days (2160000000 ms) in one go. TLongTimer keeps
// the due time against a monotonic clock and waits for it in steps of at most MaxStep; each step
// reads the clock again, so a step that comes early or late only moves the next step, never the tick.
// The clock is injectable: a test drives a fake clock and calls CheckClock as the steps would.
//
// Semantics, as the program needs them:
// - Initially stopped, interval 10000 ms.
// - An interval of 0 never fires (the timer may still be "enabled").
// - Setting the interval of a running timer restarts its count from now; a stopped timer stays stopped.
// - Starting a stopped timer counts from now; starting a running one changes nothing.
// - After a tick the next is due one interval later; ticks missed (the process was stopped) are not
//   made up in a burst: the count then restarts from the late tick.

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>

namespace muralo {

class TLongTimer : public QObject {
  Q_OBJECT

 public:
  // Milliseconds of a monotonic clock (never goes back; its origin does not matter).
  using TClock = std::function<uint64_t()>;
  static uint64_t SteadyMilliseconds();

  // The longest single wait of the underlying QTimer.
  static constexpr int MaxStep = 60 * 60 * 1000;

  explicit TLongTimer(QObject* parent = nullptr, TClock clock = &TLongTimer::SteadyMilliseconds);

  uint32_t Interval() const { return FInterval; }
  void SetInterval(uint32_t milliseconds);
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool enabled);
  void Start() { SetEnabled(true); }
  void Stop() { SetEnabled(false); }

  // The wait the next step is armed for, in ms; -1 when none is armed (stopped, or interval 0).
  int PendingStep() const;
  // The clock time of the next tick, and of the end of the armed step (meaningful while one is armed).
  uint64_t DueTime() const { return Due; }
  uint64_t NextStepTime() const { return StepEnd; }

  // What every step runs: fires when the clock has reached the due time, then arms the next step.
  void CheckClock();

 signals:
  void timeout();

 private:
  void Restart();
  void Arm(uint64_t now);

  TClock Clock;
  QTimer Step;
  uint32_t FInterval = 10000;
  bool FEnabled = false;
  uint64_t Due = 0;
  uint64_t StepEnd = 0;
  uint64_t Generation = 0;  // bumped by every restart, so a tick handler that restarts is noticed
};

}  // namespace muralo
