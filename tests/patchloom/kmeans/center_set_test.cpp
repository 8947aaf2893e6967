// Filtering centre sets: Lloyd steps, empty centres, swaps, resampling and copies.
#include "patchloom/kmeans/center_set.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "kmeans_test_data.h"
#include "patchloom/kmeans/kmeans_random.h"

namespace {

using kmeans_test::Data;

const double* centre(const KMeansCenterSet& set, int z) { return set.center(z); }

void setCentres(KMeansFilterCenterSet& set, const std::vector<double>& centres) {
  for (int z = 0; z < set.k(); ++z) {
    std::copy(centres.begin() + z * set.dim(), centres.begin() + (z + 1) * set.dim(),
              set.center(z));
  }
}

TEST(KMeansFilterCenterSetTest, LloydStepMovesOntoTheMeansOrPartWay) {
  struct Case {
    int dim;
    double damping;
  };
  const Case cases[] = {{2, 1.0}, {768, 1.0}, {16, 0.5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "dim " << c.dim << ", damping " << c.damping);
    KMeansPointSet points(c.dim, 500);
    const std::vector<double> start = kmeans_test::fill(points, Data::kBytes, 4, 7);
    points.buildTree();
    KMeansFilterCenterSet set(4, points, c.damping);
    setCentres(set, start);
    const kmeans_test::Reference ref = kmeans_test::bruteForce(points, 4, start.data());
    set.lloydStep();
    EXPECT_FALSE(set.valid());
    for (int z = 0; z < 4; ++z) {
      for (int d = 0; d < c.dim; ++d) {
        const double mean = ref.sums[z * c.dim + d] / ref.weights[z];
        const double expected =
            ref.weights[z] == 0
                ? start[z * c.dim + d]
                : (c.damping == 1.0 ? mean : 0.5 * mean + 0.5 * start[z * c.dim + d]);
        ASSERT_EQ(centre(set, z)[d], expected) << "centre " << z << ", dim " << d;
      }
    }
  }
}

TEST(KMeansFilterCenterSetTest, CentreWithoutPointsStaysWithDistortionZero) {
  KMeansPointSet points(3, 200);
  std::vector<double> centres = kmeans_test::fill(points, Data::kBytes, 3, 9);
  for (int d = 0; d < 3; ++d) centres[3 + d] = 1e6;  // far from every point
  points.buildTree();
  KMeansFilterCenterSet set(3, points);
  setCentres(set, centres);
  EXPECT_EQ(set.distortion(1), 0.0);
  EXPECT_EQ(set.weight(1), 0);
  EXPECT_EQ(set.weight(0) + set.weight(2), 200);
  EXPECT_EQ(set.totalDistortion(), set.distortion(0) + set.distortion(2));
  set.lloydStep();
  for (int d = 0; d < 3; ++d) EXPECT_EQ(centre(set, 1)[d], 1e6);
  EXPECT_EQ(set.distortion(1), 0.0);
}

TEST(KMeansFilterCenterSetTest, BuildsAMissingTreeWithAWarning) {
  KMeansPointSet points(2, 10);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  KMeansFilterCenterSet set(2, points);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "kmeans: WARNING----->Building kc-tree<-------------WARNING\n");
  testing::internal::GetCapturedStdout();
  EXPECT_NE(points.tree(), nullptr);
  EXPECT_EQ(set.totalDistortion(), 0.0);
}

TEST(KMeansFilterCenterSetTest, CopiesAreDeepAndAssignmentResizes) {
  KMeansPointSet points(4, 100);
  const std::vector<double> centres = kmeans_test::fill(points, Data::kBytes, 4, 3);
  points.buildTree();
  KMeansFilterCenterSet a(4, points);
  setCentres(a, centres);
  const double total = a.totalDistortion();
  KMeansFilterCenterSet b(a);
  EXPECT_TRUE(b.valid());
  b.center(0)[0] += 1000;
  EXPECT_FALSE(b.valid());
  EXPECT_EQ(centre(a, 0)[0], centres[0]);
  EXPECT_EQ(a.totalDistortion(), total);
  KMeansFilterCenterSet small(2, points);
  small = a;
  EXPECT_EQ(small.k(), 4);
  EXPECT_EQ(small.totalDistortion(), total);
  EXPECT_EQ(small.weight(3), a.weight(3));
}

