// Candidate choice: summed-area tables, the FFT correlation, both search modes against
// a direct evaluation of the acceptance weights, ties, used offsets and random draws.
#include "quiltbench/engine/candidate_search.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <utility>

#include "engine_test_images.h"
#include "platform/clock.h"
#include "platform/crt_random.h"
#include "quiltbench/engine/fft_correlation.h"
#include "quiltbench/engine/overlap_dot.h"

namespace {

using engine_test::NoiseImage;

struct SearchRun {
  explicit SearchRun(const PixelRows& rows, int mode = kFftSearch) : source(rows) {
    BuildSummedAreaTables(source, squares, sums);
    search = std::make_unique<CandidateSearch>(source, squares, sums, used, mode);
  }
  PixelRows source;
  SummedAreaTable<1> squares;
  SummedAreaTable<3> sums;
  std::vector<CPoint> used;
  std::unique_ptr<CandidateSearch> search;
};

// The weight scale k as the clock's second gives it.
long double ReferenceK() {
  platform::srand(static_cast<unsigned>(platform::time()));
  platform::rand();
  int r;
  do r = platform::rand();
  while (r / 32767.0L < 0.001L);
  return r / 32767.0L;
}

// The acceptance rule written out plainly: every overlap pixel summed directly in double
// precision, weight exp(-e / (k V)), the strictly greatest weight in scan order.
CPoint ReferencePick(const PixelRows& src, OverlapShape shape, const PixelRows& left,
                     const PixelRows& top, const std::vector<CPoint>& used) {
  struct Pixel {
    int u, v;
    const std::uint8_t* o;
  };
  std::vector<Pixel> overlap;
  if (shape == OverlapShape::top) {
    for (int v = 0; v < 8; ++v)
      for (int u = 0; u < 32; ++u) overlap.push_back({u, v, top.pixel(u, v)});
  } else {
    for (int v = 0; v < 32; ++v)
      for (int u = 0; u < 8; ++u) overlap.push_back({u, v, left.pixel(u, v)});
    if (shape == OverlapShape::lShaped)
      for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 24; ++u) overlap.push_back({8 + u, v, top.pixel(u, v)});
  }
  const long double k = ReferenceK();
  const double n = static_cast<double>(overlap.size());
  const double divisor = shape == OverlapShape::lShaped ? 1e6 : 100.0;
  const int w = src.width(), h = src.height();
  long double best = -1.0L;
  CPoint pick{-1, -1};
  for (int y = 0; y < h - 32; ++y) {
    for (int x = 0; x < w - 32; ++x) {
      bool isUsed = false;
      for (const CPoint& p : used) isUsed |= p.x == x && p.y == y;
      if (isUsed) continue;
      double cc = 0, oo = 0, co = 0, s[3] = {0, 0, 0};
      for (const Pixel& q : overlap) {
        const std::uint8_t* c = src.pixel(x + q.u, y + q.v);
        for (int i = 0; i < 3; ++i) {
          cc += c[i] * c[i];
          oo += q.o[i] * q.o[i];
          co += c[i] * q.o[i];
          s[i] += c[i];
        }
      }
      const double ssd = cc + oo - 2 * co;
      const double e = n * ssd / (static_cast<double>(w) * h * divisor);
      const double variance = cc / n - (s[0] * s[0] + s[1] * s[1] + s[2] * s[2]) / (n * n);
      const long double weight = std::exp(-static_cast<long double>(e) / (k * variance));
      if (weight > best) {
        best = weight;
        pick = {x, y};
      }
    }
  }
  return pick;
}

TEST(SummedAreaTable, WindowSumsMatchDirectSums) {
  const PixelRows src = NoiseImage(20, 13, 7);
  SummedAreaTable<1> squares;
  SummedAreaTable<3> sums;
  BuildSummedAreaTables(src, squares, sums);
  struct Window {
    int x, y, w, h;
  } const windows[] = {{0, 0, 1, 1},  {0, 0, 20, 13}, {0, 5, 8, 8},
                       {7, 0, 13, 1}, {19, 12, 1, 1}, {3, 4, 9, 6}};
  for (const Window& win : windows) {
    SCOPED_TRACE(testing::Message() << win.x << "," << win.y << " " << win.w << "x" << win.h);
    std::int64_t sq = 0, s[3] = {0, 0, 0};
    for (int y = win.y; y < win.y + win.h; ++y)
      for (int x = win.x; x < win.x + win.w; ++x)
        for (int c = 0; c < 3; ++c) {
          const int b = src.pixel(x, y)[c];
          sq += b * b;
          s[c] += b;
        }
    EXPECT_EQ(squares.windowSum(win.x, win.y, win.w, win.h), sq);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(sums.windowSum(win.x, win.y, win.w, win.h, c), s[c]);
  }
}

