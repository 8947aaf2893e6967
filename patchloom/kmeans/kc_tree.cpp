// Building the kc-tree, its sums, and the filtering, assignment and sampling traversals.
//
// The pruning test of a split node compares, for a candidate z against the candidate z*
// nearest to the cell's midpoint, |z - z*|^2 with 2 (z - z*).(v - z*), v the cell corner
// farthest toward z. In the dimensions this library serves (hundreds to thousands) almost
// nothing is pruned near the root, so evaluating that sum afresh at every node would cost
// more than scanning the points. A child's cell differs from its parent's in one coordinate
// only, so for small centre counts every quantity of the test is kept per candidate pair and
// brought from parent to child in a few operations. Every kept quantity carries a bound on
// its rounding error, and a centre is pruned only when the test holds beyond that bound and
// beyond the rounding of the point-to-centre distances themselves: the traversal then finds
// exactly the centre that a scan of all centres with the same distance arithmetic finds.
#include "patchloom/kmeans/kc_tree.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <ostream>
#include <stdexcept>

#include "patchloom/kmeans/kmeans_random.h"
#include "patchloom/kmeans/point_set.h"

namespace {

constexpr double kWidthTolerance = 0.001;
// Deeper than this the cut goes through the median coordinate instead of the cell midpoint,
// so that chains of one-point splits cannot make the tree (and every recursion over it)
// as deep as the point count.
constexpr int kMidpointLevels = 96;
// A node's cell is widened by this factor around its centre when a point is drawn in it.
constexpr double kSampleWidening = 3.0;
constexpr double kEps = DBL_EPSILON;

}  // namespace

namespace kmeans_detail {

// Above this many centres the per-pair state (k*k doubles a level) is not kept and every
// node evaluates its tests afresh.
constexpr int kPairStateMaxCentres = 32;

typedef double Pair __attribute__((vector_size(16)));

// Squared distances from p to the four centres of one transposed block (block[4*d + j] is
// coordinate d of centre j), each summed over the dimensions in order with the operations of
// KMeansSquaredDistance, so the four results equal it bit for bit. Two-lane vectors keep the
// accumulators in registers on every x86-64.
inline void blockDistances(const double* p, const double* block, int dim, double* out) {
  Pair acc01 = {0.0, 0.0};
  Pair acc23 = {0.0, 0.0};
  for (int d = 0; d < dim; ++d) {
    Pair z01, z23;
    std::memcpy(&z01, block + 4 * static_cast<std::size_t>(d), sizeof z01);
    std::memcpy(&z23, block + 4 * static_cast<std::size_t>(d) + 2, sizeof z23);
    const Pair x = {p[d], p[d]};
    const Pair e01 = x - z01;
    const Pair e23 = x - z23;
    acc01 += e01 * e01;
    acc23 += e23 * e23;
  }
  std::memcpy(out, &acc01, sizeof acc01);
  std::memcpy(out + 2, &acc23, sizeof acc23);
}

// The same for four points at once: sixteen independent sums keep the adder busy where one
// point's four sums would wait on each other. out[4*j + c] is point j's distance to centre c.
inline void blockDistances4(const double* const* p, const double* block, int dim, double* out) {
  Pair a0 = {0.0, 0.0}, a1 = a0, b0 = a0, b1 = a0, c0 = a0, c1 = a0, d0 = a0, d1 = a0;
  const double* p0 = p[0];
  const double* p1 = p[1];
  const double* p2 = p[2];
  const double* p3 = p[3];
  for (int d = 0; d < dim; ++d) {
    Pair z01, z23;
    std::memcpy(&z01, block + 4 * static_cast<std::size_t>(d), sizeof z01);
    std::memcpy(&z23, block + 4 * static_cast<std::size_t>(d) + 2, sizeof z23);
    const Pair x0 = {p0[d], p0[d]};
    const Pair x1 = {p1[d], p1[d]};
    const Pair x2 = {p2[d], p2[d]};
    const Pair x3 = {p3[d], p3[d]};
    Pair e = x0 - z01;
    a0 += e * e;
    e = x0 - z23;
    a1 += e * e;
    e = x1 - z01;
    b0 += e * e;
    e = x1 - z23;
    b1 += e * e;
    e = x2 - z01;
    c0 += e * e;
    e = x2 - z23;
    c1 += e * e;
    e = x3 - z01;
    d0 += e * e;
    e = x3 - z23;
    d1 += e * e;
  }
  const Pair all[8] = {a0, a1, b0, b1, c0, c1, d0, d1};
  std::memcpy(out, all, sizeof all);
}

// Leaf points waiting for their nearest centre, settled four at a time.
constexpr int kBatch = 4;
struct PendingPoint {
  int index;
  std::uint32_t candidates;  // bit c set when centre c is a candidate
};

struct Pass {
  const KcTree* tree = nullptr;
  int dim = 0;
  int k = 0;
  const double* centres = nullptr;
  std::unique_ptr<double[]> lanes;  // centres transposed in blocks of four
  int blocks = 0;
  double* sums = nullptr;
  int* weights = nullptr;
  double* sumSqs = nullptr;
  int* closest = nullptr;
  double* sqDist = nullptr;
  std::vector<double> lo, hi;  // the current cell
  bool pairState = false;
  std::vector<double> g, gErr;      // |zi - zj|^2 and its rounding bound, k*k
  std::vector<unsigned char> same;  // zi and zj equal in every coordinate
  double leafFactor = 0.0;          // relative rounding bound of one dim-term sum
  std::size_t slot = 0;             // doubles of state per level
  std::unique_ptr<double[]> state;
  std::vector<int> cands;  // k per level
  std::vector<int> candCount;
  std::vector<double> dist;  // a leaf's point-to-centre distances, blocks*4
  bool accumulate = false;
  PendingPoint pending[kBatch];
  int pendingCount = 0;
  std::vector<double> batchDist;  // kBatch points x blocks*4
  long scanned = 0;

