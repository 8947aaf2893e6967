// Numeric helpers of the chart components: the step of "nice" axis ticks.
#pragma once

namespace arrowmap {

// The tick step for a range split into at least `minTicks` parts: `step` is 1, 2 or 5
// times a power of ten, the largest not above |high - low| / minTicks, signed like
// (high - low); `firstTick` is the first multiple of the step at or beyond `low` in
// the step's direction; `minorCount` is 5 for steps 1 and 5, 4 for step 2.
// Returns false (and leaves the outputs alone) for an empty or non-finite range.
bool TickSteps(int minTicks, double rangeHigh, double rangeLow, double& firstTick, double& step,
               int& minorCount);

}  // namespace arrowmap
