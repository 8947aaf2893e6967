// Textures with clear structure (leopard rosettes, bricks) and the seam measure of
// controllable synthesis, shared by its test and its benchmark: how far the step across
// the edge of the constrained area exceeds the texture's own neighbouring-pixel step.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "patchloom/engine/point_array.h"
#include "patchloom/image/image.h"

namespace seam_textures {

struct Colour {
  double r, g, b;
};

// A well-mixed hash, so every cell, brick and grain gets its own look.
inline std::uint32_t Hash(std::uint32_t x, std::uint32_t y, std::uint32_t salt) {
  std::uint32_t h = x * 0x8DA6B343u ^ y * 0xD8163841u ^ salt * 0xCB1AB31Fu;
  h ^= h >> 13;
  h *= 0x5BD1E995u;
  h ^= h >> 15;
  return h;
}
inline double Unit(std::uint32_t h) { return (h & 0xFFFFFF) / double(0xFFFFFF); }
inline double Grain(int x, int y, std::uint32_t salt) { return 2 * Unit(Hash(x, y, salt)) - 1; }

// Dark broken rings with a deeper orange inside on a tan coat, one rosette per jittered
// cell of `cell` pixels.
inline Colour Leopard(int x, int y, int cell) {
  double nearest = 1e9;
  std::uint32_t id = 0;
  double angle = 0.0;
  const int cx = x / cell, cy = y / cell;
  for (int j = cy - 1; j <= cy + 1; ++j)
    for (int i = cx - 1; i <= cx + 1; ++i) {
      const std::uint32_t ui = static_cast<std::uint32_t>(i + 1000);
      const std::uint32_t uj = static_cast<std::uint32_t>(j + 1000);
      const double px = (i + 0.2 + 0.6 * Unit(Hash(ui, uj, 11))) * cell;
      const double py = (j + 0.2 + 0.6 * Unit(Hash(ui, uj, 12))) * cell;
      const std::uint32_t h = Hash(ui, uj, 13);
      const double radius = cell * (0.34 + 0.1 * Unit(h));
      const double d = std::hypot(x - px, y - py) / radius;
      if (d < nearest) {
        nearest = d;
        id = h;
        angle = std::atan2(y - py, x - px);
      }
    }
  const double n = 4 * Grain(x, y, 14);
  // The ring's width wobbles with the angle and breaks open in one place.
  const double wobble = 0.12 * std::sin(3 * angle + Unit(id) * 6.28);
  const bool gap = std::cos(angle - Unit(id >> 8) * 6.28) > 0.85;
  if (nearest < 0.62 + wobble) return {190 + n, 115 + n, 50 + n};
  if (nearest < 1.0 + wobble && !gap) return {45 + n, 32 + n, 22 + n};
  return {222 + n, 176 + n, 104 + n};
}

// A running bond of `brickWidth` x `brickHeight` bricks with two-pixel mortar joints.
inline Colour Bricks(int x, int y, int brickWidth, int brickHeight) {
  const int row = y / brickHeight;
  const int shifted = x + (row % 2) * (brickWidth / 2);
  const int col = shifted / brickWidth;
  if (y % brickHeight < 2 || shifted % brickWidth < 2) {
    const double m = 180 + 5 * Grain(x, y, 1);
    return {m, m - 4, m - 12};
  }
  const double tone = Unit(Hash(col, row, 2));
  const double n = 5 * Grain(x, y, 3);
  return {150 + 50 * tone + n, 60 + 25 * tone + n, 40 + 15 * tone + n};
}

inline std::uint8_t Byte(double v) { return static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0)); }

inline std::unique_ptr<CImage> MakeTexture(int width, int height,
                                           const std::function<Colour(int x, int y)>& colour) {
  auto image = std::make_unique<CImage>();
  if (!image->Create(width, height, 24, 0)) return nullptr;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const Colour c = colour(x, y);
      image->SetPixelRGB(x, y, Byte(c.r), Byte(c.g), Byte(c.b));
    }
  return image;
}