  const double* centre(int c) const { return centres + static_cast<std::size_t>(c) * dim; }
  double* level(int L) {
    return state.get() + (pairState ? static_cast<std::size_t>(L) : 0) * slot;
  }
  double* mid(int L) { return level(L); }
  double* far(int L) { return level(L) + k; }
  double* farErr(int L) { return level(L) + 2 * k; }
  double* pair(int L) { return level(L) + 3 * k; }
  double* pairErr(int L) {
    return pair(L) + (pairState ? static_cast<std::size_t>(k) * k : static_cast<std::size_t>(k));
  }
  int* cand(int L) { return cands.data() + static_cast<std::size_t>(L) * k; }

  // Squared distance from the cell midpoint to centre c, and from the cell corner farthest
  // from it, evaluated afresh.
  void centreState(int L, int c) {
    const double* z = centre(c);
    double toMid = 0.0;
    double toFar = 0.0;
    for (int d = 0; d < dim; ++d) {
      const double e = (lo[d] + hi[d]) / 2 - z[d];
      toMid += e * e;
      const double a = lo[d] - z[d];
      const double b = hi[d] - z[d];
      toFar += std::max(a * a, b * b);
    }
    mid(L)[c] = toMid;
    far(L)[c] = toFar;
    farErr(L)[c] = leafFactor * toFar;
  }

  // (zc - zj).(v - zj), v the cell corner farthest toward zc, evaluated afresh.
  double pairBound(int c, int j, double* err) const {
    const double* zc = centre(c);
    const double* zj = centre(j);
    double sum = 0.0;
    double magnitude = 0.0;
    for (int d = 0; d < dim; ++d) {
      const double u = zc[d] - zj[d];
      const double v = u > 0 ? hi[d] : lo[d];
      const double t = u * (v - zj[d]);
      sum += t;
      magnitude += std::fabs(t);
    }
    *err = leafFactor * magnitude;
    return sum;
  }

  // True when centre c can be nearest to no point of the cell, z* being nearer everywhere.
  bool pruned(int L, int c, int zs) {
    const std::size_t idx = static_cast<std::size_t>(c) * k + zs;
    // An equal centre with a later index loses every tie.
    if (same[idx]) return c > zs;
    const std::size_t at = pairState ? idx : static_cast<std::size_t>(c);
    const double G = g[idx];
    const double P = pair(L)[at];
    const double* f = far(L);
    const double* fe = farErr(L);
    const double margin = gErr[idx] + 2 * pairErr(L)[at] + 2 * kEps * (G + 2 * std::fabs(P)) +
                          leafFactor * (f[c] + fe[c] + f[zs] + fe[zs]);
    return G - 2 * P > margin;
  }

