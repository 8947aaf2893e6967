// Choice of the source offset of each patch: a random draw, or a search over every
// source offset that turns the overlap's mismatch into a randomised acceptance weight
// and keeps the best, with the overlap compared directly or through FFT correlation.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "quiltbench/engine/synthesis_types.h"

class FftCorrelator;

// Search modes of the engine.
inline constexpr int kFftSearch = 1;
inline constexpr int kNaiveSearch = 2;

// Fills the summed-area tables of `source`: squares holds b0^2 + b1^2 + b2^2, sums the
// three bytes, each over all pixels above and left of an entry, the entry included.
void BuildSummedAreaTables(const PixelRows& source, SummedAreaTable<1>& squares,
                           SummedAreaTable<3>& sums);

// The overlap shapes a new patch must match.
enum class OverlapShape {
  left,     // 8 wide, 32 high: patches of the first row
  top,      // 32 wide, 8 high: first patch of each later row
  lShaped,  // the left strip plus the 24x8 strip to its right: all other patches
};

// weight = exp(-e / (k V)) with e = N * SSD / (w * h * divisor): the divisor is 100 for
// the strips and 1e6 for the L shape. NaN when e and V are both 0.
long double CandidateWeight(OverlapShape shape, long double ssd, long double variance,
                            long double k, int sourceWidth, int sourceHeight);

// Overlap pixels of a shape: 256, 256 and 448.
int OverlapPixelCount(OverlapShape shape);

// Searches of one synthesis run over one source. Every successful choice is appended
// to `usedOffsets`, the caller pastes the last entry; offsets already in it (from this
// run or earlier runs of the same engine) are never chosen again.
class CandidateSearch {
 public:
  // `source` and `usedOffsets` must outlive the search; the tables are read only by
  // the search modes. The source must be at least 32x32.
  CandidateSearch(const PixelRows& source, const SummedAreaTable<1>& squares,
                  const SummedAreaTable<3>& sums, std::vector<CPoint>& usedOffsets, int searchMode);
  ~CandidateSearch();
  CandidateSearch(const CandidateSearch&) = delete;
  CandidateSearch& operator=(const CandidateSearch&) = delete;

  // The first patch of a run: seeds the runtime generator from the clock, then draws
  // an offset in 0 .. w - 32 by 0 .. h - 32; an offset already used is replaced by
  // further draws. False when every offset is used.
  bool PickFirstCandidate();

  // A random offset in 0 .. w - 32 by 0 .. h - 32 that is not used yet, drawn from the
  // runtime generator as the run left it. False when every offset is used.
  bool PickRandomCandidate();

  // Searches over offsets 0 .. w - 33 by 0 .. h - 33 for the overlap given as output
  // strips (8x32 left strip, 32x8 top strip, 24x8 top part of the L). False when the
  // search mode is unknown or every offset is used.
  bool SearchCandidates(const PixelRows& leftStrip);
  bool SearchTopCandidates(const PixelRows& topStrip);
  bool SearchLShapedCandidates(const PixelRows& leftStrip, const PixelRows& topStrip);

  bool IsCandidateUsed(int x, int y) const;

 private:
  struct ShapeTables;

  bool search(OverlapShape shape, const PixelRows& pattern);
  const ShapeTables& tablesFor(OverlapShape shape);
  void markUsed(int x, int y);
  bool drawUnused(int x, int y);

  const PixelRows& source_;
  const SummedAreaTable<1>& squares_;
  const SummedAreaTable<3>& sums_;
  std::vector<CPoint>& usedOffsets_;
  int searchMode_;
  int rangeWidth_;   // offsets 0 .. w - 32 in x
  int rangeHeight_;  // offsets 0 .. h - 32 in y
  long usedInRange_ = 0;
  std::vector<std::uint8_t> used_;  // rangeWidth_ x rangeHeight_
  std::unique_ptr<ShapeTables> shapeTables_[3];
  std::unique_ptr<FftCorrelator> correlator_;
};
