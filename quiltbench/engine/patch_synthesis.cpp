// Placement of the patches of one synthesis, row by row.
#include "quiltbench/engine/patch_synthesis.h"

#include <cstdio>

#include "platform/ui.h"

namespace {

void Require(bool found) {
  if (!found) throw SynthesisError("no unused candidate patch is left in the sample");
}

}  // namespace

void GrowTexture(const PatchCanvas& canvas, CandidateSearch& search,
                 const std::vector<CPoint>& usedOffsets, bool random, int columns, int rows) {
  auto progress = [&](int row) {
    char line[64];
    std::snprintf(line, sizeof line, "Patch row %d of %d", row + 1, rows + 1);
    platform::ui().progress(line);
  };
  const PixelRows& output = canvas.output;

  progress(0);
  Require(search.PickFirstCandidate());
  PlaceFirstPatch(canvas, usedOffsets.back().x, usedOffsets.back().y, 0, 0);
  for (int i = 1; i <= columns; ++i) {
    const int x = kGridStep * i;
    const PixelRows strip = CopyBlock(output, x, 0, kOverlap, kPatchSize);
    Require(random ? search.PickRandomCandidate() : search.SearchCandidates(strip));
    PasteLeftOverlapPatch(canvas, usedOffsets.back().x, usedOffsets.back().y, strip, x, 0);
  }
  for (int j = 1; j <= rows; ++j) {
    progress(j);
    const int y = kGridStep * j;
    const PixelRows topStrip = CopyBlock(output, 0, y, kPatchSize, kOverlap);
    Require(random ? search.PickRandomCandidate() : search.SearchTopCandidates(topStrip));
    PasteTopOverlapPatch(canvas, usedOffsets.back().x, usedOffsets.back().y, topStrip, 0, y);
    for (int i = 1; i <= columns; ++i) {
      const int x = kGridStep * i;
      const PixelRows left = CopyBlock(output, x, y, kOverlap, kPatchSize);
      const PixelRows top = CopyBlock(output, x + kOverlap, y, kPatchSize - kOverlap, kOverlap);
      Require(random ? search.PickRandomCandidate() : search.SearchLShapedCandidates(left, top));
      PasteLShapedPatch(canvas, usedOffsets.back().x, usedOffsets.back().y, left, top, x, y);
    }
  }
}
