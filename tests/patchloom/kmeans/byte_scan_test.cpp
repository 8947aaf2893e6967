// The plain scan over byte points against the kc-tree and a brute-force pass, and the choice
// between the two.
#include "patchloom/kmeans/byte_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "kmeans_test_data.h"
#include "patchloom/kmeans/center_set.h"
#include "patchloom/kmeans/kc_tree.h"
#include "patchloom/kmeans/kmeans_random.h"
#include "patchloom/kmeans/local_search.h"
#include "patchloom/kmeans/point_set.h"

namespace {

using kmeans_test::Data;

struct PassResult {
  std::vector<double> sums, sumSqs, sqDist;
  std::vector<int> weights, closest;
  friend bool operator==(const PassResult&, const PassResult&) = default;
};

PassResult passesOf(const KMeansPointSet& points, int k, const double* centres) {
  PassResult r;
  r.sums.resize(static_cast<std::size_t>(k) * points.dim());
  r.sumSqs.resize(k);
  r.weights.resize(k);
  r.closest.resize(points.count());
  r.sqDist.resize(points.count());
  points.filter(k, centres, r.sums.data(), r.weights.data(), r.sumSqs.data());
  points.assign(k, centres, r.closest.data(), r.sqDist.data());
  return r;
}

// Blobs may reach a little past 0..255; patch vectors never do.
std::vector<double> fillBytes(KMeansPointSet& points, Data kind, int k, std::uint32_t seed) {
  std::vector<double> centres = kmeans_test::fill(points, kind, k, seed);
  for (int i = 0; i < points.count(); ++i)
    for (int d = 0; d < points.dim(); ++d)
      points.point(i)[d] = std::clamp(points.point(i)[d], 0.0, 255.0);
  return centres;
}

std::unique_ptr<KMeansPointSet> copyOf(const KMeansPointSet& points) {
  auto copy = std::make_unique<KMeansPointSet>(points.dim(), points.count());
  std::memcpy(copy->point(0), points.data(),
              sizeof(double) * points.count() * static_cast<std::size_t>(points.dim()));
  return copy;
}

TEST(KMeansByteScanTest, PassesEqualTheTreesAndBruteForceBitForBit) {
  struct Case {
    Data kind;
    int dim, count, k;
  } cases[] = {
      {Data::kBytes, 192, 300, 4}, {Data::kBytes, 768, 41, 4},
      {Data::kBytes, 3072, 9, 4},  {Data::kBlobs, 48, 500, 4},
      {Data::kBlobs, 192, 203, 7}, {Data::kSmallIntegers, 64, 120, 4},
      {Data::kBytes, 40, 17, 1},   {Data::kSmallIntegers, 33, 64, 9},
      {Data::kBytes, 100, 1, 3},   {Data::kBytes, 64, 0, 4},
  };
  std::uint32_t seed = 20261211;
  for (const Case& c : cases) {
    ++seed;
    SCOPED_TRACE(testing::Message()
                 << "dim " << c.dim << " count " << c.count << " k " << c.k << " seed " << seed);
    KMeansPointSet onTree(c.dim, c.count);
    std::vector<double> centres =
        c.count > 0 ? fillBytes(onTree, c.kind, c.k, seed)
                    : std::vector<double>(static_cast<std::size_t>(c.k) * c.dim, 1.5);
    auto onScan = copyOf(onTree);
    onTree.buildTree();
    onScan->buildIndex();
    ASSERT_TRUE(onScan->scans());
    const PassResult tree = passesOf(onTree, c.k, centres.data());
    const PassResult scan = passesOf(*onScan, c.k, centres.data());
    EXPECT_TRUE(scan == tree);
    if (c.count > 0) {
      const auto plain = kmeans_test::bruteForce(onTree, c.k, centres.data());
      EXPECT_EQ(scan.closest, plain.closest);
      EXPECT_EQ(scan.sqDist, plain.sqDist);
      EXPECT_EQ(scan.sums, plain.sums);
      EXPECT_EQ(scan.weights, plain.weights);
      EXPECT_EQ(scan.sumSqs, plain.sumSqs);
    }
  }
}

TEST(KMeansByteScanTest, ChosenOnlyForWholeBytesInManyDimensions) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* name;
    int dim;
    double odd;  // one coordinate's value; the rest are bytes
    bool scans;
  } cases[] = {
      {"bytes, 192 dimensions", 192, 255.0, true},
      {"bytes, 3 dimensions", 3, 7.0, false},
      {"a fraction", 192, 12.5, false},
      {"above a byte", 192, 256.0, false},
      {"negative", 192, -1.0, false},
      {"NaN", 192, nan, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    KMeansPointSet points(c.dim, 10);
    for (int i = 0; i < 10; ++i)
      for (int d = 0; d < c.dim; ++d) points.point(i)[d] = (i * 31 + d * 7) % 256;
    points.point(4)[c.dim - 1] = c.odd;
    points.buildIndex();
    EXPECT_EQ(points.scans(), c.scans);
    EXPECT_EQ(points.tree() != nullptr, !c.scans);
    EXPECT_EQ(KMeansByteScan::holdsBytes(points.data(), 10, c.dim), c.scans || c.dim < 32);
  }
  KMeansPointSet fractional(64, 2);
  fractional.point(1)[0] = 0.5;
  EXPECT_THROW(KMeansByteScan(fractional.data(), 2, 64), std::invalid_argument);
  KMeansPointSet none(64, 0);
  EXPECT_THROW(none.filter(1, nullptr, nullptr, nullptr, nullptr), std::logic_error);
}

