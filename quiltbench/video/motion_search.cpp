// Exhaustive full-pel search. The fast version visits the zero displacement
// first and abandons a candidate as soon as its partial SAD is beyond the best
// so far; with the total order of (SAD, |dx| + |dy|, raster position) it finds
// the same displacement as the plain scan.
#include "quiltbench/video/motion_search.h"

#include <algorithm>
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

}  // namespace quiltbench::encoder
