// Minimum-cost seams between a new patch and the picture already placed.
#include "quiltbench/engine/patch_seams.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "quiltbench/engine/maxflow_graph.h"
#include "quiltbench/engine/seam_cost.h"

namespace {

// Ties a border of the overlap to its side: far above any sum of seam costs.
constexpr float kTie = 1e6f;

enum class CutAxis {
  columns,  // column 0 stays old, the last column turns new
  rows,     // row 0 stays old, the last row turns new
};

// A sample pixel, packed; coordinates are held to the sample because a random offset
// can put a patch against the last column or row.
std::uint32_t SamplePixel(const PixelRows& source, int x, int y) {
  x = std::clamp(x, 0, source.width() - 1);
  y = std::clamp(y, 0, source.height() - 1);
  return PackPixel(source.pixel(x, y));
}

// Cuts a W x H overlap. With a canvas, seams recorded inside the overlap (placed at
// (ox, oy)) become seam nodes carrying their old cost.
float CutOverlap(const PixelRows& oldStrip, const PixelRows& newStrip, LabelRows& labels, int width,
                 int height, CutAxis axis, const PatchCanvas* canvas, int ox, int oy) {
  const int pixels = width * height;
  const int stored = canvas ? CountStoredSeams(canvas->seams, ox, oy, width, height) : 0;
  const int edges = (height - 1) * width + (width - 1) * height + stored;
  MaxflowGraph graph(pixels + stored, edges);
  graph.AddNodes(pixels + stored);

  if (axis == CutAxis::columns) {
    for (int i = 0; i < height; ++i) {
      graph.AddTerminalWeights(i * width, 0, kTie);
      graph.AddTerminalWeights(i * width + width - 1, kTie, 0);
    }
  } else {
    for (int j = 0; j < width; ++j) graph.AddTerminalWeights(j, 0, kTie);
    for (int j = 0; j < width; ++j) graph.AddTerminalWeights((height - 1) * width + j, kTie, 0);
  }

  std::vector<int> rightNode, downNode;
  if (canvas) {
    rightNode.assign(pixels, -1);
    downNode.assign(pixels, -1);
    int next = pixels;
    for (int i = 0; i < height; ++i) {
      for (int j = 0; j < width; ++j) {
        const SeamRecord& record = canvas->seams[oy + i][ox + j];
        if (j < width - 1 && record.right == 1) {
          rightNode[i * width + j] = next;
          graph.AddTerminalWeights(next++, kTie, record.rightCost);
        }
        if (i < height - 1 && record.down == 1) {
          downNode[i * width + j] = next;
          graph.AddTerminalWeights(next++, kTie, record.downCost);
        }
      }
    }
  }

  // One pass per direction: (dx, dy) = (1, 0) joins each pixel to its right
  // neighbour, (0, 1) to the one below.
  auto addEdges = [&](int dx, int dy, const std::vector<int>& seamNodes) {
    for (int i = 0; i + dy < height; ++i) {
      for (int j = 0; j + dx < width; ++j) {
        const int s = i * width + j;
        const int t = (i + dy) * width + j + dx;
        const std::uint32_t newS = PackPixel(newStrip.pixel(j, i));
        const std::uint32_t newT = PackPixel(newStrip.pixel(j + dx, i + dy));
        const int seamNode = seamNodes.empty() ? -1 : seamNodes[s];
        if (seamNode >= 0) {
          const SourceCoord cs = canvas->coords[oy + i][ox + j];
          const SourceCoord ct = canvas->coords[oy + i + dy][ox + j + dx];
          const float toSeam =
              SeamCost(SamplePixel(canvas->source, cs.x, cs.y),
                       SamplePixel(canvas->source, cs.x + dx, cs.y + dy), newS, newT);
          const float fromSeam =
              SeamCost(newS, newT, SamplePixel(canvas->source, ct.x - dx, ct.y - dy),
                       SamplePixel(canvas->source, ct.x, ct.y));
          graph.AddEdge(s, seamNode, toSeam, toSeam);
          graph.AddEdge(seamNode, t, fromSeam, fromSeam);
        } else {
          const float cost = SeamCost(PackPixel(oldStrip.pixel(j, i)),
                                      PackPixel(oldStrip.pixel(j + dx, i + dy)), newS, newT);
          graph.AddEdge(s, t, cost, cost);
        }
      }
    }
  };
  addEdges(1, 0, rightNode);
  addEdges(0, 1, downNode);

  const float flow = graph.maxflow(false, nullptr);
  labels = LabelRows(width, height);
  for (int i = 0; i < height; ++i)
    for (int j = 0; j < width; ++j)
      labels[i][j] = graph.WhatSegment(i * width + j, MaxflowGraph::SOURCE) == MaxflowGraph::SOURCE;
  return flow;
}

// Takes the new pixel wherever the label says so; the new strip's pixel (k, i) came
// from source (sx + k, sy + i).
void ApplyLabels(const PatchCanvas& canvas, const LabelRows& labels, const PixelRows& newStrip,
                 int sx, int sy, int x, int y) {
  for (int i = 0; i < labels.height(); ++i) {
    for (int k = 0; k < labels.width(); ++k) {
      if (labels[i][k] != 1) continue;
      std::memcpy(canvas.output.pixel(x + k, y + i), newStrip.pixel(k, i), 3);
      canvas.coords[y + i][x + k] = {sx + k, sy + i};
    }
  }
}

// Copies the source block for output columns x0 .. x1 - 1 and rows y0 .. y1 - 1 of the
// patch at (px, py) from offset (sx, sy) and clears its seam flags, except the down flag
// of the patch's last row and the right flag of its last column, which face pixels the
// patch does not own.
void CopyPatchInterior(const PatchCanvas& canvas, int sx, int sy, int px, int py, int x0, int y0,
                       int x1, int y1) {
  for (int y = y0; y < y1; ++y) {
    std::memcpy(canvas.output.pixel(x0, y), canvas.source.pixel(sx + x0 - px, sy + y - py),
                3 * static_cast<std::size_t>(x1 - x0));
    for (int x = x0; x < x1; ++x) {
      canvas.coords[y][x] = {sx + x - px, sy + y - py};
      SeamRecord& record = canvas.seams[y][x];
      if (x != px + kPatchSize - 1) record.right = 0;
      if (y != py + kPatchSize - 1) record.down = 0;
    }
  }
}

// Rewrites the seam records of every neighbour pair inside columns x0 .. x1 - 1 and
// rows y0 .. y1 - 1 from the source coordinates alone: pixels copied from neighbouring
// sample pixels have no seam between them; any other pair has one, with the cost of
// the two pictures' mismatch across it.
void RewriteSeamRecords(const PatchCanvas& canvas, int x0, int y0, int x1, int y1) {
  auto mismatch = [&](SourceCoord cs, SourceCoord ct, int dx, int dy) {
    return SeamCost(
        SamplePixel(canvas.source, cs.x, cs.y), SamplePixel(canvas.source, cs.x + dx, cs.y + dy),
        SamplePixel(canvas.source, ct.x - dx, ct.y - dy), SamplePixel(canvas.source, ct.x, ct.y));
  };
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      SeamRecord& record = canvas.seams[y][x];
      const SourceCoord cs = canvas.coords[y][x];
      if (x + 1 < x1) {
        const SourceCoord ct = canvas.coords[y][x + 1];
        if (ct.y == cs.y && ct.x == cs.x + 1) {
          record.right = 0;
        } else {
          // The cost is always written, even 0, so no flag keeps an older seam's cost.
          record.right = 1;
          record.rightCost = mismatch(cs, ct, 1, 0);
        }
      }
      if (y + 1 < y1) {
        const SourceCoord ct = canvas.coords[y + 1][x];
        if (ct.x == cs.x && ct.y == cs.y + 1) {
          record.down = 0;
        } else {
          record.down = 1;
          record.downCost = mismatch(cs, ct, 0, 1);
        }
      }
    }
  }
}

}  // namespace

