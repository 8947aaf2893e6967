// Random draws and overlap searches for the source offset of each patch.
#include "quiltbench/engine/candidate_search.h"

#include <cmath>
#include <cstring>
#include <optional>

#include "platform/clock.h"
#include "platform/crt_random.h"
#include "quiltbench/engine/fft_correlation.h"
#include "quiltbench/engine/overlap_dot.h"

namespace {

// Random draws tried before a nearly exhausted range is finished in scan order.
constexpr long kMaxRandomDraws = 1L << 16;

// Bytes of pattern row v that belong to the overlap (the rest of the row is zero).
int OverlapRowBytes(OverlapShape shape, int v) {
  switch (shape) {
    case OverlapShape::left:
      return 3 * kOverlap;
    case OverlapShape::top:
      return 3 * kPatchSize;
    case OverlapShape::lShaped:
      return v < kOverlap ? 3 * kPatchSize : 3 * kOverlap;
  }
  return 0;
}

int PatternHeight(OverlapShape shape) { return shape == OverlapShape::top ? kOverlap : kPatchSize; }

long double WeightDivisor(OverlapShape shape) {
  return shape == OverlapShape::lShaped ? 1000000.0L : 100.0L;
}

// The weight's random scale k, as every weight evaluation draws it: the generator is
// reseeded from the clock's seconds, so it only changes when the second does.
long double DrawWeightScale() {
  platform::srand(static_cast<unsigned>(platform::time()));
  platform::rand();
  int r;
  do {
    r = platform::rand();
  } while (static_cast<long double>(r) / platform::kRandMax < 0.001L);
  return static_cast<long double>(r) / platform::kRandMax;
}

// Exponent z of weight = exp(-z).
inline long double WeightExponent(long double n, long double divisor, long double ssd,
                                  long double variance, long double k, long double area) {
  const long double e = n * ssd / (area * divisor);
  return e / (k * variance);
}

}  // namespace

int OverlapPixelCount(OverlapShape shape) {
  return shape == OverlapShape::lShaped ? kOverlap * kPatchSize + (kPatchSize - kOverlap) * kOverlap
                                        : kOverlap * kPatchSize;
}

long double CandidateWeight(OverlapShape shape, long double ssd, long double variance,
                            long double k, int sourceWidth, int sourceHeight) {
  const long double area = static_cast<long double>(sourceWidth) * sourceHeight;
  return std::exp(
      -WeightExponent(OverlapPixelCount(shape), WeightDivisor(shape), ssd, variance, k, area));
}

void BuildSummedAreaTables(const PixelRows& source, SummedAreaTable<1>& squares,
                           SummedAreaTable<3>& sums) {
  const int w = source.width(), h = source.height();
  squares = SummedAreaTable<1>(w, h);
  sums = SummedAreaTable<3>(w, h);
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* row = source[y];
    std::int64_t runSquare = 0, run[3] = {0, 0, 0};
    for (int x = 0; x < w; ++x) {
      const std::uint8_t* p = row + 3 * x;
      runSquare += p[0] * p[0] + p[1] * p[1] + p[2] * p[2];
      for (int c = 0; c < 3; ++c) run[c] += p[c];
      std::int64_t* sq = squares.entry(x, y);
      std::int64_t* s = sums.entry(x, y);
      sq[0] = runSquare + (y > 0 ? squares.entry(x, y - 1)[0] : 0);
      for (int c = 0; c < 3; ++c) s[c] = run[c] + (y > 0 ? sums.entry(x, y - 1)[c] : 0);
    }
  }
}

// Per searchable offset of one shape: the candidate's sum of squares and variance,
// which depend on the source alone and so serve every search of the run. Doubles hold
// the integer sums exactly and the variance to far below any weight difference that is
// not a tie, at half the room of extended precision.
struct CandidateSearch::ShapeTables {
  std::vector<double> sumSquares;
  std::vector<double> variance;
};