  // Brings the kept candidates' state from level L to the child at L + 1, whose cell differs
  // in dimension cd only: [l, cv] for the low child, [cv, h] for the high one.
  void deriveChild(int L, bool lowSide, int cd, double l, double h, double cv) {
    const int n = candCount[L + 1];
    const int* next = cand(L + 1);
    const double* mid0 = mid(L);
    const double* far0 = far(L);
    const double* farErr0 = farErr(L);
    const double* pair0 = pair(L);
    const double* pairErr0 = pairErr(L);
    double* mid1 = mid(L + 1);
    double* far1 = far(L + 1);
    double* farErr1 = farErr(L + 1);
    double* pair1 = pair(L + 1);
    double* pairErr1 = pairErr(L + 1);
    const double mOld = (l + h) / 2;
    const double mNew = lowSide ? (l + cv) / 2 : (cv + h) / 2;
    const double nl = lowSide ? l : cv;
    const double nh = lowSide ? cv : h;
    for (int a = 0; a < n; ++a) {
      const int c = next[a];
      const double z = centre(c)[cd];
      const double eOld = mOld - z;
      const double eNew = mNew - z;
      mid1[c] = mid0[c] + (eNew * eNew - eOld * eOld);
      const double tOld = std::max((l - z) * (l - z), (h - z) * (h - z));
      const double tNew = std::max((nl - z) * (nl - z), (nh - z) * (nh - z));
      far1[c] = far0[c] + (tNew - tOld);
      farErr1[c] = farErr0[c] + 4 * kEps * (tNew + tOld + std::fabs(far1[c]));
    }
    for (int a = 0; a < n; ++a) {
      const int c = next[a];
      const double zc = centre(c)[cd];
      for (int b = 0; b < n; ++b) {
        const int j = next[b];
        if (j == c) continue;
        const std::size_t idx = static_cast<std::size_t>(c) * k + j;
        const double zj = centre(j)[cd];
        const double u = zc - zj;
        // Only the corner coordinate toward zc moves: the high one for the low child when
        // u > 0, the low one for the high child when u < 0. Selected without a branch, as
        // the signs follow no pattern.
        const bool moves = lowSide ? u > 0 : u < 0;
        const double tOld = u * ((lowSide ? h : l) - zj);
        const double tNew = u * (cv - zj);
        const double change = moves ? tNew - tOld : 0.0;
        pair1[idx] = pair0[idx] + change;
        pairErr1[idx] =
            pairErr0[idx] +
            (moves ? 4 * kEps * (std::fabs(tNew) + std::fabs(tOld) + std::fabs(pair1[idx])) : 0.0);
      }
    }
  }

  // The candidate of level L nearest to p, the first of equal ones; its distance in *d.
  int nearest(int L, const double* p, double* d) {
    const int n = candCount[L];
    const int* list = cand(L);
    int lastBlock = -1;
    for (int a = 0; a < n; ++a) {
      const int b = list[a] / 4;
      if (b != lastBlock) {
        blockDistances(p, lanes.get() + static_cast<std::size_t>(b) * dim * 4, dim,
                       dist.data() + 4 * b);
        lastBlock = b;
      }
    }
    double best = DBL_MAX;
    int winner = list[0];
    for (int a = 0; a < n; ++a) {
      if (dist[list[a]] < best) {
        best = dist[list[a]];
        winner = list[a];
      }
    }
    *d = dist[winner];
    return winner;
  }

  // Gives a scanned point its centre: its totals in the filtering pass, its entries in the
  // assignment pass.
  void settle(int index, int c, double d) {
    if (accumulate) {
      addTotals(c, 1, tree->point(index), tree->pointNorm(index));
    } else {
      if (closest) closest[index] = c;
      if (sqDist) sqDist[index] = d;
    }
  }

