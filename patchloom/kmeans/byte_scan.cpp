// The plain scan over byte points. Each (point, centre) distance is one chain of additions
// in dimension order, exactly as KMeansSquaredDistance rounds it; speed comes from running
// many such chains side by side (four centres in the lanes of a vector, eight points in
// separate registers), never from reordering one of them.
#include "patchloom/kmeans/byte_scan.h"

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
  for (int i = 0; i < count_; ++i) {
    const int c = closest_[static_cast<std::size_t>(i)];
    const std::uint8_t* p = bytes_.data() + static_cast<std::size_t>(i) * dim_;
    std::uint32_t* s = total.data() + static_cast<std::size_t>(c) * dim_;
    for (int d = 0; d < dim_; ++d) s[d] += p[d];
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
