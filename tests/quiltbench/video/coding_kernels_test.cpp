// The encoder's fast kernels against plain reference versions on random
// inputs (seed printed for replay), and the code tables against the
// properties a decoder relies on.
#include "quiltbench/video/coding_kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "quiltbench/video/dct.h"
#include "quiltbench/video/encoder_stages.h"
#include "quiltbench/video/motion_search.h"
#include "quiltbench/video/quantisation.h"
#include "quiltbench/video/sad.h"
#include "quiltbench/video/vlc_tables.h"

namespace quiltbench::encoder {
namespace {

std::uint32_t testSeed() {
  static const std::uint32_t seed = std::random_device{}();
  return seed;
}

#define PRINT_SEED() SCOPED_TRACE("seed " + std::to_string(testSeed()))

TEST(SadKernel, MatchesPlainSumAndStopsOnlyAboveTheLimit) {
  PRINT_SEED();
  std::mt19937 rng(testSeed());
  std::uniform_int_distribution<int> byte(0, 255);
  std::vector<std::uint8_t> a(40 * 40), b(40 * 40);
  for (int trial = 0; trial < 500; ++trial) {
    for (auto& v : a) v = static_cast<std::uint8_t>(byte(rng));
    for (auto& v : b)
      v = static_cast<std::uint8_t>(trial % 3 == 0 ? byte(rng)
                                                   : (a[&v - b.data()] ^ (byte(rng) & 7)));
    const int h = (trial & 1) ? 16 : 8;
    const int off = trial % 7;
    const int plain = sad16Plain(a.data() + off, 40, b.data() + 3, 37, h);
    EXPECT_EQ(sad16(a.data() + off, 40, b.data() + 3, 37, h, 1 << 30), plain);
    const int limit = plain / 2;
    EXPECT_GT(sad16(a.data() + off, 40, b.data() + 3, 37, h, limit), limit);
    EXPECT_EQ(sad16(a.data() + off, 40, b.data() + 3, 37, h, plain), plain);
  }
}

TEST(SadKernel, HalfPelSadMatchesThePlainPredictionInEveryPhase) {
  PRINT_SEED();
  std::mt19937 rng(testSeed());
  std::uniform_int_distribution<int> byte(0, 255);
  constexpr int kStride = 48;
  std::vector<std::uint8_t> ref(kStride * 48), cur(kStride * 48);
  for (int trial = 0; trial < 400; ++trial) {
    // All-255 planes show a rounding that overflows 8 bits; the rest random.
    for (auto& v : ref) v = static_cast<std::uint8_t>(trial == 0 ? 255 : byte(rng));
    for (auto& v : cur) v = static_cast<std::uint8_t>(trial == 0 ? 0 : byte(rng));
    const int hx = trial % 5 - 2, hy = (trial / 5) % 5 - 2;  // all four phases, both signs
    const int h = (trial & 1) ? 16 : 8;
    const std::uint8_t* origin = ref.data() + 16 * kStride + 16;
    const int plain = halfPelSad16Plain(cur.data(), kStride, origin, kStride, hx, hy, h);
    SCOPED_TRACE("hx " + std::to_string(hx) + " hy " + std::to_string(hy));
    EXPECT_EQ(halfPelSad16(cur.data(), kStride, origin, kStride, hx, hy, h, 1 << 30), plain);
    EXPECT_EQ(halfPelSad16(cur.data(), kStride, origin, kStride, hx, hy, h, plain), plain);
    EXPECT_GT(halfPelSad16(cur.data(), kStride, origin, kStride, hx, hy, h, plain / 3), plain / 3);
  }
}

TEST(SadKernel, CrossOfHalfPelSadsMatchesThePlainSums) {
  PRINT_SEED();
  std::mt19937 rng(testSeed());
  std::uniform_int_distribution<int> byte(0, 255);
  constexpr int kStride = 53;  // odd, so rows start at every alignment
  std::vector<std::uint8_t> ref(kStride * 48), cur(kStride * 24);
  for (int trial = 0; trial < 600; ++trial) {
    // Every other trial without AVX2, for the versions other processors run.
    detail::allowAvx2Sads(trial % 2 == 0);
    // Saturated planes give the largest sums and the rounding that overflows
    // 8 bits; the rest random, some near copies.
    for (auto& v : ref) v = static_cast<std::uint8_t>(trial < 2 ? 255 : byte(rng));
    for (std::size_t i = 0; i < cur.size(); ++i) {
      cur[i] = static_cast<std::uint8_t>(trial < 2   ? 0
                                         : trial % 3 ? byte(rng)
                                                     : ref[i + 9 * kStride] ^ (byte(rng) & 3));
    }
    const int h = (trial & 2) ? 16 : 8;
    const std::uint8_t* a = cur.data() + trial % 5;
    const std::uint8_t* origin = ref.data() + 9 * kStride + 1 + trial % 7;
    int fast[5], plain[5];
    crossHalfPelSads16(a, kStride, origin, kStride, h, fast);
    crossHalfPelSads16Plain(a, kStride, origin, kStride, h, plain);
    EXPECT_EQ(std::vector<int>(fast, fast + 5), std::vector<int>(plain, plain + 5));
  }
  detail::allowAvx2Sads(true);
}

TEST(SadKernel, IntraDecisionEnergiesMatchThePlainSums) {
  PRINT_SEED();
  std::mt19937 rng(testSeed());
  std::uniform_int_distribution<int> byte(0, 255);
  constexpr int kStride = 37;
  std::vector<std::uint8_t> cur(kStride * 16 + 16), prediction(256);
  for (int trial = 0; trial < 400; ++trial) {
    detail::allowAvx2Sads(trial % 2 == 0);
    // Extremes first: the largest error and the largest squares.
    for (auto& v : cur) v = static_cast<std::uint8_t>(trial < 4 ? 255 : byte(rng));
    for (auto& v : prediction) v = static_cast<std::uint8_t>(trial < 4 ? 0 : byte(rng));
    const std::uint8_t* a = cur.data() + trial % 9;
    EXPECT_EQ(squaredError16(a, kStride, prediction.data()),
              squaredError16Plain(a, kStride, prediction.data()));
    EXPECT_EQ(variance16(a, kStride), variance16Plain(a, kStride));
  }
  detail::allowAvx2Sads(true);
}

TEST(SadKernel, RowStatisticsMatchThePlainSums) {
  PRINT_SEED();
  std::mt19937 rng(testSeed());
  std::uniform_int_distribution<int> byte(0, 255);
  // Lengths around the vector width and beyond the 32-bit flush interval;
  // extreme samples make the largest sums.
  for (const int n : {0, 1, 15, 16, 17, 352, 4095, 4096, 4111, 9000}) {
    SCOPED_TRACE("n " + std::to_string(n));
    for (const bool extreme : {false, true}) {
      std::vector<std::uint8_t> a(static_cast<std::size_t>(n)), b(a.size());
      for (std::size_t i = 0; i < a.size(); ++i) {
        a[i] = static_cast<std::uint8_t>(extreme ? 255 : byte(rng));
        b[i] = static_cast<std::uint8_t>(extreme ? 0 : byte(rng));
      }
      const RowStatistics fast = rowStatistics(a.data(), b.data(), n);
      const RowStatistics plain = rowStatisticsPlain(a.data(), b.data(), n);
      EXPECT_EQ(fast.sum, plain.sum);
      EXPECT_EQ(fast.squares, plain.squares);
      EXPECT_EQ(fast.errorSquares, plain.errorSquares);
    }
  }
}

TEST(FullSearch, FindsTheSameDisplacementAsThePlainScan) {
  PRINT_SEED();
  std::mt19937 rng(testSeed());
  const int W = 96, H = 64;
  std::vector<std::uint8_t> ref(W * H), cur(W * H);
  struct Case {
    const char* name;
    int noise;  // amplitude of independent noise on top of a shifted copy
    bool flat;  // a flat reference: every displacement ties
  };
  const Case cases[] = {{"shifted copy", 0, false},
                        {"shifted copy with noise", 12, false},
                        {"flat picture (all ties)", 0, true},
                        {"unrelated noise", 255, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (int y = 0; y < H; ++y) {
      for (int x = 0; x < W; ++x) {
        ref[y * W + x] =
            c.flat ? 90 : static_cast<std::uint8_t>((x * 7 + y * 13 + (x * y) % 17) & 255);
      }
    }
    const int sx = 3, sy = -2;
    for (int y = 0; y < H; ++y) {
      for (int x = 0; x < W; ++x) {
        const int xs = std::clamp(x + sx, 0, W - 1), ys = std::clamp(y + sy, 0, H - 1);
        int v = ref[ys * W + xs];
        if (c.noise)
          v = std::clamp(v + static_cast<int>(rng() % (2 * c.noise + 1)) - c.noise, 0, 255);
        cur[y * W + x] = static_cast<std::uint8_t>(v);
      }
    }
    const PlaneView view{ref.data(), W, W, H};
    // Blocks in the middle and against every edge, 16 and 8 rows high.
    const int positions[][3] = {{32, 16, 16}, {0, 0, 16}, {80, 48, 16},
                                {80, 0, 8},   {0, 56, 8}, {48, 24, 8}};
    for (const auto& p : positions) {
      const SearchWindow window = searchWindow(view, p[0], p[1], p[2], 7, 5);
      const std::uint8_t* block = cur.data() + p[1] * W + p[0];
      const SearchResult plain = fullSearchPlain(block, W, view, p[0], p[1], p[2], window);
      const SearchResult fast = fullSearch(block, W, view, p[0], p[1], p[2], window);
      EXPECT_EQ(fast.dx, plain.dx);
      EXPECT_EQ(fast.dy, plain.dy);
      EXPECT_EQ(fast.sad, plain.sad);
      // A first guess, good or bad, changes nothing but the speed.
      for (const auto& hint : {std::pair{-sx, -sy}, std::pair{2, 1}, std::pair{40, 40}}) {
        const SearchResult hinted =
            fullSearch(block, W, view, p[0], p[1], p[2], window, hint.first, hint.second);
        EXPECT_EQ(hinted.dx, plain.dx);
        EXPECT_EQ(hinted.dy, plain.dy);
        EXPECT_EQ(hinted.sad, plain.sad);
      }
      EXPECT_GE(p[0] + window.xMin, 0);
      EXPECT_LE(p[0] + window.xMax + 16, W);
      EXPECT_LE(p[1] + window.yMax + p[2], H);
    }
  }
}

TEST(PredictiveSearch, FindsTheMotionFromSeedsAndStaysInTheWindow) {
  // A smooth picture (one minimum, so the pattern search can walk to it) and
  // a copy shifted by (5, -3).
  const int W = 96, H = 80;
  std::vector<std::uint8_t> ref(W * H), cur(W * H);
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      ref[y * W + x] = static_cast<std::uint8_t>(
          128 + 60 * std::sin(x * 0.09) * std::cos(y * 0.11) + 30 * std::sin((x + 2 * y) * 0.05));
    }
  }
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      cur[y * W + x] = ref[std::clamp(y - 3, 0, H - 1) * W + std::clamp(x + 5, 0, W - 1)];
    }
  }
  const PlaneView view{ref.data(), W, W, H};
  struct Case {
    const char* name;
    std::vector<Displacement> seeds;
    int sx, sy;
    int wantDx, wantDy;
  };
  const Case cases[] = {
      {"no seeds: the pattern walks from zero", {}, 15, 15, 5, -3},
      {"a near seed", {{4, -2}}, 15, 15, 5, -3},
      {"seeds far outside the window are clamped", {{1000, -1000}, {-99999, 99999}}, 15, 15, 5, -3},
      {"a window too small for the motion ends at its edge", {{5, -3}}, 2, 2, 2, -2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int x = 32, y = 32;
    const SearchWindow window = searchWindow(view, x, y, 16, c.sx, c.sy);
    const SearchResult r = predictiveSearch(cur.data() + y * W + x, W, view, x, y, 16, window,
                                            c.seeds.data(), static_cast<int>(c.seeds.size()));
    EXPECT_EQ(r.dx, c.wantDx);
    EXPECT_EQ(r.dy, c.wantDy);
    EXPECT_EQ(r.sad,
              sad16Plain(cur.data() + y * W + x, W, ref.data() + (y + r.dy) * W + x + r.dx, W, 16));
  }
}

