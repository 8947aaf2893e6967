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
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace {

// Eight points a block keep eight independent chains of additions in flight: enough to
// hide the adder's latency on the processors we run on.
constexpr int kPointBlock = 8;
constexpr int kLanes = 4;
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

// dots[4 * j + c]: x_j . z_c for `count` (1 or 2) byte points and four centres (rows of dim
// doubles), summed in any order.
__attribute__((target("avx2"))) void BlockDotsWide(const std::uint8_t* const* points, int count,
                                                   const double* const* centres, int dim,
                                                   double* dots) {
  const std::uint8_t* x0 = points[0];
  const std::uint8_t* x1 = points[count > 1 ? 1 : 0];
  __m256d a0 = _mm256_setzero_pd(), a1 = a0, a2 = a0, a3 = a0;
  __m256d b0 = a0, b1 = a0, b2 = a0, b3 = a0;
  int d = 0;
  for (; d + 4 <= dim; d += 4) {
    std::int32_t raw0, raw1;
    std::memcpy(&raw0, x0 + d, sizeof raw0);
    std::memcpy(&raw1, x1 + d, sizeof raw1);
    const __m256d p = _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(raw0)));
    const __m256d q = _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(raw1)));
    const __m256d z0 = _mm256_loadu_pd(centres[0] + d);
    const __m256d z1 = _mm256_loadu_pd(centres[1] + d);
    const __m256d z2 = _mm256_loadu_pd(centres[2] + d);
    const __m256d z3 = _mm256_loadu_pd(centres[3] + d);
    a0 = _mm256_add_pd(a0, _mm256_mul_pd(p, z0));
    a1 = _mm256_add_pd(a1, _mm256_mul_pd(p, z1));
    a2 = _mm256_add_pd(a2, _mm256_mul_pd(p, z2));
    a3 = _mm256_add_pd(a3, _mm256_mul_pd(p, z3));
    b0 = _mm256_add_pd(b0, _mm256_mul_pd(q, z0));
    b1 = _mm256_add_pd(b1, _mm256_mul_pd(q, z1));
    b2 = _mm256_add_pd(b2, _mm256_mul_pd(q, z2));
    b3 = _mm256_add_pd(b3, _mm256_mul_pd(q, z3));
  }
  alignas(32) double lanes[8][4];
  _mm256_store_pd(lanes[0], a0);
  _mm256_store_pd(lanes[1], a1);
  _mm256_store_pd(lanes[2], a2);
  _mm256_store_pd(lanes[3], a3);
  _mm256_store_pd(lanes[4], b0);
  _mm256_store_pd(lanes[5], b1);
  _mm256_store_pd(lanes[6], b2);
  _mm256_store_pd(lanes[7], b3);
  for (int j = 0; j < count; ++j) {
    const std::uint8_t* x = j == 0 ? x0 : x1;
    for (int c = 0; c < kLanes; ++c) {
      const double* l = lanes[kLanes * j + c];
      double sum = (l[0] + l[1]) + (l[2] + l[3]);
      for (int e = d; e < dim; ++e) sum += x[e] * centres[c][e];
      dots[kLanes * j + c] = sum;
    }
  }
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

using DotKernel = void (*)(const std::uint8_t* const*, int, const double* const*, int, double*);

DotKernel ChosenDotKernel() {
  static const DotKernel kernel =
      __builtin_cpu_supports("avx2") ? BlockDotsWide : BlockDotsPortable;
  return kernel;
}

// sum[d] += point[d] over dim coordinates: whole numbers, so any width of instruction gives
// the same.
__attribute__((target("avx2"))) void AccumulateWide(std::uint32_t* __restrict sum,
                                                    const std::uint8_t* __restrict point, int dim) {
  for (int d = 0; d < dim; ++d) sum[d] += point[d];
}

void AccumulatePortable(std::uint32_t* __restrict sum, const std::uint8_t* __restrict point,
                        int dim) {
  for (int d = 0; d < dim; ++d) sum[d] += point[d];
}