CandidateSearch::CandidateSearch(const PixelRows& source, const SummedAreaTable<1>& squares,
                                 const SummedAreaTable<3>& sums, std::vector<CPoint>& usedOffsets,
                                 int searchMode)
    : source_(source),
      squares_(squares),
      sums_(sums),
      usedOffsets_(usedOffsets),
      searchMode_(searchMode),
      rangeWidth_(std::max(source.width() - kPatchSize + 1, 0)),
      rangeHeight_(std::max(source.height() - kPatchSize + 1, 0)),
      used_(static_cast<std::size_t>(rangeWidth_) * rangeHeight_) {
  for (const CPoint& p : usedOffsets_) {
    if (p.x < 0 || p.y < 0 || p.x >= rangeWidth_ || p.y >= rangeHeight_) continue;
    std::uint8_t& cell = used_[static_cast<std::size_t>(p.y) * rangeWidth_ + p.x];
    if (!cell) ++usedInRange_;
    cell = 1;
  }
}

CandidateSearch::~CandidateSearch() = default;

bool CandidateSearch::IsCandidateUsed(int x, int y) const {
  if (x >= 0 && y >= 0 && x < rangeWidth_ && y < rangeHeight_)
    return used_[static_cast<std::size_t>(y) * rangeWidth_ + x] != 0;
  for (const CPoint& p : usedOffsets_)
    if (p.x == x && p.y == y) return true;
  return false;
}

void CandidateSearch::markUsed(int x, int y) {
  usedOffsets_.push_back({x, y});
  if (x >= 0 && y >= 0 && x < rangeWidth_ && y < rangeHeight_) {
    std::uint8_t& cell = used_[static_cast<std::size_t>(y) * rangeWidth_ + x];
    if (!cell) ++usedInRange_;
    cell = 1;
  }
}

bool CandidateSearch::PickFirstCandidate() {
  platform::srand(static_cast<unsigned>(platform::time()));
  platform::rand();
  platform::rand();
  platform::srand(static_cast<unsigned>(platform::rand()));
  platform::rand();
  return PickRandomCandidate();
}

bool CandidateSearch::PickRandomCandidate() {
  const long total = static_cast<long>(rangeWidth_) * rangeHeight_;
  if (usedInRange_ >= total) return false;
  const double spanX = source_.width() - kPatchSize;
  const double spanY = source_.height() - kPatchSize;
  int x = 0, y = 0;
  for (long draw = 0; draw < kMaxRandomDraws; ++draw) {
    const int a = platform::rand();
    const int b = platform::rand();
    x = static_cast<int>(a / static_cast<double>(platform::kRandMax) * spanX);
    y = static_cast<int>(b / static_cast<double>(platform::kRandMax) * spanY);
    if (!IsCandidateUsed(x, y)) {
      markUsed(x, y);
      return true;
    }
  }
  // Almost every offset is taken: finish from the last draw in scan order rather than
  // draw on for ever.
  for (long step = 0; step < total; ++step) {
    const long index = (static_cast<long>(y) * rangeWidth_ + x + step) % total;
    const int cx = static_cast<int>(index % rangeWidth_);
    const int cy = static_cast<int>(index / rangeWidth_);
    if (!IsCandidateUsed(cx, cy)) {
      markUsed(cx, cy);
      return true;
    }
  }
  return false;
}

const CandidateSearch::ShapeTables& CandidateSearch::tablesFor(OverlapShape shape) {
  auto& slot = shapeTables_[static_cast<int>(shape)];
  if (slot) return *slot;
  slot = std::make_unique<ShapeTables>();
  const int sw = source_.width() - kPatchSize, sh = source_.height() - kPatchSize;
  const std::size_t count = static_cast<std::size_t>(sw) * sh;
  slot->sumSquares.resize(count);
  slot->variance.resize(count);
  const long double n = OverlapPixelCount(shape);
  for (int y = 0; y < sh; ++y) {
    for (int x = 0; x < sw; ++x) {
      std::int64_t sq, s[3];
      auto add = [&](int wx, int wy, int ww, int wh) {
        sq += squares_.windowSum(wx, wy, ww, wh);
        for (int c = 0; c < 3; ++c) s[c] += sums_.windowSum(wx, wy, ww, wh, c);
      };
      sq = s[0] = s[1] = s[2] = 0;
      switch (shape) {
        case OverlapShape::left:
          add(x, y, kOverlap, kPatchSize);
          break;
        case OverlapShape::top:
          add(x, y, kPatchSize, kOverlap);
          break;
        case OverlapShape::lShaped:
          add(x, y, kOverlap, kPatchSize);
          add(x + kOverlap, y, kPatchSize - kOverlap, kOverlap);
          break;
      }
      const long double sumSq = static_cast<long double>(sq);
      long double channelSquares = 0;
      for (int c = 0; c < 3; ++c)
        channelSquares += static_cast<long double>(s[c]) * static_cast<long double>(s[c]);
      const std::size_t i = static_cast<std::size_t>(y) * sw + x;
      slot->sumSquares[i] = static_cast<double>(sq);
      slot->variance[i] = static_cast<double>(sumSq / n - channelSquares / (n * n));
    }
  }
  return *slot;
}