  // Queues a point whose nearest centre is among the candidates of level L. Only with the
  // per-pair state, where k <= 32 fits the mask; otherwise settles it at once.
  void scan(int L, int index) {
    ++scanned;
    if (!pairState) {
      double d;
      const int c = nearest(L, tree->point(index), &d);
      settle(index, c, d);
      return;
    }
    std::uint32_t mask = 0;
    const int* list = cand(L);
    for (int a = 0; a < candCount[L]; ++a) mask |= std::uint32_t{1} << list[a];
    pending[pendingCount++] = {index, mask};
    if (pendingCount == kBatch) flush();
  }

  void flush() {
    const int stride = blocks * 4;
    if (pendingCount == kBatch) {
      std::uint32_t any = 0;
      const double* pts[kBatch];
      for (int j = 0; j < kBatch; ++j) {
        any |= pending[j].candidates;
        pts[j] = tree->point(pending[j].index);
      }
      double block[kBatch * 4];
      for (int b = 0; b < blocks; ++b) {
        if (((any >> (4 * b)) & 0xf) == 0) continue;
        blockDistances4(pts, lanes.get() + static_cast<std::size_t>(b) * dim * 4, dim, block);
        for (int j = 0; j < kBatch; ++j) {
          std::memcpy(&batchDist[j * stride + 4 * b], &block[4 * j], 4 * sizeof(double));
        }
      }
    } else {
      for (int j = 0; j < pendingCount; ++j) {
        const double* pt = tree->point(pending[j].index);
        for (int b = 0; b < blocks; ++b) {
          if (((pending[j].candidates >> (4 * b)) & 0xf) == 0) continue;
          blockDistances(pt, lanes.get() + static_cast<std::size_t>(b) * dim * 4, dim,
                         &batchDist[j * stride + 4 * b]);
        }
      }
    }
    for (int j = 0; j < pendingCount; ++j) {
      const double* dj = &batchDist[j * stride];
      double best = DBL_MAX;
      int winner = -1;
      for (std::uint32_t m = pending[j].candidates; m != 0; m &= m - 1) {
        const int c = __builtin_ctz(m);
        if (winner < 0) winner = c;
        if (dj[c] < best) {
          best = dj[c];
          winner = c;
        }
      }
      settle(pending[j].index, winner, dj[winner]);
    }
    pendingCount = 0;
  }

  void addTotals(int c, int count, const double* sum, double sumSq) {
    if (count == 0) return;
    double* s = sums + static_cast<std::size_t>(c) * dim;
    for (int d = 0; d < dim; ++d) s[d] += sum[d];
    weights[c] += count;
    sumSqs[c] += sumSq;
  }
};

struct Sampler {
  const KcTree* tree = nullptr;
  std::vector<double> lo, hi;
};

}  // namespace kmeans_detail

using kmeans_detail::Pass;
using kmeans_detail::Sampler;

// ---------------------------------------------------------------------------------------
// Nodes

int KcTreeLeafNode::computeSums(const KcTree& tree) {
  const int dim = tree.dim();
  if (count_ == 1) {
    sum_ = tree.point(indices_[0]);
    sumOfSquares_ = tree.pointNorm(indices_[0]);
    return count_;
  }
  std::fill(ownSum_, ownSum_ + dim, 0.0);
  sumOfSquares_ = 0.0;
  for (int i = 0; i < count_; ++i) {
    const double* p = tree.point(indices_[i]);
    for (int d = 0; d < dim; ++d) {
      ownSum_[d] += p[d];
      sumOfSquares_ += p[d] * p[d];
    }
  }
  return count_;
}

int KcTreeSplitNode::computeSums(const KcTree& tree) {
  const int dim = tree.dim();
  count_ = low_->computeSums(tree) + high_->computeSums(tree);
  std::fill(ownSum_, ownSum_ + dim, 0.0);
  for (int d = 0; d < dim; ++d) ownSum_[d] += low_->sum()[d];
  for (int d = 0; d < dim; ++d) ownSum_[d] += high_->sum()[d];
  sumOfSquares_ = 0.0;
  sumOfSquares_ += low_->sumOfSquares();
  sumOfSquares_ += high_->sumOfSquares();
  return count_;
}

