// Centre sets over a point set: plain centres, and the filtering centre set that keeps what
// one filtering pass over the kc-tree yields and moves its centres.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <vector>

#include "patchloom/kmeans/point_set.h"

class KMeansCenterSet {
 public:
  // k centres (all 0) over `points`, which is borrowed and must outlive the set. Throws
  // std::invalid_argument for k < 1.
  KMeansCenterSet(int k, KMeansPointSet& points);
  KMeansCenterSet(const KMeansCenterSet&) = default;
  KMeansCenterSet& operator=(const KMeansCenterSet&) = default;
  virtual ~KMeansCenterSet();
  // The centres as a "Center_Points" point list.
  virtual void print(std::ostream& out) const;

  int k() const { return k_; }
  int dim() const { return points_->dim(); }
  KMeansPointSet& points() const { return *points_; }
  // Centre i, dim doubles; centres follow each other without gaps.
  const double* center(int i) const { return centers_.data() + offset(i); }
  const double* centers() const { return centers_.data(); }
  // Writable centre i; whatever was computed from the centres is recomputed when next read.
  double* center(int i) {
    centersChanged();
    return centers_.data() + offset(i);
  }

 protected:
  virtual void centersChanged() {}
  std::size_t offset(int i) const { return static_cast<std::size_t>(i) * points_->dim(); }

  int k_;
  KMeansPointSet* points_;
  std::vector<double> centers_;
};

class KMeansFilterCenterSet : public KMeansCenterSet {
 public:
  // Builds the point set's kc-tree first (with the warning "Building kc-tree") when it has
  // none. `damping` weighs the step toward the means in lloydStep (1.0 moves onto them).
  KMeansFilterCenterSet(int k, KMeansPointSet& points, double damping = 1.0);
  KMeansFilterCenterSet(const KMeansFilterCenterSet&) = default;
  KMeansFilterCenterSet& operator=(const KMeansFilterCenterSet&) = default;
  ~KMeansFilterCenterSet() override;
  // Each centre as four spaces, its index in width 4, a tab, the point, " dist = " and its
  // distortion in width 8, one a line.
  void print(std::ostream& out) const override;

  // Runs the filtering pass and computes every centre's distortion (sum of squared distances
  // of its points) and their total.
  void computeDistortions();
  // The total and per-centre distortions, computed first when the centres have changed.
  double totalDistortion();
  double distortion(int i);
  // Per-centre results of the last pass: point count, sum and sum of squared norms.
  int weight(int i) const { return weights_[static_cast<std::size_t>(i)]; }
  const double* sum(int i) const { return sums_.data() + offset(i); }
  double sumOfSquares(int i) const { return sumSqs_[static_cast<std::size_t>(i)]; }
  bool valid() const { return valid_; }
  double damping() const { return damping_; }

  // Moves every centre that has points toward their mean (onto it with damping 1.0); a
  // centre without points stays where it is.
  void lloydStep();
  // Replaces a random centre by a sampled point; without duplicates by one equal to none of
  // the present centres, unless every point equals one of them.
  void swap(bool allowDuplicates);
  // Draws all k centres afresh from the points, distinct ones as far as the points allow.
  void resampleAll();
  // For every point (by index) its nearest centre, ties to the lower index, and the squared
  // distance to it; either output may be null.
  void GetAssignments(int* closest, double* sqDist) const;

 protected:
  void centersChanged() override {
    valid_ = false;
    passCurrent_ = false;
  }

 private:
  std::vector<double> sums_;
  std::vector<double> sumSqs_;
  std::vector<int> weights_;
  std::vector<double> distortions_;
  double total_;
  bool valid_ = false;
  // The arrays above hold the filtering pass of the present centres: a Lloyd step that has
  // converged moves no centre, and the pass need not run again.
  bool passCurrent_ = false;
  double damping_;
};
