// The plain scan over byte points. The nearest centre must be the one that distances summed
// over the dimensions in order (as KMeansSquaredDistance rounds them) give. Usually it is
// found from |x|^2 + |z|^2 - 2 x.z with the dot product summed in any order, which costs a
// third of the work: that differs from the ordered sum by less than a bound on the rounding
// of both, so a centre nearer by more than the bound is nearer in the ordered sums too. Only
// the points where another centre comes within the bound get the ordered sums, run as many
// chains side by side (four centres in the lanes of a vector, points in separate
// registers), never reordering one of them.
#include "patchloom/kmeans/byte_scan.h"

#include <immintrin.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace {

// Eight points a block keep eight independent chains of additions in flight: enough to
// hide the adder's latency on the processors we run on.
constexpr int kPointBlock = 8;
constexpr int kLanes = 4;
// Each step of the distance bounds rounds by half a unit; a factor of these after it keeps
// the bound on its side of the truth.
constexpr double kAbove = 1.0 + 4 * DBL_EPSILON, kBelow = 1.0 - 4 * DBL_EPSILON;
// The most doubles of distance bounds a scan keeps (32 MiB); beyond, every pass computes
// every distance.
constexpr std::size_t kMaxBoundEntries = std::size_t{1} << 22;
// Per-centre sums of coordinates are kept in 32 bits.
constexpr int kMaxCount = KMeansByteScan::kMaxPoints;

typedef double Lanes __attribute__((vector_size(32)));

const double* ByteValues() {
  static const auto table = [] {
    std::vector<double> t(256);
    for (int v = 0; v < 256; ++v) t[v] = v;
    return t;
  }();
  return table.data();
}

// out[j * 4 + c]: squared distance of point j (of `points`, rows of dim bytes) to lane c of
// the transposed centre block (block[4 * d + c] is coordinate d of centre c).
template <int P>
inline __attribute__((always_inline)) void BlockDistances(const std::uint8_t* const* points,
                                                          const double* block, int dim,
                                                          double* out) {
  const double* values = ByteValues();
  Lanes acc[P];
  for (int j = 0; j < P; ++j) acc[j] = Lanes{0.0, 0.0, 0.0, 0.0};
  for (int d = 0; d < dim; ++d) {
    Lanes z;
    std::memcpy(&z, block + kLanes * static_cast<std::size_t>(d), sizeof z);
    for (int j = 0; j < P; ++j) {
      const double x = values[points[j][d]];
      const Lanes e = Lanes{x, x, x, x} - z;
      acc[j] += e * e;
    }
  }
  for (int j = 0; j < P; ++j) std::memcpy(out + kLanes * j, &acc[j], sizeof acc[j]);
}

// The block kernels twice: for processors with 256-bit vectors and for any x86-64. Both
// round identically; only the width of the instructions differs.
__attribute__((target("avx2"))) void BlockDistancesWide(const std::uint8_t* const* points,
                                                        int count, const double* block, int dim,
                                                        double* out) {
  switch (count) {
    case 1:
      return BlockDistances<1>(points, block, dim, out);
    case 2:
      return BlockDistances<2>(points, block, dim, out);
    case 3:
      return BlockDistances<3>(points, block, dim, out);
    case 4:
      return BlockDistances<4>(points, block, dim, out);
    case 5:
      return BlockDistances<5>(points, block, dim, out);
    case 6:
      return BlockDistances<6>(points, block, dim, out);
    case 7:
      return BlockDistances<7>(points, block, dim, out);
    default:
      return BlockDistances<kPointBlock>(points, block, dim, out);
  }
}

void BlockDistancesPortable(const std::uint8_t* const* points, int count, const double* block,
                            int dim, double* out) {
  switch (count) {
    case 1:
      return BlockDistances<1>(points, block, dim, out);
    case 2:
      return BlockDistances<2>(points, block, dim, out);
    case 3:
      return BlockDistances<3>(points, block, dim, out);
    case 4:
      return BlockDistances<4>(points, block, dim, out);
    case 5:
      return BlockDistances<5>(points, block, dim, out);
    case 6:
      return BlockDistances<6>(points, block, dim, out);
    case 7:
      return BlockDistances<7>(points, block, dim, out);
    default:
      return BlockDistances<kPointBlock>(points, block, dim, out);
  }
}

constexpr int kDotBlock = 2;

// Products summed in floats run at most this many to a lane before the lane is added into
// doubles.
constexpr int kFloatChain = 32;
// The float dot product below errs by at most this share of the exact one (all its terms
// are non-negative): one rounding of each centre coordinate to a float, kFloatChain
// roundings along a lane, and a few of the additions in doubles.
constexpr double kFloatDotRelative = (kFloatChain + 4) * 0.5 * FLT_EPSILON;
// Centre coordinates this large could overflow the float sums; the doubles take them.
constexpr double kFloatNormLimit = 1e58;
// Byte dot products in 32-bit lanes: each lane adds dim / 16 pairs of products of at most
// 2 * 255^2, which stays below 2^31 up to this many dimensions.
constexpr int kMaxWholeDimension = 65536;

