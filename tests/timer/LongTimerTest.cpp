// TLongTimer against an injected clock: the test moves the clock by each armed step and runs the
// step, as the event loop would after that wait. One test lets the real QTimer drive it.

#include <gtest/gtest.h>

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

#include <cstdint>
#include <vector>

#include "QtTestApp.h"
#include "app/LongTimer.h"

namespace muralo {
namespace {

constexpr uint64_t Minute = 60 * 1000;
constexpr uint64_t Day = 24 * 60 * Minute;

class FakeClock {
 public:
  uint64_t Now = 1000000;  // any origin
  TLongTimer::TClock Clock() {
    return [this] { return Now; };
  }
};

class LongTimerTest : public ::testing::Test {
 protected:
  LongTimerTest() : Timer(nullptr, Fake.Clock()) {
    TestApplication();
    QObject::connect(&Timer, &TLongTimer::timeout, [this] { Ticks.push_back(Fake.Now); });
  }

  // Runs the armed steps, each at the clock time its wait ends, until the clock reaches `until`.
  void RunUntil(uint64_t until) {
    while (Timer.PendingStep() >= 0 && Timer.NextStepTime() <= until) {
      EXPECT_LE(Timer.PendingStep(), TLongTimer::MaxStep);
      Fake.Now = Timer.NextStepTime();
      Timer.CheckClock();
    }
    Fake.Now = until;
  }

