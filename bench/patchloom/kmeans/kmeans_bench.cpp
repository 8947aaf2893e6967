// One clustering of the engine's patch vectors (k = 4, 100 stages) as the engine runs it and
// forced onto the kc-tree, both from the same seed and checked to give the same centres and
// assignments; a plain brute-force Lloyd loop over the same points from the same start; one
// filtering pass of the kc-tree against one brute-force pass. bench/patchloom/kmeans/
// compare_with_peer.py runs the clusterings next to an independent Lloyd implementation.
#include <benchmark/benchmark.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "patchloom/kmeans/kmeans.h"

namespace {

constexpr int kCenters = 4;
const KMeansTermination kTermination{100, 0, 0, 0, 0.10, 0.10, 3, 0.50, 10, 0.95};

// A 256x256 RGB texture: waves of several periods and some noise, bytes 0..255.
std::vector<unsigned char> exemplar() {
  std::vector<unsigned char> rgb(256 * 256 * 3);
  std::uint32_t state = 12345;
  for (int y = 0; y < 256; ++y) {
    for (int x = 0; x < 256; ++x) {
      for (int c = 0; c < 3; ++c) {
        state = state * 1664525u + 1013904223u;
        const double v = 128 + 60 * std::sin(0.11 * x + 0.9 * c) +
                         40 * std::sin(0.07 * (c + 1) * y + 0.05 * x) +
                         static_cast<int>(state >> 27) - 16;
        rgb[(y * 256 + x) * 3 + c] = static_cast<unsigned char>(std::clamp(v, 0.0, 255.0));
      }
    }
  }
  return rgb;
}

struct Patches {
  int dim = 0;
  int count = 0;
  std::vector<double> coords;
};

// Patches of n x n pixels on a grid of step n/4, `side` patches a row and a column.
const Patches& patches(int n, int side) {
  static std::map<int, Patches> cache;
  Patches& p = cache[n];
  if (p.count) return p;
  static const std::vector<unsigned char> rgb = exemplar();
  const int step = n / 4;
  p.dim = n * n * 3;
  p.count = side * side;
  p.coords.reserve(static_cast<std::size_t>(p.count) * p.dim);
  for (int py = 0; py < side; ++py) {
    for (int px = 0; px < side; ++px) {
      for (int y = py * step; y < py * step + n; ++y) {
        for (int x = px * step; x < px * step + n; ++x) {
          for (int c = 0; c < 3; ++c) p.coords.push_back(rgb[(y * 256 + x) * 3 + c]);
        }
      }
    }
  }
  return p;
}

const Patches& patchesFor(int which) {
  switch (which) {
    case 0:
      return patches(32, 29);  // 841 x 3072
    case 1:
      return patches(16, 61);  // 3721 x 768
    default:
      return patches(8, 121);  // 14641 x 192
  }
}

std::unique_ptr<KMeansPointSet> pointSet(const Patches& p) {
  auto points = std::make_unique<KMeansPointSet>(p.dim, p.count);
  std::memcpy(points->point(0), p.coords.data(), sizeof(double) * p.coords.size());
  return points;
}

// The start a search draws: k distinct sampled points from the fixed seed.
std::vector<double> startCentres(const KMeansPointSet& points) {
  std::vector<double> centres(static_cast<std::size_t>(kCenters) * points.dim());
  KMeansRandomRestart();
  points.samplePoints(centres.data(), kCenters, false);
  return centres;
}

// The plain pass: every point against every centre, then its sums.
void bruteForcePass(const Patches& p, const double* centres, double* sums, int* weights,
                    int* closest) {
  const int dim = p.dim;
  std::fill(sums, sums + kCenters * dim, 0.0);
  std::fill(weights, weights + kCenters, 0);
  for (int i = 0; i < p.count; ++i) {
    const double* x = p.coords.data() + static_cast<std::size_t>(i) * dim;
    double best = DBL_MAX;
    int winner = 0;
    for (int c = 0; c < kCenters; ++c) {
      const double* z = centres + static_cast<std::size_t>(c) * dim;
      double s = 0.0;
      for (int d = 0; d < dim; ++d) s += (x[d] - z[d]) * (x[d] - z[d]);
      if (s < best) {
        best = s;
        winner = c;
      }
    }
    closest[i] = winner;
    double* sum = sums + static_cast<std::size_t>(winner) * dim;
    for (int d = 0; d < dim; ++d) sum[d] += x[d];
    ++weights[winner];
  }
}

struct Clustering {
  std::vector<double> centres;
  std::vector<int> closest;
  int stages = 0;
};

// The clustering as the engine runs it, set-up included; `tree` forces the kc-tree.
Clustering cluster(const Patches& p, bool tree) {
  KMeansRandomRestart();
  auto points = pointSet(p);
  if (tree) {
    points->buildTree();
  } else {
    points->buildIndex();
  }
  KMeansFilterCenterSet centres(kCenters, *points, 1.0);
  KMeansLloydRestartSearch search(centres, kTermination);
  centres = search.Execute();
  Clustering result;
  result.closest.resize(static_cast<std::size_t>(p.count));
  centres.GetAssignments(result.closest.data(), nullptr);
  const KMeansFilterCenterSet& done = centres;
  result.centres.assign(done.centers(), done.centers() + kCenters * p.dim);
  result.stages = search.stage();
  return result;
}

void clusteringBenchmark(benchmark::State& state, bool tree) {
  const Patches& p = patchesFor(static_cast<int>(state.range(0)));
  Clustering result;
  for (auto _ : state) {
    result = cluster(p, tree);
    benchmark::DoNotOptimize(result.closest.data());
  }
  state.counters["stages"] = result.stages;
  state.SetLabel(std::to_string(p.count) + " x " + std::to_string(p.dim));
  if (!tree) {
    const Clustering onTree = cluster(p, true);
    if (onTree.centres != result.centres || onTree.closest != result.closest)
      state.SkipWithError("the clustering differs from the one on the kc-tree");
  }
}

void BM_Clustering(benchmark::State& state) { clusteringBenchmark(state, false); }
void BM_ClusteringOnKcTree(benchmark::State& state) { clusteringBenchmark(state, true); }

// For the peer comparison: when KMEANS_PEER_POINTS names a folder, writes each point set as
// raw bytes (points-<count>x<dim>.u8) and the search's first centres as raw doubles
// (start-<count>x<dim>.f64) there.
void BM_ExportPoints(benchmark::State& state) {
  const char* folder = std::getenv("KMEANS_PEER_POINTS");
  for (auto _ : state) {
  }
  if (folder == nullptr) {
    state.SkipWithError("KMEANS_PEER_POINTS is not set");
    return;
  }
  for (int which = 0; which < 3; ++which) {
    const Patches& p = patchesFor(which);
    const std::string name = std::to_string(p.count) + "x" + std::to_string(p.dim);
    std::vector<unsigned char> bytes(p.coords.begin(), p.coords.end());
    auto points = pointSet(p);
    const std::vector<double> start = startCentres(*points);
    std::ofstream(std::string(folder) + "/points-" + name + ".u8", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    std::ofstream(std::string(folder) + "/start-" + name + ".f64", std::ios::binary)
        .write(reinterpret_cast<const char*>(start.data()),
               static_cast<std::streamsize>(start.size() * sizeof(double)));
  }
}

// 100 plain Lloyd iterations over the same points from the same start.
void BM_BruteForceLloyd(benchmark::State& state) {
  const Patches& p = patchesFor(static_cast<int>(state.range(0)));
  auto points = pointSet(p);
  const std::vector<double> start = startCentres(*points);
  std::vector<double> sums(start.size());
  std::vector<int> weights(kCenters), closest(p.count);
  for (auto _ : state) {
    std::vector<double> centres = start;
    for (int stage = 0; stage < 100; ++stage) {
      bruteForcePass(p, centres.data(), sums.data(), weights.data(), closest.data());
      for (int c = 0; c < kCenters; ++c) {
        if (weights[c] == 0) continue;
        for (int d = 0; d < p.dim; ++d) {
          centres[c * p.dim + d] = sums[c * p.dim + d] / weights[c];
        }
      }
    }
    benchmark::DoNotOptimize(centres.data());
  }
  state.SetLabel(std::to_string(p.count) + " x " + std::to_string(p.dim));
}

// Centres a few Lloyd steps into a clustering, as most passes of a search see them.
std::vector<double> settledCentres(const Patches& p, KMeansPointSet& points) {
  KMeansFilterCenterSet set(kCenters, points, 1.0);
  const std::vector<double> start = startCentres(points);
  for (int c = 0; c < kCenters; ++c) {
    std::copy(start.begin() + c * p.dim, start.begin() + (c + 1) * p.dim, set.center(c));
  }
  for (int i = 0; i < 5; ++i) set.lloydStep();
  return {set.centers(), set.centers() + kCenters * p.dim};
}

void BM_FilterPass(benchmark::State& state) {
  const Patches& p = patchesFor(static_cast<int>(state.range(0)));
  auto points = pointSet(p);
  points->buildTree();
  const std::vector<double> centres = settledCentres(p, *points);
  std::vector<double> sums(centres.size()), sumSqs(kCenters), plainSums(centres.size());
  std::vector<int> weights(kCenters), plainWeights(kCenters), closest(p.count);
  points->tree()->filter(kCenters, centres.data(), sums.data(), weights.data(), sumSqs.data());
  bruteForcePass(p, centres.data(), plainSums.data(), plainWeights.data(), closest.data());
  if (sums != plainSums || weights != plainWeights) {
    state.SkipWithError("filtering pass differs from the brute-force pass");
    return;
  }
  for (auto _ : state) {
    points->tree()->filter(kCenters, centres.data(), sums.data(), weights.data(), sumSqs.data());
    benchmark::DoNotOptimize(sums.data());
  }
  state.counters["scanned"] = static_cast<double>(points->tree()->lastPassScannedPoints());
  state.SetLabel(std::to_string(p.count) + " x " + std::to_string(p.dim));
}

void BM_BruteForcePass(benchmark::State& state) {
  const Patches& p = patchesFor(static_cast<int>(state.range(0)));
  auto points = pointSet(p);
  points->buildTree();
  const std::vector<double> centres = settledCentres(p, *points);
  std::vector<double> sums(centres.size());
  std::vector<int> weights(kCenters), closest(p.count);
  for (auto _ : state) {
    bruteForcePass(p, centres.data(), sums.data(), weights.data(), closest.data());
    benchmark::DoNotOptimize(sums.data());
  }
  state.SetLabel(std::to_string(p.count) + " x " + std::to_string(p.dim));
}

BENCHMARK(BM_Clustering)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ClusteringOnKcTree)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportPoints)->Iterations(1);
BENCHMARK(BM_BruteForceLloyd)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilterPass)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BruteForcePass)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

}  // namespace
