// Interval timers and the loop that drives them. By default the loop runs on a simulated
// clock: each tick follows the previous one at once, as if the interval had passed, so a
// console run of a timer-driven program takes no longer than its work. In real time the
// loop waits for each interval on the steady clock. A windowed program plugs in a scheduler
// instead: the window system's own timeouts then drive the timers.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace platform {

// A timer fires onTimer every interval milliseconds while enabled, from inside the timer
// loop. Enabling a disabled timer, or changing the interval of an enabled one, starts the
// interval anew. An interval of 0 never fires. Timers start disabled. A handler may
// disable or re-enable its own timer, but must not destroy it.
class Timer {
 public:
  Timer();
  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  unsigned interval() const { return interval_; }
  void setInterval(unsigned ms);
  bool enabled() const { return enabled_; }
  void setEnabled(bool on);

  std::function<void()> onTimer;

 private:
  friend class TimerLoop;
  unsigned interval_ = 1000;
  bool enabled_ = false;
  std::uint64_t dueAt_ = 0;
};

// Drives the timers from outside the loop (a window system's timeouts). While one is
// installed it is told whenever a timer starts or stops, and calls TimerLoop::fire on
// each tick.
class TimerScheduler {
 public:
  virtual ~TimerScheduler() = default;
  // The timer is enabled (again, or with a new interval): its next tick is due one
  // interval from now. Not called for an interval of 0.
  virtual void start(Timer& t) = 0;
  // The timer stopped or goes; a tick of it must not follow.
  virtual void stop(Timer& t) = 0;
};

class TimerLoop {
 public:
  // Fires due timers, earliest first (in creation order when due together), until `stop`
  // returns true (asked before every tick) or no timer is enabled.
  void run(const std::function<bool()>& stop);
  // Fires the timers already due, without waiting: the event processing that long work
  // does in its middle. A timer may fire here from inside its own handler.
  void processPending();
  // On the simulated clock: lets `ms` pass and fires what falls due on the way.
  void advance(std::uint64_t ms);

  // Real time waits on the steady clock; switching restarts every enabled timer's interval.
  void setRealTime(bool on);
  bool realTime() const { return realTime_; }
  // Milliseconds on the loop's clock.
  std::uint64_t now() const;

  // Installs `scheduler` (not owned), which starts every enabled timer; null takes the
  // timers back into this loop (they start their interval anew).
  void setScheduler(TimerScheduler* scheduler);
  TimerScheduler* scheduler() const { return scheduler_; }
  // One tick of `t`, for the scheduler: runs its handler when it is enabled.
  void fire(Timer& t);

 private:
  friend class Timer;
  void add(Timer* t);
  void remove(Timer* t);
  // The enabled timer due first, or null.
  Timer* earliest() const;
  void fire(Timer* t);
  // Tells the scheduler, if any, what became of `t`.
  void changed(Timer& t);

  std::vector<Timer*> timers_;
  bool realTime_ = false;
  std::uint64_t simulatedNow_ = 0;
  TimerScheduler* scheduler_ = nullptr;
};

// The process's timer loop.
TimerLoop& timerLoop();

}  // namespace platform
