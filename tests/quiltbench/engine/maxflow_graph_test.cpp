// The max-flow graph against a plain breadth-first augmenting-path solver on random
// graphs, the cut it reports, its terminal bookkeeping and its array growth.
#include "quiltbench/engine/maxflow_graph.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <deque>
#include <random>
#include <vector>

namespace {

struct Edge {
  int from, to;
  double capacity, reverse;
};

struct Problem {
  int nodes = 0;
  std::vector<Edge> edges;
  std::vector<double> source, sink;  // terminal capacities per node
};

// Shortest augmenting paths on a dense residual matrix over nodes + 2 terminals.
double referenceMaxflow(const Problem& p) {
  const int n = p.nodes + 2, s = p.nodes, t = p.nodes + 1;
  std::vector<double> r(static_cast<std::size_t>(n) * n, 0.0);
  auto at = [&](int a, int b) -> double& { return r[static_cast<std::size_t>(a) * n + b]; };
  for (const Edge& e : p.edges) {
    at(e.from, e.to) += e.capacity;
    at(e.to, e.from) += e.reverse;
  }
  for (int i = 0; i < p.nodes; ++i) {
    at(s, i) += p.source[i];
    at(i, t) += p.sink[i];
  }
  double flow = 0;
  for (;;) {
    std::vector<int> prev(n, -1);
    prev[s] = s;
    std::deque<int> queue{s};
    while (!queue.empty() && prev[t] < 0) {
      int u = queue.front();
      queue.pop_front();
      for (int v = 0; v < n; ++v)
        if (prev[v] < 0 && at(u, v) > 1e-9) {
          prev[v] = u;
          queue.push_back(v);
        }
    }
    if (prev[t] < 0) return flow;
    double b = 1e300;
    for (int v = t; v != s; v = prev[v]) b = std::min(b, at(prev[v], v));
    for (int v = t; v != s; v = prev[v]) {
      at(prev[v], v) -= b;
      at(v, prev[v]) += b;
    }
    flow += b;
  }
}

// Capacity of the cut that puts `inSource` nodes with the source.
double cutCapacity(const Problem& p, const std::vector<bool>& inSource) {
  double cut = 0;
  for (const Edge& e : p.edges) {
    if (inSource[e.from] && !inSource[e.to]) cut += e.capacity;
    if (inSource[e.to] && !inSource[e.from]) cut += e.reverse;
  }
  for (int i = 0; i < p.nodes; ++i) cut += inSource[i] ? p.sink[i] : p.source[i];
  return cut;
}

Problem randomProblem(std::mt19937& rng, bool integral) {
  Problem p;
  p.nodes = std::uniform_int_distribution<int>(1, 40)(rng);
  const int edges = std::uniform_int_distribution<int>(0, p.nodes * 4)(rng);
  auto capacity = [&](double zeroChance) -> double {
    if (std::bernoulli_distribution(zeroChance)(rng)) return 0.0;
    if (integral) return std::uniform_int_distribution<int>(1, 20)(rng);
    return std::uniform_real_distribution<double>(0.01, 10.0)(rng);
  };
  std::uniform_int_distribution<int> node(0, p.nodes - 1);
  for (int k = 0; k < edges; ++k)
    p.edges.push_back({node(rng), node(rng), capacity(0.3), capacity(0.6)});
  for (int i = 0; i < p.nodes; ++i) {
    p.source.push_back(capacity(0.6));
    p.sink.push_back(capacity(0.6));
  }
  return p;
}

// Builds the graph from deliberately tiny hints so that every run also grows the arrays.
float solve(const Problem& p, MaxflowGraph& g) {
  for (int i = 0; i < p.nodes; ++i) g.AddNodes(1);
  for (const Edge& e : p.edges)
    g.AddEdge(e.from, e.to, static_cast<float>(e.capacity), static_cast<float>(e.reverse));
  for (int i = 0; i < p.nodes; ++i)
    g.AddTerminalWeights(i, static_cast<float>(p.source[i]), static_cast<float>(p.sink[i]));
  return g.maxflow(false, nullptr);
}

void expectMinimumCut(const Problem& p, const MaxflowGraph& g, double flow, double tolerance) {
  for (auto side : {MaxflowGraph::SOURCE, MaxflowGraph::SINK}) {
    std::vector<bool> inSource(p.nodes);
    for (int i = 0; i < p.nodes; ++i) inSource[i] = g.WhatSegment(i, side) == MaxflowGraph::SOURCE;
    EXPECT_NEAR(cutCapacity(p, inSource), flow, tolerance) << "free nodes on side " << side;
  }
}

TEST(MaxflowGraphTest, MatchesReferenceOnRandomGraphs) {
  const unsigned seed = 20261210;
  std::printf("maxflow random graphs: seed %u\n", seed);
  std::mt19937 rng(seed);
  for (int round = 0; round < 400; ++round) {
    const bool integral = round % 2 == 0;
    const Problem p = randomProblem(rng, integral);
    SCOPED_TRACE("seed " + std::to_string(seed) + " round " + std::to_string(round));
    const double expected = referenceMaxflow(p);
    MaxflowGraph g(1, 1);
    const float flow = solve(p, g);
    // Whole capacities add up exactly in floats; fractional ones carry rounding.
    const double tolerance = integral ? 0.0 : 1e-4 * std::max(1.0, expected);
    EXPECT_NEAR(flow, expected, tolerance);
    expectMinimumCut(p, g, expected, integral ? 0.0 : 1e-3 * std::max(1.0, expected));
  }
}

// A graph that grows after a cut and is cut again ends with the whole graph's flow.
TEST(MaxflowGraphTest, GrowingAfterACutAndCuttingAgain) {
  const unsigned seed = 4711;
  std::printf("maxflow regrowth: seed %u\n", seed);
  std::mt19937 rng(seed);
  for (int round = 0; round < 100; ++round) {
    SCOPED_TRACE("seed " + std::to_string(seed) + " round " + std::to_string(round));
    const Problem p = randomProblem(rng, true);
    const std::size_t half = p.edges.size() / 2;
    MaxflowGraph g(1, 1);
    g.AddNodes(p.nodes);
    for (std::size_t k = 0; k < half; ++k) {
      const Edge& e = p.edges[k];
      g.AddEdge(e.from, e.to, static_cast<float>(e.capacity), static_cast<float>(e.reverse));
    }
    // The first cut already moves flow, so its residuals must survive the regrowth.
    for (int i = 0; i < p.nodes; i += 2)
      g.AddTerminalWeights(i, static_cast<float>(p.source[i]), static_cast<float>(p.sink[i]));
    g.maxflow();
    for (std::size_t k = half; k < p.edges.size(); ++k) {
      const Edge& e = p.edges[k];
      g.AddEdge(e.from, e.to, static_cast<float>(e.capacity), static_cast<float>(e.reverse));
    }
    g.AddNodes(1);  // one node more, with no edges, changes nothing
    for (int i = 1; i < p.nodes; i += 2)
      g.AddTerminalWeights(i, static_cast<float>(p.source[i]), static_cast<float>(p.sink[i]));
    const double expected = referenceMaxflow(p);
    EXPECT_EQ(g.maxflow(), expected);
    expectMinimumCut(p, g, expected, 0.0);
  }
}

// A 4-connected grid with neighbours joined both ways, the shape of every seam graph.
TEST(MaxflowGraphTest, GridCutsMatchReference) {
  const unsigned seed = 77;
  std::printf("maxflow grids: seed %u\n", seed);
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> cap(1, 50);
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE("seed " + std::to_string(seed) + " round " + std::to_string(round));
    const int w = 8, h = 4 + round;
    Problem p;
    p.nodes = w * h;
    p.source.assign(p.nodes, 0);
    p.sink.assign(p.nodes, 0);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const int i = y * w + x;
        if (x + 1 < w) {
          const double c = cap(rng);
          p.edges.push_back({i, i + 1, c, c});
        }
        if (y + 1 < h) {
          const double c = cap(rng);
          p.edges.push_back({i, i + w, c, c});
        }
      }
    for (int y = 0; y < h; ++y) {
      p.source[y * w] = 1e6;
      p.sink[y * w + w - 1] = 1e6;
    }
    MaxflowGraph g(p.nodes, static_cast<int>(p.edges.size()));
    const double expected = referenceMaxflow(p);
    EXPECT_EQ(solve(p, g), expected);
    expectMinimumCut(p, g, expected, 0.0);
  }
}