TEST(SummedAreaTable, LargeSampleSquaresStayExact) {
  // 256x256 white: the square sum reaches 256 * 256 * 3 * 255^2, past 2^31.
  PixelRows white(256, 256);
  for (int y = 0; y < 256; ++y) std::memset(white[y], 255, white.stride());
  SummedAreaTable<1> squares;
  SummedAreaTable<3> sums;
  BuildSummedAreaTables(white, squares, sums);
  EXPECT_EQ(squares.windowSum(0, 0, 256, 256), std::int64_t{256} * 256 * 3 * 255 * 255);
  EXPECT_EQ(squares.windowSum(200, 100, 32, 8), std::int64_t{32} * 8 * 3 * 255 * 255);
}

TEST(FftCorrelator, SurfaceMatchesDirectCrossTerms) {
  struct Case {
    int w, h, pw, ph;
    unsigned seed;
  } const cases[] = {
      {45, 37, 32, 32, 1}, {64, 64, 8, 32, 2}, {50, 70, 32, 8, 3}, {33, 33, 32, 32, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.w << "x" << c.h << " pattern " << c.pw << "x" << c.ph << " seed " << c.seed);
    const PixelRows src = NoiseImage(c.w, c.h, c.seed);
    const PixelRows pattern = NoiseImage(c.pw, c.ph, c.seed + 100);
    FftCorrelator correlator(src);
    const double* surface = correlator.FftSsd(pattern);
    double worst = 0;
    for (int y = 0; y + c.ph <= c.h; ++y)
      for (int x = 0; x + c.pw <= c.w; ++x) {
        double direct = 0;
        for (int v = 0; v < c.ph; ++v)
          for (int i = 0; i < 3 * c.pw; ++i) direct += src.pixel(x, y + v)[i] * pattern[v][i];
        worst = std::max(worst, std::abs(surface[y * correlator.rowWidth() + x] - direct));
      }
    EXPECT_LT(worst, 1e-4);
  }
}

// Every kernel the processor offers against the plain sum, on the row layouts of the
// three overlaps and windows that touch the sample's last column and row.
TEST(OverlapDot, KernelsAgreeWithThePlainSum) {
  const PixelRows src = NoiseImage(41, 40, 31);
  const PixelRows pattern = NoiseImage(32, 32, 32);
  struct Layout {
    const char* name;
    int rows;
    int bytes[2];
    int split;
  } const layouts[] = {{"left", 32, {24, 24}, 32}, {"top", 8, {96, 96}, 8}, {"L", 32, {96, 24}, 8}};
  std::vector<detail::DotKernel> kernels = {detail::DotKernel::portable};
#if defined(__x86_64__) || defined(__i386__)
  kernels.push_back(detail::DotKernel::sse2);
  if (__builtin_cpu_supports("avx2")) kernels.push_back(detail::DotKernel::avx2);
#endif
  for (const Layout& l : layouts) {
    int rowBytes[32];
    for (int v = 0; v < l.rows; ++v) rowBytes[v] = v < l.split ? l.bytes[0] : l.bytes[1];
    for (detail::DotKernel kernel : kernels) {
      SCOPED_TRACE(testing::Message() << l.name << " kernel " << static_cast<int>(kernel));
      const detail::OverlapDot dot(pattern, rowBytes, l.rows, kernel);
      for (auto [x, y] : {std::pair{0, 0}, std::pair{9, 8}, std::pair{3, 8}, std::pair{9, 0}}) {
        std::int64_t direct = 0;
        for (int v = 0; v < l.rows; ++v)
          for (int i = 0; i < rowBytes[v]; ++i) direct += src.pixel(x, y + v)[i] * pattern[v][i];
        EXPECT_EQ(dot.at(src, x, y), direct) << x << "," << y;
      }
    }
  }
}

TEST(FftCorrelator, TransformLengthsHaveOnlySmallFactors) {
  const std::pair<int, int> cases[] = {{32, 32},   {33, 35},   {50, 50},
                                       {127, 128}, {211, 216}, {256, 256}};
  for (auto [size, length] : cases) EXPECT_EQ(FftCorrelator::TransformLength(size), length) << size;
}

