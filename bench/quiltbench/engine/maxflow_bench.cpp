// The max-flow graph on the shapes it cuts in practice (seam strips and L shapes, and a
// 352x288x10 spatio-temporal grid), next to Boost Graph's push-relabel on the same graphs.
// Each run builds the graph and cuts it; counters report the flow and the graph's heap bytes.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <boost/graph/adjacency_list.hpp>
#include <boost/graph/push_relabel_max_flow.hpp>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "quiltbench/engine/maxflow_graph.h"

namespace {

// Capacities are whole numbers held in floats, so both solvers add them up exactly.
struct Problem {
  int nodes = 0;
  struct Edge {
    int from, to;
    float capacity;
  };
  std::vector<Edge> edges;  // the same capacity both ways, like a seam
  std::vector<float> source, sink;
};

constexpr float kForced = 1e6f;

// A smooth random field: a few random waves plus a little noise, 0..255.
std::vector<float> smoothField(int w, int h, int frames, std::mt19937& rng) {
  std::uniform_real_distribution<float> phase(0, 6.2831853f), freq(0.01f, 0.08f);
  std::normal_distribution<float> noise(0, 3);
  float fx[4], fy[4], ft[4], ph[4];
  for (int k = 0; k < 4; ++k) {
    fx[k] = freq(rng);
    fy[k] = freq(rng);
    ft[k] = freq(rng) * 4;
    ph[k] = phase(rng);
  }
  std::vector<float> field(static_cast<std::size_t>(w) * h * frames);
  std::size_t i = 0;
  for (int t = 0; t < frames; ++t)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        float v = 128;
        for (int k = 0; k < 4; ++k) v += 30 * std::sin(fx[k] * x + fy[k] * y + ft[k] * t + ph[k]);
        field[i++] = std::fmin(255, std::fmax(0, v + noise(rng)));
      }
  return field;
}

// A w x h x frames grid cut between two smooth colour videos A and B, as the blend cut
// builds it: each edge costs the colour distance between A and B at both its ends (rounded
// to a whole number), the first frame is tied to the source and the last to the sink
// (with one frame: the first and last columns).
Problem gridProblem(int w, int h, int frames, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<float> a[3], b[3];
  for (int c = 0; c < 3; ++c) {
    a[c] = smoothField(w, h, frames, rng);
    b[c] = smoothField(w, h, frames, rng);
  }
  Problem p;
  p.nodes = w * h * frames;
  p.source.assign(p.nodes, 0);
  p.sink.assign(p.nodes, 0);
  std::vector<float> distance(p.nodes);
  for (int i = 0; i < p.nodes; ++i) {
    float sum = 0;
    for (int c = 0; c < 3; ++c) sum += (a[c][i] - b[c][i]) * (a[c][i] - b[c][i]);
    distance[i] = std::sqrt(sum);
  }
  auto id = [&](int x, int y, int t) { return (t * h + y) * w + x; };
  auto cost = [&](int i, int j) { return std::round(distance[i] + distance[j]); };
  for (int t = 0; t < frames; ++t)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const int i = id(x, y, t);
        if (x + 1 < w) p.edges.push_back({i, id(x + 1, y, t), cost(i, id(x + 1, y, t))});
        if (y + 1 < h) p.edges.push_back({i, id(x, y + 1, t), cost(i, id(x, y + 1, t))});
        if (t + 1 < frames) p.edges.push_back({i, id(x, y, t + 1), cost(i, id(x, y, t + 1))});
      }
  if (frames > 1) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        p.source[id(x, y, 0)] = kForced;
        p.sink[id(x, y, frames - 1)] = kForced;
      }
  } else {
    for (int y = 0; y < h; ++y) {
      p.source[id(0, y, 0)] = kForced;
      p.sink[id(w - 1, y, 0)] = kForced;
    }
  }
  return p;
}

// An L-shaped overlap: an 8-wide left strip of height 32 and a 24x8 top strip, the
// corner's outer edges forced to the old image and the inner edges to the new patch.
Problem lShapeProblem(unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> colour(0, 255);
  std::vector<int> index(32 * 32, -1);
  Problem p;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x)
      if (x < 8 || y < 8) index[y * 32 + x] = p.nodes++;
  std::vector<float> diff(p.nodes);
  for (auto& d : diff) d = static_cast<float>(colour(rng));
  p.source.assign(p.nodes, 0);
  p.sink.assign(p.nodes, 0);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      const int i = index[y * 32 + x];
      if (i < 0) continue;
      auto link = [&](int nx, int ny) {
        if (nx >= 32 || ny >= 32) return;
        const int j = index[ny * 32 + nx];
        if (j >= 0) p.edges.push_back({i, j, std::floor((diff[i] + diff[j]) / 8) + 1});
      };
      link(x + 1, y);
      link(x, y + 1);
      if (x == 0 || y == 0) p.source[i] = kForced;
      if ((x == 7 && y >= 8) || (y == 7 && x >= 8)) p.sink[i] = kForced;
    }
  return p;
}

