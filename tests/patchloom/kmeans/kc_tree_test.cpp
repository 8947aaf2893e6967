// The kc-tree: its shape on awkward point sets, and its passes against a scan of all centres.
#include "patchloom/kmeans/kc_tree.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "kmeans_test_data.h"
#include "patchloom/kmeans/center_set.h"
#include "patchloom/kmeans/kmeans_random.h"
#include "patchloom/kmeans/point_set.h"

namespace {

using kmeans_test::Data;

struct Walk {
  const KcTree& tree;
  std::vector<int> seen;
  std::vector<double> lo, hi;
  int splits = 0;

  // Checks one node against its cell; returns the indices below it.
  std::vector<int> visit(const KcTreeNode* node) {
    const int dim = tree.dim();
    std::vector<int> below;
    if (auto* split = dynamic_cast<const KcTreeSplitNode*>(node)) {
      ++splits;
      const int cd = split->cutDim();
      const double cv = split->cutValue();
      EXPECT_EQ(split->lowBound(), lo[cd]);
      EXPECT_EQ(split->highBound(), hi[cd]);
      EXPECT_GE(cv, lo[cd]);
      EXPECT_LE(cv, hi[cd]);
      EXPECT_GE(split->low()->count(), 1);
      EXPECT_GE(split->high()->count(), 1);
      const double h = hi[cd];
      hi[cd] = cv;
      below = visit(split->low());
      hi[cd] = h;
      for (int i : below) EXPECT_LE(tree.point(i)[cd], cv);
      const double l = lo[cd];
      lo[cd] = cv;
      const std::vector<int> high = visit(split->high());
      lo[cd] = l;
      for (int i : high) EXPECT_GE(tree.point(i)[cd], cv);
      below.insert(below.end(), high.begin(), high.end());
    } else {
      auto* leaf = dynamic_cast<const KcTreeLeafNode*>(node);
      EXPECT_NE(leaf, nullptr);
      EXPECT_LE(leaf->count(), 1);
      below.assign(leaf->indices(), leaf->indices() + leaf->count());
      for (int i : below) {
        ++seen[i];
        for (int d = 0; d < dim; ++d) {
          EXPECT_GE(tree.point(i)[d], lo[d]);
          EXPECT_LE(tree.point(i)[d], hi[d]);
        }
      }
    }
    EXPECT_EQ(node->count(), static_cast<int>(below.size()));
    double sumSq = 0.0;
    for (int d = 0; d < dim; ++d) {
      double s = 0.0;
      for (int i : below) {
        s += tree.point(i)[d];
        sumSq += tree.point(i)[d] * tree.point(i)[d];
      }
      if (!below.empty()) {
        EXPECT_NEAR(node->sum()[d], s, 1e-12 * std::fabs(s)) << "dimension " << d;
      }
    }
    EXPECT_NEAR(node->sumOfSquares(), sumSq, 1e-12 * sumSq);
    return below;
  }
};

struct ShapeCase {
  const char* name;
  int dim;
  int n;
  double (*coordinate)(int i, int d);
};

const ShapeCase kShapes[] = {
    {"no points", 3, 0, [](int, int) { return 0.0; }},
    {"one point", 3, 1, [](int, int d) { return d + 1.0; }},
    {"two equal points", 2, 2, [](int, int) { return 5.0; }},
    {"all points equal", 4, 257, [](int, int) { return 7.0; }},
    {"equal in the widest dimension only", 3, 64,
     [](int i, int d) { return d == 0 ? 100.0 * (i % 2) : (d == 1 ? 0.0 : i % 5); }},
    {"many repeats", 2, 500, [](int i, int d) { return static_cast<double>((i * (d + 3)) % 3); }},
    // One-hot points: every midpoint cut splits off a single point.
    {"one-hot chain", 400, 400, [](int i, int d) { return i == d ? 255.0 : 0.0; }},
    {"powers of two", 1, 200, [](int i, int) { return std::ldexp(1.0, -(i % 60)) * (i / 60 + 1); }},
    {"bytes", 16, 300, [](int i, int d) { return static_cast<double>((i * 37 + d * 101) % 256); }},
};

TEST(KcTreeTest, BuildsValidTreesOnAwkwardPointSets) {
  for (const ShapeCase& c : kShapes) {
    SCOPED_TRACE(c.name);
    KMeansPointSet points(c.dim, c.n);
    for (int i = 0; i < c.n; ++i) {
      for (int d = 0; d < c.dim; ++d) points.point(i)[d] = c.coordinate(i, d);
    }
    points.buildTree();
    const KcTree& tree = *points.tree();
    Walk walk{tree,
              std::vector<int>(c.n, 0),
              {tree.boxLow(), tree.boxLow() + c.dim},
              {tree.boxHigh(), tree.boxHigh() + c.dim}};
    walk.visit(tree.root());
    for (int i = 0; i < c.n; ++i) EXPECT_EQ(walk.seen[i], 1) << "point " << i;
    EXPECT_EQ(walk.splits, c.n > 0 ? c.n - 1 : 0);
    // Midpoint cuts give way to median cuts deep down, so no chain runs as deep as n.
    EXPECT_LE(tree.depth(), 96 + static_cast<int>(std::log2(c.n + 1.0)) + 2);
    if (c.n == 0) continue;

    // Deep and lopsided trees still find every point's nearest centre.
    std::vector<double> centres;
    for (int i : {0, c.n / 2, c.n - 1}) {
      for (int d = 0; d < c.dim; ++d) centres.push_back(points.point(i)[d] + 0.125 * (i % 3));
    }
    const kmeans_test::Reference ref = kmeans_test::bruteForce(points, 3, centres.data());
    std::vector<int> closest(c.n);
    std::vector<double> sqDist(c.n);
    tree.assign(3, centres.data(), closest.data(), sqDist.data());
    EXPECT_EQ(closest, ref.closest);
    EXPECT_EQ(sqDist, ref.sqDist);
  }
}

TEST(KcTreeTest, OnePointIsOneLeaf) {
  KMeansPointSet points(2, 1);
  points.buildTree();
  EXPECT_NE(dynamic_cast<const KcTreeLeafNode*>(points.tree()->root()), nullptr);
  EXPECT_EQ(points.tree()->depth(), 0);
}

TEST(KcTreeTest, RejectsIndicesOutOfRange) {
  const double coords[] = {0, 1, 2};
  const int bad[] = {0, 3, 1};
  EXPECT_THROW(KcTree(coords, 3, 1, 0, bad), std::invalid_argument);
  const int good[] = {2, 0, 1};
  KcTree tree(coords, 3, 1, 8, good);
  EXPECT_EQ(tree.capacity(), 8);
  EXPECT_EQ(tree.root()->count(), 3);
}

TEST(KcTreeDeathTest, NullPointsAreFatal) {
  EXPECT_EXIT(
      KcTree(nullptr, 3, 2), testing::ExitedWithCode(1),
      "kmeans: ERROR------->Points must be supplied to construct tree.<-------------ERROR\n");
}

struct OracleCase {
  int dim;
  int n;
  int k;
  Data kind;
  std::uint32_t seed;
};

const OracleCase kOracle[] = {
    {2, 3000, 4, Data::kSmallIntegers, 11},
    {2, 3000, 4, Data::kBlobs, 12},
    {2, 2000, 4, Data::kReal, 13},
    {2, 2000, 40, Data::kBytes, 14},  // many centres: no per-pair state
    {16, 2000, 4, Data::kBytes, 21},
    {16, 2000, 4, Data::kBlobs, 22},
    {16, 1500, 7, Data::kReal, 23},
    {16, 1500, 40, Data::kBlobs, 24},
    {768, 400, 4, Data::kBytes, 31},
    {768, 400, 4, Data::kBlobs, 32},
    {768, 300, 5, Data::kReal, 33},
    {3072, 200, 4, Data::kBytes, 41},
    {3072, 200, 4, Data::kBlobs, 42},
    {3072, 150, 4, Data::kSmallIntegers, 43},
};

const char* name(Data kind) {
  switch (kind) {
    case Data::kSmallIntegers:
      return "small integers";
    case Data::kBytes:
      return "bytes";
    case Data::kBlobs:
      return "blobs";
    case Data::kReal:
      return "reals";
  }
  return "?";
}

// Both passes must find what a scan of every centre finds: the same nearest centre (ties to
// the lower index) and bit for bit the same distance; the sums are exact for integer points.
// KMEANS_ORACLE_SEED shifts every case's seed, to explore further point sets.
TEST(KcTreeTest, PassesMatchBruteForce) {
  const char* shift = std::getenv("KMEANS_ORACLE_SEED");
  const std::uint32_t base =
      shift ? static_cast<std::uint32_t>(std::strtoul(shift, nullptr, 10)) : 0;
  std::printf("oracle seed shift %u\n", base);
  for (OracleCase c : kOracle) {
    c.seed += base;
    std::ostringstream trace;
    trace << "dim " << c.dim << ", " << c.n << " points, k " << c.k << ", " << name(c.kind)
          << ", seed " << c.seed;
    SCOPED_TRACE(trace.str());
    KMeansPointSet points(c.dim, c.n);
    const std::vector<double> centres = kmeans_test::fill(points, c.kind, c.k, c.seed);
    points.buildTree();
    const KcTree& tree = *points.tree();
    const kmeans_test::Reference ref = kmeans_test::bruteForce(points, c.k, centres.data());

    std::vector<int> closest(c.n, -1);
    std::vector<double> sqDist(c.n, -1.0);
    tree.assign(c.k, centres.data(), closest.data(), sqDist.data());
    int wrong = 0;
    for (int i = 0; i < c.n; ++i) {
      if (closest[i] != ref.closest[i] || sqDist[i] != ref.sqDist[i]) ++wrong;
    }
    EXPECT_EQ(wrong, 0);

    std::vector<double> sums(centres.size(), -1.0), sumSqs(c.k, -1.0);
    std::vector<int> weights(c.k, -1);
    tree.filter(c.k, centres.data(), sums.data(), weights.data(), sumSqs.data());
    EXPECT_EQ(weights, ref.weights);
    for (std::size_t j = 0; j < sums.size(); ++j) {
      if (c.kind == Data::kReal) {
        ASSERT_NEAR(sums[j], ref.sums[j], 1e-9 * (1 + std::fabs(ref.sums[j]))) << "sum " << j;
      } else {
        ASSERT_EQ(sums[j], ref.sums[j]) << "sum " << j;
      }
    }
    for (int z = 0; z < c.k; ++z) {
      EXPECT_NEAR(sumSqs[z], ref.sumSqs[z], c.kind == Data::kReal ? 1e-9 * ref.sumSqs[z] : 0.0);
    }
    // Tight groups in few dimensions let whole cells settle on one centre.
    if (c.kind == Data::kBlobs && c.dim == 2) {
      EXPECT_LT(tree.lastPassScannedPoints(), c.n / 10);
    }

    // Distortions from the pass's sums: those of the reference sums, and near the sum of
    // the points' squared distances.
    KMeansFilterCenterSet set(c.k, points);
    for (int z = 0; z < c.k; ++z) {
      std::copy(centres.begin() + z * c.dim, centres.begin() + (z + 1) * c.dim, set.center(z));
    }
    std::vector<double> perCentre(c.k, 0.0);
    double scale = 0.0;
    for (int i = 0; i < c.n; ++i) {
      perCentre[ref.closest[i]] += ref.sqDist[i];
      scale += ref.sqDist[i] + points.tree()->pointNorm(i);
    }
    double total = 0.0;
    for (int z = 0; z < c.k; ++z) {
      EXPECT_NEAR(set.distortion(z), perCentre[z], 1e-9 * scale) << "centre " << z;
      total += set.distortion(z);
      if (c.kind != Data::kReal) {
        double cc = 0.0, sc = 0.0;
        for (int d = 0; d < c.dim; ++d) {
          cc += centres[z * c.dim + d] * centres[z * c.dim + d];
          sc += ref.sums[z * c.dim + d] * centres[z * c.dim + d];
        }
        EXPECT_EQ(set.distortion(z), ref.weights[z] * cc + ref.sumSqs[z] - 2 * sc);
      }
    }
    EXPECT_EQ(set.totalDistortion(), total);
  }
}

// Point 1 lies halfway between the centres and on the corner of the cell [1, 2] that the
// pruning test looks at: an equal-distance corner must not prune the lower-index centre.
TEST(KcTreeTest, PointOnTheBisectorAtACellCornerGoesToTheLowerIndex) {
  KMeansPointSet points(1, 3);
  for (int i = 0; i < 3; ++i) points.point(i)[0] = i;
  points.buildTree();
  const double centres[] = {0.0, 2.0};
  int closest[3];
  double sqDist[3];
  points.tree()->assign(2, centres, closest, sqDist);
  EXPECT_EQ(closest[0], 0);
  EXPECT_EQ(closest[1], 0);
  EXPECT_EQ(closest[2], 1);
  EXPECT_EQ(sqDist[1], 1.0);
  double sums[2], sumSqs[2];
  int weights[2];
  points.tree()->filter(2, centres, sums, weights, sumSqs);
  EXPECT_EQ(weights[0], 2);
  EXPECT_EQ(sums[0], 1.0);
  EXPECT_EQ(weights[1], 1);
}

TEST(KcTreeTest, CellSamplesRepeatAndStayNearThePoints) {
  KMeansPointSet points(3, 50);
  kmeans_test::fill(points, Data::kBytes, 4, 5);
  points.buildTree();
  std::vector<double> first(300), second(300);
  KMeansRandomRestart();
  for (int i = 0; i < 100; ++i) points.tree()->samplePoint(&first[3 * i]);
  KMeansRandomRestart();
  for (int i = 0; i < 100; ++i) points.tree()->samplePoint(&second[3 * i]);
  EXPECT_EQ(first, second);
  int onPoints = 0;
  for (int i = 0; i < 100; ++i) {
    bool found = false;
    for (int j = 0; j < 50 && !found; ++j)
      found = KMeansPointsEqual(3, &first[3 * i], points.point(j));
    onPoints += found;
    for (int d = 0; d < 3; ++d) {
      // A uniform draw in a cell widened threefold stays within one box width of the box.
      const double w = points.tree()->boxHigh()[d] - points.tree()->boxLow()[d];
      EXPECT_GE(first[3 * i + d], points.tree()->boxLow()[d] - w);
      EXPECT_LE(first[3 * i + d], points.tree()->boxHigh()[d] + w);
    }
  }
  EXPECT_GT(onPoints, 0);
  EXPECT_LT(onPoints, 100);

  KMeansPointSet empty(2, 0);
  empty.buildTree();
  double out[2];
  EXPECT_THROW(empty.tree()->samplePoint(out), std::logic_error);
}

TEST(KcTreeTest, PrintsNodes) {
  const double coords[] = {1, 4};
  KcTree tree(coords, 2, 1);
  std::ostringstream out;
  tree.print(out);
  EXPECT_EQ(out.str(),
            "Split cd=0 cv=2.5 nd=2 sm=[        5 ] ss=17\n"
            "  Leaf n=1 <0>\n"
            "  Leaf n=1 <1>\n");
}

}  // namespace