__attribute__((target("avx2,fma"))) inline void AddFloatLanes(__m256d& total, __m256 lanes) {
  total = _mm256_add_pd(total, _mm256_cvtps_pd(_mm256_castps256_ps128(lanes)));
  total = _mm256_add_pd(total, _mm256_cvtps_pd(_mm256_extractf128_ps(lanes, 1)));
}

// Eight bytes as floats.
__attribute__((target("avx2,fma"))) inline __m256 WidenBytes(const std::uint8_t* x) {
  __m128i raw;
  std::memcpy(&raw, x, 8);
  return _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(raw));
}

// dots[4 * j + c]: x_j . z_c for `count` (1 or 2) byte points and four centres (rows of dim
// floats, non-negative), summed in any order: products of eight dimensions at once in
// floats, added into doubles every kFloatChain of them. The quick test allows for the
// error; it is twice the speed of the same in doubles.
__attribute__((target("avx2,fma"))) void BlockDotsFloat(const std::uint8_t* const* points,
                                                        int count, const float* const* centres,
                                                        int dim, double* dots) {
  const std::uint8_t* x0 = points[0];
  const std::uint8_t* x1 = points[count > 1 ? 1 : 0];
  __m256d total[2 * kLanes];
  for (__m256d& t : total) t = _mm256_setzero_pd();
  const int whole = dim / 8 * 8;
  int d = 0;
  while (d < whole) {
    const int end = std::min(whole, d + 8 * kFloatChain);
    __m256 a0 = _mm256_setzero_ps(), a1 = a0, a2 = a0, a3 = a0;
    __m256 b0 = a0, b1 = a0, b2 = a0, b3 = a0;
    for (; d < end; d += 8) {
      const __m256 p = WidenBytes(x0 + d);
      const __m256 q = WidenBytes(x1 + d);
      const __m256 z0 = _mm256_loadu_ps(centres[0] + d);
      const __m256 z1 = _mm256_loadu_ps(centres[1] + d);
      const __m256 z2 = _mm256_loadu_ps(centres[2] + d);
      const __m256 z3 = _mm256_loadu_ps(centres[3] + d);
      a0 = _mm256_fmadd_ps(p, z0, a0);
      a1 = _mm256_fmadd_ps(p, z1, a1);
      a2 = _mm256_fmadd_ps(p, z2, a2);
      a3 = _mm256_fmadd_ps(p, z3, a3);
      b0 = _mm256_fmadd_ps(q, z0, b0);
      b1 = _mm256_fmadd_ps(q, z1, b1);
      b2 = _mm256_fmadd_ps(q, z2, b2);
      b3 = _mm256_fmadd_ps(q, z3, b3);
    }
    AddFloatLanes(total[0], a0);
    AddFloatLanes(total[1], a1);
    AddFloatLanes(total[2], a2);
    AddFloatLanes(total[3], a3);
    AddFloatLanes(total[4], b0);
    AddFloatLanes(total[5], b1);
    AddFloatLanes(total[6], b2);
    AddFloatLanes(total[7], b3);
  }
  alignas(32) double lanes[2 * kLanes][4];
  for (int t = 0; t < 2 * kLanes; ++t) _mm256_store_pd(lanes[t], total[t]);
  for (int j = 0; j < count; ++j) {
    const std::uint8_t* x = j == 0 ? x0 : x1;
    for (int c = 0; c < kLanes; ++c) {
      const double* l = lanes[kLanes * j + c];
      double sum = (l[0] + l[1]) + (l[2] + l[3]);
      for (int e = whole; e < dim; ++e) sum += x[e] * static_cast<double>(centres[c][e]);
      dots[kLanes * j + c] = sum;
    }
  }
}