// Double-precision transforms from the definition, as separable products with
// c(u) / 2 cos((2x + 1) u pi / 16), c(0) = 1 / sqrt(2).
struct CosineTable {
  double c[8][8];
  CosineTable() {
    for (int u = 0; u < 8; ++u) {
      for (int x = 0; x < 8; ++x) {
        c[u][x] =
            (u == 0 ? std::sqrt(0.125) : 0.5) * std::cos((2 * x + 1) * u * std::numbers::pi / 16);
      }
    }
  }
};
const CosineTable kCos;

void referenceForward(const double in[64], double out[64]) {
  double tmp[64];
  for (int y = 0; y < 8; ++y) {
    for (int u = 0; u < 8; ++u) {
      double s = 0;
      for (int x = 0; x < 8; ++x) s += kCos.c[u][x] * in[y * 8 + x];
      tmp[y * 8 + u] = s;
    }
  }
  for (int v = 0; v < 8; ++v) {
    for (int u = 0; u < 8; ++u) {
      double s = 0;
      for (int y = 0; y < 8; ++y) s += kCos.c[v][y] * tmp[y * 8 + u];
      out[v * 8 + u] = s;
    }
  }
}

void referenceInverse(const double in[64], double out[64]) {
  double tmp[64];
  for (int v = 0; v < 8; ++v) {
    for (int x = 0; x < 8; ++x) {
      double s = 0;
      for (int u = 0; u < 8; ++u) s += kCos.c[u][x] * in[v * 8 + u];
      tmp[v * 8 + x] = s;
    }
  }
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      double s = 0;
      for (int v = 0; v < 8; ++v) s += kCos.c[v][y] * tmp[v * 8 + x];
      out[y * 8 + x] = s;
    }
  }
}