template <bool kAccumulate>
void KcTreeSplitNode::visit(Pass& p, int L) const {
  const int n = p.candCount[L];
  const int* list = p.cand(L);
  if (n == 1) {
    if (kAccumulate) {
      p.addTotals(list[0], count_, sum_, sumOfSquares_);
      return;
    }
    p.candCount[L + 1] = 1;
    p.cand(L + 1)[0] = list[0];
  } else {
    if (!p.pairState) {
      for (int a = 0; a < n; ++a) p.centreState(L, list[a]);
    }
    const double* toMid = p.mid(L);
    double best = DBL_MAX;
    int zs = list[0];
    for (int a = 0; a < n; ++a) {
      if (toMid[list[a]] < best) {
        best = toMid[list[a]];
        zs = list[a];
      }
    }
    if (!p.pairState) {
      for (int a = 0; a < n; ++a) {
        if (list[a] != zs) p.pair(L)[list[a]] = p.pairBound(list[a], zs, &p.pairErr(L)[list[a]]);
      }
    }
    int* next = p.cand(L + 1);
    int kept = 0;
    for (int a = 0; a < n; ++a) {
      if (list[a] == zs || !p.pruned(L, list[a], zs)) next[kept++] = list[a];
    }
    p.candCount[L + 1] = kept;
  }
  // Leaves need only the candidate list.
  const bool derive = p.pairState && p.candCount[L + 1] > 1;
  const int cd = cutDim_;
  const double l = p.lo[cd];
  const double h = p.hi[cd];

  p.hi[cd] = cutValue_;
  if (derive && !low_->isLeaf()) p.deriveChild(L, true, cd, l, h, cutValue_);
  if (kAccumulate)
    low_->filter(p, L + 1);
  else
    low_->assign(p, L + 1);
  p.hi[cd] = h;

  p.lo[cd] = cutValue_;
  if (derive && !high_->isLeaf()) p.deriveChild(L, false, cd, l, h, cutValue_);
  if (kAccumulate)
    high_->filter(p, L + 1);
  else
    high_->assign(p, L + 1);
  p.lo[cd] = l;
}

void KcTreeSplitNode::filter(Pass& p, int L) const { visit<true>(p, L); }
void KcTreeSplitNode::assign(Pass& p, int L) const { visit<false>(p, L); }

void KcTreeLeafNode::filter(Pass& p, int L) const {
  if (p.candCount[L] == 1) {
    p.addTotals(p.cand(L)[0], count_, sum_, sumOfSquares_);
    return;
  }
  for (int i = 0; i < count_; ++i) p.scan(L, indices_[i]);
}

void KcTreeLeafNode::assign(Pass& p, int L) const {
  if (p.candCount[L] > 1) {
    for (int i = 0; i < count_; ++i) p.scan(L, indices_[i]);
    return;
  }
  const int c = p.cand(L)[0];
  for (int i = 0; i < count_; ++i) {
    const int idx = indices_[i];
    const double d = p.sqDist ? KMeansSquaredDistance(p.dim, p.tree->point(idx), p.centre(c)) : 0.0;
    p.settle(idx, c, d);
  }
}

void KcTreeSplitNode::sample(Sampler& s, double* out) const {
  const int span = count_ > INT_MAX / 2 ? INT_MAX : 2 * count_ - 1;
  const int r = KMeansRandomIndex(span);
  if (r == 0) {
    const int dim = s.tree->dim();
    for (int d = 0; d < dim; ++d) {
      const double widen = (kSampleWidening - 1.0) * (s.hi[d] - s.lo[d]) / 2.0;
      out[d] = KMeansRandomUniform(s.lo[d] - widen, s.hi[d] + widen);
    }
  } else if (r <= 2 * low_->count() - 1) {
    const double h = s.hi[cutDim_];
    s.hi[cutDim_] = cutValue_;
    low_->sample(s, out);
    s.hi[cutDim_] = h;
  } else {
    const double l = s.lo[cutDim_];
    s.lo[cutDim_] = cutValue_;
    high_->sample(s, out);
    s.lo[cutDim_] = l;
  }
}

