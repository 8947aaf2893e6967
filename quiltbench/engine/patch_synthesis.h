// The patch grid of a synthesis: which overlap each patch has, how its candidate is
// chosen and how it is pasted.
#pragma once

#include <vector>

#include "quiltbench/engine/candidate_search.h"
#include "quiltbench/engine/patch_seams.h"

// Covers the canvas (24 * columns + 32 by 24 * rows + 32 pixels, black, no seams) with
// patches: columns + 1 a row, rows + 1 rows, starting at the first stored row. Each
// patch is pasted from the last entry of `usedOffsets` after `search` chose it, at
// random when `random` is set. Reports each patch row through the UI's progress line.
// Throws SynthesisError when no candidate can be found.
void GrowTexture(const PatchCanvas& canvas, CandidateSearch& search,
                 const std::vector<CPoint>& usedOffsets, bool random, int columns, int rows);
