// Wall clock and millisecond tick counter behind one replaceable source, so tests
// can run the programs on a fixed clock.
#pragma once

#include <cstdint>
#include <ctime>

namespace platform {

class Clock {
 public:
  virtual ~Clock() = default;
  // Seconds since the epoch, like time(NULL).
  virtual std::time_t secondsNow() = 0;
  // Milliseconds since some start, wrapping at 2^32 like the system tick counter.
  virtual std::uint32_t tickCount() = 0;
};

// The clock in force: the system clock unless a test installed another.
Clock& clock();

// Installs `replacement` (not owned) for the whole process; null restores the system clock.
void setClock(Clock* replacement);

inline std::time_t time() { return clock().secondsNow(); }
inline std::uint32_t tickCount() { return clock().tickCount(); }

// A clock that stands still unless told to move; for tests and benchmarks.
class FixedClock final : public Clock {
 public:
  explicit FixedClock(std::time_t seconds = 1000000000, std::uint32_t ticks = 0)
      : seconds_(seconds), ticks_(ticks) {}
  std::time_t secondsNow() override { return seconds_; }
  std::uint32_t tickCount() override { return ticks_; }
  void advanceMilliseconds(std::uint32_t ms) {
    ticks_ += ms;
    seconds_ += ms / 1000;
  }

 private:
  std::time_t seconds_;
  std::uint32_t ticks_;
};

// Installs a clock for the lifetime of the guard and restores the previous one.
class ScopedClock {
 public:
  explicit ScopedClock(Clock& c);
  ~ScopedClock();
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;

 private:
  Clock* previous_;
};

}  // namespace platform
