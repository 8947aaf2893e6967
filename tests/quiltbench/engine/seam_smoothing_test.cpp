// The seam post-process: colour steps across recorded seams shrink, and pixels that no
// seam reaches keep their values exactly.
#include "quiltbench/engine/seam_smoothing.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "engine_test_images.h"
#include "platform/clock.h"
#include "platform/recording_ui.h"
#include "quiltbench/engine/candidate_search.h"
#include "quiltbench/engine/patch_synthesis.h"

namespace {

using engine_test::BrickImage;

int Step(const PixelRows& rows, int x0, int y0, int x1, int y1) {
  int sum = 0;
  for (int c = 0; c < 3; ++c) sum += std::abs(rows.pixel(x1, y1)[c] - rows.pixel(x0, y0)[c]);
  return sum;
}

// Two flat-ish halves of a sample pasted side by side with one recorded seam between
// columns 9 and 10 of every row.
TEST(SmoothSeams, BlendsAcrossOneSeamOverItsRadius) {
  PixelRows source(64, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 64; ++x) {
      std::uint8_t* p = source.pixel(x, y);
      p[0] = p[1] = p[2] = static_cast<std::uint8_t>(x < 32 ? 40 + x : 200 + (x - 32));
    }
  struct Case {
    float cost;
    int radius;
  } const cases[] = {{20, 1}, {60, 2}, {100, 3}, {500, 4}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.cost);
    EXPECT_EQ(FeatherRadius(k.cost), k.radius);
    PixelRows output(20, 4);
    Grid<SeamRecord> seams(20, 4);
    Grid<SourceCoord> coords(20, 4);
    for (int y = 0; y < 4; ++y) {
      for (int x = 0; x < 20; ++x) {
        coords[y][x] = x < 10 ? SourceCoord{5 + x, y} : SourceCoord{40 + x - 10, y};
        std::memcpy(output.pixel(x, y), source.pixel(coords[y][x].x, y), 3);
      }
      seams[y][9].right = 1;
      seams[y][9].rightCost = k.cost;
    }
    const PixelRows before = output;
    SmoothSeams(output, seams, coords, source);
    for (int y = 0; y < 4; ++y) {
      EXPECT_LT(Step(output, 9, y, 10, y), Step(before, 9, y, 10, y));
      for (int x = 0; x < 20; ++x) {
        const bool reached = x > 9 - k.radius && x < 10 + k.radius;
        EXPECT_EQ(std::memcmp(output.pixel(x, y), before.pixel(x, y), 3) != 0, reached) << x;
      }
    }
  }
}

// On a real patch grid: the mean step across recorded seams falls by a tenth or more, and every
// pixel farther than the widest blend from all seams of its row and column is untouched.
TEST(SmoothSeams, OnAPatchGridOnlySeamNeighbourhoodsChange) {
  platform::FixedClock clock;
  platform::ScopedClock useClock(clock);
  platform::RecordingUi ui;
  platform::ScopedUi useUi(ui);
  for (bool random : {true, false}) {
    SCOPED_TRACE(random);
    const PixelRows source = BrickImage(64, 64, 17);
    PixelRows output(128, 128);
    Grid<SeamRecord> seams(128, 128);
    Grid<SourceCoord> coords(128, 128);
    SummedAreaTable<1> squares;
    SummedAreaTable<3> sums;
    BuildSummedAreaTables(source, squares, sums);
    std::vector<CPoint> used;
    CandidateSearch search(source, squares, sums, used, kFftSearch);
    GrowTexture({source, output, seams, coords}, search, used, random, 4, 4);

    const PixelRows before = output;
    SmoothSeams(output, seams, coords, source);

    Grid<int> nearSeam(128, 128);
    long stepBefore = 0, stepAfter = 0;
    int count = 0;
    for (int y = 0; y < 128; ++y) {
      for (int x = 0; x < 128; ++x) {
        const SeamRecord& r = seams[y][x];
        if (r.right == 1 && x + 1 < 128 && r.rightCost > 0) {
          for (int d = -kMaxFeatherRadius + 1; d <= kMaxFeatherRadius; ++d)
            if (x + d >= 0 && x + d < 128) nearSeam[y][x + d] = 1;
          stepBefore += Step(before, x, y, x + 1, y);
          stepAfter += Step(output, x, y, x + 1, y);
          ++count;
        }
        if (r.down == 1 && y + 1 < 128 && r.downCost > 0) {
          for (int d = -kMaxFeatherRadius + 1; d <= kMaxFeatherRadius; ++d)
            if (y + d >= 0 && y + d < 128) nearSeam[y + d][x] = 1;
          stepBefore += Step(before, x, y, x, y + 1);
          stepAfter += Step(output, x, y, x, y + 1);
          ++count;
        }
      }
    }
    ASSERT_GT(count, 0);
    // The texture's own gradients stay across a seam, so a grid with good cuts shrinks
    // its steps less than a lone flat seam does.
    EXPECT_LT(stepAfter * 10, stepBefore * 9)
        << "mean step " << stepBefore / count << " -> " << stepAfter / count;
    int changed = 0;
    for (int y = 0; y < 128; ++y)
      for (int x = 0; x < 128; ++x) {
        const bool same = std::memcmp(output.pixel(x, y), before.pixel(x, y), 3) == 0;
        if (!nearSeam[y][x]) {
          EXPECT_TRUE(same) << x << "," << y;
        }
        changed += !same;
      }
    EXPECT_GT(changed, 0);
  }
}

}  // namespace
