// Controllable synthesis: texture optimisation from a start image in which the user's
// constrained pixels keep their colours while the rest is re-synthesised around them.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "patchloom/engine/flow_em.h"
#include "patchloom/engine/patch_optimizer.h"
#include "patchloom/engine/patch_optimizer_internal.h"
#include "patchloom/image/image.h"

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
  using patchloom_detail::RgbPlane;

  if (exemplar == nullptr || image == nullptr || !exemplar->IsValid() || !image->IsValid())
    return nullptr;
  if (!(weight >= 0.0) || !std::isfinite(weight)) return nullptr;
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
    patchloom_detail::PixelTargets targets;
    targets.Reset(canvas.width, canvas.height);
    for (const CPoint& p : constrainedPixels) {
      if (!start.Contains(p.x, p.y)) continue;
      const std::size_t i = targets.Index(p.x, p.y);
      std::memcpy(targets.rgb.data() + i * 3, start.At(p.x, p.y), 3);
      // A zero weight still keeps the pixel in the result; it only lets the pixel
      // follow the matches while the iterations run.
      targets.weight[i] = weight;
    }

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