// dots[4 * j + c]: x_j . z_c exactly for `count` (1 or 2) byte points and four byte
// centres, sixteen dimensions an instruction. The 32-bit lanes hold up to
// kMaxWholeDimension dimensions.
__attribute__((target("avx2"))) void BlockDotsBytes(const std::uint8_t* const* points, int count,
                                                    const std::uint8_t* const* centres, int dim,
                                                    std::int64_t* dots) {
  const std::uint8_t* x0 = points[0];
  const std::uint8_t* x1 = points[count > 1 ? 1 : 0];
  const auto widen = [](const std::uint8_t* x) {
    __m128i raw;
    std::memcpy(&raw, x, sizeof raw);
    return raw;
  };
  __m256i a0 = _mm256_setzero_si256(), a1 = a0, a2 = a0, a3 = a0;
  __m256i b0 = a0, b1 = a0, b2 = a0, b3 = a0;
  const int whole = dim / 16 * 16;
  for (int d = 0; d < whole; d += 16) {
    const __m256i p = _mm256_cvtepu8_epi16(widen(x0 + d));
    const __m256i q = _mm256_cvtepu8_epi16(widen(x1 + d));
    const __m256i z0 = _mm256_cvtepu8_epi16(widen(centres[0] + d));
    const __m256i z1 = _mm256_cvtepu8_epi16(widen(centres[1] + d));
    const __m256i z2 = _mm256_cvtepu8_epi16(widen(centres[2] + d));
    const __m256i z3 = _mm256_cvtepu8_epi16(widen(centres[3] + d));
    a0 = _mm256_add_epi32(a0, _mm256_madd_epi16(p, z0));
    a1 = _mm256_add_epi32(a1, _mm256_madd_epi16(p, z1));
    a2 = _mm256_add_epi32(a2, _mm256_madd_epi16(p, z2));
    a3 = _mm256_add_epi32(a3, _mm256_madd_epi16(p, z3));
    b0 = _mm256_add_epi32(b0, _mm256_madd_epi16(q, z0));
    b1 = _mm256_add_epi32(b1, _mm256_madd_epi16(q, z1));
    b2 = _mm256_add_epi32(b2, _mm256_madd_epi16(q, z2));
    b3 = _mm256_add_epi32(b3, _mm256_madd_epi16(q, z3));
  }
  alignas(32) std::int32_t lanes[2 * kLanes][8];
  const __m256i all[2 * kLanes] = {a0, a1, a2, a3, b0, b1, b2, b3};
  for (int t = 0; t < 2 * kLanes; ++t)
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes[t]), all[t]);
  for (int j = 0; j < count; ++j) {
    const std::uint8_t* x = j == 0 ? x0 : x1;
    for (int c = 0; c < kLanes; ++c) {
      std::int64_t sum = 0;
      for (int l = 0; l < 8; ++l) sum += lanes[kLanes * j + c][l];
      for (int e = whole; e < dim; ++e) sum += x[e] * centres[c][e];
      dots[kLanes * j + c] = sum;
    }
  }
}

void BlockDotsBytesPortable(const std::uint8_t* const* points, int count,
                            const std::uint8_t* const* centres, int dim, std::int64_t* dots) {
  for (int j = 0; j < count; ++j) {
    for (int c = 0; c < kLanes; ++c) {
      std::int64_t sum = 0;
      for (int d = 0; d < dim; ++d) sum += points[j][d] * centres[c][d];
      dots[kLanes * j + c] = sum;
    }
  }
}

bool HasFloatDots() {
  static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  return has;
}

__attribute__((target_clones("avx2", "default"))) void ToFloats(const double* from, std::size_t n,
                                                                float* to) {
  for (std::size_t i = 0; i < n; ++i) to[i] = static_cast<float>(from[i]);
}

void BlockDotsPortable(const std::uint8_t* const* points, int count, const double* const* centres,
                       int dim, double* dots) {
  for (int j = 0; j < count; ++j) {
    for (int c = 0; c < kLanes; ++c) {
      // Two chains: the order is free, and they halve the wait on the adder.
      double even = 0.0, odd = 0.0;
      int d = 0;
      for (; d + 2 <= dim; d += 2) {
        even += points[j][d] * centres[c][d];
        odd += points[j][d + 1] * centres[c][d + 1];
      }
      if (d < dim) even += points[j][d] * centres[c][d];
      dots[kLanes * j + c] = even + odd;
    }
  }
}

// sum[d] += point[d] (or -=) over dim coordinates: whole numbers, so any width of
// instruction gives the same, and a total that a point left and rejoined is exact again.
__attribute__((target_clones("avx2", "default"))) void Accumulate(
    std::uint32_t* __restrict sum, const std::uint8_t* __restrict point, int dim) {
  for (int d = 0; d < dim; ++d) sum[d] += point[d];
}

__attribute__((target_clones("avx2", "default"))) void Withdraw(
    std::uint32_t* __restrict sum, const std::uint8_t* __restrict point, int dim) {
  for (int d = 0; d < dim; ++d) sum[d] -= point[d];
}

// Sum over d of (a[d] - b[d])^2, or of a[d]^2 when b is null, in any order: four chains of
// four lanes, so that the additions do not wait on each other.
__attribute__((target_clones("avx2", "default"))) double UnorderedSquares(const double* a,
                                                                          const double* b,
                                                                          int dim) {
  Lanes acc[4] = {};
  int d = 0;
  for (; d + 16 <= dim; d += 16) {
    for (int q = 0; q < 4; ++q) {
      Lanes x, y = {};
      std::memcpy(&x, a + d + 4 * q, sizeof x);
      if (b) std::memcpy(&y, b + d + 4 * q, sizeof y);
      const Lanes e = x - y;
      acc[q] += e * e;
    }
  }
  const Lanes all = (acc[0] + acc[1]) + (acc[2] + acc[3]);
  double sum = (all[0] + all[1]) + (all[2] + all[3]);
  for (; d < dim; ++d) {
    const double e = a[d] - (b ? b[d] : 0.0);
    sum += e * e;
  }
  return sum;
}

