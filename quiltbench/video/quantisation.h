// Forward quantisation of DCT coefficients; the inverse rules are declared with
// the other stages.
#pragma once

#include <array>
#include <cstdint>

namespace quiltbench::encoder {

// quantiser_scale for quantiser_scale_code 1..31 under q_scale_type.
int quantiserScale(int code, int qScaleType);
// The code whose scale is nearest to `scale` (ties to the smaller scale), 1..31.
int quantiserScaleCode(int scale, int qScaleType);

// Quantises an intra block in place (raster order). `mquant` is the
// quantiser_scale. The DC level is limited to the range of intraDcPrecision,
// AC levels to +-2047 (+-255 for MPEG-1).
void quantiseIntra(std::array<std::int16_t, 64>& block, int mquant, int intraDcPrecision,
                   const std::array<std::uint8_t, 64>& matrix, bool mpeg1);
// Quantises a non-intra block in place; returns whether any level is non-zero.
bool quantiseNonIntra(std::array<std::int16_t, 64>& block, int mquant,
                      const std::array<std::uint8_t, 64>& matrix, bool mpeg1);

}  // namespace quiltbench::encoder
