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

constexpr int kCrossOffsets[5][2] = {{0, 0}, {-1, 0}, {1, 0}, {0, -1}, {0, 1}};

void crossHalfPelSads16Plain(const std::uint8_t* a, int aStride, const std::uint8_t* ref,
                             int refStride, int h, int out[5]) {
  for (int k = 0; k < 5; ++k)
    out[k] =
        halfPelSad16Plain(a, aStride, ref, refStride, kCrossOffsets[k][0], kCrossOffsets[k][1], h);
}

long squaredError16Plain(const std::uint8_t* a, int aStride, const std::uint8_t* prediction) {
  long sum = 0;
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      const int d = a[y * aStride + x] - prediction[y * 16 + x];
      sum += d * d;
    }
  }
  return sum;
}

long variance16Plain(const std::uint8_t* a, int aStride) {
  long sum = 0, squares = 0;
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      const int v = a[y * aStride + x];
      sum += v;
      squares += v * v;
    }
  }
  return squares - sum * sum / 256;
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

// Two 16-sample rows in one register.
__attribute__((target("avx2"))) inline __m256i loadTwoRows(const std::uint8_t* p, int stride) {
  return _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + stride)), 1);
}

// Four psadbw accumulators (each lane below 2^16) to their four sums.
__attribute__((target("avx2"))) inline void storeFourSums(__m256i s0, __m256i s1, __m256i s2,
                                                          __m256i s3, int out[4]) {
  const __m256i t0 = _mm256_or_si256(s0, _mm256_slli_epi64(s1, 32));
  const __m256i t1 = _mm256_or_si256(s2, _mm256_slli_epi64(s3, 32));
  const __m256i u = _mm256_add_epi32(_mm256_unpacklo_epi64(t0, t1), _mm256_unpackhi_epi64(t0, t1));
  const __m128i v = _mm_add_epi32(_mm256_castsi256_si128(u), _mm256_extracti128_si256(u, 1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
}

__attribute__((target("avx2"))) int sum64x4(__m256i acc) {
  const __m128i v = _mm_add_epi64(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
  return _mm_cvtsi128_si32(_mm_add_epi64(v, _mm_srli_si128(v, 8)));
}

// Sum of the eight 32-bit lanes (each at most 16 x 16 x 255^2 / 8, so no
// overflow).
__attribute__((target("avx2"))) long sum32x8(__m256i v) {
  __m128i s = _mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
  s = _mm_add_epi32(s, _mm_shuffle_epi32(s, _MM_SHUFFLE(1, 0, 3, 2)));
  s = _mm_add_epi32(s, _mm_shuffle_epi32(s, _MM_SHUFFLE(2, 3, 0, 1)));
  return _mm_cvtsi128_si32(s);
}

__attribute__((target("avx2"))) long squaredError16Avx2(const std::uint8_t* a, int aStride,
                                                        const std::uint8_t* prediction) {
  const __m256i zero = _mm256_setzero_si256();
  __m256i acc = zero;
  for (int y = 0; y < 16; y += 2, a += 2 * aStride, prediction += 32) {
    const __m256i c = loadTwoRows(a, aStride);
    const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(prediction));
    const __m256i lo =
        _mm256_sub_epi16(_mm256_unpacklo_epi8(c, zero), _mm256_unpacklo_epi8(p, zero));
    const __m256i hi =
        _mm256_sub_epi16(_mm256_unpackhi_epi8(c, zero), _mm256_unpackhi_epi8(p, zero));
    acc = _mm256_add_epi32(acc,
                           _mm256_add_epi32(_mm256_madd_epi16(lo, lo), _mm256_madd_epi16(hi, hi)));
  }
  return sum32x8(acc);
}

__attribute__((target("avx2"))) long variance16Avx2(const std::uint8_t* a, int aStride) {
  const __m256i zero = _mm256_setzero_si256();
  __m256i sums = zero, squares = zero;
  for (int y = 0; y < 16; y += 2, a += 2 * aStride) {
    const __m256i c = loadTwoRows(a, aStride);
    sums = _mm256_add_epi64(sums, _mm256_sad_epu8(c, zero));
    const __m256i lo = _mm256_unpacklo_epi8(c, zero), hi = _mm256_unpackhi_epi8(c, zero);
    squares = _mm256_add_epi32(
        squares, _mm256_add_epi32(_mm256_madd_epi16(lo, lo), _mm256_madd_epi16(hi, hi)));
  }
  const long sum = sum64x4(sums);
  return sum32x8(squares) - sum * sum / 256;
}

__attribute__((target("avx2"))) void crossHalfPelSads16Avx2(const std::uint8_t* a, int aStride,
                                                            const std::uint8_t* ref, int refStride,
                                                            int h, int out[5]) {
  __m256i centreSum = _mm256_setzero_si256(), left = centreSum, right = centreSum, up = centreSum,
          down = centreSum;
  for (int y = 0; y < h; y += 2) {
    const __m256i cur = loadTwoRows(a, aStride);
    const __m256i centre = loadTwoRows(ref, refStride);
    const __m256i l = _mm256_avg_epu8(loadTwoRows(ref - 1, refStride), centre);
    const __m256i r = _mm256_avg_epu8(loadTwoRows(ref + 1, refStride), centre);
    const __m256i u = _mm256_avg_epu8(loadTwoRows(ref - refStride, refStride), centre);
    const __m256i d = _mm256_avg_epu8(loadTwoRows(ref + refStride, refStride), centre);
    centreSum = _mm256_add_epi64(centreSum, _mm256_sad_epu8(cur, centre));
    left = _mm256_add_epi64(left, _mm256_sad_epu8(cur, l));
    right = _mm256_add_epi64(right, _mm256_sad_epu8(cur, r));
    up = _mm256_add_epi64(up, _mm256_sad_epu8(cur, u));
    down = _mm256_add_epi64(down, _mm256_sad_epu8(cur, d));
    a += 2 * aStride;
    ref += 2 * refStride;
  }
  storeFourSums(left, right, up, down, out + 1);
  out[0] = sum64x4(centreSum);
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

namespace {

#if defined(__SSE2__)
// Sum of four 32-bit lanes.
long sum32x4(__m128i v) {
  v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
  v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
  return _mm_cvtsi128_si32(v);
}
#endif

bool g_avx2Allowed = true;

bool haveAvx2() {
#if defined(__x86_64__)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2 && g_avx2Allowed;
#else
  return false;
#endif
}

}  // namespace

void detail::allowAvx2Sads(bool allowed) { g_avx2Allowed = allowed; }

long squaredError16(const std::uint8_t* a, int aStride, const std::uint8_t* prediction) {
#if defined(__x86_64__)
  if (haveAvx2()) return squaredError16Avx2(a, aStride, prediction);
#endif
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  __m128i acc = zero;
  for (int y = 0; y < 16; ++y) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + y * aStride));
    const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prediction + y * 16));
    const __m128i lo = _mm_sub_epi16(_mm_unpacklo_epi8(c, zero), _mm_unpacklo_epi8(p, zero));
    const __m128i hi = _mm_sub_epi16(_mm_unpackhi_epi8(c, zero), _mm_unpackhi_epi8(p, zero));
    acc = _mm_add_epi32(acc, _mm_add_epi32(_mm_madd_epi16(lo, lo), _mm_madd_epi16(hi, hi)));
  }
  return sum32x4(acc);