// The searches keep picking the same offsets as the plain evaluation of the weights,
// through a run of picks (each pick is used, so the next one is the runner-up).
TEST(CandidateSearch, BothModesPickWhatTheWeightsSay) {
  platform::FixedClock clock(1234567);
  platform::ScopedClock useClock(clock);
  struct Case {
    int w, h;
    OverlapShape shape;
    int mode;
    unsigned seed;
  } const cases[] = {
      {64, 64, OverlapShape::left, kFftSearch, 11},
      {64, 64, OverlapShape::left, kNaiveSearch, 11},
      {50, 70, OverlapShape::top, kFftSearch, 12},
      {50, 70, OverlapShape::top, kNaiveSearch, 12},
      {70, 45, OverlapShape::lShaped, kFftSearch, 13},
      {70, 45, OverlapShape::lShaped, kNaiveSearch, 13},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " shape " << static_cast<int>(c.shape)
                                    << " mode " << c.mode << " seed " << c.seed);
    SearchRun run(NoiseImage(c.w, c.h, c.seed), c.mode);
    // A strip cut from the sample itself (slightly disturbed) plus unrelated ones.
    for (int pick = 0; pick < 12; ++pick) {
      const PixelRows left = NoiseImage(8, 32, c.seed * 31 + pick);
      const PixelRows top =
          NoiseImage(c.shape == OverlapShape::top ? 32 : 24, 8, c.seed * 37 + pick);
      const CPoint expected = ReferencePick(run.source, c.shape, left, top, run.used);
      bool found = false;
      switch (c.shape) {
        case OverlapShape::left:
          found = run.search->SearchCandidates(left);
          break;
        case OverlapShape::top:
          found = run.search->SearchTopCandidates(top);
          break;
        case OverlapShape::lShaped:
          found = run.search->SearchLShapedCandidates(left, top);
          break;
      }
      ASSERT_TRUE(found);
      EXPECT_EQ(run.used.back(), expected) << "pick " << pick;
    }
  }
}

TEST(CandidateSearch, AStripCutFromTheSampleFindsItsOwnOffset) {
  platform::FixedClock clock;
  platform::ScopedClock useClock(clock);
  for (int mode : {kFftSearch, kNaiveSearch}) {
    SCOPED_TRACE(mode);
    SearchRun run(NoiseImage(60, 52, 5), mode);
    PixelRows left(8, 32), top(24, 8);
    for (int v = 0; v < 32; ++v) std::memcpy(left[v], run.source.pixel(17, 9 + v), 24);
    for (int v = 0; v < 8; ++v) std::memcpy(top[v], run.source.pixel(25, 9 + v), 72);
    ASSERT_TRUE(run.search->SearchLShapedCandidates(left, top));
    EXPECT_EQ(run.used.back(), (CPoint{17, 9}));
  }
}

TEST(CandidateSearch, EqualWeightsKeepTheFirstOffsetInScanOrder) {
  platform::FixedClock clock;
  platform::ScopedClock useClock(clock);
  // Period 16 across: the windows at x and x + 16 are the same, so are their weights.
  const PixelRows tile = NoiseImage(16, 64, 21);
  PixelRows src(80, 64);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 80; ++x) std::memcpy(src.pixel(x, y), tile.pixel(x % 16, y), 3);
  SearchRun run(src, kNaiveSearch);
  const PixelRows strip = NoiseImage(8, 32, 22);
  ASSERT_TRUE(run.search->SearchCandidates(strip));
  const CPoint first = run.used.back();
  EXPECT_LT(first.x, 16);
  EXPECT_EQ(first, ReferencePick(run.source, OverlapShape::left, strip, {}, {}));
  // With it used, its twin one period on wins next.
  ASSERT_TRUE(run.search->SearchCandidates(strip));
  EXPECT_EQ(run.used.back(), (CPoint{first.x + 16, first.y}));
}

TEST(CandidateSearch, ASampleOf33PixelsOffersOneOffset) {
  platform::FixedClock clock;
  platform::ScopedClock useClock(clock);
  for (int mode : {kFftSearch, kNaiveSearch}) {
    SCOPED_TRACE(mode);
    SearchRun run(NoiseImage(33, 33, 3), mode);
    const PixelRows left = NoiseImage(8, 32, 4), top = NoiseImage(24, 8, 5);
    ASSERT_TRUE(run.search->SearchLShapedCandidates(left, top));
    EXPECT_EQ(run.used.back(), (CPoint{0, 0}));
    EXPECT_FALSE(run.search->SearchLShapedCandidates(left, top));
    EXPECT_FALSE(run.search->SearchCandidates(left));
    EXPECT_EQ(run.used.size(), 1u);
  }
}

