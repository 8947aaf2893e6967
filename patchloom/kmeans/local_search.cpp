// The local search loop and the Lloyd search with random restarts.
#include "patchloom/kmeans/local_search.h"

#include <climits>
#include <cmath>
#include <iostream>
#include <ostream>

namespace {
// Trace output of the stages and runs; this system runs without it.
constexpr int kTraceLevel = 0;
}  // namespace

int KMeansTermination::MaxTotalStages(int k, int n) const {
  double stages = stageConstant;
  if (exponent != 0) stages += std::pow(perCenterFactor * k + perPointFactor * n, exponent);
  if (!(stages > 0) || stages >= static_cast<double>(INT_MAX)) return INT_MAX;
  return static_cast<int>(stages);
}

KMeansLocalSearch::KMeansLocalSearch(const KMeansFilterCenterSet& start,
                                     const KMeansTermination& termination)
    : n_(start.points().count()),
      k_(start.k()),
      dim_(start.dim()),
      termination_(termination),
      maxTotalStages_(termination.MaxTotalStages(start.k(), start.points().count())),
      current_(start),
      best_(start) {}

KMeansLocalSearch::~KMeansLocalSearch() = default;

void KMeansLocalSearch::printStageStats(std::ostream& out) {
  const double saved = saved_;
  const double curr = current_.totalDistortion();
  out << "\t<stage: " << stage_ << " curr: " << curr / n_
      << " best: " << best_.totalDistortion() / n_ << " accumRDL: " << 100 * (saved - curr) / saved
      << "%"
      << " >\n";
}

KMeansFilterCenterSet KMeansLocalSearch::Execute() {
  reset();
  while (!isDone()) {
    beginRun();
    do {
      beginStage();
      applyMethod(selectMethod());
      endStage();
      if (kTraceLevel > 0) printStageStats(std::cout);
    } while (!isRunDone());
    endRun();
    tryAcceptance();
  }
  return best_;
}

void KMeansLocalSearch::reset() {
  stage_ = 0;
  runStart_ = 0;
  current_.resampleAll();
  current_.computeDistortions();
  best_ = current_;
}

bool KMeansLocalSearch::isDone() const { return stage_ >= maxTotalStages_; }

void KMeansLocalSearch::beginRun() { runStart_ = stage_; }

void KMeansLocalSearch::beginStage() {}

void KMeansLocalSearch::endStage() {
  ++stage_;
  if (best_.totalDistortion() / n_ > current_.totalDistortion() / n_) best_ = current_;
}

void KMeansLocalSearch::endRun() {}

void KMeansLocalSearch::tryAcceptance() {}

void KMeansLocalSearch::applyMethod(int method) {
  switch (method) {
    case kLloydStep:
      current_.lloydStep();
      break;
    case kSwapWithDuplicates:
      current_.swap(true);
      break;
    case kResampleAll:
      current_.resampleAll();
      break;
    default:
      break;
  }
}

KMeansLloydRestartSearch::KMeansLloydRestartSearch(const KMeansFilterCenterSet& start,
                                                   const KMeansTermination& termination)
    : KMeansLocalSearch(start, termination) {}

void KMeansLloydRestartSearch::reset() {
  KMeansLocalSearch::reset();
  newRun_ = false;
  saved_ = current_.totalDistortion();
}

int KMeansLloydRestartSearch::selectMethod() {
  if (newRun_) {
    if (kTraceLevel > 0) printRunStats(std::cout);
    return kResampleAll;
  }
  return kLloydStep;
}

void KMeansLloydRestartSearch::endStage() { KMeansLocalSearch::endStage(); }

double KMeansLloydRestartSearch::relativeGain() {
  return (saved_ - current_.totalDistortion()) / saved_;
}

bool KMeansLloydRestartSearch::isRunDone() {
  if (isDone() || stage_ - runStart_ >= termination_.maxStagesPerRun) return true;
  if (newRun_) {
    newRun_ = false;
    saved_ = current_.totalDistortion();
    return false;
  }
  return relativeGain() >= termination_.runImprovement;
}

void KMeansLloydRestartSearch::endRun() {
  if (relativeGain() < termination_.runImprovement) {
    newRun_ = true;
  } else {
    saved_ = current_.totalDistortion();
  }
}

void KMeansLloydRestartSearch::tryAcceptance() {
  if (best_.totalDistortion() > current_.totalDistortion()) best_ = current_;
}

void KMeansLloydRestartSearch::printRunStats(std::ostream& out) {
  out << "    <Generating new random centers>\n";
}