// Centres 0 and 1 half a unit either side of point 7 in every coordinate that leaves room
// (the other centres as they were). With `lean` +1 the second, with -1 the first, moved
// 2^-10 further out in one coordinate.
std::vector<double> halfway(const std::vector<double>& last, const KMeansPointSet& points,
                            int lean) {
  const int dim = points.dim();
  std::vector<double> c = last;
  bool leaned = lean == 0;
  for (int d = 0; d < dim; ++d) {
    const double x = points.point(7)[d];
    const double half = x >= 1 && x <= 254 ? 0.5 : 0.0;
    c[d] = x + half;
    c[dim + d] = x - half;
    if (!leaned && half > 0) {
      if (lean > 0) c[dim + d] -= 0x1p-10;
      if (lean < 0) c[d] += 0x1p-10;
      leaned = true;
    }
  }
  return c;
}

// The passes keep what they found from one set of centres to the next; every pass must
// still equal a fresh brute-force one, however the centres moved in between.
TEST(KMeansByteScanTest, PassesAfterMovedCentresEqualBruteForce) {
  constexpr int kDim = 192, kCount = 300;
  using Centres = std::vector<double>;
  struct Step {
    const char* name;
    int k;
    // The next centres from the last ones and the points.
    Centres (*next)(const Centres& last, const KMeansPointSet& points);
  };
  const auto moveToMeans = [](const Centres& last, const KMeansPointSet& points) {
    const int k = static_cast<int>(last.size()) / kDim;
    const auto r = kmeans_test::bruteForce(points, k, last.data());
    Centres moved = last;
    for (int c = 0; c < k; ++c)
      for (int d = 0; d < kDim && r.weights[c] > 0; ++d)
        moved[c * kDim + d] = r.sums[c * kDim + d] / r.weights[c];
    return moved;
  };
  const Step steps[] = {
      {"first pass", 4, [](const Centres& last, const KMeansPointSet&) { return last; }},
      {"onto the means", 4, moveToMeans},
      {"onto the means again", 4, moveToMeans},
      {"the same centres", 4, [](const Centres& last, const KMeansPointSet&) { return last; }},
      {"one coordinate nudged", 4,
       [](const Centres& last, const KMeansPointSet&) {
         Centres c = last;
         c[kDim + 5] += 1e-9;
         return c;
       }},
      {"two centres equal", 4,
       [](const Centres& last, const KMeansPointSet&) {
         Centres c = last;
         std::copy(c.begin(), c.begin() + kDim, c.begin() + 2 * kDim);
         return c;
       }},
      {"a point halfway between two centres", 4,
       [](const Centres& last, const KMeansPointSet& points) { return halfway(last, points, 0); }},
      // Nearer one centre by far less than the quick sums can tell: the ordered sums must
      // decide, one way and then the other.
      {"a point nearly halfway, nearer the first", 4,
       [](const Centres& last, const KMeansPointSet& points) { return halfway(last, points, 1); }},
      {"a point nearly halfway, nearer the second", 4,
       [](const Centres& last, const KMeansPointSet& points) { return halfway(last, points, -1); }},
      {"a centre with a negative coordinate", 4,
       [](const Centres& last, const KMeansPointSet&) {
         Centres c = last;
         c[3 * kDim] = -1.0;
         return c;
       }},
      {"back to whole centres", 4, moveToMeans},
      {"a centre too far off for floats", 4,
       [](const Centres& last, const KMeansPointSet&) {
         Centres c = last;
         c[2 * kDim + 1] = 1e31;
         return c;
       }},
      {"onto the means from far off", 4, moveToMeans},
      {"fewer centres", 3,
       [](const Centres& last, const KMeansPointSet&) {
         return Centres(last.begin(), last.begin() + 3 * kDim);
       }},
      {"more centres again", 4,
       [](const Centres& last, const KMeansPointSet& points) {
         Centres c = last;
         c.insert(c.end(), points.point(11), points.point(11) + kDim);
         return c;
       }},
      {"onto the means once more", 4, moveToMeans},
      // Sampled centres are whole bytes, which the passes take in integers.
      {"centres sampled from the points, one twice", 4,
       [](const Centres&, const KMeansPointSet& points) {
         Centres c;
         for (const int i : {3, 5, 3, 9})
           c.insert(c.end(), points.point(i), points.point(i) + kDim);
         return c;
       }},
      {"onto the means from sampled centres", 4, moveToMeans},
  };
  for (const Data kind : {Data::kBytes, Data::kBlobs}) {
    const std::uint32_t seed = 4242u + static_cast<std::uint32_t>(kind);
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    KMeansPointSet points(kDim, kCount);
    Centres centres = fillBytes(points, kind, 4, seed);
    points.buildIndex();
    ASSERT_TRUE(points.scans());
    for (const Step& step : steps) {
      SCOPED_TRACE(step.name);
      centres = step.next(centres, points);
      ASSERT_EQ(centres.size(), static_cast<std::size_t>(step.k) * kDim);
      const PassResult scan = passesOf(points, step.k, centres.data());
      const auto plain = kmeans_test::bruteForce(points, step.k, centres.data());
      EXPECT_EQ(scan.closest, plain.closest);
      EXPECT_EQ(scan.sqDist, plain.sqDist);
      EXPECT_EQ(scan.sums, plain.sums);
      EXPECT_EQ(scan.weights, plain.weights);
      EXPECT_EQ(scan.sumSqs, plain.sumSqs);
    }
  }
}

