// Pasting a patch over its overlap with what is already placed: the overlap is cut at
// minimum cost by a max-flow graph (new patch on the source side, old picture on the
// sink side), and the seams left by the cut are recorded per pixel so that later
// patches pay for cutting across them again and the post-process can smooth them.
#pragma once

#include "quiltbench/engine/synthesis_types.h"

// The output of one run as the seam cuts see it. `source` is the sample.
struct PatchCanvas {
  const PixelRows& source;
  PixelRows& output;
  Grid<SeamRecord>& seams;
  Grid<SourceCoord>& coords;
};

// Labels of an overlap, [row][column]: 1 takes the new patch's pixel, 0 keeps the old.
using LabelRows = Grid<int>;

// Cuts a W x H vertical overlap: column 0 stays old, column W - 1 turns new. Returns
// the flow of the cut.
float CutLeftOverlap(const PixelRows& oldStrip, const PixelRows& newStrip, LabelRows& labels,
                     int width, int height);

// Cuts a W x H horizontal overlap lying at (x, y) of the canvas: row 0 stays old, row
// H - 1 turns new. Seams recorded inside the strip add seam nodes that carry their old
// cost. Returns the flow of the cut.
float CutTopOverlap(const PatchCanvas& canvas, const PixelRows& oldStrip, const PixelRows& newStrip,
                    LabelRows& labels, int x, int y, int width, int height);

// Set right flags in columns x .. x + W - 2 and down flags in rows y .. y + H - 2 of
// the W x H rectangle at (x, y).
int CountStoredSeams(const Grid<SeamRecord>& seams, int x, int y, int width, int height);

// First-row patch at output (x, y) from source offset (sx, sy), over its 8x32 left
// overlap `oldStrip`. Returns 1.
int PasteLeftOverlapPatch(const PatchCanvas& canvas, int sx, int sy, const PixelRows& oldStrip,
                          int x, int y);

// First patch of a later row at output (x, y), over its 32x8 top overlap. Returns 1.
int PasteTopOverlapPatch(const PatchCanvas& canvas, int sx, int sy, const PixelRows& oldStrip,
                         int x, int y);

// Any other patch, over its L-shaped overlap: the 8x32 left strip and the 24x8 strip at
// (x + 8, y). Returns 1.
int PasteLShapedPatch(const PatchCanvas& canvas, int sx, int sy, const PixelRows& oldLeft,
                      const PixelRows& oldTop, int x, int y);

// Copies the w x h block of `rows` at (x, y) into new rows.
PixelRows CopyBlock(const PixelRows& rows, int x, int y, int width, int height);

// Copies the first patch: the 32x32 source block at (sx, sy) to output (x, y), with its
// source coordinates and its seam flags cleared.
void PlaceFirstPatch(const PatchCanvas& canvas, int sx, int sy, int x, int y);
