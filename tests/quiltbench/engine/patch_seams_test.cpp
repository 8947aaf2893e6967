// Seam costs, overlap cuts, and the invariants a whole patch grid must keep: every
// output pixel is the sample pixel its source coordinate names, and every recorded
// seam separates pixels that were not neighbours in the sample.
#include "quiltbench/engine/patch_seams.h"

#include <gtest/gtest.h>

#include <cstring>

#include "engine_test_images.h"
#include "platform/clock.h"
#include "platform/recording_ui.h"
#include "quiltbench/engine/candidate_search.h"
#include "quiltbench/engine/patch_synthesis.h"
#include "quiltbench/engine/seam_cost.h"

namespace {

using engine_test::BrickImage;
using engine_test::NoiseImage;

std::uint32_t Rgb(int b0, int b1, int b2) { return b0 | b1 << 8 | b2 << 16; }

TEST(SeamCost, SumsTheTwoPixelDistances) {
  struct Case {
    std::uint32_t a, b, c, d;
    float cost;
  } const cases[] = {
      {Rgb(9, 9, 9), Rgb(9, 9, 9), Rgb(9, 9, 9), Rgb(9, 9, 9), 0.0f},
      {Rgb(0, 0, 0), Rgb(0, 0, 0), Rgb(3, 4, 0), Rgb(3, 4, 0), 10.0f},
      {Rgb(0, 0, 0), Rgb(0, 0, 0), Rgb(0, 0, 0), Rgb(0, 0, 12), 12.0f},  // only t differs
      {0xFF000000u | Rgb(1, 2, 3), Rgb(1, 2, 3), Rgb(1, 2, 3), 0x7F000000u | Rgb(1, 2, 3), 0.0f},
  };
  for (const Case& c : cases) EXPECT_FLOAT_EQ(SeamCost(c.a, c.b, c.c, c.d), c.cost);
}

TEST(CutLeftOverlap, EqualPicturesCostNothingAndTakeTheNewPixels) {
  const PixelRows strip = NoiseImage(8, 32, 1);
  LabelRows labels;
  EXPECT_EQ(CutLeftOverlap(strip, strip, labels, 8, 32), 0.0f);
  for (int i = 0; i < 32; ++i)
    for (int j = 0; j < 8; ++j) EXPECT_EQ(labels[i][j], j == 0 ? 0 : 1) << i << "," << j;
}

TEST(CutLeftOverlap, BordersAlwaysKeepTheirSides) {
  for (unsigned seed = 1; seed <= 6; ++seed) {
    SCOPED_TRACE(seed);
    LabelRows labels;
    const float flow =
        CutLeftOverlap(NoiseImage(8, 32, seed), NoiseImage(8, 32, seed + 50), labels, 8, 32);
    EXPECT_GT(flow, 0.0f);
    EXPECT_LT(flow, 1e6f);
    for (int i = 0; i < 32; ++i) {
      EXPECT_EQ(labels[i][0], 0);
      EXPECT_EQ(labels[i][7], 1);
    }
  }
}

TEST(CountStoredSeams, CountsOnlyPairsInsideTheRectangle) {
  Grid<SeamRecord> seams(10, 10);
  seams[2][3].right = 1;  // inside
  seams[2][5].right = 1;  // right flag of the rectangle's last column: faces outside
  seams[4][3].down = 1;   // down flag of its last row: faces outside
  seams[3][4].down = 1;   // inside
  seams[3][4].right = 2;  // not 1: not a flag
  seams[0][0].right = 1;  // outside
  EXPECT_EQ(CountStoredSeams(seams, 3, 2, 3, 3), 2);
  EXPECT_EQ(CountStoredSeams(seams, 0, 0, 10, 10), 5);
}

struct Canvas {
  Canvas(const PixelRows& sample, int width, int height)
      : source(sample), output(width, height), seams(width, height), coords(width, height) {}
  PatchCanvas view() { return {source, output, seams, coords}; }
  PixelRows source, output;
  Grid<SeamRecord> seams;
  Grid<SourceCoord> coords;
};

// Every pixel of the rectangle is a copy of the sample pixel its coordinate names, and
// every set flag lies between pixels that were not neighbours in the sample. From row
// `allSeamsFrom` on, where later rows' patches rewrote the records, the converse holds
// too: every pair of pixels that were not neighbours has its flag.
void ExpectConsistent(const Canvas& c, int width, int height, int allSeamsFrom = 1 << 30) {
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const SourceCoord s = c.coords[y][x];
      ASSERT_TRUE(s.x >= 0 && s.y >= 0 && s.x < c.source.width() && s.y < c.source.height())
          << x << "," << y;
      ASSERT_EQ(std::memcmp(c.output.pixel(x, y), c.source.pixel(s.x, s.y), 3), 0) << x << "," << y;
      const SeamRecord& r = c.seams[y][x];
      if (r.right == 1 && x + 1 < width) {
        const SourceCoord t = c.coords[y][x + 1];
        EXPECT_FALSE(t.x == s.x + 1 && t.y == s.y) << "right seam at " << x << "," << y;
      }
      if (r.down == 1 && y + 1 < height) {
        const SourceCoord t = c.coords[y + 1][x];
        EXPECT_FALSE(t.x == s.x && t.y == s.y + 1) << "down seam at " << x << "," << y;
      }
      if (y < allSeamsFrom) continue;
      if (x + 1 < width) {
        const SourceCoord t = c.coords[y][x + 1];
        EXPECT_TRUE(r.right == 1 || (t.x == s.x + 1 && t.y == s.y))
            << "unrecorded right seam at " << x << "," << y;
      }
      if (y + 1 < height) {
        const SourceCoord t = c.coords[y + 1][x];
        EXPECT_TRUE(r.down == 1 || (t.x == s.x && t.y == s.y + 1))
            << "unrecorded down seam at " << x << "," << y;
      }
    }
  }
}

