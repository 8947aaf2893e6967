// Sums of absolute differences of 16-sample-wide blocks, the inner loop of the
// motion search.
#pragma once

#include <cstdint>

namespace quiltbench::encoder {

// Plain SAD of a 16 x h block (h a multiple of 4).
int sad16Plain(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride, int h);

// The same with SIMD; stops early once the running sum exceeds `limit`. Returns
// the exact SAD when it is at most `limit`, otherwise some value above `limit`.
int sad16(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride, int h, int limit);

}  // namespace quiltbench::encoder
