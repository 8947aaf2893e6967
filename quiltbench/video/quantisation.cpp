// Quantisation and inverse quantisation of 8x8 blocks. The inverse rules are
// the decoder's exactly, so the reconstruction matches any conforming decoder.
#include "quiltbench/video/quantisation.h"

#include <cstdlib>

#include "quiltbench/video/coding_kernels.h"
#include "quiltbench/video/encoder_stages.h"
#include "quiltbench/video/vlc_tables.h"

namespace quiltbench::encoder {

int quantiserScale(int code, int qScaleType) {
  return qScaleType ? kNonLinearQuantiserScale[code] : 2 * code;
}

int quantiserScaleCode(int scale, int qScaleType) {
  if (!qScaleType) {
    const int code = (scale + 1) / 2;
    return code < 1 ? 1 : (code > 31 ? 31 : code);
  }
  int best = 1;
  for (int code = 2; code < 32; ++code) {
    if (std::abs(kNonLinearQuantiserScale[code] - scale) <
        std::abs(kNonLinearQuantiserScale[best] - scale)) {
      best = code;
    }
  }
  return best;
}

void quantiseIntra(std::array<std::int16_t, 64>& block, int mquant, int intraDcPrecision,
                   const std::array<std::uint8_t, 64>& matrix, bool mpeg1) {
  const int dcMultiplier = 8 >> intraDcPrecision;
  const int dcMax = (256 << intraDcPrecision) - 1;
  const int dc = block[0];
  int dcLevel =
      dc >= 0 ? (dc + dcMultiplier / 2) / dcMultiplier : -((-dc + dcMultiplier / 2) / dcMultiplier);
  // The DC level is coded as a difference from 128 << precision, so it must
  // stay within the unsigned range of the precision.
  dcLevel = dcLevel < 0 ? 0 : (dcLevel > dcMax ? dcMax : dcLevel);
  block[0] = static_cast<std::int16_t>(dcLevel);
  static const auto quantise = activeKernels().quantise;
  quantise(block, 1, mquant, matrix, true, mpeg1 ? 255 : 2047);
}

bool quantiseNonIntra(std::array<std::int16_t, 64>& block, int mquant,
                      const std::array<std::uint8_t, 64>& matrix, bool mpeg1) {
  static const auto quantise = activeKernels().quantise;
  return quantise(block, 0, mquant, matrix, false, mpeg1 ? 255 : 2047);
}

namespace {

void controlMismatch(std::array<std::int16_t, 64>& block, int sum) {
  if ((sum & 1) == 0) block[63] = static_cast<std::int16_t>(block[63] ^ 1);
}

}  // namespace

void inverseQuantiseIntra(Block& block, int mquant, int intraDcPrecision,
                          const std::array<std::uint8_t, 64>& matrix, bool mpeg1) {
  static const auto inverseQuantise = activeKernels().inverseQuantise;
  block[0] = static_cast<std::int16_t>(block[0] * (8 >> intraDcPrecision));
  bool anyLevel = false;
  const int sum = block[0] + inverseQuantise(block, 1, mquant, matrix, true, mpeg1, anyLevel);
  if (!mpeg1) controlMismatch(block, sum);
}

void inverseQuantiseNonIntra(Block& block, int mquant, const std::array<std::uint8_t, 64>& matrix,
                             bool mpeg1) {
  static const auto inverseQuantise = activeKernels().inverseQuantise;
  bool anyLevel = false;
  const int sum = inverseQuantise(block, 0, mquant, matrix, false, mpeg1, anyLevel);
  // A block without levels is not coded: the decoder adds nothing for it.
  if (anyLevel && !mpeg1) controlMismatch(block, sum);
}

}  // namespace quiltbench::encoder