// The totals as doubles, exactly: a total with its top bit flipped is a signed 32-bit
// value, which the processor converts four at a time, and adding 2^31 back is exact.
__attribute__((target_clones("avx2", "default"))) void ToDoubles(const std::uint32_t* totals,
                                                                 std::size_t size, double* out) {
  for (std::size_t i = 0; i < size; ++i)
    out[i] = static_cast<double>(static_cast<std::int32_t>(totals[i] ^ 0x80000000u)) + 2147483648.0;
}

// The squared norm of each centre, summed in any order. False when a coordinate is negative
// (-0 included) or not finite, or a norm too large to bound its rounding, as the quick test
// needs.
__attribute__((target_clones("avx2", "default"))) bool CentreNorms(int k, int dim,
                                                                   const double* centres,
                                                                   double* norms) {
  // Any sign bit set shows in the or of all coordinates; a NaN or infinity makes its norm
  // fail the test below.
  std::uint64_t signs = 0;
  const std::size_t size = static_cast<std::size_t>(k) * dim;
  for (std::size_t i = 0; i < size; ++i) {
    std::uint64_t bits;
    std::memcpy(&bits, centres + i, sizeof bits);
    signs |= bits;
  }
  bool fit = (signs >> 63) == 0;
  for (int c = 0; c < k; ++c) {
    norms[c] = UnorderedSquares(centres + static_cast<std::size_t>(c) * dim, nullptr, dim);
    fit = fit && norms[c] < 1e300;
  }
  return fit;
}

// Sum over d of (kept[d] - now[d])^2 in any order, as UnorderedSquares, and kept = now:
// one pass over both.
__attribute__((target_clones("avx2", "default"))) double MovedSquares(double* __restrict kept,
                                                                      const double* __restrict now,
                                                                      int dim) {
  Lanes acc[4] = {};
  int d = 0;
  for (; d + 16 <= dim; d += 16) {
    for (int q = 0; q < 4; ++q) {
      Lanes x, y;
      std::memcpy(&x, kept + d + 4 * q, sizeof x);
      std::memcpy(&y, now + d + 4 * q, sizeof y);
      std::memcpy(kept + d + 4 * q, &y, sizeof y);
      const Lanes e = x - y;
      acc[q] += e * e;
    }
  }
  const Lanes all = (acc[0] + acc[1]) + (acc[2] + acc[3]);
  double sum = (all[0] + all[1]) + (all[2] + all[3]);
  for (; d < dim; ++d) {
    const double e = kept[d] - now[d];
    kept[d] = now[d];
    sum += e * e;
  }
  return sum;
}

// An upper bound on the exact distance (not squared) a centre moved from `kept` to `now`,
// which then replaces it: a sum of squares in any order errs by at most dim + 3 units of
// rounding of itself, and squares too small for doubles lose less than the absolute term
// adds.
double MoveBound(double* kept, const double* now, int dim) {
  return std::sqrt(MovedSquares(kept, now, dim)) * (1.0 + (dim + 8) * DBL_EPSILON) + 1e-150;
}

// lower[c] = sqrt(max(a[c] - m[c], 0)) * kBelow for c < k: below the exact distance to
// each centre, as its quick squared distance a[c] is within m[c] of the exact one. The roots
// four at a time: one after another they would wait on each other.

void LowerBoundsPortable(const double* a, const double* m, int k, double* lower) {
  for (int c = 0; c < k; ++c) lower[c] = a[c] > m[c] ? std::sqrt(a[c] - m[c]) * kBelow : 0.0;
}

__attribute__((target("avx2"))) void LowerBoundsWide(const double* a, const double* m, int k,
                                                     double* lower) {
  int c = 0;
  for (; c + 4 <= k; c += 4) {
    // max gives its second operand, 0, for NaN too: a bound of 0 always holds.
    const __m256d gap = _mm256_max_pd(_mm256_sub_pd(_mm256_loadu_pd(a + c), _mm256_loadu_pd(m + c)),
                                      _mm256_setzero_pd());
    _mm256_storeu_pd(lower + c, _mm256_mul_pd(_mm256_sqrt_pd(gap), _mm256_set1_pd(kBelow)));
  }
  LowerBoundsPortable(a + c, m + c, k - c, lower + c);
}

void LowerBounds(const double* a, const double* m, int k, double* lower) {
  static const auto bounds = __builtin_cpu_supports("avx2") ? LowerBoundsWide : LowerBoundsPortable;
  bounds(a, m, k, lower);
}

// The distance as KMeansSquaredDistance sums it.
double OrderedDistance(const std::uint8_t* x, const double* z, int dim) {
  double sum = 0.0;
  for (int d = 0; d < dim; ++d) {
    const double e = x[d] - z[d];
    sum += e * e;
  }
  return sum;
}

using BlockKernel = void (*)(const std::uint8_t* const*, int, const double*, int, double*);

