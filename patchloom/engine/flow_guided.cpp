// Flow-guided synthesis: a run of frames in which the texture is carried along a linear
// map and then re-synthesised from the exemplar with the carried frame as a soft target,
// and the EM iteration with per-pixel targets that it shares with controllable synthesis.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "patchloom/engine/flow_em.h"
#include "patchloom/engine/patch_optimizer.h"
#include "patchloom/engine/patch_optimizer_internal.h"
#include "patchloom/image/image.h"
#include "platform/ui.h"

namespace patchloom_detail {

int CoveringSide(int size, int n) {
  const int step = std::max(n / 4, 1);
  if (size <= n) return n;
  return n + step * ((size - n + step - 1) / step);
}

RgbPlane ExtendPlane(const RgbPlane& plane, int width, int height) {
  RgbPlane out;
  out.width = std::max(width, plane.width);
  out.height = std::max(height, plane.height);
  out.rgb.assign(static_cast<std::size_t>(out.width) * out.height * 3, 0);
  if (plane.width <= 0 || plane.height <= 0) return out;
  for (int y = 0; y < out.height; ++y) {
    const int sy = std::min(y, plane.height - 1);
    std::memcpy(out.At(0, y), plane.At(0, sy), static_cast<std::size_t>(plane.width) * 3);
    const std::uint8_t* last = plane.At(plane.width - 1, sy);
    for (int x = plane.width; x < out.width; ++x) std::memcpy(out.At(x, y), last, 3);
  }
  return out;
}

void RunTargetedIterations(const RgbPlane& exemplar, RgbPlane& canvas,
                           const CPatchClusterNode& tree, const GaussianKernel& kernel, int n,
                           int iterations, const PixelTargets* targets, const char* label) {
  const int step = n / 4;
  const int width = canvas.width;
  const int height = canvas.height;
  if (iterations <= 0 || step <= 0 || width < n || height < n || kernel.GetSize() != n ||
      tree.dimension != n * n * 3)
    return;
  if (targets != nullptr && (targets->width != width || targets->height != height)) return;
  const int rows = (height - n) / step + 1;
  const int columns = (width - n) / step + 1;
  // Windows are searched a batch at a time: a batch's searches share their exact distances.
  constexpr int kBatch = 8;
  const std::size_t queryBytes = static_cast<std::size_t>(tree.dimension);
  std::vector<std::uint8_t> batch(queryBytes * kBatch);
  const std::uint8_t* queries[kBatch];
  for (int q = 0; q < kBatch; ++q) queries[q] = batch.data() + queryBytes * q;
  std::vector<PatchMatch> matches(static_cast<std::size_t>(rows) * columns);
  // Per pixel: weighted red, green, blue and the weight itself.
  std::vector<double> sums(static_cast<std::size_t>(width) * height * 4);

  for (int it = 0; it < iterations; ++it) {
    platform::ui().progress(std::string(label) + ": iteration " + std::to_string(it + 1) + " of " +
                            std::to_string(iterations));
    // Every window is matched against the canvas as it stands before any pixel changes.
    const int cells = rows * columns;
    for (int first = 0; first < cells; first += kBatch) {
      const int count = std::min(kBatch, cells - first);
      for (int q = 0; q < count; ++q) {
        const int cell = first + q;
        GatherPatch(canvas, (cell % columns) * step, (cell / columns) * step, n,
                    batch.data() + queryBytes * q);
      }
      SearchTreeBatch(&tree, queries, count, matches.data() + first);
    }
    std::fill(sums.begin(), sums.end(), 0.0);
    for (int r = 0; r < rows; ++r) {
      for (int c = 0; c < columns; ++c) {
        const PatchMatch& m = matches[static_cast<std::size_t>(r) * columns + c];
        const double matchWeight = std::exp(-0.00003 * m.distance);
        if (matchWeight == 0.0) continue;
        for (int dy = 0; dy < n; ++dy) {
          const int py = m.y + dy;
          double* sum =
              sums.data() + (static_cast<std::size_t>(r * step + dy) * width + c * step) * 4;
          for (int dx = 0; dx < n; ++dx, sum += 4) {
            const int px = m.x + dx;
            // A matched pixel off the exemplar counts as black, as in the plain blend.
            const std::uint8_t* p = exemplar.Contains(px, py) ? exemplar.At(px, py) : nullptr;
            const double w = kernel[dx][dy] * matchWeight;
            if (p != nullptr) {
              sum[0] += w * p[0];
              sum[1] += w * p[1];
              sum[2] += w * p[2];
            }
            sum[3] += w;
          }
        }
      }
    }
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const double* sum = sums.data() + (static_cast<std::size_t>(y) * width + x) * 4;
        std::uint8_t* out = canvas.At(x, y);
        double mean[3] = {0.0, 0.0, 0.0};
        const bool matched = sum[3] > 0.0;
        if (matched)
          for (int ch = 0; ch < 3; ++ch) mean[ch] = sum[ch] / sum[3];
        const double targetWeight =
            targets ? std::min(targets->weight[targets->Index(x, y)], kStrongestTargetWeight) : 0.0;
        if (targetWeight > 0.0) {
          const std::uint8_t* t = targets->rgb.data() + targets->Index(x, y) * 3;
          // Without any match the target alone decides.
          const double share = matched ? 1.0 : 0.0;
          for (int ch = 0; ch < 3; ++ch)
            mean[ch] = (share * mean[ch] + targetWeight * t[ch]) / (share + targetWeight);
        }
        for (int ch = 0; ch < 3; ++ch)
          out[ch] = static_cast<std::uint8_t>(std::clamp(static_cast<int>(mean[ch]), 0, 255));
      }
    }
  }
}

