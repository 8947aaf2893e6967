// The encoder's inner kernels (transforms, block prediction, quantisation) as
// sets of interchangeable versions: a portable one and SIMD ones for the
// processor found at run time. Every version gives exactly the portable
// version's output for every input, so the stream and the reconstruction do not
// depend on the machine.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace quiltbench::encoder {

struct CodingKernels {
  const char* name;
  // Forward DCT in fixed point: sample differences (-255..255) to coefficients
  // within one of the exactly rounded ones.
  void (*forwardDct)(std::array<std::int16_t, 64>& block);
  // Inverse DCT in single precision, rounded to the nearest integer and limited
  // to -256..255; meets the IEEE 1180 accuracy limits.
  void (*inverseDct)(std::array<std::int16_t, 64>& block);
  // The half-pel prediction of predictBlock (prediction.h) for w of 8 or 16.
  void (*predictBlock)(const std::uint8_t* ref, int refStride, int x, int y, int dx, int dy, int w,
                       int h, std::uint8_t* dst, int dstStride, bool average);
  // Quantisation of the coefficients `first` (0 or 1)..63 (raster order, in place)
  // with step matrix[i] * mquant: rounded to nearest for intra, toward zero
  // otherwise, limited to +-maxLevel. Returns whether a level is not zero.
  bool (*quantise)(std::array<std::int16_t, 64>& block, int first, int mquant,
                   const std::array<std::uint8_t, 64>& matrix, bool intra, int maxLevel);
  // The decoder's inverse quantisation of levels -2048..2047 at `first` (0 or
  // 1)..63: level * W * scale / 16 for intra, (2 * level + sign) * W * scale /
  // 32 otherwise, made odd toward zero for MPEG-1, limited to -2048..2047.
  // Returns the sum of the results (for mismatch control) and sets `anyLevel`
  // when a level was not zero.
  int (*inverseQuantise)(std::array<std::int16_t, 64>& block, int first, int mquant,
                         const std::array<std::uint8_t, 64>& matrix, bool intra, bool mpeg1,
                         bool& anyLevel);
};

// The plain C++ versions every other set is checked against.
const CodingKernels& portableKernels();

// Every set this processor can run, portable first.
std::vector<const CodingKernels*> availableKernels();

// The fastest set this processor can run, chosen once.
const CodingKernels& activeKernels();

namespace detail {

// The fixed-point cosine table of the forward DCT: round(c(u) / 2 *
// cos((2x + 1) u pi / 16) * 2^15), c(0) = 1 / sqrt(2).
const std::array<std::array<std::int16_t, 8>, 8>& forwardDctTable();
// The same in single precision, for the precise forward DCT.
const std::array<std::array<float, 8>, 8>& inverseDctTable();

// Rounding of the forward DCT's two passes: the first keeps 4 fraction bits.
constexpr int kForwardFirstShift = 11;
constexpr int kForwardSecondShift = 19;

// SIMD sets, or null where the processor or the build lacks them.
const CodingKernels* sse2Kernels();
const CodingKernels* avx2Kernels();

}  // namespace detail

}  // namespace quiltbench::encoder