BlockKernel ChosenKernel() {
  static const BlockKernel kernel =
      __builtin_cpu_supports("avx2") ? BlockDistancesWide : BlockDistancesPortable;
  return kernel;
}

// The values as bytes into `out`; false unless every one is a whole number in 0..255 (NaN
// included). No early exit: what a check against NaN, the range and the truncation leaves
// is gathered over the whole block.
bool ToBytesPortable(const double* values, std::size_t size, std::uint8_t* out) {
  bool fit = true;
  for (std::size_t i = 0; i < size; ++i) {
    const double v = values[i];
    const bool inRange = v >= 0.0 && v <= 255.0;
    const int whole = inRange ? static_cast<int>(v) : 0;
    fit = fit && inRange && v == static_cast<double>(whole);
    out[i] = static_cast<std::uint8_t>(whole);
  }
  return fit;
}

__attribute__((target("avx2"))) bool ToBytesWide(const double* values, std::size_t size,
                                                 std::uint8_t* out) {
  const __m256d low = _mm256_setzero_pd(), high = _mm256_set1_pd(255.0);
  __m256d fit = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
  std::size_t i = 0;
  for (; i + 4 <= size; i += 4) {
    __m256d v = _mm256_loadu_pd(values + i);
    // Ordered comparisons: false for NaN.
    const __m256d inRange =
        _mm256_and_pd(_mm256_cmp_pd(v, low, _CMP_GE_OQ), _mm256_cmp_pd(v, high, _CMP_LE_OQ));
    v = _mm256_and_pd(v, inRange);  // out of range reads as 0, already failed
    const __m128i whole = _mm256_cvttpd_epi32(v);
    const __m256d back = _mm256_cvtepi32_pd(whole);
    fit = _mm256_and_pd(fit, _mm256_and_pd(inRange, _mm256_cmp_pd(v, back, _CMP_EQ_OQ)));
    const __m128i bytes = _mm_shuffle_epi8(
        whole, _mm_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1));
    const std::int32_t four = _mm_cvtsi128_si32(bytes);
    std::memcpy(out + i, &four, sizeof four);
  }
  const bool rest = ToBytesPortable(values + i, size - i, out + i);
  return _mm256_movemask_pd(fit) == 0xF && rest;
}

bool ToBytes(const double* values, std::size_t size, std::uint8_t* out) {
  static const auto convert = __builtin_cpu_supports("avx2") ? ToBytesWide : ToBytesPortable;
  return convert(values, size, out);
}

}  // namespace

bool KMeansByteScan::holdsBytes(const double* points, int count, int dim) {
  const std::size_t size = static_cast<std::size_t>(count) * dim;
  for (std::size_t i = 0; i < size; ++i) {
    const double v = points[i];
    // Also false for NaN.
    if (!(v >= 0.0 && v <= 255.0) || v != static_cast<double>(static_cast<int>(v))) return false;
  }
  return true;
}

KMeansByteScan::KMeansByteScan(int count, int dim) : count_(count), dim_(dim) {
  if (dim < 1 || count < 0 || count > kMaxCount)
    throw std::invalid_argument("k-means scan: bad point set size");
}

KMeansByteScan::KMeansByteScan(const double* points, int count, int dim)
    : KMeansByteScan(count, dim) {
  if (!load(points))
    throw std::invalid_argument("k-means scan: a coordinate is not a whole number in 0..255");
}

std::unique_ptr<KMeansByteScan> KMeansByteScan::ofBytes(const double* points, int count, int dim) {
  if (dim < 1 || count < 0 || count > kMaxCount) return nullptr;
  std::unique_ptr<KMeansByteScan> scan(new KMeansByteScan(count, dim));
  if (!scan->load(points)) return nullptr;
  return scan;
}

bool KMeansByteScan::load(const double* points) {
  const std::size_t size = static_cast<std::size_t>(count_) * dim_;
  bytes_.resize(size);
  if (!ToBytes(points, size, bytes_.data())) return false;
  norms_.resize(static_cast<std::size_t>(count_));
  for (int i = 0; i < count_; ++i) {
    const std::uint8_t* p = bytes_.data() + static_cast<std::size_t>(i) * dim_;
    std::int64_t sum = 0;
    for (int d = 0; d < dim_; ++d) sum += p[d] * p[d];
    norms_[static_cast<std::size_t>(i)] = sum;
  }
  return true;
}

void KMeansByteScan::copyPoint(int i, double* out) const {
  const std::uint8_t* p = bytes_.data() + static_cast<std::size_t>(i) * dim_;
  for (int d = 0; d < dim_; ++d) out[d] = p[d];
}

