// Multi-level synthesis: two scale stages, each refined from the largest neighbourhood
// size down, with every intermediate result written as a BMP file.
#include <cmath>
#include <cstdint>
#include <memory>
#include <new>
#include <string>

#include "patchloom/engine/patch_optimizer.h"
#include "patchloom/engine/patch_optimizer_internal.h"
#include "patchloom/image/image.h"
#include "patchloom/image/image_dib.h"

bool CPatchOptimizer::OptimizeLevel(CImage* exemplar, CImage* image, int e,
                                    const CPatchClusterNode* tree, const GaussianKernel& kernel,
                                    int iterations) {
  if (exemplar == nullptr || image == nullptr || tree == nullptr || !exemplar->IsValid() ||
      !image->IsValid() || e < 4 || iterations <= 0)
    return true;
  try {
    const int step = e / 4;
    PatchMatchGrid grid((image->GetHeight() - e) / step + 1, (image->GetWidth() - e) / step + 1);
    const auto colours = patchloom_detail::ReadColours(*exemplar);
    patchloom_detail::RunIterations(colours, *image, *tree, kernel, grid, e, step, 1, iterations,
                                    ("Level of size " + std::to_string(e)).c_str());
  } catch (const std::bad_alloc&) {
    // The image keeps the iterations that were finished.
  }
  return true;
}

CImage* CPatchOptimizer::SynthesizeMultiLevel(CImage* exemplar, double xScale, double yScale,
                                              int iterations) {
  std::unique_ptr<CImage> converted;
  exemplar = patchloom_detail::TrueColourImage(exemplar, converted);
  if (exemplar == nullptr || !exemplar->IsValid()) return nullptr;
  try {
    const double sx = std::sqrt(xScale);
    const double sy = std::sqrt(yScale);
    // Both stage sizes follow from the exemplar's; a stage smaller than its
    // neighbourhood would have no grid, so such scales are refused before any file.
    int w1 = 0, h1 = 0;
    GetOutputSize(exemplar, 16, sx, sy, w1, h1);
    if (w1 < 16 || h1 < 16) return nullptr;
    int w2 = patchloom_detail::OutputSide(w1, sx, 32);
    int h2 = patchloom_detail::OutputSide(h1, sy, 32);
    if (w2 < 32 || h2 < 32) return nullptr;
    // Nor are stages too large to be made, before the trees cost their time.
    const auto makeable = [](int w, int h) {
      return w <= kMaxImageSide && h <= kMaxImageSide &&
             static_cast<std::int64_t>(w) * h <= kMaxImagePixels;
    };
    if (!makeable(w1, h1) || !makeable(w2, h2)) return nullptr;

    GaussianKernel kernel32, kernel16, kernel8;
    MakeGaussianKernel(kernel32, 32, 1, 3);
    const auto tree32 = BuildClusterTree(exemplar, 32);
    if (!tree32) return nullptr;
    MakeGaussianKernel(kernel16, 16, 1, 3);
    const auto tree16 = BuildClusterTree(exemplar, 16);
    if (!tree16) return nullptr;
    MakeGaussianKernel(kernel8, 8, 1, 3);
    const auto tree8 = BuildClusterTree(exemplar, 8);
    if (!tree8) return nullptr;

    // A failed save is not an error of the synthesis.
    exemplar->Save("Multi_level_1.bmp", kImageTypeBmp);

    std::unique_ptr<CImage> stage1(Interpolate(exemplar, w1, h1, true));
    if (!stage1) return nullptr;
    OptimizeLevel(exemplar, stage1.get(), 16, tree16.get(), kernel16, iterations);
    stage1->Save("Multi_level_2.bmp", kImageTypeBmp);
    OptimizeLevel(exemplar, stage1.get(), 8, tree8.get(), kernel8, iterations);
    stage1->Save("Multi_level_3.bmp", kImageTypeBmp);

    GetOutputSize(stage1.get(), 32, sx, sy, w2, h2);
    std::unique_ptr<CImage> stage2(Interpolate(stage1.get(), w2, h2, true));
    stage1.reset();
    if (!stage2) return nullptr;
    OptimizeLevel(exemplar, stage2.get(), 32, tree32.get(), kernel32, iterations);
    stage2->Save("Multi_level_4.bmp", kImageTypeBmp);
    OptimizeLevel(exemplar, stage2.get(), 16, tree16.get(), kernel16, iterations);
    stage2->Save("Multi_level_5.bmp", kImageTypeBmp);
    OptimizeLevel(exemplar, stage2.get(), 8, tree8.get(), kernel8, iterations);
    return stage2.release();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