void KcTreeLeafNode::sample(Sampler& s, double* out) const {
  if (count_ == 0) throw std::logic_error("kc-tree: no point to sample");
  const double* p = s.tree->point(indices_[KMeansRandomIndex(count_)]);
  std::memcpy(out, p, sizeof(double) * s.tree->dim());
}

void KcTreeSplitNode::print(std::ostream& out, const KcTree& tree, int level) const {
  out << std::string(2 * static_cast<std::size_t>(level), ' ') << "Split cd=" << cutDim_
      << " cv=" << cutValue_ << " nd=" << count_ << " sm=";
  KMeansPrintPoint(out, tree.dim(), sum_);
  out << " ss=" << sumOfSquares_ << "\n";
  low_->print(out, tree, level + 1);
  high_->print(out, tree, level + 1);
}

void KcTreeLeafNode::print(std::ostream& out, const KcTree&, int level) const {
  out << std::string(2 * static_cast<std::size_t>(level), ' ') << "Leaf n=" << count_ << " <";
  for (int i = 0; i < count_; ++i) out << (i ? " " : "") << indices_[i];
  out << ">\n";
}

// ---------------------------------------------------------------------------------------
// Tree

KcTree::KcTree(const double* points, int count, int dim, int capacity, const int* indices,
               const double* boxLow, const double* boxHigh)
    : dim_(dim), count_(count), capacity_(std::max(capacity, count)), points_(points) {
  if (points == nullptr) KMeansReportError("Points must be supplied to construct tree.", true);
  if (dim < 1) throw std::invalid_argument("kc-tree: dimension must be at least 1");
  if (count < 0) throw std::invalid_argument("kc-tree: negative point count");

  indices_.resize(static_cast<std::size_t>(count));
  if (indices) {
    for (int i = 0; i < count; ++i) {
      if (indices[i] < 0 || indices[i] >= count) {
        throw std::invalid_argument("kc-tree: point index out of range");
      }
      indices_[i] = indices[i];
    }
  } else {
    std::iota(indices_.begin(), indices_.end(), 0);
  }

  if (boxLow && boxHigh) {
    boxLow_.assign(boxLow, boxLow + dim);
    boxHigh_.assign(boxHigh, boxHigh + dim);
  } else if (count == 0) {
    boxLow_.assign(static_cast<std::size_t>(dim), 0.0);
    boxHigh_.assign(static_cast<std::size_t>(dim), 0.0);
  } else {
    boxLow_.assign(point(0), point(0) + dim);
    boxHigh_ = boxLow_;
    for (int i = 1; i < count; ++i) {
      const double* p = point(i);
      for (int d = 0; d < dim; ++d) {
        boxLow_[d] = std::min(boxLow_[d], p[d]);
        boxHigh_[d] = std::max(boxHigh_[d], p[d]);
      }
    }
  }

  norms_.resize(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const double* p = point(i);
    double sumSq = 0.0;
    for (int d = 0; d < dim; ++d) sumSq += p[d] * p[d];
    norms_[i] = sumSq;
  }

  cellLow_ = boxLow_;
  cellHigh_ = boxHigh_;
  extentLow_.resize(static_cast<std::size_t>(dim));
  extentHigh_.resize(static_cast<std::size_t>(dim));
  nodes_.reserve(count > 0 ? 2 * static_cast<std::size_t>(count) - 1 : 1);
  root_ = buildNode(indices_.data(), count, 0);

  // One block for every sum that is not simply a one-point leaf's point.
  std::size_t owned = 0;
  for (const auto& node : nodes_) owned += node->count() != 1 ? 1 : 0;
  sumStorage_.assign(owned * dim, 0.0);
  double* next = sumStorage_.data();
  for (const auto& node : nodes_) {
    if (node->count() != 1) {
      node->ownSum_ = next;
      node->sum_ = next;
      next += dim;
    }
  }
  root_->computeSums(*this);

  cellLow_ = {};
  cellHigh_ = {};
  extentLow_ = {};
  extentHigh_ = {};
  coords_ = {};
}

KcTree::~KcTree() = default;

