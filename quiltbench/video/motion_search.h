// Full-pel block matching within a search window, the exhaustive core of the
// motion estimation.
#pragma once

#include <cstdint>

namespace quiltbench::encoder {

// How the motion estimation finds full-pel vectors: Predictive starts from the
// vectors of neighbouring macroblocks and of the previous picture and refines
// them with a small pattern search; Full tries every displacement in the
// window. Process-wide, like the rest of the encoder's state; Predictive is the
// default.
enum class MotionSearchMode { Predictive, Full };
void setMotionSearchMode(MotionSearchMode mode);
MotionSearchMode motionSearchMode();

// A plane (or one field of it) seen as rows `stride` apart, `rows` of them,
// each `width` samples.
struct PlaneView {
  const std::uint8_t* data;
  int stride;
  int width;
  int rows;
};

struct SearchWindow {
  int xMin, xMax, yMin, yMax;  // full-pel displacements, inclusive
};

struct SearchResult {
  int dx, dy;  // full pels
  int sad;
};

// The window around (x, y) of a 16 x h block limited to +-sx, +-sy and to the
// reference view. The zero displacement is always inside.
SearchWindow searchWindow(const PlaneView& ref, int x, int y, int h, int sx, int sy);

// Displacement with the smallest SAD of the 16 x h block at `current` against
// `ref` at (x, y); ties go to the smaller |dx| + |dy|, then to the first in
// raster order. fullSearch returns exactly what fullSearchPlain returns; it
// tries (hintDx, hintDy) early (a neighbour's displacement, say), which only
// makes it faster.
SearchResult fullSearchPlain(const std::uint8_t* current, int currentStride, const PlaneView& ref,
                             int x, int y, int h, const SearchWindow& window);
SearchResult fullSearch(const std::uint8_t* current, int currentStride, const PlaneView& ref, int x,
                        int y, int h, const SearchWindow& window, int hintDx = 0, int hintDy = 0);

struct Displacement {
  int dx, dy;  // full pels
};

// The predictive search: the best of the zero displacement and `seeds` (those
// outside the window are moved to its edge), then a small diamond pattern
// (the four nearest displacements) repeated until its centre is best. Seeds are usually the
// vectors of neighbouring macroblocks and of the same place in the previous
// picture. The result is inside the window; its SAD is exact. Ties are broken
// in fullSearch's order, so the result depends only on the inputs.
SearchResult predictiveSearch(const std::uint8_t* current, int currentStride, const PlaneView& ref,
                              int x, int y, int h, const SearchWindow& window,
                              const Displacement* seeds, int seedCount);

}  // namespace quiltbench::encoder
