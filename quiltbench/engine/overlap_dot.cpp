// Byte dot products for the naive overlap search.
#include "quiltbench/engine/overlap_dot.h"

#include <algorithm>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QUILTBENCH_X86 1
#endif

namespace detail {

namespace {

constexpr int kWideRow = 3 * kPatchSize;

std::int64_t DotPortable(const std::uint8_t* a, const std::uint8_t* b, int n) {
  std::int64_t sum = 0;
  for (int i = 0; i < n; ++i) sum += static_cast<int>(a[i]) * b[i];
  return sum;
}

#if QUILTBENCH_X86
// Lanes hold at most 1344 / 8 products of two bytes each: far inside 32 bits.
std::int64_t HorizontalSum(__m128i acc) {
  alignas(16) std::int32_t lanes[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), acc);
  return static_cast<std::int64_t>(lanes[0]) + lanes[1] + lanes[2] + lanes[3];
}

__m128i DotSse2(const std::uint8_t* a, const std::uint8_t* b, int n, __m128i acc) {
  const __m128i zero = _mm_setzero_si128();
  int i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
    const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
    acc = _mm_add_epi32(acc,
                        _mm_madd_epi16(_mm_unpacklo_epi8(va, zero), _mm_unpacklo_epi8(vb, zero)));
    acc = _mm_add_epi32(acc,
                        _mm_madd_epi16(_mm_unpackhi_epi8(va, zero), _mm_unpackhi_epi8(vb, zero)));
  }
  if (i + 8 <= n) {
    const __m128i va = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(a + i));
    const __m128i vb = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b + i));
    acc = _mm_add_epi32(acc,
                        _mm_madd_epi16(_mm_unpacklo_epi8(va, zero), _mm_unpacklo_epi8(vb, zero)));
  }
  return acc;
}

// The pattern is widened once per search, so each 16 source bytes cost one widening,
// one multiply-add and one add.
__attribute__((target("avx2"))) std::int64_t DotAvx2(const PixelRows& source, int x, int y,
                                                     const std::int16_t* wide, const int* rowBytes,
                                                     int rows) {
  __m256i acc = _mm256_setzero_si256();
  __m128i tail = _mm_setzero_si128();
  for (int v = 0; v < rows; ++v) {
    const std::uint8_t* a = source.pixel(x, y + v);
    const std::int16_t* b = wide + v * kWideRow;
    const int n = rowBytes[v];
    int i = 0;
    for (; i + 16 <= n; i += 16) {
      const __m256i va =
          _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i)));
      const __m256i vb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i));
      acc = _mm256_add_epi32(acc, _mm256_madd_epi16(va, vb));
    }
    if (i + 8 <= n) {
      const __m128i va =
          _mm_cvtepu8_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a + i)));
      const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
      tail = _mm_add_epi32(tail, _mm_madd_epi16(va, vb));
    }
  }
  const __m128i folded =
      _mm_add_epi32(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
  return HorizontalSum(_mm_add_epi32(folded, tail));
}
#endif

}  // namespace

DotKernel BestDotKernel() {
#if QUILTBENCH_X86
  static const DotKernel best = __builtin_cpu_supports("avx2") ? DotKernel::avx2 : DotKernel::sse2;
  return best;
#else
  return DotKernel::portable;
#endif
}

OverlapDot::OverlapDot(const PixelRows& pattern, const int* rowBytes, int rows, DotKernel kernel)
    : pattern_(pattern), rows_(std::min(rows, kPatchSize)), rowBytes_(), kernel_(kernel) {
#if !QUILTBENCH_X86
  kernel_ = DotKernel::portable;
#endif
  for (int v = 0; v < rows_; ++v) rowBytes_[v] = std::min(rowBytes[v], kWideRow);
  if (kernel_ == DotKernel::avx2) {
    wide_.assign(static_cast<std::size_t>(rows_) * kWideRow, 0);
    for (int v = 0; v < rows_; ++v)
      for (int i = 0; i < rowBytes_[v]; ++i) wide_[v * kWideRow + i] = pattern[v][i];
  }
}

std::int64_t OverlapDot::at(const PixelRows& source, int x, int y) const {
  switch (kernel_) {
#if QUILTBENCH_X86
    case DotKernel::avx2:
      return DotAvx2(source, x, y, wide_.data(), rowBytes_, rows_);
    case DotKernel::sse2: {
      __m128i acc = _mm_setzero_si128();
      for (int v = 0; v < rows_; ++v)
        acc = DotSse2(source.pixel(x, y + v), pattern_[v], rowBytes_[v], acc);
      return HorizontalSum(acc);
    }
#endif
    default: {
      std::int64_t sum = 0;
      for (int v = 0; v < rows_; ++v)
        sum += DotPortable(source.pixel(x, y + v), pattern_[v], rowBytes_[v]);
      return sum;
    }
  }
}

}  // namespace detail
