// Centre sets: the filtering pass's per-centre results, distortions and centre moves.
#include "patchloom/kmeans/center_set.h"

#include <cfloat>
#include <cstdint>
#include <cstring>
#include <iomanip>
#include <ostream>
#include <stdexcept>
#include <vector>

#include "patchloom/kmeans/kmeans_random.h"

namespace {

// For K centres (rows of dim doubles) their squared norms and the dot products with their
// sums, each summed in dimension order; the 2K sums run side by side, with the same
// roundings as one after another but without each addition waiting on the one before.
template <int K>
void SideBySideSums(int dim, const double* centres, const double* sums, double* cc, double* sc) {
  double norm[K] = {};
  double dot[K] = {};
  for (int j = 0; j < dim; ++j) {
    for (int i = 0; i < K; ++i) {
      const double c = centres[static_cast<std::size_t>(i) * dim + j];
      norm[i] += c * c;
      dot[i] += sums[static_cast<std::size_t>(i) * dim + j] * c;
    }
  }
  for (int i = 0; i < K; ++i) {
    cc[i] = norm[i];
    sc[i] = dot[i];
  }
}

// c = damping * s / w + (1 - damping) * c over dim coordinates; true when a coordinate
// changed in any bit. Wider instructions where the processor has them, the same roundings.
__attribute__((target_clones("avx2", "default"))) bool MoveTowardMean(int dim, double damping,
                                                                      const double* __restrict s,
                                                                      int w, double* __restrict c) {
  const double weight = w;
  const double keep = 1 - damping;
  std::uint64_t changed = 0;
  for (int j = 0; j < dim; ++j) {
    const double moved = damping * s[j] / weight + keep * c[j];
    std::uint64_t before, after;
    std::memcpy(&before, &c[j], sizeof before);
    std::memcpy(&after, &moved, sizeof after);
    changed |= before ^ after;
    c[j] = moved;
  }
  return changed != 0;
}

}  // namespace

KMeansCenterSet::KMeansCenterSet(int k, KMeansPointSet& points) : k_(k), points_(&points) {
  if (k < 1) throw std::invalid_argument("k-means centre set: at least one centre is needed");
  centers_.assign(static_cast<std::size_t>(k) * points.dim(), 0.0);
}

KMeansCenterSet::~KMeansCenterSet() = default;

void KMeansCenterSet::print(std::ostream& out) const {
  KMeansPrintPoints(out, "Center_Points", dim(), k_, centers_.data());
}

KMeansFilterCenterSet::KMeansFilterCenterSet(int k, KMeansPointSet& points, double damping)
    : KMeansCenterSet(k, points), total_(DBL_MAX), damping_(damping) {
  if (!points.hasIndex()) {
    KMeansReportError("Building kc-tree", false);
    points.buildTree();
  }
  const std::size_t kk = static_cast<std::size_t>(k);
  sums_.assign(kk * points.dim(), 0.0);
  sumSqs_.assign(kk, 0.0);
  weights_.assign(kk, 0);
  distortions_.assign(kk, 0.0);
}

KMeansFilterCenterSet::~KMeansFilterCenterSet() = default;

void KMeansFilterCenterSet::print(std::ostream& out) const {
  for (int i = 0; i < k_; ++i) {
    out << "    " << std::setw(4) << i << "\t";
    KMeansPrintPoint(out, dim(), KMeansCenterSet::center(i));
    out << " dist = " << std::setw(8) << distortions_[i] << "\n";
  }
}

void KMeansFilterCenterSet::computeDistortions() {
  if (passCurrent_) {
    valid_ = true;
    return;
  }
  points_->filter(k_, centers_.data(), sums_.data(), weights_.data(), sumSqs_.data());
  passCurrent_ = true;
  std::vector<double> cc(static_cast<std::size_t>(k_)), sc(static_cast<std::size_t>(k_));
  if (k_ == 4) {
    SideBySideSums<4>(dim(), centers_.data(), sums_.data(), cc.data(), sc.data());
  } else {
    for (int i = 0; i < k_; ++i)
      SideBySideSums<1>(dim(), centers_.data() + offset(i), sums_.data() + offset(i), &cc[i],
                        &sc[i]);
  }
  total_ = 0.0;
  for (int i = 0; i < k_; ++i) {
    distortions_[i] = weights_[i] * cc[i] + sumSqs_[i] - 2 * sc[i];
    total_ += distortions_[i];
  }
  valid_ = true;
}

double KMeansFilterCenterSet::totalDistortion() {
  if (!valid_) computeDistortions();
  return total_;
}

double KMeansFilterCenterSet::distortion(int i) {
  if (!valid_) computeDistortions();
  return distortions_[static_cast<std::size_t>(i)];
}

void KMeansFilterCenterSet::lloydStep() {
  if (!valid_) computeDistortions();
  bool moved = false;
  for (int i = 0; i < k_; ++i) {
    const int w = weights_[i];
    if (w <= 0) continue;
    moved =
        MoveTowardMean(dim(), damping_, sums_.data() + offset(i), w, centers_.data() + offset(i)) ||
        moved;
  }
  valid_ = false;
  passCurrent_ = passCurrent_ && !moved;
}

void KMeansFilterCenterSet::swap(bool allowDuplicates) {
  const int r = KMeansRandomIndex(k_);
  const int d = dim();
  std::vector<double> candidate(static_cast<std::size_t>(d));
  auto isCentre = [&](const double* p) {
    for (int i = 0; i < k_; ++i) {
      if (KMeansPointsEqual(d, p, centers_.data() + offset(i))) return true;
    }
    return false;
  };
  points_->samplePoint(candidate.data());
  if (!allowDuplicates && isCentre(candidate.data())) {
    // Drawing until the point is new would never end when no such point exists.
    bool anyNew = false;
    for (int i = 0; i < points_->count() && !anyNew; ++i) anyNew = !isCentre(points_->point(i));
    while (anyNew && isCentre(candidate.data())) points_->samplePoint(candidate.data());
  }
  std::memcpy(centers_.data() + offset(r), candidate.data(), sizeof(double) * d);
  valid_ = false;
  passCurrent_ = false;
}

void KMeansFilterCenterSet::resampleAll() {
  points_->samplePoints(centers_.data(), k_, false);
  valid_ = false;
  passCurrent_ = false;
}

void KMeansFilterCenterSet::GetAssignments(int* closest, double* sqDist) const {
  points_->assign(k_, centers_.data(), closest, sqDist);
}