TEST(MaxflowGraphTest, NoTerminalCapacityLeavesEveryNodeFree) {
  MaxflowGraph g(3, 2);
  g.AddNodes(3);
  g.AddEdge(0, 1, 4, 4);
  g.AddEdge(1, 2, 4, 4);
  EXPECT_EQ(g.maxflow(), 0.0f);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(g.WhatSegment(i, MaxflowGraph::SOURCE), MaxflowGraph::SOURCE);
    EXPECT_EQ(g.WhatSegment(i, MaxflowGraph::SINK), MaxflowGraph::SINK);
  }
}

TEST(MaxflowGraphTest, TerminalWeightsAccumulate) {
  MaxflowGraph g(2, 1);
  g.AddNodes(2);
  g.AddTerminalWeights(0, 5, 0);
  g.AddTerminalWeights(0, 0, 3);
  EXPECT_EQ(g.Flow(), 3.0f);
  // What is left is 2 from the source, which an edge to a sink node can carry away.
  g.AddTerminalWeights(1, 0, 10);
  g.AddEdge(0, 1, 100, 0);
  EXPECT_EQ(g.maxflow(), 5.0f);
  EXPECT_EQ(g.WhatSegment(0, MaxflowGraph::SINK), MaxflowGraph::SINK);  // drained, so free
  EXPECT_EQ(g.WhatSegment(1), MaxflowGraph::SINK);
}

