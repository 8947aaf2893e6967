// The EM iteration of the flow-guided and controllable procedures: the search and blend
// steps of texture optimisation on a plain RGB canvas, where chosen pixels are also
// pulled toward a target colour of their own.
#pragma once

#include <cstdint>
#include <vector>

#include "patchloom/engine/patch_optimizer.h"
#include "patchloom/engine/patch_optimizer_internal.h"

class CImage;

namespace patchloom_detail {

// A colour and a weight per canvas pixel. A weight w > 0 makes the pixel's target count
// w times as much as all the matched neighbourhoods that cover it together, so the blend
// gives (matched mean + w * target) / (1 + w); weight 0 leaves the pixel to the matches.
struct PixelTargets {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;  // width * height * 3
  std::vector<double> weight;     // width * height

  void Reset(int w, int h) {
    width = w;
    height = h;
    rgb.assign(static_cast<std::size_t>(w) * h * 3, 0);
    weight.assign(static_cast<std::size_t>(w) * h, 0.0);
  }
  std::size_t Index(int x, int y) const { return static_cast<std::size_t>(y) * width + x; }
};

// The smallest side of at least `size` (and at least n) whose window grid of step n/4
// covers it exactly: n + (n/4) * k.
int CoveringSide(int size, int n);

// `plane` grown to width x height (not smaller than it) by repeating its last column and
// row.
RgbPlane ExtendPlane(const RgbPlane& plane, int width, int height);

// The strongest pull a target is given. Above it the matches move no pixel by a grey
// level any more, while near the largest doubles weight * colour overflows and the blend
// turns black.
constexpr double kStrongestTargetWeight = 1e6;

// `iterations` EM iterations at neighbourhood size n on `canvas` in place, the windows on
// a grid of step n/4 that must cover the canvas exactly. `targets`, when given, has the
// canvas's size. `label` names the iterations in the progress lines.
void RunTargetedIterations(const RgbPlane& exemplar, RgbPlane& canvas,
                           const CPatchClusterNode& tree, const GaussianKernel& kernel, int n,
                           int iterations, const PixelTargets* targets, const char* label);

// A new 24-bit image of the plane's pixels (x, y) with x < width and y < height, rows
// from the bottom as everywhere in the engine; null when it cannot be made.
CImage* ImageFromPlane(const RgbPlane& plane, int width, int height);

}  // namespace patchloom_detail
