// Controllable synthesis: texture optimisation from a start image in which the user's
// constrained pixels keep their colours while the rest is re-synthesised around them.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "patchloom/engine/flow_em.h"
#include "patchloom/engine/patch_optimizer.h"
#include "patchloom/engine/patch_optimizer_internal.h"
#include "patchloom/image/image.h"

namespace {

using patchloom_detail::PixelTargets;
using patchloom_detail::RgbPlane;

// How far outside the constrained area the start image still pulls, in pixels: half a
// window at the larger size, so every window that reaches into the area is matched
// against texture that continues from it. Tuned on leopard and brick textures: at 8 the
// step just outside the ring on bricks is 1.04 times the texture's own (0.88 at 16), and
// 24 widens the blurred margin for little gain.
constexpr int kRingWidth = 16;

// Per pixel of a width x height grid, the 3-4 chamfer distance to the nearest marked
// pixel in thirds of a pixel (within 8% of the Euclidean distance); INT_MAX / 2 when
// nothing is marked.
std::vector<int> ChamferDistances(const std::vector<std::uint8_t>& marked, int width, int height) {
  constexpr int kFar = INT_MAX / 2;  // stays far after any number of steps are added
  std::vector<int> d(marked.size(), kFar);
  const auto at = [&](int x, int y) -> int& { return d[static_cast<std::size_t>(y) * width + x]; };
  for (std::size_t i = 0; i < marked.size(); ++i)
    if (marked[i]) d[i] = 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      int& here = at(x, y);
      if (x > 0) here = std::min(here, at(x - 1, y) + 3);
      if (y > 0) here = std::min(here, at(x, y - 1) + 3);
      if (x > 0 && y > 0) here = std::min(here, at(x - 1, y - 1) + 4);
      if (x + 1 < width && y > 0) here = std::min(here, at(x + 1, y - 1) + 4);
    }
  for (int y = height - 1; y >= 0; --y)
    for (int x = width - 1; x >= 0; --x) {
      int& here = at(x, y);
      if (x + 1 < width) here = std::min(here, at(x + 1, y) + 3);
      if (y + 1 < height) here = std::min(here, at(x, y + 1) + 3);
      if (x + 1 < width && y + 1 < height) here = std::min(here, at(x + 1, y + 1) + 4);
      if (x > 0 && y + 1 < height) here = std::min(here, at(x - 1, y + 1) + 4);
    }
  return d;
}

// Targets for the constrained pixels at `weight`, and for the free pixels within
// kRingWidth of them at the start's own colour, the weight falling linearly to 0 with
// the distance. Without the ring the windows at the edge match the area and its
// surroundings independently, and the blend meets the kept pixels with a step several
// times the texture's own.
PixelTargets ConstraintTargets(const RgbPlane& start, const std::vector<std::uint8_t>& constrained,
                               double weight) {
  PixelTargets targets;
  targets.Reset(start.width, start.height);
  targets.rgb = start.rgb;
  const std::vector<int> distance = ChamferDistances(constrained, start.width, start.height);
  for (std::size_t i = 0; i < distance.size(); ++i) {
    const double pixels = distance[i] / 3.0;
    // A zero weight still keeps the constrained pixels in the result; it only lets them,
    // and the ring, follow the matches while the iterations run.
    if (pixels <= kRingWidth) targets.weight[i] = weight * (1.0 - pixels / (kRingWidth + 1));
  }
  return targets;
}

}  // namespace

CImage* CPatchOptimizer::SynthesizeControllable(CImage* exemplar, CImage* image,
                                                const CPointArray& constrainedPixels,
                                                double weight) {
  std::unique_ptr<CImage> convertedExemplar, convertedImage;
  exemplar = patchloom_detail::TrueColourImage(exemplar, convertedExemplar);
  image = patchloom_detail::TrueColourImage(image, convertedImage);
  // The schedule of the plain synthesis that the compare result runs, so that the two
  // results differ only by the constraints.
  constexpr int kSize = 32;
  constexpr int kIterations = 5;
  constexpr int kHalfIterations = 10;

  if (exemplar == nullptr || image == nullptr || !exemplar->IsValid() || !image->IsValid())
    return nullptr;
  if (!(weight >= 0.0) || !std::isfinite(weight)) return nullptr;
  weight = std::min(weight, patchloom_detail::kStrongestTargetWeight);
  const int width = image->GetWidth();
  const int height = image->GetHeight();
  if (width <= 0 || height <= 0 || exemplar->GetWidth() < kSize || exemplar->GetHeight() < kSize)
    return nullptr;

  try {
    const auto tree = BuildClusterTree(exemplar, kSize);
    if (!tree) return nullptr;
    const auto halfTree = BuildClusterTree(exemplar, kSize / 2);
    if (!halfTree) return nullptr;
    GaussianKernel kernel, halfKernel;
    MakeGaussianKernel(kernel, kSize, 1, 3);
    MakeGaussianKernel(halfKernel, kSize / 2, 1, 3);

    const RgbPlane colours = patchloom_detail::ReadColours(*exemplar);
    const RgbPlane start = patchloom_detail::ReadColours(*image);
    // A side that covers the grid of size 32 also covers the grid of size 16.
    RgbPlane canvas =
        patchloom_detail::ExtendPlane(start, patchloom_detail::CoveringSide(width, kSize),
                                      patchloom_detail::CoveringSide(height, kSize));
    std::vector<std::uint8_t> constrained(static_cast<std::size_t>(canvas.width) * canvas.height);
    for (const CPoint& p : constrainedPixels)
      if (start.Contains(p.x, p.y))
        constrained[static_cast<std::size_t>(p.y) * canvas.width + p.x] = 1;
    const PixelTargets targets = ConstraintTargets(canvas, constrained, weight);

    patchloom_detail::RunTargetedIterations(colours, canvas, *tree, kernel, kSize, kIterations,
                                            &targets, "Controllable synthesis at size 32");
    patchloom_detail::RunTargetedIterations(colours, canvas, *halfTree, halfKernel, kSize / 2,
                                            kHalfIterations, &targets,
                                            "Controllable synthesis at size 16");
    for (const CPoint& p : constrainedPixels)
      if (start.Contains(p.x, p.y)) std::memcpy(canvas.At(p.x, p.y), start.At(p.x, p.y), 3);
    return patchloom_detail::ImageFromPlane(canvas, width, height);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
