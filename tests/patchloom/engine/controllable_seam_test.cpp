// Controllable synthesis on textures with clear structure, started as the document starts
// it (the exemplar resampled larger): the constrained pixels stay exact and the texture
// around them continues from them, with no step at the edge, or just outside it, beyond
// 1.5 times the exemplar's own neighbouring-pixel step.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

#include "engine_test_images.h"
#include "patchloom/engine/patch_optimizer.h"
#include "seam_textures.h"

namespace {

namespace st = seam_textures;
using engine_test::EngineTest;
using engine_test::PixelOf;

class ControllableSeamTest : public EngineTest {};

std::vector<CPoint> Disk(int cx, int cy, int radius) {
  std::vector<CPoint> polygon;
  for (int i = 0; i < 16; ++i) {
    const double a = i * 6.283185307179586 / 16;
    polygon.push_back({cx + static_cast<int>(std::lround(radius * std::cos(a))),
                       cy + static_cast<int>(std::lround(radius * std::sin(a)))});
  }
  return polygon;
}

TEST_F(ControllableSeamTest, TextureContinuesAcrossTheEdgeOfTheConstrainedArea) {
  struct Case {
    const char* name;
    const char* figure;  // the name under which the edge figure is recorded
    std::function<st::Colour(int, int)> texture;
    double scale;  // of the start image; 1.9 leaves it off the window grid
    std::vector<std::vector<CPoint>> polygons;
  };
  const Case cases[] = {
      {"leopard, a disk",
       "leopard_edge_step_ratio",
       [](int x, int y) { return st::Leopard(x, y, 16); },
       2.0,
       {Disk(60, 66, 26)}},
      {"bricks, a disk and a quadrilateral reaching past the image",
       "bricks_edge_step_ratio",
       [](int x, int y) { return st::Bricks(x, y, 16, 8); },
       1.9,
       {Disk(40, 44, 20), {{80, 70}, {130, 90}, {125, 125}, {78, 110}}}},
  };
  constexpr int kRing = 16;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto exemplar = st::MakeTexture(64, 64, c.texture);
    ASSERT_NE(exemplar, nullptr);
    CPatchOptimizer optimizer;
    const std::unique_ptr<CImage> start(optimizer.ScaleImage(exemplar.get(), c.scale, c.scale));
    ASSERT_NE(start, nullptr);
    const CPointArray pixels = st::PixelsInside(c.polygons, start->GetWidth(), start->GetHeight());
    ASSERT_FALSE(pixels.IsEmpty());
    const std::unique_ptr<CImage> result(
        optimizer.SynthesizeControllable(exemplar.get(), start.get(), pixels, 3.0));
    ASSERT_NE(result, nullptr);

    for (const CPoint& p : pixels)
      ASSERT_EQ(PixelOf(*result, p.x, p.y), PixelOf(*start, p.x, p.y)) << p.x << ", " << p.y;
    const double typical = st::TypicalStep(*exemplar);
    const st::SeamFigures seam = st::MeasureSeam(*result, pixels, kRing);
    RecordProperty(c.figure, std::to_string(seam.boundaryStep / typical));
    EXPECT_LE(seam.boundaryStep, 1.5 * typical) << "typical step " << typical;
    EXPECT_LE(seam.worstRingStep, 1.5 * typical)
        << "typical step " << typical << ", " << seam.worstRingDistance << " pixels outside";
  }
}

// A pull too strong for the matches to move: the ring right outside the constrained area
// keeps the start's colours up to the rounding, even at weights where weight * colour
// overflows a double.
TEST_F(ControllableSeamTest, OverwhelmingWeightHoldsTheEdgeToTheStart) {
  const auto exemplar =
      st::MakeTexture(64, 64, [](int x, int y) { return st::Bricks(x, y, 16, 8); });
  CPatchOptimizer optimizer;
  const std::unique_ptr<CImage> start(optimizer.ScaleImage(exemplar.get(), 1.5, 1.5));
  ASSERT_NE(start, nullptr);
  CPointArray pixels;
  for (int y = 20; y < 50; ++y)
    for (int x = 30; x < 60; ++x) pixels.Add(x, y);
  for (const double weight : {1e300, std::numeric_limits<double>::max()}) {
    SCOPED_TRACE(weight);
    const std::unique_ptr<CImage> result(
        optimizer.SynthesizeControllable(exemplar.get(), start.get(), pixels, weight));
    ASSERT_NE(result, nullptr);
    for (int i = 20; i < 50; ++i)
      for (const CPoint p :
           {CPoint{29, i}, CPoint{60, i}, CPoint{i + 10, 19}, CPoint{i + 10, 50}}) {
        const engine_test::Rgb got = PixelOf(*result, p.x, p.y);
        const engine_test::Rgb want = PixelOf(*start, p.x, p.y);
        ASSERT_LE(std::abs(got.r - want.r) + std::abs(got.g - want.g) + std::abs(got.b - want.b), 3)
            << p.x << ", " << p.y;
      }
  }
}

}  // namespace
