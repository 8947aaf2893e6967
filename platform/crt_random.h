// The C runtime's pseudo-random generator as the Windows runtime has it, so that
// every seed gives the numbers the programs were designed and tuned with.
#pragma once

namespace platform {

inline constexpr int kRandMax = 32767;

// Seeds the process-wide generator.
void srand(unsigned seed);

// Next number in 0..kRandMax: state = state * 214013 + 2531011, bits 16..30.
int rand();

}  // namespace platform
