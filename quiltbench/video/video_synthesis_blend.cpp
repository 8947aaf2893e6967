// The window around the loop's jump and the spatio-temporal cut that hides it: ten
// frames of one run are cut against ten frames of the other as one graph, so that each
// pixel switches runs where the two agree best, and at a time of its own.
#include <algorithm>
#include <climits>
#include <cstring>

#include "quiltbench/engine/maxflow_graph.h"
#include "quiltbench/engine/seam_cost.h"
#include "quiltbench/video/video_synthesis_internal.h"

namespace quiltbench::video {
namespace {

// Ties the first and last window frames to their runs; far above any seam cost (at most
// 2 * sqrt(3) * 255 per edge), so those frames never change sides.
constexpr float kTerminalTie = 1e6f;

struct GraphSize {
  long long nodes;
  long long edges;
};

GraphSize graphSize(int width, int height) {
  const long long w = width, h = height;
  return {kBlendFrames * w * h,
          (kBlendFrames - 1) * w * h + kBlendFrames * (h * (w - 1) + w * (h - 1))};
}

}  // namespace

OutputWindow outputWindow(const Transition& t, int lastIndex) {
  OutputWindow window;
  window.start = std::max(t.from - 5, 0);
  window.end =
      std::min(t.to + window.start - t.from + kBlendFrames, lastIndex) - (kBlendFrames - 1);
  return window;
}

bool blendCutFits(int width, int height) {
  if (width <= 0 || height <= 0) return false;
  const GraphSize size = graphSize(width, height);
  // Every edge is two arcs, and arcs are counted in ints.
  return size.nodes <= INT_MAX && size.edges <= INT_MAX / 2;
}

std::uint64_t blendCutBytes(int width, int height) {
  if (width <= 0 || height <= 0) return 0;
  const GraphSize size = graphSize(width, height);
  // Measured against the graph's records: a node takes about 32 bytes; an arc 12, and
  // as many again with its index while the run packs them.
  constexpr std::uint64_t kNodeBytes = 32, kArcPeakBytes = 28;
  const std::uint64_t labels = static_cast<std::uint64_t>(size.nodes) * sizeof(int);
  return static_cast<std::uint64_t>(size.nodes) * kNodeBytes +
         2 * static_cast<std::uint64_t>(size.edges) * kArcPeakBytes + labels;
}

BlendCut blendCut(const VideoFrames& video, const OutputWindow& window) {
  const int w = video.width, h = video.height;
  const int plane = w * h;
  const GraphSize size = graphSize(w, h);
  MaxflowGraph graph(static_cast<int>(size.nodes), static_cast<int>(size.edges));
  graph.AddNodes(static_cast<int>(size.nodes));

  auto runA = [&](int k) { return video.frames[window.end + k].data(); };
  auto runB = [&](int k) { return video.frames[window.start + k].data(); };
  for (int k = 0; k < kBlendFrames; ++k) {
    const std::uint8_t* a = runA(k);
    const std::uint8_t* b = runB(k);
    const bool hasNext = k + 1 < kBlendFrames;
    const std::uint8_t* nextA = hasNext ? runA(k + 1) : nullptr;
    const std::uint8_t* nextB = hasNext ? runB(k + 1) : nullptr;
    const int base = k * plane;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const int p = y * w + x;
        const int node = base + p;
        const std::uint32_t as = PackPixel(a + 3 * p);
        const std::uint32_t bs = PackPixel(b + 3 * p);
        if (x + 1 < w) {
          const float cost =
              SeamCost(as, PackPixel(a + 3 * (p + 1)), bs, PackPixel(b + 3 * (p + 1)));
          graph.AddEdge(node, node + 1, cost, cost);
        }
        if (y + 1 < h) {
          const float cost =
              SeamCost(as, PackPixel(a + 3 * (p + w)), bs, PackPixel(b + 3 * (p + w)));
          graph.AddEdge(node, node + w, cost, cost);
        }
        if (hasNext) {
          const float cost = SeamCost(as, PackPixel(nextA + 3 * p), bs, PackPixel(nextB + 3 * p));
          graph.AddEdge(node, node + plane, cost, cost);
        }
      }
    }
  }
  // Run A is the source side, run B the sink side.
  const int lastFrame = (kBlendFrames - 1) * plane;
  for (int p = 0; p < plane; ++p) {
    graph.AddTerminalWeights(p, kTerminalTie, 0);
    graph.AddTerminalWeights(lastFrame + p, 0, kTerminalTie);
  }

  BlendCut cut;
  cut.flow = graph.maxflow(false, nullptr);
  cut.labels.resize(static_cast<std::size_t>(size.nodes));
  for (int node = 0; node < static_cast<int>(size.nodes); ++node) {
    cut.labels[node] =
        graph.WhatSegment(node, MaxflowGraph::SOURCE) == MaxflowGraph::SOURCE ? kRunA : kRunB;
  }
  return cut;
}

int composeOutputFrames(const VideoFrames& video, const OutputWindow& window,
                        const std::vector<std::uint8_t>& labels, const FrameSink& sink) {
  int produced = 0;
  for (int f = window.start + kBlendFrames; f < window.end; ++f, ++produced)
    sink(video.frames[f].data());

  const std::size_t plane = static_cast<std::size_t>(video.width) * video.height;
  std::vector<std::uint8_t> blended(video.frameBytes());
  for (int k = 0; k < kBlendFrames; ++k, ++produced) {
    const std::uint8_t* a = video.frames[window.end + k].data();
    const std::uint8_t* b = video.frames[window.start + k].data();
    const std::uint8_t* label = &labels[k * plane];
    for (std::size_t p = 0; p < plane; ++p) {
      std::memcpy(&blended[3 * p], (label[p] == kRunA ? a : b) + 3 * p, 3);
    }
    sink(blended.data());
  }
  return produced;
}

}  // namespace quiltbench::video
