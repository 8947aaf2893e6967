#include "platform/timer.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace platform {
namespace {

std::uint64_t steadyMilliseconds() {
  static const auto start = std::chrono::steady_clock::now();
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now() - start)
                                        .count());
}

}  // namespace

TimerLoop& timerLoop() {
  static TimerLoop loop;
  return loop;
}

Timer::Timer() { timerLoop().add(this); }

Timer::~Timer() { timerLoop().remove(this); }

void Timer::setInterval(unsigned ms) {
  interval_ = ms;
  if (enabled_) {
    dueAt_ = timerLoop().now() + interval_;
    timerLoop().changed(*this);
  }
}

void Timer::setEnabled(bool on) {
  const bool starts = on && !enabled_;
  const bool stops = !on && enabled_;
  if (starts) dueAt_ = timerLoop().now() + interval_;
  enabled_ = on;
  if (starts || stops) timerLoop().changed(*this);
}

void TimerLoop::add(Timer* t) { timers_.push_back(t); }

void TimerLoop::remove(Timer* t) {
  if (scheduler_) scheduler_->stop(*t);
  std::erase(timers_, t);
}

void TimerLoop::changed(Timer& t) {
  if (scheduler_ == nullptr) return;
  scheduler_->stop(t);
  if (t.enabled_ && t.interval_ > 0) scheduler_->start(t);
}

void TimerLoop::setScheduler(TimerScheduler* scheduler) {
  if (scheduler_) {
    for (Timer* t : timers_) scheduler_->stop(*t);
  }
  scheduler_ = scheduler;
  const std::uint64_t base = now();
  for (Timer* t : timers_) {
    t->dueAt_ = base + t->interval_;
    changed(*t);
  }
}

void TimerLoop::fire(Timer& t) {
  if (t.enabled_ && t.interval_ > 0) fire(&t);
}

std::uint64_t TimerLoop::now() const { return realTime_ ? steadyMilliseconds() : simulatedNow_; }

void TimerLoop::setRealTime(bool on) {
  realTime_ = on;
  const std::uint64_t base = now();
  for (Timer* t : timers_) t->dueAt_ = base + t->interval_;
}

Timer* TimerLoop::earliest() const {
  Timer* best = nullptr;
  for (Timer* t : timers_) {
    if (!t->enabled_ || t->interval_ == 0) continue;
    if (best == nullptr || t->dueAt_ < best->dueAt_) best = t;
  }
  return best;
}

void TimerLoop::fire(Timer* t) {
  // The next tick is due one interval from now, so a handler that runs long gets no
  // burst of ticks queued behind it.
  t->dueAt_ = now() + t->interval_;
  if (t->onTimer) t->onTimer();
}

void TimerLoop::run(const std::function<bool()>& stop) {
  for (;;) {
    if (stop && stop()) return;
    Timer* t = earliest();
    if (t == nullptr) return;
    if (realTime_) {
      const std::uint64_t current = now();
      if (t->dueAt_ > current) {
        std::this_thread::sleep_for(std::chrono::milliseconds(t->dueAt_ - current));
        continue;  // `stop` is asked again before the tick
      }
    } else {
      simulatedNow_ = std::max(simulatedNow_, t->dueAt_);
    }
    fire(t);
  }
}

void TimerLoop::processPending() {
  const std::uint64_t current = now();
  // Every fire moves that timer's due time past `current`, so this ends.
  for (;;) {
    Timer* t = earliest();
    if (t == nullptr || t->dueAt_ > current) return;
    fire(t);
  }
}

void TimerLoop::advance(std::uint64_t ms) {
  if (realTime_) return;
  const std::uint64_t target = simulatedNow_ + ms;
  for (;;) {
    Timer* t = earliest();
    if (t == nullptr || t->dueAt_ > target) break;
    simulatedNow_ = std::max(simulatedNow_, t->dueAt_);
    fire(t);
  }
  simulatedNow_ = target;
}

}  // namespace platform
