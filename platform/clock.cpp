#include "platform/clock.h"

#include <chrono>

namespace platform {
namespace {

class SystemClock final : public Clock {
 public:
  std::time_t secondsNow() override { return std::time(nullptr); }
  std::uint32_t tickCount() override {
    using namespace std::chrono;
    auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<std::uint32_t>(ms);
  }
};

SystemClock g_systemClock;
Clock* g_clock = &g_systemClock;

}  // namespace

Clock& clock() { return *g_clock; }

void setClock(Clock* replacement) { g_clock = replacement ? replacement : &g_systemClock; }

ScopedClock::ScopedClock(Clock& c) : previous_(g_clock) { g_clock = &c; }
ScopedClock::~ScopedClock() { g_clock = previous_; }

}  // namespace platform
