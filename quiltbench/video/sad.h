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

}  // namespace quiltbench::encoder
