// Bilinear resampling of images, by target size or by scale factors.
#include <algorithm>
#include <memory>
#include <new>

#include "patchloom/engine/patch_optimizer.h"
#include "patchloom/engine/patch_optimizer_internal.h"
#include "patchloom/image/image.h"

namespace {

// The weighted mean of four neighbours, in extended precision, truncated.
int Bilinear(float fx, float fy, int p00, int p10, int p01, int p11) {
  const long double x = fx;
  const long double y = fy;
  const long double v = (1 - y) * ((1 - x) * p00 + x * p10) + y * ((1 - x) * p01 + x * p11);
  return static_cast<int>(v);
}

}  // namespace

CImage* CPatchOptimizer::Interpolate(CImage* source, int width, int height, bool mode) {
  std::unique_ptr<CImage> converted;
  source = patchloom_detail::TrueColourImage(source, converted);
  if (source == nullptr || !source->IsValid()) return nullptr;
  const int sourceWidth = source->GetWidth();
  const int sourceHeight = source->GetHeight();
  if (sourceWidth <= 0 || sourceHeight <= 0 || width <= 0 || height <= 0) return nullptr;
  const float xRatio = static_cast<float>(width) / static_cast<float>(sourceWidth);
  const float yRatio = static_cast<float>(height) / static_cast<float>(sourceHeight);

  const int sourceBits = source->GetBitCount();
  const bool toColour = mode && sourceBits == 8;
  try {
    auto result = std::make_unique<CImage>();
    if (!result->Create(width, height, toColour ? 24 : sourceBits,
                        toColour ? 0 : source->GetFlags()))
      return nullptr;
    if (sourceBits != 8 && sourceBits != 24) return result.release();

    CImagePalette* palette = source->GetPalette();
    // The colour of a neighbour; neighbours past the right or bottom edge repeat the
    // last column or row.
    const auto colour = [&](int u, int v, std::uint8_t rgb[3]) {
      u = std::min(u, sourceWidth - 1);
      v = std::min(v, sourceHeight - 1);
      rgb[0] = rgb[1] = rgb[2] = 0;
      if (sourceBits == 8 && palette != nullptr) {
        palette->GetEntryRGB(source->GetPixelIndex(u, v), &rgb[0], &rgb[1], &rgb[2]);
      } else {
        source->GetPixelRGB(u, v, &rgb[0], &rgb[1], &rgb[2]);
      }
    };
    const auto index = [&](int u, int v) {
      return source->GetPixelIndex(std::min(u, sourceWidth - 1), std::min(v, sourceHeight - 1));
    };

    for (int y = 0; y < height; ++y) {
      const float sy = static_cast<float>(y) / yRatio;
      const int v = static_cast<int>(sy);
      const float fy = sy - static_cast<float>(v);
      for (int x = 0; x < width; ++x) {
        const float sx = static_cast<float>(x) / xRatio;
        const int u = static_cast<int>(sx);
        const float fx = sx - static_cast<float>(u);
        if (sourceBits == 8 && !mode) {
          result->SetPixelIndex(
              x, y,
              Bilinear(fx, fy, index(u, v), index(u + 1, v), index(u, v + 1), index(u + 1, v + 1)));
          continue;
        }
        std::uint8_t p00[3], p10[3], p01[3], p11[3];
        colour(u, v, p00);
        colour(u + 1, v, p10);
        colour(u, v + 1, p01);
        colour(u + 1, v + 1, p11);
        std::uint8_t out[3];
        for (int ch = 0; ch < 3; ++ch)
          out[ch] = static_cast<std::uint8_t>(Bilinear(fx, fy, p00[ch], p10[ch], p01[ch], p11[ch]));
        result->SetPixelRGB(x, y, out[0], out[1], out[2]);
      }
    }
    return result.release();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

CImage* CPatchOptimizer::ScaleImage(CImage* source, double xScale, double yScale) {
  if (source == nullptr || !source->IsValid()) return nullptr;
  const double w = source->GetWidth() * xScale;
  const double h = source->GetHeight() * yScale;
  // Products outside the int range cannot be an image side anyway.
  if (!(w > 0 && h > 0 && w < 2147483647.0 && h < 2147483647.0)) return nullptr;
  return Interpolate(source, static_cast<int>(w), static_cast<int>(h), true);
}