#else
  return squaredError16Plain(a, aStride, prediction);
#endif
}

long variance16(const std::uint8_t* a, int aStride) {
#if defined(__x86_64__)
  if (haveAvx2()) return variance16Avx2(a, aStride);
#endif
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  __m128i sums = zero, squares = zero;
  for (int y = 0; y < 16; ++y) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + y * aStride));
    sums = _mm_add_epi64(sums, _mm_sad_epu8(c, zero));
    const __m128i lo = _mm_unpacklo_epi8(c, zero), hi = _mm_unpackhi_epi8(c, zero);
    squares = _mm_add_epi32(squares, _mm_add_epi32(_mm_madd_epi16(lo, lo), _mm_madd_epi16(hi, hi)));
  }
  const long sum = sum64(sums);
  return sum32x4(squares) - sum * sum / 256;
#else
  return variance16Plain(a, aStride);
#endif
}

void crossHalfPelSads16(const std::uint8_t* a, int aStride, const std::uint8_t* ref, int refStride,
                        int h, int out[5]) {
#if defined(__x86_64__)
  if (haveAvx2()) return crossHalfPelSads16Avx2(a, aStride, ref, refStride, h, out);
#endif
  for (int k = 0; k < 5; ++k) {
    out[k] = halfPelSad16(a, aStride, ref, refStride, kCrossOffsets[k][0], kCrossOffsets[k][1], h,
                          1 << 30);
  }
}

}  // namespace quiltbench::encoder