TEST(ForwardDct, AgreesWithTheDoublePrecisionDefinition) {
  PRINT_SEED();
  initForwardDct();
  std::mt19937 rng(testSeed());
  std::uniform_int_distribution<int> sample(-255, 255);
  for (int trial = 0; trial < 2000; ++trial) {
    std::array<std::int16_t, 64> block;
    double in[64], expected[64];
    for (int i = 0; i < 64; ++i) {
      block[i] = static_cast<std::int16_t>(trial < 10 ? 255 * ((i + trial) & 1) : sample(rng));
      in[i] = block[i];
    }
    referenceForward(in, expected);
    forwardDctPrecise(block);
    for (int i = 0; i < 64; ++i)
      ASSERT_LE(std::abs(block[i] - expected[i]), 0.5 + 1e-3) << "coefficient " << i;
  }
}

// The accuracy test of IEEE 1180-1990: random blocks in [-L, H], forward
// transformed in double precision and rounded, then inverse transformed by the
// transform under test and by the double-precision one.
class Ieee1180Random {
 public:
  explicit Ieee1180Random(long seed) : state_(seed) {}
  long next(long low, long high) {
    state_ = (state_ * 1103515245 + 12345) & 0xffffffffL;
    const long i = state_ & 0x7ffffffeL;
    double x = static_cast<double>(i) / 0x7fffffff;
    x *= (low + high + 1);
    return static_cast<long>(x) - low;
  }

