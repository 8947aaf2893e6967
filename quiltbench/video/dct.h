// 8x8 forward and inverse discrete cosine transforms of the encoder, both
// separable products with the cosine table built by initForwardDct.
#pragma once

#include <array>
#include <cstdint>

namespace quiltbench::encoder {

// In place: sample differences (-255..255) to coefficients, rounded to the
// nearest integer. initForwardDct must have run.
void forwardDct(std::array<std::int16_t, 64>& block);

// In place: coefficients (-2048..2047) to samples rounded to the nearest
// integer and limited to -256..255. Accurate to the IEEE 1180 limits.
// initInverseDct must have run.
void inverseDct(std::array<std::int16_t, 64>& block);

}  // namespace quiltbench::encoder