void KMeansByteScan::update(int k, const double* centres) const {
  const std::size_t n = static_cast<std::size_t>(count_);
  closest_.resize(n);
  // The bounds take k + 1 doubles a point: kept only while that stays modest.
  bounds_ = n * static_cast<std::size_t>(k) <= kMaxBoundEntries;
  if (bounds_) {
    upper_.resize(n);
    lower_.resize(n * static_cast<std::size_t>(k));
  }
  centreNorms_.resize(static_cast<std::size_t>(k));
  // The bounds below assume centres of finite, non-negative coordinates, as means and
  // samples of byte points have.
  if (!CentreNorms(k, dim_, centres, centreNorms_.data())) {
    nearestOrdered(k, centres);
    boundK_ = 0;
    return;
  }
  listed_.clear();
  bool bounded = bounds_ && boundK_ == k;
  if (bounded) {
    // How far each centre moved: the exact distance to it changed by no more.
    drift_.resize(static_cast<std::size_t>(k));
    for (int c = 0; c < k; ++c) {
      const std::size_t at = static_cast<std::size_t>(c) * dim_;
      const double d = MoveBound(boundCentres_.data() + at, centres + at, dim_);
      bounded = bounded && d < DBL_MAX;
      drift_[static_cast<std::size_t>(c)] = d;
    }
    // The ordered sums of squares err by less than `relative` of themselves: a centre
    // nearer by that much in exact distances is nearer in the ordered sums too.
    const double relative = 4.0 * (dim_ + 8) * DBL_EPSILON;
    // Below this the squares of the bounds would leave the normal doubles.
    constexpr double kSmallest = 1e-100;
    for (int i = 0; bounded && i < count_; ++i) {
      const std::size_t at = static_cast<std::size_t>(i);
      const int own = closest_[at];
      const double u = (upper_[at] + drift_[static_cast<std::size_t>(own)]) * kAbove;
      double* lower = lower_.data() + at * k;
      double nearestOther = INFINITY;
      for (int c = 0; c < k; ++c) {
        if (c == own) continue;
        lower[c] = (lower[c] - drift_[static_cast<std::size_t>(c)]) * kBelow;
        nearestOther = std::min(nearestOther, lower[c]);
      }
      upper_[at] = u;
      if (!(nearestOther > kSmallest &&
            u * u * (1 + relative) < nearestOther * nearestOther * (1 - relative)))
        listed_.push_back(i);
    }
  }
  if (!bounded) {
    listed_.resize(n);
    for (int i = 0; i < count_; ++i) listed_[static_cast<std::size_t>(i)] = i;
  }
  nearestOf(listed_.data(), static_cast<int>(listed_.size()), k, centres, centreNorms_.data());
  // Bounded passes have kept the centres as they went.
  if (bounds_ && !bounded)
    boundCentres_.assign(centres, centres + static_cast<std::size_t>(k) * dim_);
  boundK_ = bounds_ ? k : 0;
}

void KMeansByteScan::nearestOf(const int* listed, int n, int k, const double* centres,
                               const double* centreNorms) const {
  if (n == 0) return;
  if (wholeCentres(k, centres)) return nearestOfWhole(listed, n, k);
  // Each of the ordered sum, the dot product, the centre's squared norm and the final
  // combination errs by at most (dim + 4) units of rounding of the magnitudes involved,
  // all below |x|^2 + |z|^2 + 2 x.z; twice that for both, and twice again for margin. The
  // margin of one centre alone also bounds how far its quick distance is from the exact.
  const double relative = 4.0 * (dim_ + 8) * DBL_EPSILON;
  const bool inFloats = HasFloatDots() && std::all_of(centreNorms, centreNorms + k,
                                                      [](double n) { return n < kFloatNormLimit; });
  if (inFloats) {
    centreFloats_.resize(static_cast<std::size_t>(k) * dim_);
    ToFloats(centres, centreFloats_.size(), centreFloats_.data());
  }
  // What the float sums may add to the error of the quick distance: their share of twice
  // the dot product, twice for margin, and a little for floats too small to keep their
  // precision (each term then errs by less than 2^-140).
  const double floatShare = inFloats ? 4 * kFloatDotRelative : 0.0;
  const double floatFloor = inFloats ? 1e-40 * (dim_ + 1) : 0.0;
  const int blocks = (k + kLanes - 1) / kLanes;
  approx_.resize(static_cast<std::size_t>(kDotBlock) * k);
  margin_.resize(approx_.size());
  double dots[kDotBlock * kLanes];
  const double* rows[kLanes];
  const float* floatRows[kLanes];
  for (int first = 0; first < n; first += kDotBlock) {
    const int inPair = std::min(kDotBlock, n - first);
    const std::uint8_t* points[kDotBlock];
    for (int j = 0; j < inPair; ++j)
      points[j] = bytes_.data() + static_cast<std::size_t>(listed[first + j]) * dim_;
    for (int b = 0; b < blocks; ++b) {
      const int inBlock = std::min(kLanes, k - b * kLanes);
      for (int c = 0; c < kLanes; ++c) {
        const std::size_t at =
            static_cast<std::size_t>(b * kLanes + std::min(c, inBlock - 1)) * dim_;
        rows[c] = centres + at;
        floatRows[c] = centreFloats_.data() + at;
      }
      if (inFloats) {
        BlockDotsFloat(points, inPair, floatRows, dim_, dots);
      } else {
        BlockDotsPortable(points, inPair, rows, dim_, dots);
      }
      for (int j = 0; j < inPair; ++j) {
        const double nx = static_cast<double>(norms_[static_cast<std::size_t>(listed[first + j])]);
        for (int c = 0; c < inBlock; ++c) {
          const int centre = b * kLanes + c;
          const double dot = dots[kLanes * j + c];
          const double nz = centreNorms[centre];
          approx_[static_cast<std::size_t>(j) * k + centre] = (nx + nz) - 2 * dot;
          margin_[static_cast<std::size_t>(j) * k + centre] =
              relative * ((nx + nz) + 2 * dot) + floatShare * dot + floatFloor;
        }
      }
    }
    for (int j = 0; j < inPair; ++j) {
      const double* a = approx_.data() + static_cast<std::size_t>(j) * k;
      const double* m = margin_.data() + static_cast<std::size_t>(j) * k;
      int lead = 0;
      for (int c = 1; c < k; ++c)
        if (a[c] < a[lead]) lead = c;
      bool close = false;
      for (int c = 0; c < k && !close; ++c) close = c != lead && a[c] - a[lead] <= m[c] + m[lead];
      int winner = lead;
      if (close) {
        // The ordered sums decide among the centres within reach of the leader.
        double best = DBL_MAX;
        for (int c = 0; c < k; ++c) {
          if (c != lead && a[c] - a[lead] > m[c] + m[lead]) continue;
          const double d =
              OrderedDistance(points[j], centres + static_cast<std::size_t>(c) * dim_, dim_);
          if (d < best) {
            best = d;
            winner = c;
          }
        }
      }
      const std::size_t i = static_cast<std::size_t>(listed[first + j]);
      closest_[i] = winner;
      if (bounds_) {
        upper_[i] = std::sqrt(a[winner] + m[winner]) * kAbove;
        LowerBounds(a, m, k, lower_.data() + i * k);
      }
    }
  }
}