 private:
  long state_;
};

TEST(InverseDct, MeetsTheIeee1180Limits) {
  initForwardDct();
  initInverseDct();
  struct Range {
    long low, high;
    int sign;
  };
  const Range ranges[] = {{256, 255, 1},  {5, 5, 1},  {300, 300, 1},
                          {256, 255, -1}, {5, 5, -1}, {300, 300, -1}};
  for (const Range& range : ranges) {
    SCOPED_TRACE("L=" + std::to_string(range.low) + " H=" + std::to_string(range.high) +
                 " sign=" + std::to_string(range.sign));
    Ieee1180Random random(1);
    double errorSum[64] = {}, squaredSum[64] = {};
    int peak = 0;
    const int blocks = 10000;
    for (int n = 0; n < blocks; ++n) {
      double in[64], coefficients[64], expected[64];
      for (int i = 0; i < 64; ++i)
        in[i] = static_cast<double>(random.next(range.low, range.high) * range.sign);
      referenceForward(in, coefficients);
      std::array<std::int16_t, 64> block;
      double rounded[64];
      for (int i = 0; i < 64; ++i) {
        const double c = std::clamp(std::floor(coefficients[i] + 0.5), -2048.0, 2047.0);
        rounded[i] = c;
        block[i] = static_cast<std::int16_t>(c);
      }
      referenceInverse(rounded, expected);
      inverseDct(block);
      for (int i = 0; i < 64; ++i) {
        const int want = static_cast<int>(std::clamp(std::floor(expected[i] + 0.5), -256.0, 255.0));
        const int error = block[i] - want;
        peak = std::max(peak, std::abs(error));
        errorSum[i] += error;
        squaredSum[i] += error * error;
      }
    }
    EXPECT_LE(peak, 1);
    double totalError = 0, totalSquared = 0;
    for (int i = 0; i < 64; ++i) {
      EXPECT_LE(squaredSum[i] / blocks, 0.06) << "pixel " << i;
      EXPECT_LE(std::abs(errorSum[i]) / blocks, 0.015) << "pixel " << i;
      totalError += errorSum[i];
      totalSquared += squaredSum[i];
    }
    EXPECT_LE(totalSquared / (64.0 * blocks), 0.02);
    EXPECT_LE(std::abs(totalError) / (64.0 * blocks), 0.0015);
  }
  std::array<std::int16_t, 64> zero{};
  inverseDct(zero);
  for (int v : zero) EXPECT_EQ(v, 0);
}

