// 8x8 forward and inverse discrete cosine transforms of the encoder, separable
// products with a cosine table, run by the fastest kernel set of the processor
// (coding_kernels.h).
#pragma once

#include <array>
#include <cstdint>

namespace quiltbench::encoder {

// In place: sample differences (-255..255) to coefficients in fixed point,
// within one of the exactly rounded values.
void forwardDct(std::array<std::int16_t, 64>& block);

// The same in single precision, rounded to the nearest integer: slower, kept
// as the accurate transform to compare the fixed-point one with.
// initForwardDct must have run.
void forwardDctPrecise(std::array<std::int16_t, 64>& block);

// In place: coefficients (-2048..2047) to samples rounded to the nearest
// integer and limited to -256..255. Accurate to the IEEE 1180 limits.
void inverseDct(std::array<std::int16_t, 64>& block);

}  // namespace quiltbench::encoder