CImage* ImageFromPlane(const RgbPlane& plane, int width, int height) {
  width = std::min(width, plane.width);
  height = std::min(height, plane.height);
  auto image = std::make_unique<CImage>();
  if (width <= 0 || height <= 0 || !image->Create(width, height, 24, 0)) return nullptr;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* p = plane.At(x, y);
      image->SetPixelRGB(x, y, p[0], p[1], p[2]);
    }
  return image.release();
}

}  // namespace patchloom_detail

namespace {

using patchloom_detail::PixelTargets;
using patchloom_detail::RgbPlane;

// The frame carried one step along the map q = A p + t: every pixel q takes the
// bilinear colour of the previous frame at A^-1 (q - t), with coordinates in pixels
// from the frame's centre, x to the right and y up. Pixels whose source lies off the
// frame take the nearest edge colour as a start and get no target.
void CarryFrame(const RgbPlane& frame, const double inverse[4], double tx, double ty,
                double flowWeight, RgbPlane& carried, PixelTargets& targets) {
  const int width = frame.width;
  const int height = frame.height;
  const double cx = (width - 1) / 2.0;
  const double cy = (height - 1) / 2.0;
  carried.width = width;
  carried.height = height;
  carried.rgb.assign(frame.rgb.size(), 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double qx = x - cx - tx;
      const double qy = y - cy - ty;
      const double sx = inverse[0] * qx + inverse[1] * qy + cx;
      const double sy = inverse[2] * qx + inverse[3] * qy + cy;
      std::uint8_t* out = carried.At(x, y);
      // Comparisons first: they also turn away NaN and values past the int range.
      const bool inside = sx >= 0.0 && sy >= 0.0 && sx <= width - 1.0 && sy <= height - 1.0;
      if (!inside) {
        const int ex = std::isfinite(sx) ? static_cast<int>(std::clamp(sx, 0.0, width - 1.0)) : 0;
        const int ey = std::isfinite(sy) ? static_cast<int>(std::clamp(sy, 0.0, height - 1.0)) : 0;
        std::memcpy(out, frame.At(ex, ey), 3);
        continue;
      }
      const int u = static_cast<int>(sx);
      const int v = static_cast<int>(sy);
      const double fx = sx - u;
      const double fy = sy - v;
      const int u1 = std::min(u + 1, width - 1);
      const int v1 = std::min(v + 1, height - 1);
      const std::uint8_t* p00 = frame.At(u, v);
      const std::uint8_t* p10 = frame.At(u1, v);
      const std::uint8_t* p01 = frame.At(u, v1);
      const std::uint8_t* p11 = frame.At(u1, v1);
      for (int ch = 0; ch < 3; ++ch) {
        const double value = (1 - fy) * ((1 - fx) * p00[ch] + fx * p10[ch]) +
                             fy * ((1 - fx) * p01[ch] + fx * p11[ch]);
        out[ch] = static_cast<std::uint8_t>(std::clamp(static_cast<int>(value + 0.5), 0, 255));
      }
      const std::size_t i = targets.Index(x, y);
      std::memcpy(targets.rgb.data() + i * 3, out, 3);
      targets.weight[i] = flowWeight;
    }
  }
}

}  // namespace