// So many centres that the passes keep no distance bounds: still every pass exact.
TEST(KMeansByteScanTest, PassesWithTooManyCentresToBoundEqualBruteForce) {
  constexpr int kDim = 32, kCount = 4100, kK = 1024;
  KMeansPointSet points(kDim, kCount);
  std::vector<double> centres = fillBytes(points, Data::kBytes, kK, 99);
  points.buildIndex();
  ASSERT_TRUE(points.scans());
  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass);
    if (pass == 1)
      for (std::size_t i = 0; i < centres.size(); i += 7) centres[i] += 0.375;
    const PassResult scan = passesOf(points, kK, centres.data());
    const auto plain = kmeans_test::bruteForce(points, kK, centres.data());
    EXPECT_EQ(scan.closest, plain.closest);
    EXPECT_EQ(scan.sums, plain.sums);
    EXPECT_EQ(scan.weights, plain.weights);
  }
}

// The whole search, restarts and all, ends on the same centres whichever pass it runs on.
TEST(KMeansByteScanTest, SearchFindsTheSameCentresAsOnTheTree) {
  const KMeansTermination termination{100, 0, 0, 0, 0.10, 0.10, 3, 0.50, 10, 0.95};
  for (const int count : {5, 60, 400}) {
    SCOPED_TRACE(count);
    KMeansPointSet onTree(96, count);
    fillBytes(onTree, Data::kBlobs, 4, 77u + count);
    auto onScan = copyOf(onTree);
    onTree.buildTree();
    onScan->buildIndex();
    ASSERT_TRUE(onScan->scans());
    std::vector<std::vector<double>> centres;
    std::vector<std::vector<int>> closest;
    for (KMeansPointSet* points : {&onTree, onScan.get()}) {
      KMeansRandomRestart();
      KMeansFilterCenterSet set(4, *points, 1.0);
      KMeansLloydRestartSearch search(set, termination);
      set = search.Execute();
      EXPECT_EQ(search.stage(), 100);
      const KMeansFilterCenterSet& done = set;
      centres.emplace_back(done.centers(), done.centers() + 4 * 96);
      closest.emplace_back(static_cast<std::size_t>(count));
      set.GetAssignments(closest.back().data(), nullptr);
    }
    EXPECT_EQ(centres[0], centres[1]);
    EXPECT_EQ(closest[0], closest[1]);
  }
}

}  // namespace
