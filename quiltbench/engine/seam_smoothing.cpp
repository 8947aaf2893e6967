// Feathering of the output across recorded seams.
#include "quiltbench/engine/seam_smoothing.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

struct Blend {
  float sum[3] = {0, 0, 0};
  float share = 0;
};

void add(Blend& blend, const std::uint8_t* pixel, float share) {
  for (int c = 0; c < 3; ++c) blend.sum[c] += share * pixel[c];
  blend.share += share;
}

}  // namespace

int FeatherRadius(float cost) {
  if (!(cost > 0)) return 1;
  return 1 + static_cast<int>(
                 std::min(cost / kFeatherCostStep, static_cast<float>(kMaxFeatherRadius - 1)));
}

void SmoothSeams(PixelRows& output, const Grid<SeamRecord>& seams, const Grid<SourceCoord>& coords,
                 const PixelRows& source) {
  const int width = output.width(), height = output.height();
  const int sw = source.width(), sh = source.height();
  Grid<Blend> blends(width, height);

  // A seam between p and its neighbour q = p + (dx, dy). Walking away from the seam on
  // p's side, pixel p - t (dx, dy) takes the continuation of q's source there, and on
  // q's side pixel q + t (dx, dy) that of p's source.
  auto feather = [&](int px, int py, int dx, int dy, float cost) {
    const int qx = px + dx, qy = py + dy;
    const int radius = FeatherRadius(cost);
    const float strength = std::min(1.0f, cost / kFeatherCostStep);
    const SourceCoord cp = coords[py][px];
    const SourceCoord cq = coords[qy][qx];
    auto crossesSeam = [&](int x, int y) {  // a seam between (x, y) and (x, y) + (dx, dy)
      const SeamRecord& r = seams[y][x];
      return (dx ? r.right : r.down) == 1;
    };
    bool pSide = true, qSide = true;
    for (int t = 0; t < radius && (pSide || qSide); ++t) {
      const float share = 0.5f * strength * static_cast<float>(radius - t) / radius;
      const int ax = px - t * dx, ay = py - t * dy;
      pSide = pSide && ax >= 0 && ay >= 0 && (t == 0 || !crossesSeam(ax, ay));
      if (pSide) {
        const int fx = cq.x - (t + 1) * dx, fy = cq.y - (t + 1) * dy;
        pSide = fx >= 0 && fy >= 0 && fx < sw && fy < sh;
        if (pSide) add(blends[ay][ax], source.pixel(fx, fy), share);
      }
      const int bx = qx + t * dx, by = qy + t * dy;
      qSide = qSide && bx < width && by < height && (t == 0 || !crossesSeam(bx - dx, by - dy));
      if (qSide) {
        const int fx = cp.x + (t + 1) * dx, fy = cp.y + (t + 1) * dy;
        qSide = fx >= 0 && fy >= 0 && fx < sw && fy < sh;
        if (qSide) add(blends[by][bx], source.pixel(fx, fy), share);
      }
    }
  };

  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const SeamRecord& r = seams[y][x];
      if (r.right == 1 && x + 1 < width && r.rightCost > 0) feather(x, y, 1, 0, r.rightCost);
      if (r.down == 1 && y + 1 < height && r.downCost > 0) feather(x, y, 0, 1, r.downCost);
    }
  }

  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const Blend& b = blends[y][x];
      if (b.share <= 0) continue;
      const float share = std::min(b.share, 0.5f);
      std::uint8_t* p = output.pixel(x, y);
      for (int c = 0; c < 3; ++c) {
        const float other = b.sum[c] / b.share;
        const float value = (1 - share) * p[c] + share * other;
        p[c] = static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L));
      }
    }
  }
}
