// Interval timers and the loop that drives them. By default the loop runs on a simulated
// clock: each tick follows the previous one at once, as if the interval had passed, so a
// console run of a timer-driven program takes no longer than its work. In real time the
// loop waits for each interval on the steady clock.
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

 private:
  friend class Timer;
  void add(Timer* t);
  void remove(Timer* t);
  // The enabled timer due first, or null.
  Timer* earliest() const;
  void fire(Timer* t);

  std::vector<Timer*> timers_;
  bool realTime_ = false;
  std::uint64_t simulatedNow_ = 0;
};

// The process's timer loop.
TimerLoop& timerLoop();

}  // namespace platform
