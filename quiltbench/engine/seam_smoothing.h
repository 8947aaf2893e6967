// The seam post-process: feathers the output across every recorded seam by blending
// each pixel near a seam with what the patch on the other side of the seam would have
// put there, read from the sample through that side's source coordinates.
#pragma once

#include "quiltbench/engine/synthesis_types.h"

// Seams up to this cost get a one-pixel blend at reduced strength; each further step
// of this size widens the blend by a pixel, up to kMaxFeatherRadius. A seam cost sums
// two pixel distances, so 48 is a step of about 24 levels a pixel.
inline constexpr float kFeatherCostStep = 48.0f;
inline constexpr int kMaxFeatherRadius = 4;

// Pixels blended on each side of a seam of cost `cost`: 1 .. kMaxFeatherRadius.
int FeatherRadius(float cost);

// Blends `output` across the seams set in `seams` (flag == 1). A pixel at distance t
// (0 next to the seam) from a seam of radius r takes the share
// 0.5 * strength * (r - t) / r of the other side's continuation, strength = min(1,
// cost / kFeatherCostStep); shares from several seams add up to at most one half.
// Continuations that fall outside the sample, and walks that would cross another seam,
// are skipped. Pixels no seam reaches keep their values exactly.
void SmoothSeams(PixelRows& output, const Grid<SeamRecord>& seams, const Grid<SourceCoord>& coords,
                 const PixelRows& source);
