// The plain SADs that the SIMD kernels in sad.h are checked against.
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

int halfPelSad16Plain(const std::uint8_t* a, int aStride, const std::uint8_t* ref, int refStride,
                      int hx, int hy, int h) {
  const std::uint8_t* r = ref + (hy >> 1) * refStride + (hx >> 1);
  const int xh = hx & 1, yh = hy & 1;
  int sum = 0;
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* p = r + y * refStride;
    const std::uint8_t* q = p + refStride;
    for (int x = 0; x < 16; ++x) {
      const int v = xh && yh ? (p[x] + p[x + 1] + q[x] + q[x + 1] + 2) >> 2
                    : xh     ? (p[x] + p[x + 1] + 1) >> 1
                    : yh     ? (p[x] + q[x] + 1) >> 1
                             : p[x];
      sum += std::abs(a[y * aStride + x] - v);
    }
  }
  return sum;
}

}  // namespace quiltbench::encoder
