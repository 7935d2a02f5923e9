#include "app/LongTimer.h"

#include <algorithm>
#include <chrono>

namespace muralo {

uint64_t TLongTimer::SteadyMilliseconds() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

TLongTimer::TLongTimer(QObject* parent, TClock clock) : QObject(parent), Clock(std::move(clock)) {
  Step.setSingleShot(true);
  Step.setTimerType(Qt::PreciseTimer);
  connect(&Step, &QTimer::timeout, this, &TLongTimer::CheckClock);
}

void TLongTimer::SetInterval(uint32_t milliseconds) {
  FInterval = milliseconds;
  Restart();
}

void TLongTimer::SetEnabled(bool enabled) {
  if (enabled == FEnabled) return;
  FEnabled = enabled;
  Restart();
}

int TLongTimer::PendingStep() const { return Step.isActive() ? Step.interval() : -1; }

void TLongTimer::Restart() {
  ++Generation;
  Step.stop();
  if (!FEnabled || FInterval == 0) return;
  const uint64_t now = Clock();
  Due = now + FInterval;
  Arm(now);
}

void TLongTimer::Arm(uint64_t now) {
  const uint64_t wait = std::min<uint64_t>(Due > now ? Due - now : 0, MaxStep);
  StepEnd = now + wait;
  Step.start(static_cast<int>(wait));
}

void TLongTimer::CheckClock() {
  Step.stop();
  if (!FEnabled || FInterval == 0) return;
  const uint64_t now = Clock();
  if (now < Due) {
    Arm(now);  // an early or intermediate step
    return;
  }
  Due += FInterval;
  if (Due <= now) Due = now + FInterval;  // missed ticks are dropped, not replayed
  const uint64_t generation = Generation;
  emit timeout();
  // The handler may have stopped or restarted the timer; it has then armed what it needs.
  if (generation == Generation && FEnabled) Arm(Clock());
}

}  // namespace muralo