// Equal pictures leave every pixel edge at 0, so the only flow is what the stored seams'
// nodes pass on to the old side: their old costs.
TEST(CutTopOverlap, StoredSeamsAddNodesCarryingTheirOldCost) {
  Canvas c(NoiseImage(64, 64, 4), 64, 40);
  PlaceFirstPatch(c.view(), 10, 10, 0, 0);
  PlaceFirstPatch(c.view(), 30, 20, 32, 0);
  c.seams[3][31].right = 1;  // between the two placed blocks, row 3 of the strip
  c.seams[3][31].rightCost = 5;
  c.seams[5][40].down = 1;
  c.seams[5][40].downCost = 2.5f;
  const PixelRows strip = CopyBlock(c.output, 16, 0, 32, 8);
  LabelRows labels;
  EXPECT_FLOAT_EQ(CutTopOverlap(c.view(), strip, strip, labels, 16, 0, 32, 8), 7.5f);
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 32; ++j) EXPECT_EQ(labels[i][j], i == 0 ? 0 : 1) << i << "," << j;
}

// Each row of the overlap turns from old (column 0) to new (column 7) at least once, and
// that change is where a seam is stored, with its cost.
TEST(PasteLeftOverlapPatch, StoresTheSeamOfEveryRowWithItsCost) {
  Canvas c(BrickImage(64, 64, 3), 56, 32);
  PlaceFirstPatch(c.view(), 3, 5, 0, 0);
  const PixelRows old = CopyBlock(c.output, 24, 0, 8, 32);
  PasteLeftOverlapPatch(c.view(), 20, 17, old, 24, 0);
  ExpectConsistent(c, 56, 32);
  for (int y = 0; y < 32; ++y) {
    SCOPED_TRACE(y);
    EXPECT_EQ(c.coords[y][24].x, 3 + 24);
    EXPECT_EQ(c.coords[y][31].x, 20 + 7);
    int rightSeams = 0;
    for (int x = 24; x < 32; ++x) {
      const SeamRecord& r = c.seams[y][x];
      if (r.right == 1) {
        EXPECT_GT(r.rightCost, 0.0f);
        ++rightSeams;
      }
      if (r.down == 1) {
        EXPECT_GT(r.downCost, 0.0f);
      }
    }
    EXPECT_GE(rightSeams, 1);
  }
}

// A patch placed against the sample's last column and row makes the next seam cost read
// one pixel past them; the read must stay inside (the sanitizer build checks it).
TEST(PasteLeftOverlapPatch, OldPixelsFromTheLastColumnStayInsideTheSample) {
  Canvas c(NoiseImage(40, 40, 9), 56, 32);
  PlaceFirstPatch(c.view(), 8, 8, 0, 0);
  const PixelRows old = CopyBlock(c.output, 24, 0, 8, 32);
  PasteLeftOverlapPatch(c.view(), 0, 0, old, 24, 0);
  ExpectConsistent(c, 56, 32);
}

TEST(GrowTexture, EveryModeKeepsPixelsCoordinatesAndSeamsConsistent) {
  platform::FixedClock clock;
  platform::ScopedClock useClock(clock);
  platform::RecordingUi ui;
  platform::ScopedUi useUi(ui);
  struct Case {
    int w, h, columns, rows;
    bool random;
    int mode;
  } const cases[] = {{64, 64, 4, 4, true, kFftSearch},
                     {64, 48, 5, 3, false, kFftSearch},
                     {48, 64, 3, 4, false, kNaiveSearch},
                     {40, 40, 2, 2, true, kFftSearch}};
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message()
                 << k.w << "x" << k.h << " random " << k.random << " mode " << k.mode);
    Canvas c(BrickImage(k.w, k.h, 5), 24 * k.columns + 32, 24 * k.rows + 32);
    SummedAreaTable<1> squares;
    SummedAreaTable<3> sums;
    BuildSummedAreaTables(c.source, squares, sums);
    std::vector<CPoint> used;
    CandidateSearch search(c.source, squares, sums, used, k.mode);
    ui.clear();
    GrowTexture(c.view(), search, used, k.random, k.columns, k.rows);
    ExpectConsistent(c, c.output.width(), c.output.height(), kGridStep);
    EXPECT_EQ(used.size(), static_cast<std::size_t>((k.columns + 1) * (k.rows + 1)));
    EXPECT_EQ(ui.events().size(), static_cast<std::size_t>(k.rows + 1));  // a progress line a row
    int seams = 0;
    for (int y = 0; y < c.output.height(); ++y)
      for (int x = 0; x < c.output.width(); ++x) seams += c.seams[y][x].right + c.seams[y][x].down;
    EXPECT_GT(seams, 0);
  }
}

TEST(GrowTexture, RunningOutOfOffsetsThrows) {
  platform::FixedClock clock;
  platform::ScopedClock useClock(clock);
  platform::RecordingUi ui;
  platform::ScopedUi useUi(ui);
  // 33x33 has four offsets to draw from and one to search; 3x3 patches need nine.
  for (bool random : {true, false}) {
    Canvas c(NoiseImage(33, 33, 2), 80, 80);
    SummedAreaTable<1> squares;
    SummedAreaTable<3> sums;
    BuildSummedAreaTables(c.source, squares, sums);
    std::vector<CPoint> used;
    CandidateSearch search(c.source, squares, sums, used, kFftSearch);
    EXPECT_THROW(GrowTexture(c.view(), search, used, random, 2, 2), SynthesisError) << random;
  }
}

}  // namespace