TEST(CandidateSearch, OffsetsUsedBeforeAreSkippedAndUnknownModesFail) {
  platform::FixedClock clock;
  platform::ScopedClock useClock(clock);
  const PixelRows src = NoiseImage(48, 48, 8);
  const PixelRows strip = NoiseImage(32, 8, 9);
  SearchRun first(src);
  ASSERT_TRUE(first.search->SearchTopCandidates(strip));
  SearchRun second(src);
  second.used = {first.used.back()};  // as a second run of the same engine sees it
  second.search = std::make_unique<CandidateSearch>(second.source, second.squares, second.sums,
                                                    second.used, kFftSearch);
  ASSERT_TRUE(second.search->SearchTopCandidates(strip));
  EXPECT_NE(second.used.back(), first.used.back());
  EXPECT_EQ(second.used.back(),
            ReferencePick(src, OverlapShape::top, {}, strip, {first.used.back()}));

  for (int mode : {0, 3, -1}) {
    SearchRun bad(src, mode);
    EXPECT_FALSE(bad.search->SearchTopCandidates(strip)) << mode;
    EXPECT_TRUE(bad.used.empty());
  }
}

TEST(CandidateWeight, DegenerateWindows) {
  EXPECT_EQ(CandidateWeight(OverlapShape::left, 500, 0, 0.5L, 64, 64), 0.0L);  // flat, mismatched
  EXPECT_TRUE(std::isnan(CandidateWeight(OverlapShape::left, 0, 0, 0.5L, 64, 64)));
  EXPECT_EQ(CandidateWeight(OverlapShape::top, 0, 10, 0.5L, 64, 64), 1.0L);
  // e = 448 * 1e6 / (100 * 100 * 1e6) = 0.0448; z = e / (0.5 * 2).
  EXPECT_NEAR(static_cast<double>(CandidateWeight(OverlapShape::lShaped, 1e6L, 2, 0.5L, 100, 100)),
              std::exp(-0.0448), 1e-12);
}

// Random draws cover the whole range 0 .. w - 32 (both ends), never repeat, and report
// exhaustion instead of drawing for ever.
TEST(CandidateSearch, RandomDrawsExhaustTheRangeAndThenFail) {
  platform::FixedClock clock;
  platform::ScopedClock useClock(clock);
  struct Case {
    int w, h;
  } const cases[] = {{35, 33}, {32, 32}, {41, 40}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
    SearchRun run(NoiseImage(c.w, c.h, 1));
    const int total = (c.w - 31) * (c.h - 31);
    ASSERT_TRUE(run.search->PickFirstCandidate());
    for (int i = 1; i < total; ++i) ASSERT_TRUE(run.search->PickRandomCandidate()) << i;
    EXPECT_FALSE(run.search->PickRandomCandidate());
    EXPECT_FALSE(run.search->PickFirstCandidate());
    std::set<std::pair<int, int>> seen;
    for (const CPoint& p : run.used) {
      EXPECT_TRUE(p.x >= 0 && p.x <= c.w - 32 && p.y >= 0 && p.y <= c.h - 32) << p.x << "," << p.y;
      seen.insert({p.x, p.y});
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(total));
    EXPECT_EQ(run.used.size(), static_cast<std::size_t>(total));
  }
}

TEST(CandidateSearch, FirstPatchFollowsTheClockSeedAndSkipsUsedOffsets) {
  platform::FixedClock clock(777);
  platform::ScopedClock useClock(clock);
  const PixelRows src = NoiseImage(100, 90, 2);
  platform::srand(777);
  platform::rand();
  platform::rand();
  platform::srand(static_cast<unsigned>(platform::rand()));
  platform::rand();
  const int a = platform::rand(), b = platform::rand();
  const CPoint expected{static_cast<int>(a / 32767.0 * 68), static_cast<int>(b / 32767.0 * 58)};

  SearchRun run(src);
  ASSERT_TRUE(run.search->PickFirstCandidate());
  EXPECT_EQ(run.used.back(), expected);
  // The same second again (a second run): the same draw is taken, so it must move on.
  ASSERT_TRUE(run.search->PickFirstCandidate());
  EXPECT_NE(run.used.back(), expected);
}

}  // namespace

namespace {

// A sample of one colour matches every overlap exactly with no variance (weight 0 / 0):
// the searches still find a candidate instead of failing the run.
TEST(CandidateSearchTest, SamplesOfOneColourStillGiveCandidates) {
  PixelRows flat(40, 40);
  for (int y = 0; y < 40; ++y)
    for (std::size_t i = 0; i < flat.stride(); ++i) flat[y][i] = 0x66;
  for (int mode : {kFftSearch, kNaiveSearch}) {
    SCOPED_TRACE(mode);
    SearchRun run(flat, mode);
    PixelRows strip(8, 32);
    for (int y = 0; y < 32; ++y)
      for (std::size_t i = 0; i < strip.stride(); ++i) strip[y][i] = 0x66;
    EXPECT_TRUE(run.search->SearchCandidates(strip));
    ASSERT_EQ(run.used.size(), 1u);
    EXPECT_EQ(run.used[0], (CPoint{0, 0}));  // the first of equals
  }
}

}  // namespace
