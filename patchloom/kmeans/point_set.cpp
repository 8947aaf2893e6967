// Point sets, point helpers and the sampling of centres from the points.
#include "patchloom/kmeans/point_set.h"

#include <algorithm>
#include <cstring>
#include <iomanip>
#include <ostream>
#include <stdexcept>
#include <vector>

#include "patchloom/kmeans/byte_scan.h"
#include "patchloom/kmeans/kc_tree.h"
#include "patchloom/kmeans/kmeans_random.h"

double KMeansSquaredDistance(int dim, const double* a, const double* b) {
  double sum = 0.0;
  for (int d = 0; d < dim; ++d) {
    const double diff = a[d] - b[d];
    sum += diff * diff;
  }
  return sum;
}

bool KMeansPointsEqual(int dim, const double* a, const double* b) {
  for (int d = 0; d < dim; ++d) {
    if (a[d] != b[d]) return false;
  }
  return true;
}

void KMeansPrintPoint(std::ostream& out, int dim, const double* point) {
  out << "[ ";
  for (int d = 0; d < dim; ++d) {
    if (d > 0) out << " ";
    out << std::setw(8) << point[d];
  }
  out << " ]";
}

void KMeansPrintPoints(std::ostream& out, const std::string& title, int dim, int count,
                       const double* points) {
  out << "  (" << title << ":\n";
  for (int i = 0; i < count; ++i) {
    out << "    " << i << "\t";
    KMeansPrintPoint(out, dim, points + static_cast<std::size_t>(i) * dim);
    out << "\n";
  }
  out << "  )\n";
}

KMeansPointSet::KMeansPointSet(int dim, int count) : dim_(dim), count_(count), capacity_(count) {
  if (dim < 1) throw std::invalid_argument("k-means point set: dimension must be at least 1");
  if (count < 0) throw std::invalid_argument("k-means point set: negative point count");
  // Never a null block, even for no points: a tree over a null array is a fatal error.
  const std::size_t size = std::max<std::size_t>(1, static_cast<std::size_t>(count) * dim);
  points_.reset(new double[size]());
}

KMeansPointSet::~KMeansPointSet() = default;

namespace {
// The kc-tree prunes a centre only where a cell is small against the distances between
// centres, which needs many cuts in every dimension: far more levels than a tree over
// thousands of points has once the points have more than a few dozen dimensions. Measured:
// at 192 dimensions and more it visits every point of every pass (the patch vectors of this
// system have 192 to 3072). The bound of 32 is a cautious guess below that, not a measured
// crossover.
constexpr int kScanMinDimension = 32;
}  // namespace

void KMeansPointSet::buildTree() {
  tree_.reset();
  scan_.reset();
  tree_ = std::make_unique<KcTree>(points_.get(), count_, dim_);
}

void KMeansPointSet::buildIndex() {
  tree_.reset();
  scan_.reset();
  if (dim_ >= kScanMinDimension) scan_ = KMeansByteScan::ofBytes(points_.get(), count_, dim_);
  if (!scan_) buildTree();
}

void KMeansPointSet::filter(int k, const double* centres, double* sums, int* weights,
                            double* sumSqs) const {
  if (scan_) {
    scan_->filter(k, centres, sums, weights, sumSqs);
  } else if (tree_) {
    tree_->filter(k, centres, sums, weights, sumSqs);
  } else {
    throw std::logic_error("k-means point set: no tree or scan built");
  }
}

void KMeansPointSet::assign(int k, const double* centres, int* closest, double* sqDist) const {
  if (scan_) {
    scan_->assign(k, centres, closest, sqDist);
  } else if (tree_) {
    tree_->assign(k, centres, closest, sqDist);
  } else {
    throw std::logic_error("k-means point set: no tree or scan built");
  }
}

void KMeansPointSet::copyPoint(int i, double* out) const {
  if (scan_) {
    scan_->copyPoint(i, out);
  } else {
    std::memcpy(out, point(i), sizeof(double) * dim_);
  }
}

void KMeansPointSet::samplePoint(double* out) const {
  if (count_ == 0) throw std::logic_error("k-means point set: no point to sample");
  copyPoint(KMeansRandomIndex(count_), out);
}

void KMeansPointSet::samplePoints(double* out, int k, bool allowDuplicates) const {
  if (k <= 0) return;
  if (count_ == 0) throw std::logic_error("k-means point set: no point to sample");
  std::vector<int> taken;
  taken.reserve(static_cast<std::size_t>(k));
  for (int i = 0; i < k; ++i) {
    int r = KMeansRandomIndex(count_);
    // Drawing until new could never end once every index is in use.
    const bool distinct = !allowDuplicates && i < count_;
    while (distinct && std::find(taken.begin(), taken.end(), r) != taken.end()) {
      r = KMeansRandomIndex(count_);
    }
    taken.push_back(r);
    copyPoint(r, out + static_cast<std::size_t>(i) * dim_);
  }
}