KcTreeNode* KcTree::buildNode(int* idx, int n, int level) {
  depth_ = std::max(depth_, level);
  if (n <= 1) {
    nodes_.push_back(std::make_unique<KcTreeLeafNode>(n, idx));
    return nodes_.back().get();
  }

  // The points' extent in every dimension.
  {
    double* __restrict low = extentLow_.data();
    double* __restrict high = extentHigh_.data();
    std::copy(point(idx[0]), point(idx[0]) + dim_, low);
    std::copy(point(idx[0]), point(idx[0]) + dim_, high);
    for (int i = 1; i < n; ++i) {
      const double* __restrict p = point(idx[i]);
      for (int d = 0; d < dim_; ++d) {
        low[d] = std::min(low[d], p[d]);
        high[d] = std::max(high[d], p[d]);
      }
    }
  }

  // Among the cell's sides within the tolerance of the longest, the one along which the
  // points spread most; when the points do not spread along any of them, the dimension of
  // widest spread anywhere (the first dimension for identical points).
  const bool midpoint = level < kMidpointLevels;
  int cd = -1;
  double bestSpread = -1.0;
  if (midpoint) {
    double longest = 0.0;
    for (int d = 0; d < dim_; ++d) longest = std::max(longest, cellHigh_[d] - cellLow_[d]);
    const double wide = (1.0 - kWidthTolerance) * longest;
    for (int d = 0; d < dim_; ++d) {
      const double spread = extentHigh_[d] - extentLow_[d];
      if (cellHigh_[d] - cellLow_[d] >= wide && spread > bestSpread) {
        bestSpread = spread;
        cd = d;
      }
    }
  }
  if (cd < 0 || !(bestSpread > 0.0)) {
    cd = 0;
    bestSpread = -1.0;
    for (int d = 0; d < dim_; ++d) {
      const double spread = extentHigh_[d] - extentLow_[d];
      if (spread > bestSpread) {
        bestSpread = spread;
        cd = d;
      }
    }
  }

  double cv;
  if (midpoint) {
    // The cell midpoint, slid to the nearest coordinate when every point is on one side.
    cv = (cellLow_[cd] + cellHigh_[cd]) / 2;
    if (cv < extentLow_[cd]) cv = extentLow_[cd];
    if (cv > extentHigh_[cd]) cv = extentHigh_[cd];
  } else {
    coords_.resize(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) coords_[i] = point(idx[i])[cd];
    // NaN sorts last, so the order stays a strict weak one.
    auto before = [](double a, double b) { return a < b || (!std::isnan(a) && std::isnan(b)); };
    std::nth_element(coords_.begin(), coords_.begin() + n / 2, coords_.end(), before);
    cv = coords_[n / 2];
  }

  // Three-way partition: below the cut, on it, above it.
  int below = 0;
  for (int i = 0; i < n; ++i) {
    if (point(idx[i])[cd] < cv) std::swap(idx[i], idx[below++]);
  }
  int atOrBelow = below;
  for (int i = below; i < n; ++i) {
    if (point(idx[i])[cd] == cv) std::swap(idx[i], idx[atOrBelow++]);
  }
  // Points on the cut go to whichever side brings the split nearest to half.
  const int half = n / 2;
  int nLow;
  if (std::isnan(cv)) {
    nLow = half;
  } else if (below > half) {
    nLow = below;
  } else if (atOrBelow < half) {
    nLow = atOrBelow;
  } else {
    nLow = half;
  }
  nLow = std::clamp(nLow, 1, n - 1);

  const double lowBound = cellLow_[cd];
  const double highBound = cellHigh_[cd];
  cellHigh_[cd] = cv;
  KcTreeNode* low = buildNode(idx, nLow, level + 1);
  cellHigh_[cd] = highBound;
  cellLow_[cd] = cv;
  KcTreeNode* high = buildNode(idx + nLow, n - nLow, level + 1);
  cellLow_[cd] = lowBound;

  nodes_.push_back(std::make_unique<KcTreeSplitNode>(n, cd, cv, lowBound, highBound, low, high));
  return nodes_.back().get();
}