// The squared norm of each centre, summed in any order. False when a coordinate is negative
// or not finite, or a norm too large to bound its rounding, as the quick test needs.
__attribute__((target_clones("avx2", "default"))) bool CentreNorms(int k, int dim,
                                                                   const double* centres,
                                                                   double* norms) {
  bool fit = true;
  for (int c = 0; c < k; ++c) {
    const double* z = centres + static_cast<std::size_t>(c) * dim;
    double lanes[4] = {};
    int d = 0;
    for (; d + 4 <= dim; d += 4) {
      for (int l = 0; l < 4; ++l) {
        fit = fit && z[d + l] >= 0.0 && z[d + l] <= DBL_MAX;
        lanes[l] += z[d + l] * z[d + l];
      }
    }
    for (; d < dim; ++d) {
      fit = fit && z[d] >= 0.0 && z[d] <= DBL_MAX;
      lanes[0] += z[d] * z[d];
    }
    norms[c] = (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
    fit = fit && norms[c] < 1e300;
  }
  return fit;
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

KMeansByteScan::KMeansByteScan(const double* points, int count, int dim)
    : count_(count), dim_(dim) {
  if (dim < 1 || count < 0 || count > kMaxCount)
    throw std::invalid_argument("k-means scan: bad point set size");
  if (!holdsBytes(points, count, dim))
    throw std::invalid_argument("k-means scan: a coordinate is not a whole number in 0..255");
  const std::size_t size = static_cast<std::size_t>(count) * dim;
  bytes_.resize(size);
  for (std::size_t i = 0; i < size; ++i) bytes_[i] = static_cast<std::uint8_t>(points[i]);
  norms_.resize(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const std::uint8_t* p = bytes_.data() + static_cast<std::size_t>(i) * dim;
    std::int64_t sum = 0;
    for (int d = 0; d < dim; ++d) sum += p[d] * p[d];
    norms_[static_cast<std::size_t>(i)] = sum;
  }
}

void KMeansByteScan::nearest(int k, const double* centres, int* closest, double* sqDist) const {
  // The bound below assumes centres of finite, non-negative coordinates, as means and
  // samples of byte points have.
  std::vector<double> norms(static_cast<std::size_t>(k));
  if (!CentreNorms(k, dim_, centres, norms.data()))
    return nearestOrdered(k, centres, closest, sqDist);
  // Each of the ordered sum, the dot product, the centre's squared norm and the final
  // combination errs by at most (dim + 4) units of rounding of the magnitudes involved,
  // all below |x|^2 + |z|^2 + 2 x.z; twice that for both, and twice again for margin.
  const double relative = 4.0 * (dim_ + 8) * DBL_EPSILON;
  const DotKernel kernel = ChosenDotKernel();
  const int blocks = (k + kLanes - 1) / kLanes;
  std::vector<double> approx(static_cast<std::size_t>(kDotBlock) * k);
  std::vector<double> margin(approx.size());
  double dots[kDotBlock * kLanes];
  const double* rows[kLanes];
  for (int first = 0; first < count_; first += kDotBlock) {
    const int n = std::min(kDotBlock, count_ - first);
    const std::uint8_t* points[kDotBlock];
    for (int j = 0; j < n; ++j)
      points[j] = bytes_.data() + static_cast<std::size_t>(first + j) * dim_;
    for (int b = 0; b < blocks; ++b) {
      const int inBlock = std::min(kLanes, k - b * kLanes);
      for (int c = 0; c < kLanes; ++c)
        rows[c] = centres + static_cast<std::size_t>(b * kLanes + std::min(c, inBlock - 1)) * dim_;
      kernel(points, n, rows, dim_, dots);
      for (int j = 0; j < n; ++j) {
        const double nx = static_cast<double>(norms_[static_cast<std::size_t>(first + j)]);
        for (int c = 0; c < inBlock; ++c) {
          const int centre = b * kLanes + c;
          const double dot = dots[kLanes * j + c];
          const double nz = norms[static_cast<std::size_t>(centre)];
          approx[static_cast<std::size_t>(j) * k + centre] = (nx + nz) - 2 * dot;
          margin[static_cast<std::size_t>(j) * k + centre] = relative * ((nx + nz) + 2 * dot);
        }
      }
    }
    for (int j = 0; j < n; ++j) {
      const double* a = approx.data() + static_cast<std::size_t>(j) * k;
      const double* m = margin.data() + static_cast<std::size_t>(j) * k;
      int lead = 0;
      for (int c = 1; c < k; ++c)
        if (a[c] < a[lead]) lead = c;
      bool close = false;
      for (int c = 0; c < k && !close; ++c) close = c != lead && a[c] - a[lead] <= m[c] + m[lead];
      const std::uint8_t* x = points[j];
      int winner = lead;
      double winnerDist = 0.0;
      if (close) {
        // The ordered sums decide among the centres within reach of the leader.
        double best = DBL_MAX;
        for (int c = 0; c < k; ++c) {
          if (c != lead && a[c] - a[lead] > m[c] + m[lead]) continue;
          const double d = OrderedDistance(x, centres + static_cast<std::size_t>(c) * dim_, dim_);
          if (d < best) {
            best = d;
            winner = c;
          }
        }
        winnerDist = best;
      } else if (sqDist) {
        winnerDist = OrderedDistance(x, centres + static_cast<std::size_t>(winner) * dim_, dim_);
      }
      closest[first + j] = winner;
      if (sqDist) sqDist[first + j] = winnerDist;
    }
  }
}

void KMeansByteScan::nearestOrdered(int k, const double* centres, int* closest,
                                    double* sqDist) const {
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
  double bestDist[kPointBlock];
  for (int first = 0; first < count_; first += kPointBlock) {
    const int n = std::min(kPointBlock, count_ - first);
    for (int j = 0; j < n; ++j) {
      rows[j] = bytes_.data() + static_cast<std::size_t>(first + j) * dim_;
      best[j] = DBL_MAX;
      closest[first + j] = 0;
    }
    for (int b = 0; b < blocks; ++b) {
      kernel(rows, n, lanes.data() + static_cast<std::size_t>(b) * dim_ * kLanes, dim_, dist);
      const int inBlock = std::min(kLanes, k - b * kLanes);
      for (int j = 0; j < n; ++j) {
        // Strictly nearer replaces, from the largest double on: the first centre keeps a
        // point that no centre is finitely near, as in the tree's passes.
        if (b == 0) bestDist[j] = dist[kLanes * j];
        for (int c = 0; c < inBlock; ++c) {
          const double d = dist[kLanes * j + c];
          if (d < best[j]) {
            best[j] = d;
            bestDist[j] = d;
            closest[first + j] = b * kLanes + c;
          }
        }
      }
    }
    if (sqDist)
      for (int j = 0; j < n; ++j) sqDist[first + j] = bestDist[j];
  }
}

void KMeansByteScan::filter(int k, const double* centres, double* sums, int* weights,
                            double* sumSqs) const {
  if (k <= 0) return;
  closest_.resize(static_cast<std::size_t>(count_));
  nearest(k, centres, closest_.data(), nullptr);
  // Whole numbers below 2^53 add up exactly, so these equal the tree's sums whatever order
  // it visits the points in.
  std::vector<std::uint32_t> total(static_cast<std::size_t>(k) * dim_, 0);
  std::vector<std::int64_t> totalSq(static_cast<std::size_t>(k), 0);
  std::fill(weights, weights + k, 0);
  const auto accumulate = __builtin_cpu_supports("avx2") ? AccumulateWide : AccumulatePortable;
  for (int i = 0; i < count_; ++i) {
    const int c = closest_[static_cast<std::size_t>(i)];
    const std::uint8_t* p = bytes_.data() + static_cast<std::size_t>(i) * dim_;
    std::uint32_t* s = total.data() + static_cast<std::size_t>(c) * dim_;
    accumulate(s, p, dim_);
    totalSq[static_cast<std::size_t>(c)] += norms_[static_cast<std::size_t>(i)];
    ++weights[c];
  }
  for (std::size_t i = 0; i < total.size(); ++i) sums[i] = static_cast<double>(total[i]);
  for (int c = 0; c < k; ++c) sumSqs[c] = static_cast<double>(totalSq[static_cast<std::size_t>(c)]);
}

void KMeansByteScan::assign(int k, const double* centres, int* closest, double* sqDist) const {
  if (k <= 0) return;
  if (closest) {
    nearest(k, centres, closest, sqDist);
    return;
  }
  std::vector<int> scratch(static_cast<std::size_t>(count_));
  nearest(k, centres, scratch.data(), sqDist);
}
