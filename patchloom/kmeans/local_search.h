// Local search for k-means: stages of centre moves on a current centre set, keeping the best
// set seen, ended by a termination record.
#pragma once

#include <iosfwd>

#include "patchloom/kmeans/center_set.h"

struct KMeansTermination {
  // The stage limit is a + (b*k + c*n)^d.
  double stageConstant;
  double perCenterFactor;
  double perPointFactor;
  double exponent;
  // Relative-improvement thresholds; the second ends a run of Lloyd steps.
  double minImprovement;
  double runImprovement;
  int maxStagesPerRun;
  double probability;
  int runLength;
  double reductionFactor;

  // a + (b*k + c*n)^d (just a when d == 0), truncated; 2147483647 when that is not above 0
  // or does not fit an int.
  int MaxTotalStages(int k, int n) const;
};

class KMeansLocalSearch {
 public:
  // Methods a stage can apply to the current set.
  static constexpr int kLloydStep = 0;
  static constexpr int kSwapWithDuplicates = 1;
  static constexpr int kResampleAll = 4;

  // Searches from copies of `start`, whose point set must outlive the search.
  KMeansLocalSearch(const KMeansFilterCenterSet& start, const KMeansTermination& termination);
  KMeansLocalSearch(const KMeansLocalSearch&) = delete;
  KMeansLocalSearch& operator=(const KMeansLocalSearch&) = delete;

  virtual void printStageStats(std::ostream& out);
  virtual ~KMeansLocalSearch();
  // Runs the whole search and returns a copy of the best centre set found.
  virtual KMeansFilterCenterSet Execute();
  virtual void reset();
  virtual bool isDone() const;
  virtual void beginRun();
  virtual void beginStage();
  virtual int selectMethod() = 0;
  virtual void endStage();
  virtual bool isRunDone() = 0;
  virtual void endRun();
  virtual void tryAcceptance();

  int stage() const { return stage_; }
  int runStart() const { return runStart_; }
  int maxTotalStages() const { return maxTotalStages_; }
  const KMeansTermination& termination() const { return termination_; }
  KMeansFilterCenterSet& current() { return current_; }
  KMeansFilterCenterSet& best() { return best_; }

 protected:
  // Applies one of the methods above to the current set.
  void applyMethod(int method);

  int n_;
  int k_;
  int dim_;
  KMeansTermination termination_;
  int maxTotalStages_;
  int stage_ = 0;
  int runStart_ = 0;
  KMeansFilterCenterSet current_;
  KMeansFilterCenterSet best_;
  double saved_ = 0.0;
  bool newRun_ = false;
};

// Lloyd steps in runs of at most maxStagesPerRun stages; a run that lowers the distortion by
// less than runImprovement (relative) makes the next run start from new random centres.
// The best set seen is kept throughout.
class KMeansLloydRestartSearch : public KMeansLocalSearch {
 public:
  KMeansLloydRestartSearch(const KMeansFilterCenterSet& start,
                           const KMeansTermination& termination);

  void reset() override;
  int selectMethod() override;
  void endStage() override;
  bool isRunDone() override;
  void endRun() override;
  void tryAcceptance() override;
  virtual void printRunStats(std::ostream& out);

  double savedDistortion() const { return saved_; }
  bool newRunPending() const { return newRun_; }

 private:
  // (saved - current) / saved.
  double relativeGain();
};