// The pixels inside a polygon by the crossing-number rule, as the document lists them.
inline bool Inside(int x, int y, const std::vector<CPoint>& polygon) {
  bool inside = false;
  for (std::size_t i = 0, j = polygon.size() - 1; i < polygon.size(); j = i++) {
    const CPoint& a = polygon[i];
    const CPoint& b = polygon[j];
    if ((a.y > y) != (b.y > y) &&
        x < a.x + (b.x - a.x) * static_cast<double>(y - a.y) / (b.y - a.y))
      inside = !inside;
  }
  return inside;
}

inline CPointArray PixelsInside(const std::vector<std::vector<CPoint>>& polygons, int width,
                                int height) {
  CPointArray pixels;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (const auto& polygon : polygons)
        if (Inside(x, y, polygon)) pixels.Add(x, y);
  return pixels;
}

inline double Grey(const CImage& image, int x, int y) {
  std::uint8_t r = 0, g = 0, b = 0;
  image.GetPixelRGB(x, y, &r, &g, &b);
  return 0.299 * r + 0.587 * g + 0.114 * b;
}

// The mean grey step between 4-neighbours over the whole image.
inline double TypicalStep(const CImage& image) {
  double sum = 0.0;
  long count = 0;
  for (int y = 0; y < image.GetHeight(); ++y)
    for (int x = 0; x < image.GetWidth(); ++x) {
      if (x + 1 < image.GetWidth()) sum += std::abs(Grey(image, x, y) - Grey(image, x + 1, y));
      if (y + 1 < image.GetHeight()) sum += std::abs(Grey(image, x, y) - Grey(image, x, y + 1));
      count += (x + 1 < image.GetWidth()) + (y + 1 < image.GetHeight());
    }
  return count ? sum / count : 0.0;
}

struct SeamFigures {
  double boundaryStep = 0.0;   // mean grey step between a constrained pixel and a free neighbour
  double worstRingStep = 0.0;  // the largest mean step between free neighbours at one distance
  int worstRingDistance = 0;   // outside the constraint where that step lies
};

// Steps of `result` around the constrained pixels: across the edge, and between free
// 4-neighbours by their city-block distance from the constraint (1 ... ringWidth), so that
// a seam moved outward shows as well.
inline SeamFigures MeasureSeam(const CImage& result, const CPointArray& constrained,
                               int ringWidth) {
  const int w = result.GetWidth(), h = result.GetHeight();
  std::vector<int> distance(static_cast<std::size_t>(w) * h, -1);
  std::deque<CPoint> queue;
  for (const CPoint& p : constrained)
    if (p.x >= 0 && p.y >= 0 && p.x < w && p.y < h && distance[p.y * w + p.x] < 0) {
      distance[p.y * w + p.x] = 0;
      queue.push_back(p);
    }
  while (!queue.empty()) {
    const CPoint p = queue.front();
    queue.pop_front();
    const CPoint next[] = {{p.x + 1, p.y}, {p.x - 1, p.y}, {p.x, p.y + 1}, {p.x, p.y - 1}};
    for (const CPoint& q : next)
      if (q.x >= 0 && q.y >= 0 && q.x < w && q.y < h && distance[q.y * w + q.x] < 0) {
        distance[q.y * w + q.x] = distance[p.y * w + p.x] + 1;
        queue.push_back(q);
      }
  }
  std::vector<double> sums(ringWidth + 1, 0.0);
  std::vector<long> counts(ringWidth + 1, 0);
  auto pair = [&](int x0, int y0, int x1, int y1) {
    const int d0 = distance[y0 * w + x0], d1 = distance[y1 * w + x1];
    const int band = (d0 == 0) != (d1 == 0) ? 0 : std::min(d0, d1);
    if ((band == 0 && d0 == 0 && d1 == 0) || band > ringWidth || band < 0) return;
    sums[band] += std::abs(Grey(result, x0, y0) - Grey(result, x1, y1));
    ++counts[band];
  };
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      if (x + 1 < w) pair(x, y, x + 1, y);
      if (y + 1 < h) pair(x, y, x, y + 1);
    }
  SeamFigures figures;
  if (counts[0]) figures.boundaryStep = sums[0] / counts[0];
  for (int d = 1; d <= ringWidth; ++d) {
    const double step = counts[d] ? sums[d] / counts[d] : 0.0;
    if (step > figures.worstRingStep) {
      figures.worstRingStep = step;
      figures.worstRingDistance = d;
    }
  }
  return figures;
}

}  // namespace seam_textures