bool KMeansByteScan::wholeCentres(int k, const double* centres) const {
  const std::size_t size = static_cast<std::size_t>(k) * dim_;
  if (dim_ > kMaxWholeDimension) return false;
  // Means are seldom whole: a look at the first coordinates spares them the full check.
  for (int c = 0; c < k; ++c) {
    const double v = centres[static_cast<std::size_t>(c) * dim_];
    if (v != std::floor(v)) return false;
  }
  centreBytes_.resize(size);
  return ToBytes(centres, size, centreBytes_.data());
}

void KMeansByteScan::nearestOfWhole(const int* listed, int n, int k) const {
  // Every term of the ordered sums is then a whole number and every partial sum one
  // below 2^53: they are exact, and equal |x|^2 + |z|^2 - 2 x.z in integers.
  const auto kernel = __builtin_cpu_supports("avx2") ? BlockDotsBytes : BlockDotsBytesPortable;
  wholeNorms_.resize(static_cast<std::size_t>(k));
  for (int c = 0; c < k; ++c) {
    const std::uint8_t* z = centreBytes_.data() + static_cast<std::size_t>(c) * dim_;
    std::int64_t sum = 0;
    for (int d = 0; d < dim_; ++d) sum += z[d] * z[d];
    wholeNorms_[static_cast<std::size_t>(c)] = sum;
  }
  const int blocks = (k + kLanes - 1) / kLanes;
  std::int64_t dots[kDotBlock * kLanes];
  const std::uint8_t* rows[kLanes];
  for (int first = 0; first < n; first += kDotBlock) {
    const int inPair = std::min(kDotBlock, n - first);
    const std::uint8_t* points[kDotBlock];
    for (int j = 0; j < inPair; ++j)
      points[j] = bytes_.data() + static_cast<std::size_t>(listed[first + j]) * dim_;
    std::int64_t best[kDotBlock] = {};
    for (int b = 0; b < blocks; ++b) {
      const int inBlock = std::min(kLanes, k - b * kLanes);
      for (int c = 0; c < kLanes; ++c)
        rows[c] = centreBytes_.data() +
                  static_cast<std::size_t>(b * kLanes + std::min(c, inBlock - 1)) * dim_;
      kernel(points, inPair, rows, dim_, dots);
      for (int j = 0; j < inPair; ++j) {
        const std::size_t i = static_cast<std::size_t>(listed[first + j]);
        double* lower = bounds_ ? lower_.data() + i * k : nullptr;
        for (int c = 0; c < inBlock; ++c) {
          const int centre = b * kLanes + c;
          const std::int64_t d =
              norms_[i] + wholeNorms_[static_cast<std::size_t>(centre)] - 2 * dots[kLanes * j + c];
          if (lower) lower[centre] = std::sqrt(static_cast<double>(d)) * kBelow;
          // Strictly nearer replaces: ties go to the lower index.
          if (centre == 0 || d < best[j]) {
            best[j] = d;
            closest_[i] = centre;
          }
        }
      }
    }
    for (int j = 0; bounds_ && j < inPair; ++j) {
      const std::size_t i = static_cast<std::size_t>(listed[first + j]);
      upper_[i] = std::sqrt(static_cast<double>(best[j])) * kAbove;
    }
  }
}