CImage* CPatchOptimizer::SynthesizeFlowGuided(CImage* image, double ax, double bx, double cx,
                                              double ay, double by, double cy, int frames,
                                              int itersPerFrame, double flowWeight) {
  constexpr int kSize = 32;
  std::unique_ptr<CImage> converted;
  image = patchloom_detail::TrueColourImage(image, converted);
  if (image == nullptr || !image->IsValid() || frames < 1) return nullptr;
  if (!(flowWeight >= 0.0) || !std::isfinite(flowWeight)) return nullptr;
  const double determinant = ax * by - ay * bx;
  const double inverse[4] = {by / determinant, -bx / determinant, -ay / determinant,
                             ax / determinant};
  if (determinant == 0.0 || !std::isfinite(determinant) || !std::isfinite(cx) || !std::isfinite(cy))
    return nullptr;
  for (double v : inverse)
    if (!std::isfinite(v)) return nullptr;
  const int width = image->GetWidth();
  const int height = image->GetHeight();
  if (width < kSize || height < kSize) return nullptr;
  itersPerFrame = std::max(itersPerFrame, 0);

  try {
    const auto tree = BuildClusterTree(image, kSize);
    if (!tree) return nullptr;
    GaussianKernel kernel;
    MakeGaussianKernel(kernel, kSize, 1, 3);
    const RgbPlane exemplar = patchloom_detail::ReadColours(*image);
    const int canvasWidth = patchloom_detail::CoveringSide(width, kSize);
    const int canvasHeight = patchloom_detail::CoveringSide(height, kSize);

    RgbPlane frame = exemplar;
    std::unique_ptr<CImage> result;
    for (int k = 1; k <= frames; ++k) {
      platform::ui().progress("Flow-guided frame " + std::to_string(k) + " of " +
                              std::to_string(frames));
      RgbPlane carried;
      PixelTargets frameTargets;
      frameTargets.Reset(width, height);
      CarryFrame(frame, inverse, cx, cy, flowWeight, carried, frameTargets);

      // The canvas reaches past the frame where the window grid needs it; the margin
      // has no target and is cut off again.
      RgbPlane canvas = patchloom_detail::ExtendPlane(carried, canvasWidth, canvasHeight);
      PixelTargets targets;
      targets.Reset(canvasWidth, canvasHeight);
      for (int y = 0; y < height; ++y) {
        std::memcpy(targets.rgb.data() + targets.Index(0, y) * 3,
                    frameTargets.rgb.data() + frameTargets.Index(0, y) * 3,
                    static_cast<std::size_t>(width) * 3);
        std::copy_n(
            frameTargets.weight.begin() + static_cast<std::ptrdiff_t>(frameTargets.Index(0, y)),
            width, targets.weight.begin() + static_cast<std::ptrdiff_t>(targets.Index(0, y)));
      }
      patchloom_detail::RunTargetedIterations(exemplar, canvas, *tree, kernel, kSize, itersPerFrame,
                                              &targets, "Flow-guided synthesis");
      for (int y = 0; y < height; ++y)
        std::memcpy(frame.At(0, y), canvas.At(0, y), static_cast<std::size_t>(width) * 3);

      result.reset(patchloom_detail::ImageFromPlane(frame, width, height));
      if (!result) return nullptr;
      char name[64];
      std::snprintf(name, sizeof name, "FlowGuided_Step%d.bmp", k);
      // A frame file that cannot be written does not stop the run.
      result->Save(name, kImageTypeBmp);
    }
    return result.release();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
