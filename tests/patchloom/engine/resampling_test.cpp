// Resampling and multi-level synthesis: sizes, copies at scale 1, palettes, the edges of
// an enlargement, and the five level files.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine_test_images.h"
#include "patchloom/engine/patch_optimizer.h"
#include "tests/support/test_support.h"

namespace {

using engine_test::EngineTest;
using engine_test::MakeImage;
using engine_test::MakeIndexed;
using engine_test::PixelOf;
using engine_test::Rgb;
using engine_test::SamePixels;

class ResamplingTest : public EngineTest {
 protected:
  CPatchOptimizer optimizer;
};

TEST_F(ResamplingTest, ScaleSizesAndTheIdentity) {
  auto source = engine_test::MakeNoise(100, 60, 4);
  struct Case {
    double xScale, yScale;
    int width, height;
  };
  const Case cases[] = {
      {2.0, 2.0, 200, 120}, {1.0, 1.0, 100, 60}, {0.5, 1.7, 50, 102}, {0.013, 1.0, 1, 60}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.xScale << " x " << c.yScale);
    std::unique_ptr<CImage> scaled(optimizer.ScaleImage(source.get(), c.xScale, c.yScale));
    ASSERT_NE(scaled, nullptr);
    EXPECT_EQ(scaled->GetWidth(), c.width);
    EXPECT_EQ(scaled->GetHeight(), c.height);
    EXPECT_EQ(scaled->GetBitCount(), 24);
    if (c.xScale == 1.0 && c.yScale == 1.0) {
      EXPECT_TRUE(SamePixels(*scaled, *source));
    }
  }
  EXPECT_EQ(optimizer.ScaleImage(nullptr, 2.0, 2.0), nullptr);
  EXPECT_EQ(optimizer.Interpolate(nullptr, 10, 10, true), nullptr);
  std::unique_ptr<CImage> none(optimizer.ScaleImage(source.get(), 0.001, 1.0));
  EXPECT_EQ(none, nullptr);
}

TEST_F(ResamplingTest, EnlargementEdgesRepeatTheLastColumnAndRow) {
  // 2 x 2 to 4 x 4: source coordinates 0, 0.5, 1, 1.5 on each axis.
  auto source = MakeImage(2, 2, [](int x, int y) {
    return Rgb{static_cast<std::uint8_t>(x ? 200 : 100), static_cast<std::uint8_t>(y ? 80 : 40),
               255};
  });
  std::unique_ptr<CImage> big(optimizer.Interpolate(source.get(), 4, 4, true));
  ASSERT_NE(big, nullptr);
  const int red[4] = {100, 150, 200, 200};
  const int green[4] = {40, 60, 80, 80};
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) {
      SCOPED_TRACE(testing::Message() << x << ", " << y);
      const Rgb p = PixelOf(*big, x, y);
      EXPECT_EQ(p.r, red[x]);
      EXPECT_EQ(p.g, green[y]);
      EXPECT_EQ(p.b, 255);
    }
  }
}

TEST_F(ResamplingTest, IndexedSources) {
  const std::vector<Rgb> palette = {{0, 0, 0}, {10, 20, 30}, {250, 128, 6}, {7, 7, 7}};
  auto source = MakeIndexed(6, 5, palette, [](int x, int y) { return (x + 2 * y) % 4; });
  std::unique_ptr<CImage> colour(optimizer.Interpolate(source.get(), 6, 5, true));
  ASSERT_NE(colour, nullptr);
  EXPECT_EQ(colour->GetBitCount(), 24);
  EXPECT_EQ(colour->GetFlags(), 0);
  std::unique_ptr<CImage> indices(optimizer.Interpolate(source.get(), 6, 5, false));
  ASSERT_NE(indices, nullptr);
  EXPECT_EQ(indices->GetBitCount(), 8);
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 6; ++x) {
      EXPECT_EQ(PixelOf(*colour, x, y), palette[static_cast<std::size_t>((x + 2 * y) % 4)]);
      EXPECT_EQ(indices->GetPixelIndex(x, y), (x + 2 * y) % 4);
    }
  }
  // Halfway between indices 1 and 3 lies index 2.
  auto pair = MakeIndexed(2, 1, palette, [](int x, int) { return x ? 3 : 1; });
  std::unique_ptr<CImage> wide(optimizer.Interpolate(pair.get(), 4, 1, false));
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(wide->GetPixelIndex(1, 0), 2);
  EXPECT_EQ(wide->GetPixelIndex(3, 0), 3);
}

class MultiLevelTest : public EngineTest {
 protected:
  CPatchOptimizer optimizer;
  test_support::TempDir dir;
  test_support::ScopedWorkingDirectory cwd{dir.path()};
};

TEST_F(MultiLevelTest, WritesFiveLevelsAndRefinesFromTheInterpolation) {
  auto exemplar = engine_test::MakeNoise(40, 40, 6);
  for (int iterations : {0, 1}) {
    SCOPED_TRACE(iterations);
    std::unique_ptr<CImage> result(
        optimizer.SynthesizeMultiLevel(exemplar.get(), 4.0, 4.0, iterations));
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->GetWidth(), 160);
    EXPECT_EQ(result->GetHeight(), 160);
    EXPECT_EQ(result->GetBitCount(), 24);
    const int sizes[5] = {40, 80, 80, 160, 160};
    for (int level = 1; level <= 5; ++level) {
      SCOPED_TRACE(level);
      CImage file(dir.file("Multi_level_" + std::to_string(level) + ".bmp"));
      ASSERT_TRUE(file.IsValid());
      EXPECT_EQ(file.GetWidth(), sizes[level - 1]);
      EXPECT_EQ(file.GetHeight(), sizes[level - 1]);
    }
    CImage level1(dir.file("Multi_level_1.bmp"));
    EXPECT_TRUE(SamePixels(level1, *exemplar));
    EXPECT_EQ(exemplar->GetType(), kImageTypeBmp);

    CImage level5(dir.file("Multi_level_5.bmp"));
    std::unique_ptr<CImage> stage1(optimizer.Interpolate(exemplar.get(), 80, 80, true));
    std::unique_ptr<CImage> stage2(optimizer.Interpolate(stage1.get(), 160, 160, true));
    if (iterations == 0) {
      // No refinement: the interpolations themselves.
      EXPECT_TRUE(SamePixels(*result, *stage2));
      EXPECT_TRUE(SamePixels(level5, *stage2));
    } else {
      EXPECT_FALSE(SamePixels(*result, *stage2));
      EXPECT_FALSE(SamePixels(level5, *result));
    }
    for (int level = 1; level <= 5; ++level)
      std::filesystem::remove(dir.file("Multi_level_" + std::to_string(level) + ".bmp"));
  }
}

TEST_F(MultiLevelTest, RefusalWritesNoFile) {
  auto small = engine_test::MakeNoise(31, 64, 6);
  auto exemplar = engine_test::MakeNoise(40, 40, 6);
  EXPECT_EQ(optimizer.SynthesizeMultiLevel(small.get(), 4.0, 4.0, 1), nullptr);
  EXPECT_EQ(optimizer.SynthesizeMultiLevel(nullptr, 4.0, 4.0, 1), nullptr);
  // A second stage smaller than its neighbourhood has no grid.
  EXPECT_EQ(optimizer.SynthesizeMultiLevel(exemplar.get(), 0.25, 0.25, 1), nullptr);
  // Nor can a stage larger than any image.
  EXPECT_EQ(optimizer.SynthesizeMultiLevel(exemplar.get(), 1e7, 1.0, 1), nullptr);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

}  // namespace