TEST(ForwardDct, FixedPointStaysWithinOneOfTheExactValues) {
  PRINT_SEED();
  std::mt19937 rng(testSeed());
  std::uniform_int_distribution<int> sample(-255, 255);
  int exact = 0, total = 0;
  for (int trial = 0; trial < 5000; ++trial) {
    std::array<std::int16_t, 64> block;
    double in[64], expected[64];
    for (int i = 0; i < 64; ++i) {
      // Extremes first: every sample at a limit, checkerboards of both limits.
      const int extreme = (trial & 1) ? 255 : -255;
      block[i] = static_cast<std::int16_t>(trial < 4   ? extreme
                                           : trial < 8 ? extreme * (((i + i / 8) & 1) ? 1 : -1)
                                                       : sample(rng));
      in[i] = block[i];
    }
    referenceForward(in, expected);
    forwardDct(block);
    for (int i = 0; i < 64; ++i) {
      ASSERT_LE(std::abs(block[i] - expected[i]), 1.0) << "coefficient " << i;
      exact += block[i] == static_cast<int>(std::lround(expected[i]));
      ++total;
    }
  }
  // Fixed point misses the nearest integer only close to a half (about 2% of
  // coefficients with 4 fraction bits between the passes).
  EXPECT_GT(static_cast<double>(exact) / total, 0.97);
}

// Every SIMD kernel set gives the portable set's bits on random and extreme
// inputs, so streams do not depend on the processor.
TEST(CodingKernels, EverySetMatchesThePortableOne) {
  PRINT_SEED();
  const CodingKernels& plain = portableKernels();
  const std::vector<const CodingKernels*> sets = availableKernels();
  std::mt19937 rng(testSeed());
  auto uniform = [&](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(rng);
  };
  for (const CodingKernels* set : sets) {
    SCOPED_TRACE(set->name);
    for (int trial = 0; trial < 3000; ++trial) {
      Block residual, coefficients, levels;
      // Sparse coefficient blocks are what quantisation leaves; the full range
      // and the extremes are what a hostile stream could hold.
      const int range = trial % 3 == 0 ? 2048 : trial % 3 == 1 ? 300 : 20;
      for (int i = 0; i < 64; ++i) {
        residual[i] =
            static_cast<std::int16_t>(trial < 2 ? (trial ? 255 : -255) : uniform(-255, 255));
        coefficients[i] = static_cast<std::int16_t>(
            uniform(0, 3) == 0 || range == 2048 ? uniform(-range, range - 1) : 0);
        // Trial 2 is a still area: every level zero.
        levels[i] = static_cast<std::int16_t>(trial == 2  ? 0
                                              : trial < 2 ? (trial ? 32767 : -32768)
                                                          : uniform(-2048, 2047));
      }
      Block a = residual, b = residual;
      plain.forwardDct(a);
      set->forwardDct(b);
      ASSERT_EQ(a, b) << "forward DCT, trial " << trial;
      a = coefficients, b = coefficients;
      plain.inverseDct(a);
      set->inverseDct(b);
      ASSERT_EQ(a, b) << "inverse DCT, trial " << trial;

      std::array<std::uint8_t, 64> matrix;
      for (auto& m : matrix) m = static_cast<std::uint8_t>(trial % 5 == 0 ? 1 : uniform(1, 255));
      const int mquant = trial % 7 == 0 ? 112 : uniform(1, 112);
      const bool intra = trial & 1;
      const int maxLevel = trial % 4 < 2 ? 2047 : 255;
      a = levels, b = levels;
      const bool anyA = plain.quantise(a, intra ? 1 : 0, mquant, matrix, intra, maxLevel);
      const bool anyB = set->quantise(b, intra ? 1 : 0, mquant, matrix, intra, maxLevel);
      ASSERT_EQ(a, b) << "quantisation, trial " << trial;
      ASSERT_EQ(anyA, anyB) << "quantisation, trial " << trial;

      // Inverse quantisation of what quantisation leaves, and of any codable level.
      const bool mpeg1 = trial % 3 == 0;
      for (const Block& input : {a, levels}) {
        Block x = input, y = input;
        for (auto& v : x) v = static_cast<std::int16_t>(std::clamp<int>(v, -2048, 2047));
        y = x;
        bool anyX = false, anyY = false;
        const int sumX =
            plain.inverseQuantise(x, intra ? 1 : 0, mquant, matrix, intra, mpeg1, anyX);
        const int sumY = set->inverseQuantise(y, intra ? 1 : 0, mquant, matrix, intra, mpeg1, anyY);
        ASSERT_EQ(x, y) << "inverse quantisation, trial " << trial;
        ASSERT_EQ(sumX, sumY) << "inverse quantisation, trial " << trial;
        ASSERT_EQ(anyX, anyY) << "inverse quantisation, trial " << trial;
      }
    }

    // The transform's shortcut for blocks with a DC level alone gives what the
    // full transform gives.
    for (int dc = -2048; dc < 2048; ++dc) {
      Block a{}, b{};
      a[0] = b[0] = static_cast<std::int16_t>(dc);
      inverseDct(a);
      set->inverseDct(b);
      ASSERT_EQ(a, b) << "DC " << dc;
    }

    // Prediction: every half-pel phase, both widths, with and without
    // averaging into what the destination holds.
    constexpr int kStride = 40;
    std::vector<std::uint8_t> ref(kStride * 40);
    for (int trial = 0; trial < 200; ++trial) {
      for (auto& v : ref) v = static_cast<std::uint8_t>(trial < 2 ? 255 * trial : uniform(0, 255));
      const int w = (trial & 1) ? 16 : 8, h = (trial & 2) ? 16 : 8;
      const int dx = uniform(-8, 8), dy = uniform(-8, 8);
      const bool average = trial & 4;
      std::uint8_t a[16 * 16], b[16 * 16];
      for (int i = 0; i < 256; ++i) a[i] = b[i] = static_cast<std::uint8_t>(uniform(0, 255));
      plain.predictBlock(ref.data(), kStride, 12, 12, dx, dy, w, h, a, 16, average);
      set->predictBlock(ref.data(), kStride, 12, 12, dx, dy, w, h, b, 16, average);
      ASSERT_TRUE(std::equal(a, a + 256, b)) << "prediction " << dx << "," << dy << " w " << w;
    }
  }
}

