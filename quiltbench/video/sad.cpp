// The plain SADs that the SIMD kernels in sad.h are checked against.
#include "quiltbench/video/sad.h"

#include <algorithm>
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

RowStatistics rowStatisticsPlain(const std::uint8_t* source, const std::uint8_t* reconstruction,
                                 int n) {
  RowStatistics r;
  for (int i = 0; i < n; ++i) {
    const int s = source[i];
    const int d = s - reconstruction[i];
    r.sum += static_cast<std::uint64_t>(s);
    r.squares += static_cast<std::uint64_t>(s * s);
    r.errorSquares += static_cast<std::uint64_t>(d * d);
  }
  return r;
}

RowStatistics rowStatistics(const std::uint8_t* source, const std::uint8_t* reconstruction, int n) {
#if defined(__SSE2__)
  RowStatistics r;
  const __m128i zero = _mm_setzero_si128();
  auto lanes = [](__m128i v) {
    alignas(16) std::uint32_t l[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(l), v);
    return static_cast<std::uint64_t>(l[0]) + l[1] + l[2] + l[3];
  };
  int i = 0;
  while (i + 16 <= n) {
    // 32-bit lanes gain at most 2 * 2 * 255^2 per 16 samples: flush every 4096.
    const int end = std::min(n, i + 4096);
    __m128i sums = zero, squares = zero, errors = zero;
    for (; i + 16 <= end; i += 16) {
      const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
      const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(reconstruction + i));
      sums = _mm_add_epi64(sums, _mm_sad_epu8(s, zero));
      const __m128i sLo = _mm_unpacklo_epi8(s, zero), sHi = _mm_unpackhi_epi8(s, zero);
      const __m128i dLo = _mm_sub_epi16(sLo, _mm_unpacklo_epi8(c, zero));
      const __m128i dHi = _mm_sub_epi16(sHi, _mm_unpackhi_epi8(c, zero));
      squares =
          _mm_add_epi32(squares, _mm_add_epi32(_mm_madd_epi16(sLo, sLo), _mm_madd_epi16(sHi, sHi)));
      errors =
          _mm_add_epi32(errors, _mm_add_epi32(_mm_madd_epi16(dLo, dLo), _mm_madd_epi16(dHi, dHi)));
    }
    r.sum += static_cast<std::uint64_t>(_mm_cvtsi128_si32(sums)) +
             static_cast<std::uint64_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
    r.squares += lanes(squares);
    r.errorSquares += lanes(errors);
  }
  const RowStatistics tail = rowStatisticsPlain(source + i, reconstruction + i, n - i);
  r.sum += tail.sum, r.squares += tail.squares, r.errorSquares += tail.errorSquares;
  return r;
#else
  return rowStatisticsPlain(source, reconstruction, n);
#endif
}

}  // namespace quiltbench::encoder
