// A set of points of one dimension, held as one contiguous block, with the kc-tree built
// over it.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <memory>
#include <string>

class KcTree;
class KMeansByteScan;

// Sum over the dimensions, in order, of (a - b)^2.
double KMeansSquaredDistance(int dim, const double* a, const double* b);

// True when every coordinate of a equals that of b.
bool KMeansPointsEqual(int dim, const double* a, const double* b);

// "[ " then each coordinate in width 8 separated by " ", then " ]".
void KMeansPrintPoint(std::ostream& out, int dim, const double* point);

// "  (" title ":" and a line end, each point as four spaces, its index, a tab, the point and a
// line end, then "  )" and a line end. `points` holds count rows of dim doubles.
void KMeansPrintPoints(std::ostream& out, const std::string& title, int dim, int count,
                       const double* points);

class KMeansPointSet {
 public:
  // Room for `count` points of `dim` coordinates, all 0, and no tree. Throws
  // std::invalid_argument for dim < 1 or count < 0, std::bad_alloc when memory runs out.
  KMeansPointSet(int dim, int count);
  KMeansPointSet(const KMeansPointSet&) = delete;
  KMeansPointSet& operator=(const KMeansPointSet&) = delete;

  int dim() const { return dim_; }
  int count() const { return count_; }
  int capacity() const { return capacity_; }

  // Point i, dim doubles; rows follow each other without gaps.
  double* point(int i) { return points_.get() + static_cast<std::size_t>(i) * dim_; }
  const double* point(int i) const { return points_.get() + static_cast<std::size_t>(i) * dim_; }
  const double* data() const { return points_.get(); }

  // Builds the kc-tree over every point, replacing an earlier one. Fill the points first:
  // the tree keeps sums of them.
  void buildTree();
  // The tree, or null until buildTree.
  const KcTree* tree() const { return tree_.get(); }
  // Prepares the nearest-centre passes once the points are filled: a plain scan over a byte
  // copy of the points when every coordinate is a whole number in 0..255 and the points
  // have too many dimensions for the tree to prune, the kc-tree otherwise. Both give the
  // same results bit for bit.
  void buildIndex();
  // True once buildTree or buildIndex has prepared the passes.
  bool hasIndex() const { return tree_ != nullptr || scan_ != nullptr; }
  bool scans() const { return scan_ != nullptr; }

  // The filtering and assignment passes of KcTree::filter and KcTree::assign, through
  // whichever of the two was prepared. Throws std::logic_error before either.
  void filter(int k, const double* centres, double* sums, int* weights, double* sumSqs) const;
  void assign(int k, const double* centres, int* closest, double* sqDist) const;

  // Copies point KMeansRandomIndex(count) into `out` (dim doubles). Throws std::logic_error
  // on an empty set.
  virtual void samplePoint(double* out) const;
  // Fills k rows of `out` with sampled points. Without duplicates an index already drawn in
  // this call is drawn again until it is new; once every index is taken (k > count) the
  // remaining rows may repeat points. Throws std::logic_error on an empty set.
  virtual void samplePoints(double* out, int k, bool allowDuplicates) const;
  virtual ~KMeansPointSet();

 private:
  // Point i into `out` (dim doubles), from the scan's byte copy when there is one.
  void copyPoint(int i, double* out) const;

  int dim_;
  int count_;
  int capacity_;
  std::unique_ptr<double[]> points_;
  std::unique_ptr<KcTree> tree_;
  std::unique_ptr<KMeansByteScan> scan_;
};