PixelRows CopyBlock(const PixelRows& rows, int x, int y, int width, int height) {
  PixelRows block(width, height);
  for (int i = 0; i < height; ++i) std::memcpy(block[i], rows.pixel(x, y + i), block.stride());
  return block;
}

int CountStoredSeams(const Grid<SeamRecord>& seams, int x, int y, int width, int height) {
  int count = 0;
  for (int i = 0; i < height; ++i) {
    for (int j = 0; j < width; ++j) {
      const SeamRecord& record = seams[y + i][x + j];
      if (j < width - 1 && record.right == 1) ++count;
      if (i < height - 1 && record.down == 1) ++count;
    }
  }
  return count;
}

float CutLeftOverlap(const PixelRows& oldStrip, const PixelRows& newStrip, LabelRows& labels,
                     int width, int height) {
  return CutOverlap(oldStrip, newStrip, labels, width, height, CutAxis::columns, nullptr, 0, 0);
}

float CutTopOverlap(const PatchCanvas& canvas, const PixelRows& oldStrip, const PixelRows& newStrip,
                    LabelRows& labels, int x, int y, int width, int height) {
  return CutOverlap(oldStrip, newStrip, labels, width, height, CutAxis::rows, &canvas, x, y);
}

void PlaceFirstPatch(const PatchCanvas& canvas, int sx, int sy, int x, int y) {
  CopyPatchInterior(canvas, sx, sy, x, y, x, y, x + kPatchSize, y + kPatchSize);
  for (int i = 0; i < kPatchSize; ++i)
    for (int k = 0; k < kPatchSize; ++k) canvas.seams[y + i][x + k] = SeamRecord{};
}