namespace {

void preparePass(Pass& p, const KcTree& tree, int k, const double* centres) {
  const int dim = tree.dim();
  p.tree = &tree;
  p.dim = dim;
  p.k = k;
  p.centres = centres;
  p.blocks = (k + 3) / 4;
  const std::size_t laneCount = static_cast<std::size_t>(p.blocks) * dim * 4;
  p.lanes.reset(new double[laneCount]());
  for (int c = 0; c < k; ++c) {
    double* block = p.lanes.get() + static_cast<std::size_t>(c / 4) * dim * 4;
    const double* z = p.centre(c);
    for (int d = 0; d < dim; ++d) block[4 * static_cast<std::size_t>(d) + c % 4] = z[d];
  }
  p.dist.assign(static_cast<std::size_t>(p.blocks) * 4, 0.0);
  p.batchDist.assign(static_cast<std::size_t>(kmeans_detail::kBatch) * p.blocks * 4, 0.0);
  p.lo.assign(tree.boxLow(), tree.boxLow() + dim);
  p.hi.assign(tree.boxHigh(), tree.boxHigh() + dim);
  p.leafFactor = (dim + 8) * kEps;

  const std::size_t kk = static_cast<std::size_t>(k) * k;
  p.g.assign(kk, 0.0);
  p.gErr.assign(kk, 0.0);
  p.same.assign(kk, 0);
  for (int i = 0; i < k; ++i) {
    for (int j = i + 1; j < k; ++j) {
      const double G = KMeansSquaredDistance(dim, p.centre(i), p.centre(j));
      const bool equal = KMeansPointsEqual(dim, p.centre(i), p.centre(j));
      for (const std::size_t idx :
           {static_cast<std::size_t>(i) * k + j, static_cast<std::size_t>(j) * k + i}) {
        p.g[idx] = G;
        p.gErr[idx] = p.leafFactor * G;
        p.same[idx] = equal;
      }
    }
  }

  const int levels = tree.depth() + 2;
  p.pairState = k <= kmeans_detail::kPairStateMaxCentres;
  p.slot = 3 * static_cast<std::size_t>(k) + 2 * (p.pairState ? kk : static_cast<std::size_t>(k));
  p.state.reset(new double[p.slot * (p.pairState ? levels : 1)]);
  p.cands.assign(static_cast<std::size_t>(levels) * k, 0);
  p.candCount.assign(static_cast<std::size_t>(levels), 0);
  std::iota(p.cands.begin(), p.cands.begin() + k, 0);
  p.candCount[0] = k;
  if (p.pairState && k > 1) {
    for (int c = 0; c < k; ++c) p.centreState(0, c);
    for (int c = 0; c < k; ++c) {
      for (int j = 0; j < k; ++j) {
        if (j == c) continue;
        const std::size_t idx = static_cast<std::size_t>(c) * k + j;
        p.pair(0)[idx] = p.pairBound(c, j, &p.pairErr(0)[idx]);
      }
    }
  }
}

}  // namespace

void KcTree::filter(int k, const double* centres, double* sums, int* weights,
                    double* sumSqs) const {
  if (k <= 0) return;
  std::fill(sums, sums + static_cast<std::size_t>(k) * dim_, 0.0);
  std::fill(weights, weights + k, 0);
  std::fill(sumSqs, sumSqs + k, 0.0);
  Pass pass;
  preparePass(pass, *this, k, centres);
  pass.sums = sums;
  pass.weights = weights;
  pass.sumSqs = sumSqs;
  pass.accumulate = true;
  root_->filter(pass, 0);
  pass.flush();
  lastScanned_ = pass.scanned;
}

void KcTree::assign(int k, const double* centres, int* closest, double* sqDist) const {
  if (k <= 0) return;
  Pass pass;
  preparePass(pass, *this, k, centres);
  pass.closest = closest;
  pass.sqDist = sqDist;
  root_->assign(pass, 0);
  pass.flush();
  lastScanned_ = pass.scanned;
}

void KcTree::samplePoint(double* out) const {
  Sampler s;
  s.tree = this;
  s.lo = boxLow_;
  s.hi = boxHigh_;
  root_->sample(s, out);
}

void KcTree::print(std::ostream& out) const { root_->print(out, *this, 0); }
