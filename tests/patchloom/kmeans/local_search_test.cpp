// The Lloyd search with random restarts: stage limit, restart rule, best set, repeatability.
#include "patchloom/kmeans/local_search.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "kmeans_test_data.h"
#include "patchloom/kmeans/kmeans_random.h"

namespace {

using kmeans_test::Data;

const KMeansTermination kTermination{100, 0, 0, 0, 0.10, 0.10, 3, 0.50, 10, 0.95};

TEST(KMeansTerminationTest, MaxTotalStages) {
  struct Case {
    KMeansTermination t;
    int k, n, expected;
  };
  const Case cases[] = {
      {kTermination, 4, 841, 100},
      {{10, 1, 0.5, 1, 0, 0, 3, 0, 0, 0}, 4, 10, 19},
      {{0, 0, 2, 0.5, 0, 0, 3, 0, 0, 0}, 4, 50, 10},
      {{0, 0, 0, 0, 0, 0, 3, 0, 0, 0}, 4, 50, INT_MAX},
      {{-5, 0, 0, 0, 0, 0, 3, 0, 0, 0}, 4, 50, INT_MAX},
      {{1e300, 0, 0, 0, 0, 0, 3, 0, 0, 0}, 4, 50, INT_MAX},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "a " << c.t.stageConstant << ", n " << c.n);
    EXPECT_EQ(c.t.MaxTotalStages(c.k, c.n), c.expected);
  }
}

// Records what every stage did and the distortion it left.
class RecordingSearch : public KMeansLloydRestartSearch {
 public:
  using KMeansLloydRestartSearch::KMeansLloydRestartSearch;
  int selectMethod() override {
    method_ = KMeansLloydRestartSearch::selectMethod();
    return method_;
  }
  void reset() override {
    KMeansLloydRestartSearch::reset();
    startTotal = current().totalDistortion();
  }
  void endStage() override {
    KMeansLloydRestartSearch::endStage();
    methods.push_back(method_);
    totals.push_back(current().totalDistortion());
    bests.push_back(best().totalDistortion());
  }
  double startTotal = 0;
  std::vector<int> methods;
  std::vector<double> totals;
  std::vector<double> bests;

 private:
  int method_ = -1;
};

// Four tight groups far apart: Lloyd steps settle within a stage or two, so runs stop
// gaining and restarts follow.
void fillGroups(KMeansPointSet& points) { kmeans_test::fill(points, Data::kBlobs, 4, 77); }

TEST(KMeansLloydRestartSearchTest, FollowsTheRunAndRestartRulesFor100Stages) {
  KMeansPointSet points(16, 400);
  fillGroups(points);
  points.buildTree();
  KMeansFilterCenterSet start(4, points, 1.0);
  KMeansRandomRestart();
  RecordingSearch search(start, kTermination);
  KMeansFilterCenterSet result = search.Execute();
  ASSERT_EQ(search.stage(), 100);
  ASSERT_EQ(search.methods.size(), 100u);

  // The rules, replayed on the recorded distortions.
  double saved = search.startTotal;
  bool newRun = false;
  int stage = 0;
  int restarts = 0, continuedRuns = 0;
  while (stage < 100) {
    const int runStart = stage;
    double current = 0;
    for (;;) {
      ASSERT_EQ(search.methods[stage], newRun ? 4 : 0) << "stage " << stage;
      current = search.totals[stage];
      ++stage;
      if (stage >= 100 || stage - runStart >= 3) break;
      if (newRun) {
        newRun = false;
        saved = current;
        continue;
      }
      if ((saved - current) / saved >= 0.10) break;
    }
    if ((saved - current) / saved < 0.10) {
      newRun = true;
      ++restarts;
    } else {
      saved = current;
      ++continuedRuns;
    }
  }
  EXPECT_GT(restarts, 5);
  EXPECT_GE(continuedRuns, 1);

  // The best set is the lowest distortion seen, and it survives the restarts.
  double lowest = search.startTotal;
  for (int s = 0; s < 100; ++s) {
    lowest = std::min(lowest, search.totals[s]);
    EXPECT_EQ(search.bests[s], lowest) << "stage " << s;
  }
  EXPECT_EQ(result.totalDistortion(), lowest);
}

TEST(KMeansLloydRestartSearchTest, RepeatsExactlyFromTheFixedSeed) {
  KMeansPointSet points(768, 120);
  kmeans_test::fill(points, Data::kBytes, 4, 5);
  points.buildTree();
  std::vector<std::vector<double>> runs;
  for (int run = 0; run < 2; ++run) {
    KMeansRandomRestart();
    KMeansFilterCenterSet centres(4, points, 1.0);
    KMeansLloydRestartSearch search(centres, kTermination);
    centres = search.Execute();
    runs.emplace_back(centres.centers(), centres.centers() + 4 * 768);
    // The search's centres are means with long fractions; the tree still agrees with a scan.
    std::vector<int> closest(120);
    centres.GetAssignments(closest.data(), nullptr);
    EXPECT_EQ(closest, kmeans_test::bruteForce(points, 4, centres.centers()).closest);
    int assigned = 0;
    for (int z = 0; z < 4; ++z) assigned += centres.weight(z);
    EXPECT_EQ(assigned, 120);
  }
  EXPECT_EQ(runs[0], runs[1]);
}

}  // namespace
