// Sums of absolute differences of 16-sample-wide blocks, the inner loop of the
// motion search.
#pragma once

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quiltbench::encoder {

// Plain SAD of a 16 x h block (h a multiple of 4).
int sad16Plain(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride, int h);

// The same with SIMD (psadbw over byte rows); stops early once the running sum
// exceeds `limit`, checking every four rows. Returns the exact SAD when it is
// at most `limit`, otherwise some value above `limit`. Inline so that the
// search loop keeps it in registers.
inline int sad16(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride, int h,
                 int limit) {
#if defined(__SSE2__)
  int sum = 0;
  for (int y = 0; y < h; y += 4) {
    __m128i acc = _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a)),
                               _mm_loadu_si128(reinterpret_cast<const __m128i*>(b)));
    acc = _mm_add_epi64(
        acc, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + aStride)),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + bStride))));
    acc = _mm_add_epi64(
        acc, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 2 * aStride)),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 2 * bStride))));
    acc = _mm_add_epi64(
        acc, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 3 * aStride)),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 3 * bStride))));
    sum += _mm_cvtsi128_si32(acc) + _mm_cvtsi128_si32(_mm_srli_si128(acc, 8));
    if (sum > limit) return sum;
    a += 4 * aStride;
    b += 4 * bStride;
  }
  return sum;
#else
  (void)limit;
  return sad16Plain(a, aStride, b, bStride, h);
#endif
}

// SAD of the 16 x h block `a` against the half-pel prediction at (hx, hy)
// half samples from `ref` (the sample at the zero displacement), the prediction
// rounded as MPEG-2 forms it (h a multiple of 4). The plain version is the
// reference. Like sad16, the fast one may stop once the sum exceeds `limit`.
int halfPelSad16Plain(const std::uint8_t* a, int aStride, const std::uint8_t* ref, int refStride,
                      int hx, int hy, int h);

#if defined(__SSE2__)
// (a + b + c + d + 2) >> 2 per byte, exactly, in 8 bits: the mean of the two
// pair means rounds up once too often where both pairs and the two means
// differ in their lowest bit, and the correction takes that back.
inline __m128i averageOfFour(__m128i a, __m128i b, __m128i c, __m128i d) {
  const __m128i x = _mm_avg_epu8(a, b), y = _mm_avg_epu8(c, d);
  const __m128i odd = _mm_and_si128(
      _mm_and_si128(_mm_or_si128(_mm_xor_si128(a, b), _mm_xor_si128(c, d)), _mm_xor_si128(x, y)),
      _mm_set1_epi8(1));
  return _mm_sub_epi8(_mm_avg_epu8(x, y), odd);
}

// The two 64-bit halves of a psadbw accumulator added.
inline int sum64(__m128i acc) {
  return _mm_cvtsi128_si32(acc) + _mm_cvtsi128_si32(_mm_srli_si128(acc, 8));
}
#endif

inline int halfPelSad16(const std::uint8_t* a, int aStride, const std::uint8_t* ref, int refStride,
                        int hx, int hy, int h, int limit) {
#if defined(__SSE2__)
  const std::uint8_t* r = ref + (hy >> 1) * refStride + (hx >> 1);
  const int xh = hx & 1, yh = hy & 1;
  auto load = [](const std::uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  };
  __m128i acc = _mm_setzero_si128();
  if (xh && yh) {
    for (int y = 0; y < h; ++y, r += refStride, a += aStride) {
      const __m128i p =
          averageOfFour(load(r), load(r + 1), load(r + refStride), load(r + refStride + 1));
      acc = _mm_add_epi64(acc, _mm_sad_epu8(load(a), p));
      if ((y & 3) == 3 && sum64(acc) > limit) break;
    }
  } else {
    const int step = xh ? 1 : (yh ? refStride : 0);
    for (int y = 0; y < h; ++y, r += refStride, a += aStride) {
      const __m128i p = step ? _mm_avg_epu8(load(r), load(r + step)) : load(r);
      acc = _mm_add_epi64(acc, _mm_sad_epu8(load(a), p));
      if ((y & 3) == 3 && sum64(acc) > limit) break;
    }
  }
  return sum64(acc);
#else
  (void)limit;
  return halfPelSad16Plain(a, aStride, ref, refStride, hx, hy, h);
#endif
}

// The SADs (as halfPelSad16) of the 16 x h block `a` (h a multiple of 4) at
// the full-pel position `ref` and its four half-sample neighbours on the axes,
// in the order (0, 0), (-1, 0), (1, 0), (0, -1), (0, 1): one pass reads the
// rows and columns they share. Reads one sample and one row beyond the block
// on each side. Exact, no early stop.
void crossHalfPelSads16(const std::uint8_t* a, int aStride, const std::uint8_t* ref, int refStride,
                        int h, int out[5]);
void crossHalfPelSads16Plain(const std::uint8_t* a, int aStride, const std::uint8_t* ref,
                             int refStride, int h, int out[5]);

// For the choice between intra and predicted coding of a 16 x 16 block `a`:
// the sum of squared differences from `prediction` (rows 16 apart), and the
// sum of squared differences of its samples from their mean, times 256,
// integer-divided by 256 (sum of squares - sum^2 / 256).
long squaredError16(const std::uint8_t* a, int aStride, const std::uint8_t* prediction);
long squaredError16Plain(const std::uint8_t* a, int aStride, const std::uint8_t* prediction);
long variance16(const std::uint8_t* a, int aStride);
long variance16Plain(const std::uint8_t* a, int aStride);

namespace detail {
// Lets the dispatching kernels above use AVX2 where the processor has it (the
// default) or keeps them to their SSE2 or plain versions, so that tests reach
// those too. Not for use while another thread encodes.
void allowAvx2Sads(bool allowed);
}  // namespace detail

// Sums over n samples of `source`: the samples, their squares and the squared
// differences from `reconstruction`, for the encoder's signal-to-noise lines.
struct RowStatistics {
  std::uint64_t sum = 0, squares = 0, errorSquares = 0;
};
RowStatistics rowStatistics(const std::uint8_t* source, const std::uint8_t* reconstruction, int n);
RowStatistics rowStatisticsPlain(const std::uint8_t* source, const std::uint8_t* reconstruction,
                                 int n);

}  // namespace quiltbench::encoder