// Quantisation both ways at every quantiser_scale and every level a block can
// hold, with weights at both ends of their range and between: the SIMD sets
// work with reciprocals and 16-bit halves of products, whose exactness rests
// on bounds that only a sweep like this confirms (including the MPEG-1 odd
// values next to the limits).
TEST(CodingKernels, QuantisationMatchesThePortableOneAtEveryScaleAndLevel) {
  const CodingKernels& plain = portableKernels();
  for (const CodingKernels* set : availableKernels()) {
    SCOPED_TRACE(set->name);
    for (const int weight : {1, 3, 16, 255}) {
      std::array<std::uint8_t, 64> matrix;
      matrix.fill(static_cast<std::uint8_t>(weight));
      matrix[5] = 1;  // one weight off the others in every block
      for (int mquant = 1; mquant <= 112; ++mquant) {
        for (int first = -2048; first < 2048; first += 63) {
          Block levels;
          for (int i = 0; i < 64; ++i)
            levels[i] = static_cast<std::int16_t>(std::min(first + i, 2047));
          for (const bool intra : {false, true}) {
            Block a = levels, b = levels;
            a[63] = b[63] = static_cast<std::int16_t>(first & 1 ? 32767 : -32768);
            ASSERT_EQ(plain.quantise(a, intra, mquant, matrix, intra, 2047),
                      set->quantise(b, intra, mquant, matrix, intra, 2047));
            ASSERT_EQ(a, b) << "quantisation, weight " << weight << " mquant " << mquant;
            for (const bool mpeg1 : {false, true}) {
              Block x = levels, y = levels;
              bool anyX = false, anyY = false;
              ASSERT_EQ(plain.inverseQuantise(x, intra, mquant, matrix, intra, mpeg1, anyX),
                        set->inverseQuantise(y, intra, mquant, matrix, intra, mpeg1, anyY));
              ASSERT_EQ(x, y) << "inverse quantisation, weight " << weight << " mquant " << mquant
                              << " mpeg1 " << mpeg1;
              ASSERT_EQ(anyX, anyY);
            }
          }
        }
      }
    }
  }
}

// A set of codewords, each a bit string.
struct CodeSet {
  std::string name;
  std::vector<std::string> words;
};

