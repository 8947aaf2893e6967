// The kc-tree: a space partition over a point set whose nodes carry the count, the sum and
// the sum of squared norms of the points below them, so that one filtering pass gives every
// centre the sums of its nearest points without visiting most points one by one.
#pragma once

#include <iosfwd>
#include <memory>
#include <vector>

namespace kmeans_detail {
struct Pass;
struct Sampler;
}  // namespace kmeans_detail

class KcTree;

// A node of the tree. The cell of a node is the root's bounding box narrowed by the cuts on
// the way down; it is carried by the traversals rather than stored in every node.
class KcTreeNode {
 public:
  virtual ~KcTreeNode() = default;
  // Fills the node's count, sum and sum of squared norms from the points below it; returns
  // the count.
  virtual int computeSums(const KcTree& tree) = 0;
  virtual void filter(kmeans_detail::Pass& pass, int level) const = 0;
  virtual void assign(kmeans_detail::Pass& pass, int level) const = 0;
  virtual void sample(kmeans_detail::Sampler& sampler, double* out) const = 0;
  // Debugging aid: the node and everything below it, one node a line.
  virtual void print(std::ostream& out, const KcTree& tree, int level) const = 0;

  int count() const { return count_; }
  // dim doubles: the sum of the points below the node.
  const double* sum() const { return sum_; }
  double sumOfSquares() const { return sumOfSquares_; }
  bool isLeaf() const { return isLeaf_; }

 protected:
  KcTreeNode(int count, bool isLeaf) : count_(count), isLeaf_(isLeaf) {}
  int count_;
  bool isLeaf_;
  const double* sum_ = nullptr;
  double* ownSum_ = nullptr;  // null when the sum is the node's only point itself
  double sumOfSquares_ = 0.0;
  friend class KcTree;
};

class KcTreeSplitNode final : public KcTreeNode {
 public:
  KcTreeSplitNode(int count, int cutDim, double cutValue, double lowBound, double highBound,
                  KcTreeNode* low, KcTreeNode* high)
      : KcTreeNode(count, false),
        cutDim_(cutDim),
        cutValue_(cutValue),
        lowBound_(lowBound),
        highBound_(highBound),
        low_(low),
        high_(high) {}

  int computeSums(const KcTree& tree) override;
  void filter(kmeans_detail::Pass& pass, int level) const override;
  void assign(kmeans_detail::Pass& pass, int level) const override;
  void sample(kmeans_detail::Sampler& sampler, double* out) const override;
  void print(std::ostream& out, const KcTree& tree, int level) const override;

  int cutDim() const { return cutDim_; }
  double cutValue() const { return cutValue_; }
  // The cell's bounds in the cut dimension before the cut.
  double lowBound() const { return lowBound_; }
  double highBound() const { return highBound_; }
  // Points with a coordinate below the cut value are below low(), above it below high();
  // points on the cut may be on either side. Both sides hold at least one point.
  const KcTreeNode* low() const { return low_; }
  const KcTreeNode* high() const { return high_; }

 private:
  template <bool kAccumulate>
  void visit(kmeans_detail::Pass& pass, int level) const;

  int cutDim_;
  double cutValue_;
  double lowBound_;
  double highBound_;
  KcTreeNode* low_;  // owned by the tree
  KcTreeNode* high_;
};

class KcTreeLeafNode final : public KcTreeNode {
 public:
  KcTreeLeafNode(int count, const int* indices) : KcTreeNode(count, true), indices_(indices) {}

  int computeSums(const KcTree& tree) override;
  void filter(kmeans_detail::Pass& pass, int level) const override;
  void assign(kmeans_detail::Pass& pass, int level) const override;
  void sample(kmeans_detail::Sampler& sampler, double* out) const override;
  void print(std::ostream& out, const KcTree& tree, int level) const override;

  // count() point indices into the tree's points.
  const int* indices() const { return indices_; }

 private:
  const int* indices_;  // into the tree's index array
};

class KcTree {
 public:
  // Builds the tree over `count` points of `dim` doubles each, stored one after the other
  // at `points` (borrowed: it must outlive the tree and not change). `indices` (count
  // entries in 0..count-1, copied) replaces the identity order when given; the box corners
  // (dim doubles each, copied; they must enclose every point) replace the points' bounding
  // box when both are given. A null `points` is a fatal error that ends the process; an
  // index out of range throws std::invalid_argument.
  KcTree(const double* points, int count, int dim, int capacity = 0, const int* indices = nullptr,
         const double* boxLow = nullptr, const double* boxHigh = nullptr);
  ~KcTree();
  KcTree(const KcTree&) = delete;
  KcTree& operator=(const KcTree&) = delete;

  int dim() const { return dim_; }
  int count() const { return count_; }
  int capacity() const { return capacity_; }
  const double* points() const { return points_; }
  const double* point(int i) const { return points_ + static_cast<std::size_t>(i) * dim_; }
  const int* indices() const { return indices_.data(); }
  const double* boxLow() const { return boxLow_.data(); }
  const double* boxHigh() const { return boxHigh_.data(); }
  const KcTreeNode* root() const { return root_; }
  // Levels below the root (0 for a single leaf).
  int depth() const { return depth_; }
  // Squared norm of point i.
  double pointNorm(int i) const { return norms_[static_cast<std::size_t>(i)]; }

  // One filtering pass: for the k centres (k rows of dim doubles), zeroes and then fills
  // the per-centre sums (k rows), weights (point counts) and sums of squared norms of the
  // points nearest to each centre. Ties go to the lower centre index.
  void filter(int k, const double* centres, double* sums, int* weights, double* sumSqs) const;
  // For every point its nearest centre (ties to the lower index) and squared distance,
  // written at the point's index; either output may be null.
  void assign(int k, const double* centres, int* closest, double* sqDist) const;
  // A point drawn inside the tree: usually one of the points, sometimes a uniform point of
  // a node's widened cell. Throws std::logic_error on an empty tree.
  void samplePoint(double* out) const;
  void print(std::ostream& out) const;

  // Points whose nearest centre the last pass had to find one by one (the rest were
  // settled a whole cell at a time).
  long lastPassScannedPoints() const { return lastScanned_; }

 private:
  KcTreeNode* buildNode(int* indices, int n, int level);
  void runPass(kmeans_detail::Pass& pass) const;

  int dim_;
  int count_;
  int capacity_;
  const double* points_;
  std::vector<int> indices_;
  std::vector<double> boxLow_;
  std::vector<double> boxHigh_;
  std::vector<double> norms_;
  std::vector<double> sumStorage_;
  std::vector<std::unique_ptr<KcTreeNode>> nodes_;
  KcTreeNode* root_ = nullptr;
  int depth_ = 0;
  mutable long lastScanned_ = 0;

  // Scratch for the build: the current cell and the points' extent in it.
  std::vector<double> cellLow_, cellHigh_, extentLow_, extentHigh_;
  std::vector<double> coords_;
};
