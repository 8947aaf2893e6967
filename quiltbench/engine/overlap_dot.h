// The naive search's inner kernel: the cross term sum(c . o) between a source window
// and an overlap pattern, summed exactly in integers with the widest vector unit the
// processor has.
#pragma once

#include <cstdint>
#include <vector>

#include "quiltbench/engine/synthesis_types.h"

namespace detail {

enum class DotKernel { portable, sse2, avx2 };

// The best kernel this processor runs.
DotKernel BestDotKernel();

// An overlap pattern prepared once per search: row v holds rowBytes[v] bytes (a
// multiple of 8, at most 96) starting at the window's left edge.
class OverlapDot {
 public:
  OverlapDot(const PixelRows& pattern, const int* rowBytes, int rows,
             DotKernel kernel = BestDotKernel());

  // sum over the pattern of source(x + u, y + v) . pattern(u, v); the window must lie
  // inside the source.
  std::int64_t at(const PixelRows& source, int x, int y) const;

 private:
  const PixelRows& pattern_;
  int rows_;
  int rowBytes_[kPatchSize];
  std::vector<std::int16_t> wide_;  // the pattern as 16-bit values, 96 a row
  DotKernel kernel_;
};

}  // namespace detail
