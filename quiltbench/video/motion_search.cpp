// Full-pel search, exhaustive and predictive. The fast exhaustive version
// visits the zero displacement first and abandons a candidate as soon as its
// partial SAD is beyond the best so far; with the total order of (SAD,
// |dx| + |dy|, raster position) it finds the same displacement as the plain
// scan.
#include "quiltbench/video/motion_search.h"

#include <algorithm>
#include <array>
#include <cstdlib>

#include "quiltbench/video/sad.h"

namespace quiltbench::encoder {
namespace {

// Whether (sad, dx, dy) comes before `best` in the search's total order.
inline bool better(int sad, int dx, int dy, const SearchResult& best) {
  if (sad != best.sad) return sad < best.sad;
  const int length = std::abs(dx) + std::abs(dy);
  const int bestLength = std::abs(best.dx) + std::abs(best.dy);
  if (length != bestLength) return length < bestLength;
  return dy < best.dy || (dy == best.dy && dx < best.dx);
}

MotionSearchMode g_mode = MotionSearchMode::Predictive;

}  // namespace

void setMotionSearchMode(MotionSearchMode mode) { g_mode = mode; }
MotionSearchMode motionSearchMode() { return g_mode; }

SearchWindow searchWindow(const PlaneView& ref, int x, int y, int h, int sx, int sy) {
  SearchWindow w{};
  w.xMin = std::max(-sx, -x);
  w.xMax = std::min(sx, ref.width - 16 - x);
  w.yMin = std::max(-sy, -y);
  w.yMax = std::min(sy, ref.rows - h - y);
  return w;
}

SearchResult fullSearchPlain(const std::uint8_t* current, int currentStride, const PlaneView& ref,
                             int x, int y, int h, const SearchWindow& window) {
  SearchResult best{0, 0, 1 << 30};
  for (int dy = window.yMin; dy <= window.yMax; ++dy) {
    for (int dx = window.xMin; dx <= window.xMax; ++dx) {
      const std::uint8_t* r = ref.data + (y + dy) * ref.stride + x + dx;
      const int sad = sad16Plain(current, currentStride, r, ref.stride, h);
      if (better(sad, dx, dy, best)) best = {dx, dy, sad};
    }
  }
  return best;
}

SearchResult fullSearch(const std::uint8_t* current, int currentStride, const PlaneView& ref, int x,
                        int y, int h, const SearchWindow& window, int hintDx, int hintDy) {
  const std::uint8_t* origin = ref.data + y * ref.stride + x;
  SearchResult best{0, 0, sad16(current, currentStride, origin, ref.stride, h, 1 << 30)};
  if ((hintDx != 0 || hintDy != 0) && hintDx >= window.xMin && hintDx <= window.xMax &&
      hintDy >= window.yMin && hintDy <= window.yMax) {
    const int sad = sad16(current, currentStride, origin + hintDy * ref.stride + hintDx, ref.stride,
                          h, best.sad);
    if (sad <= best.sad && better(sad, hintDx, hintDy, best)) best = {hintDx, hintDy, sad};
  }
  for (int dy = window.yMin; dy <= window.yMax; ++dy) {
    const std::uint8_t* row = origin + dy * ref.stride;
    for (int dx = window.xMin; dx <= window.xMax; ++dx) {
      const int sad = sad16(current, currentStride, row + dx, ref.stride, h, best.sad);
      if (sad <= best.sad && better(sad, dx, dy, best)) best = {dx, dy, sad};
    }
  }
  return best;
}

namespace {

// Remembers which displacements a predictive search has measured, so the
// overlapping diamond steps measure each one once. A window of at most 32 x
// 32 displacements (the usual +-15) has one bit each, keyed by the
// displacement modulo 32; wider ones go to a table keyed the same way, where
// a search never strays that far from where it was before overwriting
// matters.
class VisitedSet {
 public:
  bool insert(int dx, int dy) {
    if (small_) {
      std::uint32_t& row = rows_[dy & 31];
      const std::uint32_t bit = 1u << (dx & 31);
      if (row & bit) return false;
      row |= bit;
      return true;
    }
    Entry& e = entries_[(dy & 31) * 32 + (dx & 31)];
    if (e.stamp == stamp_ && e.dx == dx && e.dy == dy) return false;
    e = {stamp_, dx, dy};
    return true;
  }
  void clear(const SearchWindow& window) {
    small_ = window.xMax - window.xMin < 32 && window.yMax - window.yMin < 32;
    if (small_) {
      rows_ = {};
    } else if (++stamp_ == 0) {
      entries_ = {};
      stamp_ = 1;
    }
  }

 private:
  struct Entry {
    unsigned stamp;
    int dx, dy;
  };
  bool small_ = true;
  std::array<std::uint32_t, 32> rows_{};
  std::array<Entry, 32 * 32> entries_{};
  unsigned stamp_ = 0;
};

struct SearchContext {
  const std::uint8_t* current;
  int currentStride;
  const std::uint8_t* origin;  // reference at the zero displacement
  int refStride;
  int h;
  const SearchWindow& window;
  VisitedSet& visited;
  SearchResult best;

  bool inside(int dx, int dy) const {
    return dx >= window.xMin && dx <= window.xMax && dy >= window.yMin && dy <= window.yMax;
  }
  // Measures (dx, dy) if it is new and inside; returns whether it became best.
  bool tryDisplacement(int dx, int dy) {
    if (!inside(dx, dy) || !visited.insert(dx, dy)) return false;
    const int sad =
        sad16(current, currentStride, origin + dy * refStride + dx, refStride, h, best.sad);
    if (sad > best.sad || !better(sad, dx, dy, best)) return false;
    best = {dx, dy, sad};
    return true;
  }
};

constexpr Displacement kSmallDiamond[] = {{0, -1}, {1, 0}, {0, 1}, {-1, 0}};
// Enough steps to walk across a +-15 window from a seed. The large diamond
// found nothing better on the benchmark clips and cost 10-15% of the time.
constexpr int kMaxDiamondSteps = 16;

}  // namespace

SearchResult predictiveSearch(const std::uint8_t* current, int currentStride, const PlaneView& ref,
                              int x, int y, int h, const SearchWindow& window,
                              const Displacement* seeds, int seedCount) {
  static thread_local VisitedSet visited;
  visited.clear(window);
  visited.insert(0, 0);
  const std::uint8_t* origin = ref.data + y * ref.stride + x;
  SearchContext search{
      current, currentStride,
      origin,  ref.stride,
      h,       window,
      visited, {0, 0, sad16(current, currentStride, origin, ref.stride, h, 1 << 30)}};
  for (int i = 0; i < seedCount; ++i) {
    search.tryDisplacement(std::clamp(seeds[i].dx, window.xMin, window.xMax),
                           std::clamp(seeds[i].dy, window.yMin, window.yMax));
  }
  // A seed that matches to within one level per sample on average is kept:
  // the pattern search rarely improves it by more than noise.
  if (search.best.sad <= 16 * h) return search.best;
  for (int step = 0; step < kMaxDiamondSteps; ++step) {
    const SearchResult centre = search.best;
    for (const Displacement& d : kSmallDiamond)
      search.tryDisplacement(centre.dx + d.dx, centre.dy + d.dy);
    if (search.best.dx == centre.dx && search.best.dy == centre.dy) break;
  }
  return search.best;
}

}  // namespace quiltbench::encoder
