// The plain SADs that the SIMD kernels in sad.h are checked against.
#include "quiltbench/video/sad.h"

#include <algorithm>
#include <cstdlib>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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

#if defined(__x86_64__)
namespace {

// 32 samples a step; 32-bit lanes gain at most 2 * 2 * 255^2 per step, so the
// sums go to 64 bits every 4096 samples.
__attribute__((target("avx2"))) RowStatistics rowStatisticsAvx2(const std::uint8_t* source,
                                                                const std::uint8_t* reconstruction,
                                                                int n) {
  RowStatistics r;
  const __m256i zero = _mm256_setzero_si256();
  int i = 0;
  while (i + 32 <= n) {
    const int end = std::min(n, i + 4096);
    __m256i sums = zero, squares = zero, errors = zero;
    for (; i + 32 <= end; i += 32) {
      const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + i));
      const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(reconstruction + i));
      sums = _mm256_add_epi64(sums, _mm256_sad_epu8(s, zero));
      const __m256i sLo = _mm256_unpacklo_epi8(s, zero), sHi = _mm256_unpackhi_epi8(s, zero);
      const __m256i dLo = _mm256_sub_epi16(sLo, _mm256_unpacklo_epi8(c, zero));
      const __m256i dHi = _mm256_sub_epi16(sHi, _mm256_unpackhi_epi8(c, zero));
      squares = _mm256_add_epi32(
          squares, _mm256_add_epi32(_mm256_madd_epi16(sLo, sLo), _mm256_madd_epi16(sHi, sHi)));
      errors = _mm256_add_epi32(
          errors, _mm256_add_epi32(_mm256_madd_epi16(dLo, dLo), _mm256_madd_epi16(dHi, dHi)));
    }
    alignas(32) std::uint64_t s64[4];
    alignas(32) std::uint32_t q32[8], e32[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(s64), sums);
    _mm256_store_si256(reinterpret_cast<__m256i*>(q32), squares);
    _mm256_store_si256(reinterpret_cast<__m256i*>(e32), errors);
    for (const std::uint64_t v : s64) r.sum += v;
    for (int k = 0; k < 8; ++k) r.squares += q32[k], r.errorSquares += e32[k];
  }
  const RowStatistics tail = rowStatisticsPlain(source + i, reconstruction + i, n - i);
  r.sum += tail.sum, r.squares += tail.squares, r.errorSquares += tail.errorSquares;
  return r;
}

}  // namespace
#endif

RowStatistics rowStatistics(const std::uint8_t* source, const std::uint8_t* reconstruction, int n) {
#if defined(__x86_64__)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2) return rowStatisticsAvx2(source, reconstruction, n);
#endif
  return rowStatisticsPlain(source, reconstruction, n);
}

}  // namespace quiltbench::encoder
