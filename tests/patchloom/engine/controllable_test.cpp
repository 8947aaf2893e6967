// Controllable synthesis: every constrained pixel keeps its colour exactly, the rest is
// synthesised from the exemplar around it.
#include <gtest/gtest.h>

#include <memory>

#include "engine_test_images.h"
#include "patchloom/engine/patch_optimizer.h"

namespace {

using engine_test::EngineTest;
using engine_test::PixelOf;
using engine_test::Rgb;

class ControllableTest : public EngineTest {};

TEST_F(ControllableTest, KeepsEveryConstrainedPixelAndSynthesisesTheRest) {
  struct Case {
    const char* name;
    int width, height;  // of the start image; not all cover the window grid
  };
  const Case cases[] = {
      {"grid size", 48, 48}, {"off the grid", 45, 37}, {"smaller than a window", 20, 24}};
  const auto exemplar = engine_test::MakeNoise(40, 40, 5);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // A flat start, so that every pixel the synthesis reaches visibly changes.
    const auto start = engine_test::MakeImage(c.width, c.height, [](int x, int y) {
      return Rgb{static_cast<std::uint8_t>(10 + x), static_cast<std::uint8_t>(20 + y), 200};
    });
    CPointArray pixels;
    for (int y = 2; y < 12; ++y)
      for (int x = 3; x < 9; ++x) pixels.Add(x, y);
    pixels.Add(c.width - 1, c.height - 1);
    pixels.Add(5, 5);   // listed twice, as overlapping polygons do
    pixels.Add(-1, 3);  // off the image: ignored
    pixels.Add(c.width, 0);
    CPatchOptimizer optimizer;
    std::unique_ptr<CImage> result(
        optimizer.SynthesizeControllable(exemplar.get(), start.get(), pixels, 3.0));
    ASSERT_NE(result, nullptr);
    ASSERT_EQ(result->GetWidth(), c.width);
    ASSERT_EQ(result->GetHeight(), c.height);
    EXPECT_EQ(result->GetBitCount(), 24);
    for (const CPoint& p : pixels) {
      if (!start->IsInside(p.x, p.y)) continue;
      ASSERT_EQ(PixelOf(*result, p.x, p.y), PixelOf(*start, p.x, p.y)) << p.x << ", " << p.y;
    }
    int changed = 0;
    for (int y = 0; y < c.height; ++y)
      for (int x = 0; x < c.width; ++x)
        changed += !(PixelOf(*result, x, y) == PixelOf(*start, x, y));
    EXPECT_GT(changed, c.width * c.height / 2);
  }
}

TEST_F(ControllableTest, RefusesWhatItCannotSynthesiseFrom) {
  const auto exemplar = engine_test::MakeNoise(40, 40, 5);
  const auto small = engine_test::MakeNoise(40, 31, 5);
  const auto start = engine_test::MakeNoise(48, 48, 6);
  CImage empty;
  CPointArray pixels;
  pixels.Add(1, 1);
  struct Case {
    const char* name;
    CImage* exemplar;
    CImage* image;
    double weight;
  };
  const Case cases[] = {
      {"no exemplar", nullptr, start.get(), 3.0},
      {"no start image", exemplar.get(), nullptr, 3.0},
      {"empty start image", exemplar.get(), &empty, 3.0},
      {"exemplar lower than a neighbourhood", small.get(), start.get(), 3.0},
      {"negative weight", exemplar.get(), start.get(), -1.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CPatchOptimizer optimizer;
    EXPECT_EQ(optimizer.SynthesizeControllable(c.exemplar, c.image, pixels, c.weight), nullptr);
  }
}

}  // namespace
