// The plain SAD that the SIMD kernel in sad.h is checked against.
#include "quiltbench/video/sad.h"

#include <cstdlib>

namespace quiltbench::encoder {

int sad16Plain(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride, int h) {
  int sum = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < 16; ++x) sum += std::abs(a[y * aStride + x] - b[y * bStride + x]);
  }
  return sum;
}

}  // namespace quiltbench::encoder
