// Frame-pair scores of the loop search: for every pair of frames at least 10 apart the
// byte product sum, and from it the squared difference that picks the jump, in exact
// integers.
#include <algorithm>

#include "quiltbench/video/video_synthesis_internal.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QUILTBENCH_VIDEO_X86 1
#endif

namespace quiltbench::video {
namespace {

// The vector kernels add products of two bytes (at most 65025) into 32-bit lanes; a lane
// takes 4 of them per 16 or 32 bytes, so blocks of this size stay far below 2^32.
constexpr std::size_t kLaneBlock = 65536;

std::uint64_t productSumPortable(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
  std::uint64_t sum = 0;
  for (std::size_t k = 0; k < n; ++k) sum += static_cast<std::uint32_t>(a[k]) * b[k];
  return sum;
}

#if QUILTBENCH_VIDEO_X86
std::uint64_t laneSum(__m128i acc) {
  alignas(16) std::uint32_t lanes[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), acc);
  return static_cast<std::uint64_t>(lanes[0]) + lanes[1] + lanes[2] + lanes[3];
}

std::uint64_t productSumSse2(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
  const __m128i zero = _mm_setzero_si128();
  std::uint64_t sum = 0;
  std::size_t k = 0;
  while (n - k >= 16) {
    const std::size_t blockEnd = k + std::min(kLaneBlock, (n - k) / 16 * 16);
    __m128i acc = _mm_setzero_si128();
    for (; k < blockEnd; k += 16) {
      const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + k));
      const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + k));
      acc = _mm_add_epi32(acc,
                          _mm_madd_epi16(_mm_unpacklo_epi8(va, zero), _mm_unpacklo_epi8(vb, zero)));
      acc = _mm_add_epi32(acc,
                          _mm_madd_epi16(_mm_unpackhi_epi8(va, zero), _mm_unpackhi_epi8(vb, zero)));
    }
    sum += laneSum(acc);
  }
  return sum + productSumPortable(a + k, b + k, n - k);
}

__attribute__((target("avx2"))) std::uint64_t productSumAvx2(const std::uint8_t* a,
                                                             const std::uint8_t* b, std::size_t n) {
  const __m256i zero = _mm256_setzero_si256();
  std::uint64_t sum = 0;
  std::size_t k = 0;
  while (n - k >= 32) {
    const std::size_t blockEnd = k + std::min(kLaneBlock, (n - k) / 32 * 32);
    __m256i acc = _mm256_setzero_si256();
    for (; k < blockEnd; k += 32) {
      const __m256i va = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + k));
      const __m256i vb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + k));
      // Both operands are widened the same way, so the lane order does not matter.
      acc = _mm256_add_epi32(
          acc, _mm256_madd_epi16(_mm256_unpacklo_epi8(va, zero), _mm256_unpacklo_epi8(vb, zero)));
      acc = _mm256_add_epi32(
          acc, _mm256_madd_epi16(_mm256_unpackhi_epi8(va, zero), _mm256_unpackhi_epi8(vb, zero)));
    }
    sum += laneSum(_mm_add_epi32(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1)));
  }
  return sum + productSumPortable(a + k, b + k, n - k);
}
#endif

}  // namespace

ProductKernel bestProductKernel() {
#if QUILTBENCH_VIDEO_X86
  static const ProductKernel best =
      __builtin_cpu_supports("avx2") ? ProductKernel::avx2 : ProductKernel::sse2;
  return best;
#else
  return ProductKernel::portable;
#endif
}

std::uint64_t byteProductSum(const std::uint8_t* a, const std::uint8_t* b, std::size_t n,
                             ProductKernel kernel) {
  switch (kernel) {
#if QUILTBENCH_VIDEO_X86
    case ProductKernel::avx2:
      return productSumAvx2(a, b, n);
    case ProductKernel::sse2:
      return productSumSse2(a, b, n);
#endif
    default:
      return productSumPortable(a, b, n);
  }
}

namespace {

// Calls `row(j, scores)` for j = 0, 1, ... in order, with scores[i] = score(j, i) for
// i >= j + 10 (the entries below are 0).
template <typename RowFunction>
void scoreRows(const VideoFrames& video, ProductKernel kernel, RowFunction row) {
  const int n = video.count();
  const int rows = n - kMinimumJumpLength;
  if (rows <= 0) return;
  // The whole video seldom fits the cache, a slice of every frame does: score a block of
  // rows on one slice before moving on, so each frame is read from memory once per block.
  // The block bounds the scratch to kBlockRows x count sums.
  constexpr std::size_t kSlice = 4096;
  constexpr int kBlockRows = 128;
  const std::size_t bytes = video.frameBytes();
  std::vector<std::uint64_t> block;
  for (int first = 0; first < rows; first += kBlockRows) {
    const int last = std::min(rows, first + kBlockRows);
    block.assign(static_cast<std::size_t>(last - first) * n, 0);
    for (std::size_t offset = 0; offset < bytes; offset += kSlice) {
      const std::size_t length = std::min(kSlice, bytes - offset);
      for (int j = first; j < last; ++j) {
        const std::uint8_t* a = video.frames[j].data() + offset;
        std::uint64_t* sums = &block[static_cast<std::size_t>(j - first) * n];
        for (int i = j + kMinimumJumpLength; i < n; ++i) {
          sums[i] += byteProductSum(a, video.frames[i].data() + offset, length, kernel);
        }
      }
    }
    for (int j = first; j < last; ++j) row(j, &block[static_cast<std::size_t>(j - first) * n]);
  }
}

}  // namespace

std::vector<std::uint64_t> pairScores(const VideoFrames& video, ProductKernel kernel) {
  const int n = video.count();
  std::vector<std::uint64_t> scores(static_cast<std::size_t>(n) * n, 0);
  scoreRows(video, kernel, [&](int j, const std::uint64_t* sums) {
    std::copy(sums, sums + n, &scores[static_cast<std::size_t>(j) * n]);
  });
  return scores;
}

std::optional<Transition> loopTransition(const VideoFrames& video, ProductKernel kernel) {
  const int n = video.count();
  std::vector<std::uint64_t> energy(n);
  for (int f = 0; f < n; ++f)
    energy[f] =
        byteProductSum(video.frames[f].data(), video.frames[f].data(), video.frameBytes(), kernel);
  std::optional<Transition> head;
  std::uint64_t best = 0;
  scoreRows(video, kernel, [&](int j, const std::uint64_t* sums) {
    for (int i = j + kMinimumJumpLength; i < n; ++i) {
      // The squared difference of the two frames, exact: |a|^2 + |b|^2 - 2 a.b >= 0.
      const std::uint64_t difference = energy[j] + energy[i] - 2 * sums[i];
      // Strictly lower only: among equal scores the first pair in (j, i) order stays.
      if (!head || difference < best) {
        best = difference;
        head = Transition{j, i, static_cast<double>(best)};
      }
    }
  });
  return head;
}

}  // namespace quiltbench::video