void KMeansByteScan::nearestOrdered(int k, const double* centres) const {
  const int blocks = (k + kLanes - 1) / kLanes;
  std::vector<double> lanes(static_cast<std::size_t>(blocks) * dim_ * kLanes, 0.0);
  for (int c = 0; c < k; ++c) {
    double* block = lanes.data() + static_cast<std::size_t>(c / kLanes) * dim_ * kLanes;
    const double* z = centres + static_cast<std::size_t>(c) * dim_;
    for (int d = 0; d < dim_; ++d) block[kLanes * static_cast<std::size_t>(d) + c % kLanes] = z[d];
  }
  const BlockKernel kernel = ChosenKernel();
  double dist[kPointBlock * kLanes];
  const std::uint8_t* rows[kPointBlock];
  double best[kPointBlock];
  for (int first = 0; first < count_; first += kPointBlock) {
    const int n = std::min(kPointBlock, count_ - first);
    for (int j = 0; j < n; ++j) {
      rows[j] = bytes_.data() + static_cast<std::size_t>(first + j) * dim_;
      best[j] = DBL_MAX;
      closest_[static_cast<std::size_t>(first + j)] = 0;
    }
    for (int b = 0; b < blocks; ++b) {
      kernel(rows, n, lanes.data() + static_cast<std::size_t>(b) * dim_ * kLanes, dim_, dist);
      const int inBlock = std::min(kLanes, k - b * kLanes);
      for (int j = 0; j < n; ++j) {
        // Strictly nearer replaces, from the largest double on: the first centre keeps a
        // point that no centre is finitely near, as in the tree's passes.
        for (int c = 0; c < inBlock; ++c) {
          const double d = dist[kLanes * j + c];
          if (d < best[j]) {
            best[j] = d;
            closest_[static_cast<std::size_t>(first + j)] = b * kLanes + c;
          }
        }
      }
    }
  }
}

void KMeansByteScan::updateTotals(int k) const {
  int moved = 0;
  if (totalK_ == k)
    for (int i = 0; i < count_; ++i)
      moved += totalled_[static_cast<std::size_t>(i)] != closest_[static_cast<std::size_t>(i)];
  // Moving a point costs two passes over it, adding it afresh one.
  const bool afresh = totalK_ != k || 2 * moved > count_;
  if (afresh) {
    total_.assign(static_cast<std::size_t>(k) * dim_, 0);
    totalSq_.assign(static_cast<std::size_t>(k), 0);
    weights_.assign(static_cast<std::size_t>(k), 0);
  }
  totalled_.resize(static_cast<std::size_t>(count_));
  for (int i = 0; i < count_; ++i) {
    const std::size_t at = static_cast<std::size_t>(i);
    const int to = closest_[at];
    const std::uint8_t* p = bytes_.data() + at * dim_;
    if (!afresh) {
      const int from = totalled_[at];
      if (from == to) continue;
      Withdraw(total_.data() + static_cast<std::size_t>(from) * dim_, p, dim_);
      totalSq_[static_cast<std::size_t>(from)] -= norms_[at];
      --weights_[static_cast<std::size_t>(from)];
    }
    Accumulate(total_.data() + static_cast<std::size_t>(to) * dim_, p, dim_);
    totalSq_[static_cast<std::size_t>(to)] += norms_[at];
    ++weights_[static_cast<std::size_t>(to)];
    totalled_[at] = to;
  }
  totalK_ = k;
}

void KMeansByteScan::filter(int k, const double* centres, double* sums, int* weights,
                            double* sumSqs) const {
  if (k <= 0) return;
  update(k, centres);
  updateTotals(k);
  // Whole numbers below 2^53 add up exactly, so these equal the tree's sums whatever order
  // it visits the points in.
  ToDoubles(total_.data(), total_.size(), sums);
  for (int c = 0; c < k; ++c) {
    weights[c] = weights_[static_cast<std::size_t>(c)];
    sumSqs[c] = static_cast<double>(totalSq_[static_cast<std::size_t>(c)]);
  }
}

void KMeansByteScan::assign(int k, const double* centres, int* closest, double* sqDist) const {
  if (k <= 0) return;
  update(k, centres);
  for (int i = 0; i < count_; ++i) {
    const std::size_t at = static_cast<std::size_t>(i);
    const int c = closest_[at];
    if (closest) closest[i] = c;
    if (sqDist)
      sqDist[i] = OrderedDistance(bytes_.data() + at * dim_,
                                  centres + static_cast<std::size_t>(c) * dim_, dim_);
  }
}