TEST(MaxflowGraphTest, GrowingPastTheHintsKeepsEveryArc) {
  // A chain 0 -> 1 -> ... -> n-1 built in bulk and one by one, far beyond the hints.
  const int n = 5000;
  MaxflowGraph g(0, 0);
  EXPECT_EQ(g.AddNodes(n / 2), 0);
  for (int i = n / 2; i < n; ++i) EXPECT_EQ(g.AddNodes(1), i);
  EXPECT_EQ(g.NodeCount(), n);
  for (int i = 0; i + 1 < n; ++i) g.AddEdge(i, i + 1, static_cast<float>(3 + i % 7), 0);
  EXPECT_EQ(g.ArcCount(), 2 * (n - 1));
  g.AddTerminalWeights(0, 100, 0);
  g.AddTerminalWeights(n - 1, 0, 100);
  EXPECT_EQ(g.maxflow(), 3.0f);
  // Every arc of capacity 3 saturates: 0 stays with the source, the last node with the
  // sink, and the nodes between them reach neither terminal.
  EXPECT_EQ(g.WhatSegment(0, MaxflowGraph::SINK), MaxflowGraph::SOURCE);
  EXPECT_EQ(g.WhatSegment(n - 1, MaxflowGraph::SOURCE), MaxflowGraph::SINK);
  EXPECT_EQ(g.WhatSegment(1, MaxflowGraph::SOURCE), MaxflowGraph::SOURCE);
  EXPECT_EQ(g.WhatSegment(1, MaxflowGraph::SINK), MaxflowGraph::SINK);
}

void printError(const char* text) { std::fprintf(stderr, "graph error: %s\n", text); }

TEST(MaxflowGraphDeathTest, FatalErrorsEndTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        MaxflowGraph g(4, 4, printError);
        g.AddNodes(2);
        g.AddNodes(INT_MAX);
      },
      testing::ExitedWithCode(1), "graph error: Not enough memory!");
  EXPECT_EXIT(
      {
        MaxflowGraph g(4, 4, printError);
        g.AddNodes(1);
        g.maxflow(true, nullptr);
      },
      testing::ExitedWithCode(1), "reuse_trees cannot be used in the first call to maxflow\\(\\)!");
  EXPECT_EXIT(
      {
        MaxflowGraph g(4, 4);
        std::vector<int> changed;
        g.maxflow(false, &changed);
      },
      testing::ExitedWithCode(1), "changed_list cannot be used without reuse_trees!");
}

}  // namespace