  FakeClock Fake;
  TLongTimer Timer;
  std::vector<uint64_t> Ticks;
};

TEST_F(LongTimerTest, StartsStoppedWithTenSeconds) {
  EXPECT_FALSE(Timer.Enabled());
  EXPECT_EQ(Timer.Interval(), 10000u);
  EXPECT_EQ(Timer.PendingStep(), -1);
}

TEST_F(LongTimerTest, FiveMinutesFiresOncePerFiveMinutes) {
  const uint64_t start = Fake.Now;
  Timer.SetInterval(5 * Minute);
  Timer.Start();
  RunUntil(start + 5 * Minute - 1);
  EXPECT_TRUE(Ticks.empty());
  RunUntil(start + 60 * Minute);
  ASSERT_EQ(Ticks.size(), 12u);
  for (size_t i = 0; i < Ticks.size(); ++i) EXPECT_EQ(Ticks[i], start + (i + 1) * 5 * Minute) << i;
}

TEST_F(LongTimerTest, TwentyFiveDaysFiresAtTwentyFiveDays) {
  // 2160000000 ms is past the signed range a single QTimer can wait.
  const uint64_t start = Fake.Now;
  Timer.SetInterval(static_cast<uint32_t>(25 * Day));
  Timer.Start();
  RunUntil(start + 25 * Day - 1);
  EXPECT_TRUE(Ticks.empty());
  RunUntil(start + 25 * Day);
  ASSERT_EQ(Ticks.size(), 1u);
  EXPECT_EQ(Ticks[0], start + 25 * Day);
  RunUntil(start + 50 * Day);
  ASSERT_EQ(Ticks.size(), 2u);
  EXPECT_EQ(Ticks[1], start + 50 * Day);
}

TEST_F(LongTimerTest, LargestIntervalFiresAtItsEnd) {
  const uint64_t start = Fake.Now;
  Timer.SetInterval(UINT32_MAX);
  Timer.Start();
  RunUntil(start + UINT32_MAX);
  ASSERT_EQ(Ticks.size(), 1u);
  EXPECT_EQ(Ticks[0], start + UINT32_MAX);
}

TEST_F(LongTimerTest, StoppedTimerNeverFires) {
  Timer.SetInterval(static_cast<uint32_t>(Minute));
  EXPECT_EQ(Timer.PendingStep(), -1);  // setting the interval does not start it
  RunUntil(Fake.Now + 10 * Minute);
  Timer.CheckClock();  // even a stray step does nothing
  EXPECT_TRUE(Ticks.empty());

  Timer.Start();
  RunUntil(Fake.Now + 90 * 1000);
  EXPECT_EQ(Ticks.size(), 1u);
  Timer.Stop();
  EXPECT_EQ(Timer.PendingStep(), -1);
  Fake.Now += 10 * Minute;
  Timer.CheckClock();
  EXPECT_EQ(Ticks.size(), 1u);
}

TEST_F(LongTimerTest, ZeroIntervalNeverFiresThoughEnabled) {
  Timer.SetInterval(0);
  Timer.Start();
  EXPECT_TRUE(Timer.Enabled());
  EXPECT_EQ(Timer.PendingStep(), -1);
  Fake.Now += Day;
  Timer.CheckClock();
  EXPECT_TRUE(Ticks.empty());
}

TEST_F(LongTimerTest, SettingTheIntervalWhileRunningRestartsTheCount) {
  const uint64_t start = Fake.Now;
  Timer.SetInterval(5 * Minute);
  Timer.Start();
  RunUntil(start + 4 * Minute);
  Timer.SetInterval(5 * Minute);  // OK in the dialog with the same duration
  RunUntil(start + 8 * Minute);
  EXPECT_TRUE(Ticks.empty());
  RunUntil(start + 9 * Minute);
  ASSERT_EQ(Ticks.size(), 1u);
  EXPECT_EQ(Ticks[0], start + 9 * Minute);
}

TEST_F(LongTimerTest, StartingARunningTimerChangesNothing) {
  const uint64_t start = Fake.Now;
  Timer.SetInterval(5 * Minute);
  Timer.Start();
  RunUntil(start + 3 * Minute);
  Timer.Start();
  RunUntil(start + 5 * Minute);
  ASSERT_EQ(Ticks.size(), 1u);
  EXPECT_EQ(Ticks[0], start + 5 * Minute);
}

TEST_F(LongTimerTest, EarlyStepOnlyReArms) {
  const uint64_t start = Fake.Now;
  Timer.SetInterval(5 * Minute);
  Timer.Start();
  Fake.Now = start + 2 * Minute;  // the event loop woke up early
  Timer.CheckClock();
  EXPECT_TRUE(Ticks.empty());
  EXPECT_EQ(Timer.PendingStep(), static_cast<int>(3 * Minute));
}

TEST_F(LongTimerTest, LateStepFiresOnceAndDropsMissedTicks) {
  const uint64_t start = Fake.Now;
  Timer.SetInterval(static_cast<uint32_t>(Minute));
  Timer.Start();
  Fake.Now = start + 10 * Minute + 30000;  // the process was stopped for ten minutes
  Timer.CheckClock();
  ASSERT_EQ(Ticks.size(), 1u);
  EXPECT_EQ(Timer.DueTime(), Fake.Now + Minute);
}

TEST_F(LongTimerTest, HandlerMayStopOrRestartTheTimer) {
  Timer.SetInterval(static_cast<uint32_t>(Minute));
  Timer.Start();
  QObject::connect(&Timer, &TLongTimer::timeout, [this] {
    if (Ticks.size() == 2) Timer.Stop();
  });
  RunUntil(Fake.Now + 10 * Minute);
  EXPECT_EQ(Ticks.size(), 2u);
  EXPECT_FALSE(Timer.Enabled());
}

TEST(LongTimerRealClock, TheEventLoopDrivesTheSteps) {
  TestApplication();
  TLongTimer timer;
  QSignalSpy spy(&timer, &TLongTimer::timeout);
  timer.SetInterval(20);
  timer.Start();
  EXPECT_TRUE(spy.wait(10000));
  timer.Stop();
  const qsizetype seen = spy.count();
  EXPECT_GE(seen, 1);
  QTest::qWait(100);
  EXPECT_EQ(spy.count(), seen);  // stopped: no more ticks
}

}  // namespace
}  // namespace muralo
