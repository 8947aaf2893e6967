// Flow-guided synthesis: each frame is the last one carried along the map (pixels from
// the image centre, y up) and then refined; the frames are written as they come.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <numbers>
#include <string>

#include "engine_test_images.h"
#include "patchloom/engine/patch_optimizer.h"
#include "tests/support/test_support.h"

namespace {

using engine_test::EngineTest;
using engine_test::PixelOf;
using engine_test::Rgb;

class FlowGuidedTest : public EngineTest {
 protected:
  FlowGuidedTest() : cwd_(dir_.path()) {}
  bool Exists(const std::string& name) const { return std::filesystem::exists(dir_.file(name)); }
  test_support::TempDir dir_;
  test_support::ScopedWorkingDirectory cwd_;
};

// Mean absolute channel difference of a against b(mapped), over the pixels that map
// inside b.
double MeanDifference(const CImage& a, const CImage& b,
                      const std::function<bool(int, int, int&, int&)>& source) {
  double sum = 0;
  long count = 0;
  for (int y = 0; y < a.GetHeight(); ++y)
    for (int x = 0; x < a.GetWidth(); ++x) {
      int sx = 0, sy = 0;
      if (!source(x, y, sx, sy)) continue;
      const Rgb p = PixelOf(a, x, y), q = PixelOf(b, sx, sy);
      sum += std::abs(p.r - q.r) + std::abs(p.g - q.g) + std::abs(p.b - q.b);
      count += 3;
    }
  return count ? sum / count : 0;
}

TEST_F(FlowGuidedTest, WithoutIterationsAFrameIsTheImageCarriedExactly) {
  struct Case {
    const char* name;
    double ax, bx, cx, ay, by, cy;
    // The source pixel of (x, y) in a 48 x 40 image, or false when it lies off it.
    std::function<bool(int, int, int&, int&)> source;
  };
  const int w = 48, h = 40;
  const Case cases[] = {
      {"right by 4", 1, 0, 4, 0, 1, 0,
       [](int x, int y, int& sx, int& sy) {
         sx = x - 4, sy = y;
         return sx >= 0;
       }},
      {"down by 3", 1, 0, 0, 0, 1, -3,
       [](int x, int y, int& sx, int& sy) {
         sx = x, sy = y + 3;
         return sy < h;
       }},
      {"half turn about the centre", -1, 0, 0, 0, -1, 0,
       [](int x, int y, int& sx, int& sy) {
         sx = w - 1 - x, sy = h - 1 - y;
         return true;
       }},
      {"mirror and swap", 0, 1, 0, 1, 0, 0,  // x' = y, y' = x on a square part
       [](int x, int y, int& sx, int& sy) {
         // Centre (23.5, 19.5): p = (y - 19.5 + 23.5, x - 23.5 + 19.5).
         sx = y + 4, sy = x - 4;
         return sx >= 0 && sx < w && sy >= 0 && sy < h;
       }},
  };
  const auto image = engine_test::MakeNoise(w, h, 7);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CPatchOptimizer optimizer;
    std::unique_ptr<CImage> result(
        optimizer.SynthesizeFlowGuided(image.get(), c.ax, c.bx, c.cx, c.ay, c.by, c.cy, 1, 0, 1.0));
    ASSERT_NE(result, nullptr);
    ASSERT_EQ(result->GetWidth(), w);
    ASSERT_EQ(result->GetHeight(), h);
    EXPECT_EQ(result->GetBitCount(), 24);
    EXPECT_EQ(MeanDifference(*result, *image, c.source), 0.0);
    CImage written("FlowGuided_Step1.bmp");
    EXPECT_TRUE(engine_test::SamePixels(written, *result));
  }
}