std::string bits(std::uint32_t code, int length) {
  std::string s;
  for (int i = length - 1; i >= 0; --i) s += ((code >> i) & 1) ? '1' : '0';
  return s;
}

template <std::size_t n>
void addCodes(CodeSet& set, const std::array<VlcCode, n>& table, bool withSign,
              std::size_t first = 0) {
  for (std::size_t i = first; i < n; ++i) {
    if (table[i].length == 0) continue;
    const std::string w = bits(table[i].code, table[i].length);
    if (withSign && i > 0) {
      set.words.push_back(w + "0");
      set.words.push_back(w + "1");
    } else {
      set.words.push_back(w);
    }
  }
}

template <std::size_t n>
CodeSet coefficientCodes(const std::string& name, const std::array<RunLevelCode, n>& table,
                         VlcCode endOfBlock) {
  CodeSet set{name,
              {bits(endOfBlock.code, endOfBlock.length),
               bits(kCoefficientEscape.code, kCoefficientEscape.length)}};
  for (const RunLevelCode& c : table) {
    set.words.push_back(bits(c.code, c.length) + "0");
    set.words.push_back(bits(c.code, c.length) + "1");
  }
  return set;
}

TEST(VlcTables, EveryCodeIsPrefixFreeAndFitsTheCodeSpace) {
  std::vector<CodeSet> sets;
  {
    CodeSet s{"macroblock_address_increment",
              {bits(kAddressEscapeVlc.code, kAddressEscapeVlc.length)}};
    addCodes(s, kAddressIncrementVlc, false, 1);
    sets.push_back(s);
  }
  for (const auto& [name, table] : {std::pair{"macroblock_type I", &kMacroblockTypeI},
                                    std::pair{"macroblock_type P", &kMacroblockTypeP},
                                    std::pair{"macroblock_type B", &kMacroblockTypeB}}) {
    CodeSet s{name, {}};
    addCodes(s, *table, false);
    sets.push_back(s);
  }
  {
    CodeSet s{"coded_block_pattern", {}};
    addCodes(s, kCodedBlockPatternVlc, false);
    sets.push_back(s);
  }
  {
    CodeSet s{"motion_code", {}};
    addCodes(s, kMotionCodeVlc, true);
    sets.push_back(s);
  }
  {
    CodeSet s{"dmvector", {}};
    addCodes(s, kDualPrimeVlc, false);
    sets.push_back(s);
  }
  {
    CodeSet s{"dct_dc_size_luminance", {}};
    addCodes(s, kDcSizeLuminanceVlc, false);
    sets.push_back(s);
    CodeSet c{"dct_dc_size_chrominance", {}};
    addCodes(c, kDcSizeChrominanceVlc, false);
    sets.push_back(c);
  }
  sets.push_back(coefficientCodes("DCT table zero", kCoefficientTableZero, kEndOfBlockTableZero));
  sets.push_back(coefficientCodes("DCT table one", kCoefficientTableOne, kEndOfBlockTableOne));

  for (const CodeSet& set : sets) {
    SCOPED_TRACE(set.name);
    double kraft = 0;
    for (std::size_t i = 0; i < set.words.size(); ++i) {
      kraft += std::ldexp(1.0, -static_cast<int>(set.words[i].size()));
      for (std::size_t j = 0; j < set.words.size(); ++j) {
        if (i == j) continue;
        ASSERT_NE(set.words[j].rfind(set.words[i], 0), 0u)
            << set.words[i] << " is a prefix of " << set.words[j];
      }
    }
    EXPECT_LE(kraft, 1.0);
  }
}

TEST(VlcTables, CodeSpacesThatTheSyntaxFillsAreComplete) {
  // These codes leave only the all-zero prefixes unused, so a single wrong
  // entry shows up as a gap or an overlap in the sum.
  auto kraft = [](auto const& table, bool, std::size_t first) {
    double sum = 0;
    for (std::size_t i = first; i < table.size(); ++i) {
      if (table[i].length == 0) continue;
      sum += std::ldexp(1.0, -table[i].length);  // a code and its two signed forms weigh the same
    }
    return sum;
  };
  EXPECT_DOUBLE_EQ(kraft(kCodedBlockPatternVlc, false, 0), 1.0 - std::ldexp(1.0, -9));
  EXPECT_DOUBLE_EQ(kraft(kMotionCodeVlc, true, 0), 1.0 - 3 * std::ldexp(1.0, -8));
  EXPECT_DOUBLE_EQ(kraft(kDcSizeLuminanceVlc, false, 0), 1.0);
  EXPECT_DOUBLE_EQ(kraft(kDcSizeChrominanceVlc, false, 0), 1.0);
  // Increments 1..33 plus the escape fill everything but prefixes 0000 0001 001.. and below.
  EXPECT_LT(kraft(kAddressIncrementVlc, false, 1), 1.0);
  // Every run/level pair occurs once per table.
  for (const auto* table : {&kCoefficientTableZero, &kCoefficientTableOne}) {
    std::set<std::pair<int, int>> seen;
    for (const RunLevelCode& c : *table) EXPECT_TRUE(seen.insert({c.run, c.level}).second);
  }
}