int PasteLeftOverlapPatch(const PatchCanvas& canvas, int sx, int sy, const PixelRows& oldStrip,
                          int x, int y) {
  const PixelRows newStrip = CopyBlock(canvas.source, sx, sy, kOverlap, kPatchSize);
  LabelRows labels;
  CutLeftOverlap(oldStrip, newStrip, labels, kOverlap, kPatchSize);

  // Only a change from an old left (upper) pixel to a new one stores a seam: the old
  // side is read through the left (upper) pixel's source coordinates, which for a new
  // pixel continue into the new patch and cost nothing.
  for (int i = 0; i < kPatchSize; ++i) {
    for (int k = 0; k < kOverlap; ++k) {
      if (labels[i][k] == 1) {
        std::memcpy(canvas.output.pixel(x + k, y + i), newStrip.pixel(k, i), 3);
        canvas.coords[y + i][x + k] = {sx + k, sy + i};
      }
      if (k > 0 && labels[i][k - 1] != labels[i][k]) {
        const SourceCoord c = canvas.coords[y + i][x + k - 1];
        const float cost =
            SeamCost(SamplePixel(canvas.source, c.x, c.y), SamplePixel(canvas.source, c.x + 1, c.y),
                     PackPixel(newStrip.pixel(k - 1, i)), PackPixel(newStrip.pixel(k, i)));
        if (cost > 0) {
          SeamRecord& record = canvas.seams[y + i][x + k - 1];
          record.right = 1;
          record.rightCost = cost;
        }
      }
    }
  }
  for (int j = 0; j < kOverlap; ++j) {
    for (int l = 0; l + 1 < kPatchSize; ++l) {
      if (labels[l][j] == labels[l + 1][j]) continue;
      const SourceCoord c = canvas.coords[y + l][x + j];
      const float cost =
          SeamCost(SamplePixel(canvas.source, c.x, c.y), SamplePixel(canvas.source, c.x, c.y + 1),
                   PackPixel(newStrip.pixel(j, l)), PackPixel(newStrip.pixel(j, l + 1)));
      if (cost > 0) {
        SeamRecord& record = canvas.seams[y + l][x + j];
        record.down = 1;
        record.downCost = cost;
      }
    }
  }
  CopyPatchInterior(canvas, sx, sy, x, y, x + kOverlap, y, x + kPatchSize, y + kPatchSize);
  return 1;
}

int PasteTopOverlapPatch(const PatchCanvas& canvas, int sx, int sy, const PixelRows& oldStrip,
                         int x, int y) {
  const PixelRows newStrip = CopyBlock(canvas.source, sx, sy, kPatchSize, kOverlap);
  LabelRows labels;
  CutTopOverlap(canvas, oldStrip, newStrip, labels, x, y, kPatchSize, kOverlap);
  ApplyLabels(canvas, labels, newStrip, sx, sy, x, y);
  CopyPatchInterior(canvas, sx, sy, x, y, x, y + kOverlap, x + kPatchSize, y + kPatchSize);
  // The strip's pairs and those from its last row into the new rows below it.
  RewriteSeamRecords(canvas, x, y, x + kPatchSize, y + kOverlap + 1);
  return 1;
}

int PasteLShapedPatch(const PatchCanvas& canvas, int sx, int sy, const PixelRows& oldLeft,
                      const PixelRows& oldTop, int x, int y) {
  const int topWidth = kPatchSize - kOverlap;
  const PixelRows newLeft = CopyBlock(canvas.source, sx, sy, kOverlap, kPatchSize);
  const PixelRows newTop = CopyBlock(canvas.source, sx + kOverlap, sy, topWidth, kOverlap);

  LabelRows labels;
  CutOverlap(oldLeft, newLeft, labels, kOverlap, kPatchSize, CutAxis::columns, &canvas, x, y);
  ApplyLabels(canvas, labels, newLeft, sx, sy, x, y);
  // The left part's top row is tied to neither side, so the pairs from the row above
  // into it can turn into seams too; no later patch covers them again.
  RewriteSeamRecords(canvas, x, std::max(y - 1, 0), x + kOverlap, y + kPatchSize);

  CutTopOverlap(canvas, oldTop, newTop, labels, x + kOverlap, y, topWidth, kOverlap);
  ApplyLabels(canvas, labels, newTop, sx + kOverlap, sy, x + kOverlap, y);
  CopyPatchInterior(canvas, sx, sy, x, y, x + kOverlap, y + kOverlap, x + kPatchSize,
                    y + kPatchSize);
  // The top part's pairs, those joining it to the left part, and those from its last
  // row into the new rows below: no later patch covers them again.
  RewriteSeamRecords(canvas, x + kOverlap - 1, y, x + kPatchSize, y + kOverlap + 1);
  return 1;
}