bool CandidateSearch::search(OverlapShape shape, const PixelRows& pattern) {
  if (searchMode_ != kFftSearch && searchMode_ != kNaiveSearch) return false;
  const int w = source_.width(), h = source_.height();
  const int sw = w - kPatchSize, sh = h - kPatchSize;
  if (sw <= 0 || sh <= 0) return false;

  std::int64_t patternSquares = 0;
  for (int v = 0; v < pattern.height(); ++v)
    for (std::size_t i = 0; i < pattern.stride(); ++i)
      patternSquares += pattern[v][i] * pattern[v][i];

  const ShapeTables& tables = tablesFor(shape);
  const double* surface = nullptr;
  int surfaceWidth = 0;
  if (searchMode_ == kFftSearch) {
    if (!correlator_) correlator_ = std::make_unique<FftCorrelator>(source_);
    surface = correlator_->FftSsd(pattern);
    surfaceWidth = correlator_->rowWidth();
  }

  const long double n = OverlapPixelCount(shape);
  const long double divisor = WeightDivisor(shape);
  const long double area = static_cast<long double>(w) * h;
  const int patternHeight = PatternHeight(shape);
  int rowBytes[kPatchSize];
  for (int v = 0; v < patternHeight; ++v) rowBytes[v] = OverlapRowBytes(shape, v);

  std::optional<detail::OverlapDot> naive;
  if (!surface) naive.emplace(pattern, rowBytes, patternHeight);

  long double k = 0;
  bool drawn = false;
  long double bestWeight = -1.0L;
  long double bestExponent = 0;
  int bestX = -1, bestY = -1;
  for (int y = 0; y < sh; ++y) {
    for (int x = 0; x < sw; ++x) {
      if (used_[static_cast<std::size_t>(y) * rangeWidth_ + x]) continue;
      long double cross;
      if (surface) {
        cross = surface[static_cast<std::size_t>(y) * surfaceWidth + x];
      } else {
        cross = static_cast<long double>(naive->at(source_, x, y));
      }
      if (!drawn) {
        // Every evaluation reseeds from the clock's seconds; one draw per search gives
        // the same k unless the second turns during the search.
        k = DrawWeightScale();
        drawn = true;
      }
      const std::size_t i = static_cast<std::size_t>(y) * sw + x;
      const long double ssd =
          tables.sumSquares[i] + static_cast<long double>(patternSquares) - 2 * cross;
      long double z = WeightExponent(n, divisor, ssd, tables.variance[i], k, area);
      // 0 / 0: a flat candidate that matches the overlap exactly, as good as a match gets
      // (skipping it left samples of one colour with no candidate at all).
      if (std::isnan(z)) z = 0;
      // exp(-z) falls as z grows, so only a smaller exponent can give a strictly greater
      // weight; the exponential itself is needed only then (and ties keep the first).
      if (bestX < 0 || z < bestExponent) {
        const long double weight = std::exp(-z);
        if (weight > bestWeight) {
          bestWeight = weight;
          bestExponent = z;
          bestX = x;
          bestY = y;
        }
      }
    }
  }
  if (bestX < 0) return false;
  markUsed(bestX, bestY);
  return true;
}

bool CandidateSearch::SearchCandidates(const PixelRows& leftStrip) {
  return search(OverlapShape::left, leftStrip);
}

bool CandidateSearch::SearchTopCandidates(const PixelRows& topStrip) {
  return search(OverlapShape::top, topStrip);
}

bool CandidateSearch::SearchLShapedCandidates(const PixelRows& leftStrip,
                                              const PixelRows& topStrip) {
  PixelRows pattern(kPatchSize, kPatchSize);
  for (int v = 0; v < kPatchSize; ++v) {
    std::memcpy(pattern[v], leftStrip[v], 3 * kOverlap);
    if (v < kOverlap)
      std::memcpy(pattern[v] + 3 * kOverlap, topStrip[v], 3 * (kPatchSize - kOverlap));
  }
  return search(OverlapShape::lShaped, pattern);
}