TEST(Scans, AreBothPermutations) {
  for (const auto* scan : {&kZigzagScan, &kAlternateScan}) {
    std::array<bool, 64> seen{};
    for (int i : *scan) {
      EXPECT_FALSE(seen[i]);
      seen[i] = true;
    }
  }
}

TEST(Quantisation, InverseRulesOfBothStandards) {
  std::array<std::uint8_t, 64> flat;
  flat.fill(16);
  struct Case {
    const char* name;
    bool intra, mpeg1;
    int mquant;
    std::vector<std::pair<int, int>> levels;  // (raster index, level)
    std::vector<std::pair<int, int>> expected;
  };
  const Case cases[] = {
      // Intra AC: level * W * scale / 16; the sum 8 * 100 + 3 * 16 * 4 / 16 = 812 is even,
      // so the last coefficient toggles.
      {"MPEG-2 intra with mismatch control",
       true,
       false,
       4,
       {{0, 100}, {1, 3}},
       {{0, 800}, {1, 12}, {63, 1}}},
      // Non-intra: (2 * level + sign) * W * scale / 32; an odd sum stays.
      {"MPEG-2 non-intra odd sum", false, false, 2, {{5, 1}}, {{5, 3}, {63, 0}}},
      {"MPEG-2 non-intra even sum", false, false, 4, {{5, 1}}, {{5, 6}, {63, 1}}},
      {"MPEG-2 non-intra negative", false, false, 4, {{5, -1}}, {{5, -6}, {63, 1}}},
      // MPEG-1 forces reconstructed values odd, toward zero, and has no mismatch control.
      {"MPEG-1 non-intra oddification",
       false,
       true,
       4,
       {{5, 1}, {6, -1}},
       {{5, 5}, {6, -5}, {63, 0}}},
      {"MPEG-1 intra oddification",
       true,
       true,
       4,
       {{0, 100}, {1, 3}},
       {{0, 800}, {1, 11}, {63, 0}}},
      {"saturation", false, false, 112, {{9, 2047}}, {{9, 2047}}},
      {"not coded block stays zero", false, false, 8, {}, {{63, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Block block{};
    for (auto [i, v] : c.levels) block[i] = static_cast<std::int16_t>(v);
    if (c.intra) {
      inverseQuantiseIntra(block, c.mquant, 0, flat, c.mpeg1);
    } else {
      inverseQuantiseNonIntra(block, c.mquant, flat, c.mpeg1);
    }
    for (auto [i, v] : c.expected) EXPECT_EQ(block[i], v) << "index " << i;
  }
}

TEST(Quantisation, ForwardThenInverseStaysWithinOneStep) {
  PRINT_SEED();
  std::mt19937 rng(testSeed());
  std::uniform_int_distribution<int> coefficient(-2000, 2000);
  for (int qScaleType = 0; qScaleType < 2; ++qScaleType) {
    for (int code = 1; code < 32; ++code) {
      const int scale = quantiserScale(code, qScaleType);
      EXPECT_EQ(quantiserScale(quantiserScaleCode(scale, qScaleType), qScaleType), scale);
      Block original;
      for (auto& v : original) v = static_cast<std::int16_t>(coefficient(rng));
      original[0] = static_cast<std::int16_t>(std::abs(original[0]));
      Block block = original;
      quantiseIntra(block, scale, 0, kDefaultIntraQuantiserMatrix, false);
      inverseQuantiseIntra(block, scale, 0, kDefaultIntraQuantiserMatrix, false);
      for (int i = 1; i < 63; ++i) {
        const double step = kDefaultIntraQuantiserMatrix[i] * scale / 16.0;
        ASSERT_LE(std::abs(block[i] - original[i]), step / 2 + 1.5)
            << "index " << i << " scale " << scale;
      }
    }
  }
}

}  // namespace
}  // namespace quiltbench::encoder