TEST_F(FlowGuidedTest, RefinedFramesMoveWithTheMap) {
  struct Case {
    const char* name;
    double cx, cy;
    double weight;
  };
  // The largest weight holds each frame to the carried one, where weight * colour
  // would overflow a double.
  const Case cases[] = {
      {"right by 4, weight 1", 4, 0, 1.0},
      {"up by 3, weight 3", 0, 3, 3.0},
      {"right by 4, the largest weight", 4, 0, std::numeric_limits<double>::max()}};
  // Smooth blobs of period 10: the exemplar's patches, 8 pixels apart, hold them at
  // every even phase, so a moved frame can be rebuilt from them.
  const int size = 64;
  const auto image = engine_test::MakeImage(size, size, [](int x, int y) {
    const double u = std::sin(x * 2 * std::numbers::pi / 10),
                 v = std::cos(y * 2 * std::numbers::pi / 10);
    return Rgb{static_cast<std::uint8_t>(128 + 100 * u * v),
               static_cast<std::uint8_t>(128 + 90 * u), static_cast<std::uint8_t>(128 + 90 * v)};
  });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CPatchOptimizer optimizer;
    std::unique_ptr<CImage> result(
        optimizer.SynthesizeFlowGuided(image.get(), 1, 0, c.cx, 0, 1, c.cy, 3, 1, c.weight));
    ASSERT_NE(result, nullptr);
    for (const char* name :
         {"FlowGuided_Step1.bmp", "FlowGuided_Step2.bmp", "FlowGuided_Step3.bmp"})
      EXPECT_TRUE(Exists(name)) << name;
    EXPECT_FALSE(Exists("FlowGuided_Step4.bmp"));
    CImage last("FlowGuided_Step3.bmp");
    EXPECT_TRUE(engine_test::SamePixels(last, *result));

    const int dx = static_cast<int>(c.cx), dy = static_cast<int>(c.cy);
    for (int k = 1; k < 3; ++k) {
      SCOPED_TRACE(k);
      CImage before("FlowGuided_Step" + std::to_string(k) + ".bmp");
      CImage after("FlowGuided_Step" + std::to_string(k + 1) + ".bmp");
      const auto carried = [&, size](int x, int y, int& sx, int& sy) {
        sx = x - dx, sy = y - dy;
        return sx >= 0 && sy >= 0 && sx < size && sy < size;
      };
      // The same pixels, each compared with itself.
      const auto unmoved = [&](int x, int y, int& sx, int& sy) {
        if (!carried(x, y, sx, sy)) return false;
        sx = x, sy = y;
        return true;
      };
      const double moved = MeanDifference(after, before, carried);
      const double stayed = MeanDifference(after, before, unmoved);
      EXPECT_LT(moved * 5, stayed) << "carried " << moved << ", unmoved " << stayed;
    }
  }
}

TEST_F(FlowGuidedTest, RefusesWhatCannotBeCarried) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const auto image = engine_test::MakeNoise(40, 40, 3);
  const auto small = engine_test::MakeNoise(31, 40, 3);
  CImage empty;
  struct Case {
    const char* name;
    CImage* image;
    double ax, bx, ay, by, cx;
    int frames;
    double weight;
  };
  const Case cases[] = {
      {"no image", nullptr, 1, 0, 0, 1, 0, 1, 1},
      {"empty image", &empty, 1, 0, 0, 1, 0, 1, 1},
      {"narrower than a neighbourhood", small.get(), 1, 0, 0, 1, 0, 1, 1},
      {"zero determinant", image.get(), 1, 0, 1, 0, 0, 1, 1},
      {"not a number", image.get(), 1, 0, 0, 1, nan, 1, 1},
      {"no frames", image.get(), 1, 0, 0, 1, 0, 0, 1},
      {"negative weight", image.get(), 1, 0, 0, 1, 0, 1, -1},
      {"inverse out of range", image.get(), 1e-200, 0, 0, 1e-200, 0, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CPatchOptimizer optimizer;
    EXPECT_EQ(optimizer.SynthesizeFlowGuided(c.image, c.ax, c.bx, c.cx, c.ay, c.by, 0, c.frames, 1,
                                             c.weight),
              nullptr);
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
}

}  // namespace