// The last pass is reused only while no centre has moved: after every kind of change the
// distortions equal those of a fresh set at the same centres.
TEST(KMeansFilterCenterSetTest, EveryChangeOfTheCentresRunsANewPass) {
  KMeansPointSet points(40, 60);
  const std::vector<double> start = kmeans_test::fill(points, Data::kBytes, 4, 11);
  points.buildIndex();
  KMeansRandomRestart();
  KMeansFilterCenterSet set(4, points);
  setCentres(set, start);
  const auto expectFresh = [&](const char* after) {
    SCOPED_TRACE(after);
    KMeansFilterCenterSet fresh(4, points);
    setCentres(fresh, std::vector<double>(set.centers(), set.centers() + 4 * 40));
    EXPECT_EQ(set.totalDistortion(), fresh.totalDistortion());
    for (int z = 0; z < 4; ++z) EXPECT_EQ(set.weight(z), fresh.weight(z));
  };
  expectFresh("start");
  set.center(1)[7] += 0.5;
  expectFresh("a centre written");
  for (int step = 0; step < 12; ++step) set.lloydStep();  // converged long before the end
  expectFresh("Lloyd steps");
  set.swap(false);
  expectFresh("a swap");
  set.resampleAll();
  expectFresh("resampling");
  KMeansFilterCenterSet copy(set);
  copy.lloydStep();
  set = copy;
  expectFresh("assigned a moved copy");
}

// Swaps and resampling without duplicates end even when the points cannot give what is asked.
TEST(KMeansFilterCenterSetTest, SamplingWithoutDuplicatesEnds) {
  struct Case {
    const char* name;
    std::vector<double> coords;  // one-dimensional points
    int k;
  };
  const Case cases[] = {
      {"one new point", {1, 2, 3, 4}, 3},
      {"every point a centre", {1, 2, 3}, 3},
      {"all points equal", {5, 5, 5, 5}, 2},
      {"more centres than points", {1, 2, 3}, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int n = static_cast<int>(c.coords.size());
    KMeansPointSet points(1, n);
    for (int i = 0; i < n; ++i) points.point(i)[0] = c.coords[i];
    points.buildTree();
    KMeansFilterCenterSet set(c.k, points);
    KMeansRandomRestart();
    set.resampleAll();
    std::vector<int> uses(n, 0);
    for (int z = 0; z < c.k; ++z) {
      for (int i = 0; i < n; ++i) uses[i] += centre(set, z)[0] == c.coords[i];
    }
    // Distinct points while they last, then every point in use.
    for (int i = 0; i < n && c.coords[0] != c.coords[n - 1]; ++i) {
      EXPECT_LE(uses[i], c.k > n ? c.k : 1) << "point " << i;
      if (c.k >= n) {
        EXPECT_GE(uses[i], 1) << "point " << i;
      }
    }
    if (c.k < n) {
      for (int z = 0; z < c.k; ++z) set.center(z)[0] = c.coords[z];
    }
    set.swap(false);
    if (std::string(c.name) == "one new point") {
      int fours = 0;
      for (int z = 0; z < c.k; ++z) fours += centre(set, z)[0] == 4.0;
      EXPECT_EQ(fours, 1);
    }
    EXPECT_FALSE(set.valid());
  }
}

TEST(KMeansPointSetTest, RejectsBadSizesAndEmptySampling) {
  EXPECT_THROW(KMeansPointSet(0, 5), std::invalid_argument);
  EXPECT_THROW(KMeansPointSet(3, -1), std::invalid_argument);
  KMeansPointSet empty(3, 0);
  double out[6];
  EXPECT_THROW(empty.samplePoint(out), std::logic_error);
  EXPECT_THROW(empty.samplePoints(out, 2, true), std::logic_error);
  KMeansPointSet one(3, 1);
  EXPECT_THROW(KMeansFilterCenterSet(0, one), std::invalid_argument);
}

TEST(KMeansFilterCenterSetTest, PrintsCentresAndDistortions) {
  KMeansPointSet points(2, 2);
  points.point(0)[0] = 1;
  points.point(1)[0] = 3;
  points.buildTree();
  KMeansFilterCenterSet set(1, points);
  set.center(0)[0] = 2;
  set.center(0)[1] = 0.5;
  set.computeDistortions();
  std::ostringstream plain, filtered;
  set.KMeansCenterSet::print(plain);
  set.print(filtered);
  EXPECT_EQ(plain.str(), "  (Center_Points:\n    0\t[        2      0.5 ]\n  )\n");
  EXPECT_EQ(filtered.str(), "       0\t[        2      0.5 ] dist =      2.5\n");
}

}  // namespace