float solveOurs(const Problem& p) {
  MaxflowGraph g(p.nodes, static_cast<int>(p.edges.size()));
  g.AddNodes(p.nodes);
  for (const auto& e : p.edges) g.AddEdge(e.from, e.to, e.capacity, e.capacity);
  for (int i = 0; i < p.nodes; ++i)
    if (p.source[i] != 0 || p.sink[i] != 0) g.AddTerminalWeights(i, p.source[i], p.sink[i]);
  return g.maxflow(false, nullptr);
}

using BoostTraits = boost::adjacency_list_traits<boost::vecS, boost::vecS, boost::directedS>;
using BoostGraph = boost::adjacency_list<
    boost::vecS, boost::vecS, boost::directedS, boost::no_property,
    boost::property<
        boost::edge_capacity_t, long,
        boost::property<boost::edge_residual_capacity_t, long,
                        boost::property<boost::edge_reverse_t, BoostTraits::edge_descriptor>>>>;

long solveBoost(const Problem& p) {
  BoostGraph g(p.nodes + 2);
  const int s = p.nodes, t = p.nodes + 1;
  auto capacity = boost::get(boost::edge_capacity, g);
  auto reverse = boost::get(boost::edge_reverse, g);
  auto addPair = [&](int u, int v, long c, long rc) {
    auto e = boost::add_edge(u, v, g).first;
    auto r = boost::add_edge(v, u, g).first;
    capacity[e] = c;
    capacity[r] = rc;
    reverse[e] = r;
    reverse[r] = e;
  };
  for (const auto& e : p.edges) {
    const long c = static_cast<long>(e.capacity);
    addPair(e.from, e.to, c, c);
  }
  for (int i = 0; i < p.nodes; ++i) {
    if (p.source[i] != 0) addPair(s, i, static_cast<long>(p.source[i]), 0);
    if (p.sink[i] != 0) addPair(i, t, static_cast<long>(p.sink[i]), 0);
  }
  return boost::push_relabel_max_flow(g, s, t);
}

std::size_t heapInUse() {
  const auto info = mallinfo2();
  return info.uordblks + info.hblkhd;  // small blocks and mapped large ones
}

// Heap bytes of our graph right after it is built (the arrays reserved from the hints).
double ourGraphBytes(const Problem& p) {
  const std::size_t before = heapInUse();
  MaxflowGraph g(p.nodes, static_cast<int>(p.edges.size()));
  g.AddNodes(p.nodes);
  for (const auto& e : p.edges) g.AddEdge(e.from, e.to, e.capacity, e.capacity);
  return static_cast<double>(heapInUse() - before);
}

const Problem& videoGrid() {
  static const Problem p = gridProblem(352, 288, 10, 2026);
  return p;
}

void report(benchmark::State& state, const Problem& p, double flow) {
  state.counters["flow"] = flow;
  state.counters["nodes"] = p.nodes;
  state.counters["edges"] = static_cast<double>(p.edges.size());
}

void BM_Ours_SeamStrip(benchmark::State& state) {
  const Problem p = gridProblem(8, 32, 1, 5);
  float flow = 0;
  for (auto _ : state) benchmark::DoNotOptimize(flow = solveOurs(p));
  report(state, p, flow);
}

void BM_Boost_SeamStrip(benchmark::State& state) {
  const Problem p = gridProblem(8, 32, 1, 5);
  long flow = 0;
  for (auto _ : state) benchmark::DoNotOptimize(flow = solveBoost(p));
  report(state, p, static_cast<double>(flow));
}

void BM_Ours_LShape(benchmark::State& state) {
  const Problem p = lShapeProblem(9);
  float flow = 0;
  for (auto _ : state) benchmark::DoNotOptimize(flow = solveOurs(p));
  report(state, p, flow);
}

void BM_Boost_LShape(benchmark::State& state) {
  const Problem p = lShapeProblem(9);
  long flow = 0;
  for (auto _ : state) benchmark::DoNotOptimize(flow = solveBoost(p));
  report(state, p, static_cast<double>(flow));
}

void BM_Ours_VideoGrid(benchmark::State& state) {
  const Problem& p = videoGrid();
  float flow = 0;
  for (auto _ : state) benchmark::DoNotOptimize(flow = solveOurs(p));
  report(state, p, flow);
  state.counters["graph_MB"] = ourGraphBytes(p) / 1e6;
}

void BM_Boost_VideoGrid(benchmark::State& state) {
  const Problem& p = videoGrid();
  long flow = 0;
  for (auto _ : state) benchmark::DoNotOptimize(flow = solveBoost(p));
  report(state, p, static_cast<double>(flow));
}

BENCHMARK(BM_Ours_SeamStrip);
BENCHMARK(BM_Boost_SeamStrip);
BENCHMARK(BM_Ours_LShape);
BENCHMARK(BM_Boost_LShape);
BENCHMARK(BM_Ours_VideoGrid)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Boost_VideoGrid)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
