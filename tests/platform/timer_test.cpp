#include "platform/timer.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using platform::Timer;
using platform::timerLoop;

struct Tick {
  std::string name;
  std::uint64_t at;
  bool operator==(const Tick&) const = default;
};

TEST(TimerTest, SimulatedClockFiresInDueOrderWithoutWaiting) {
  std::vector<Tick> ticks;
  const std::uint64_t start = timerLoop().now();
  Timer a, b;
  a.setInterval(500);
  b.setInterval(250);
  a.onTimer = [&] { ticks.push_back({"a", timerLoop().now() - start}); };
  b.onTimer = [&] { ticks.push_back({"b", timerLoop().now() - start}); };
  a.setEnabled(true);
  b.setEnabled(true);
  timerLoop().run([&] { return ticks.size() >= 6; });
  // At 500 and 1000 both are due: the one created first goes first.
  const std::vector<Tick> expected{{"b", 250}, {"a", 500},  {"b", 500},
                                   {"b", 750}, {"a", 1000}, {"b", 1000}};
  EXPECT_EQ(ticks, expected);
}

TEST(TimerTest, RunEndsWhenNoTimerIsEnabled) {
  Timer t;
  t.setInterval(500);
  int count = 0;
  t.onTimer = [&] {
    if (++count == 3) t.setEnabled(false);
  };
  t.setEnabled(true);
  timerLoop().run(nullptr);
  EXPECT_EQ(count, 3);
  EXPECT_FALSE(t.enabled());
}

TEST(TimerTest, DisabledAndZeroIntervalTimersNeverFire) {
  Timer off, zero;
  int fired = 0;
  off.onTimer = zero.onTimer = [&] { ++fired; };
  zero.setInterval(0);
  zero.setEnabled(true);
  EXPECT_FALSE(off.enabled());
  timerLoop().advance(10000);
  timerLoop().run(nullptr);  // nothing to run: returns at once
  EXPECT_EQ(fired, 0);
}

TEST(TimerTest, EnablingAndChangingTheIntervalRestartIt) {
  Timer t;
  t.setInterval(500);
  std::vector<std::uint64_t> at;
  const std::uint64_t start = timerLoop().now();
  t.onTimer = [&] { at.push_back(timerLoop().now() - start); };
  t.setEnabled(true);
  timerLoop().advance(400);
  t.setEnabled(false);
  timerLoop().advance(400);
  t.setEnabled(true);  // due at 800 + 500
  timerLoop().advance(700);
  t.setInterval(100);  // at 1500: due at 1600
  timerLoop().advance(150);
  EXPECT_EQ(at, (std::vector<std::uint64_t>{1300, 1600}));
}

TEST(TimerTest, PendingEventsInsideAHandlerDoNotRefireIt) {
  Timer t;
  t.setInterval(500);
  int depth = 0, maxDepth = 0, count = 0;
  t.onTimer = [&] {
    ++count;
    maxDepth = std::max(maxDepth, ++depth);
    timerLoop().processPending();
    --depth;
  };
  t.setEnabled(true);
  timerLoop().run([&] { return count >= 3; });
  EXPECT_EQ(count, 3);
  EXPECT_EQ(maxDepth, 1);
  t.setEnabled(false);
}

TEST(TimerTest, ADestroyedTimerLeavesTheLoop) {
  int fired = 0;
  {
    Timer t;
    t.setInterval(100);
    t.onTimer = [&] { ++fired; };
    t.setEnabled(true);
  }
  timerLoop().advance(1000);
  EXPECT_EQ(fired, 0);
}

}  // namespace

namespace {

// Records what the timer loop tells a scheduler, as a window system's timeouts would hear it.
class RecordingScheduler final : public platform::TimerScheduler {
 public:
  std::vector<std::pair<std::string, unsigned>> calls;
  void start(Timer& t) override { calls.emplace_back("start", t.interval()); }
  void stop(Timer& t) override { calls.emplace_back("stop", t.interval()); }
};

TEST(TimerTest, APluggedSchedulerHearsEveryStartAndStop) {
  RecordingScheduler scheduler;
  using Calls = std::vector<std::pair<std::string, unsigned>>;
  {
    Timer running;
    running.setInterval(500);
    running.setEnabled(true);
    Timer idle;
    timerLoop().setScheduler(&scheduler);
    // Installing starts what already runs; timers still disabled only get a stop.
    EXPECT_EQ(scheduler.calls, (Calls{{"stop", 500}, {"start", 500}, {"stop", 1000}}));
    int fired = 0;
    running.onTimer = [&] { ++fired; };
    scheduler.calls.clear();

    running.setInterval(250);  // a new interval starts anew
    running.setEnabled(true);  // already on: nothing to tell
    running.setEnabled(false);
    running.setInterval(100);  // disabled: nothing to tell
    idle.setInterval(0);
    idle.setEnabled(true);  // an interval of 0 never fires: not started
    EXPECT_EQ(scheduler.calls, (Calls{{"stop", 250}, {"start", 250}, {"stop", 250}, {"stop", 0}}));

    timerLoop().fire(running);  // a tick that was already on its way when it stopped
    EXPECT_EQ(fired, 0);
    running.setEnabled(true);
    timerLoop().fire(running);
    EXPECT_EQ(fired, 1);
    scheduler.calls.clear();
  }
  // Timers that go tell the scheduler, so that no tick of theirs follows.
  EXPECT_EQ(scheduler.calls, (Calls{{"stop", 0}, {"stop", 100}}));
  timerLoop().setScheduler(nullptr);

  // Back on the loop's own clock.
  Timer t;
  t.setInterval(500);
  int count = 0;
  t.onTimer = [&] { ++count; };
  t.setEnabled(true);
  timerLoop().run([&] { return count >= 2; });
  EXPECT_EQ(count, 2);
}

}  // namespace
