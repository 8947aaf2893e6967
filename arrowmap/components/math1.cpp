// Tick steps for axes.
#include "arrowmap/components/math1.h"

#include <cmath>

namespace arrowmap {

bool TickSteps(int minTicks, double rangeHigh, double rangeLow, double& firstTick, double& step,
               int& minorCount) {
  const double range = rangeHigh - rangeLow;
  if (!std::isfinite(range) || range == 0 || minTicks < 1) return false;
  const double target = std::fabs(range) / minTicks;
  double power = std::pow(10.0, std::floor(std::log10(target)));
  // log10 may land a hair below an exact power of ten.
  if (power * 10 <= target) power *= 10;
  if (power > target) power /= 10;
  double mantissa = 1;
  if (5 * power <= target) {
    mantissa = 5;
  } else if (2 * power <= target) {
    mantissa = 2;
  }
  const double size = mantissa * power;
  // Ranges near the ends of double precision have no usable step.
  if (!(size > 0) || !std::isfinite(rangeLow / size)) return false;
  minorCount = mantissa == 2 ? 4 : 5;
  if (range > 0) {
    step = size;
    firstTick = std::ceil(rangeLow / size - 0.001) * size;
  } else {
    step = -size;
    firstTick = std::floor(rangeLow / size + 0.001) * size;
  }
  return true;
}

}  // namespace arrowmap
