// Single-size and multi-level synthesis of a 128x128 exemplar, each next to a
// straightforward version of the same road (one pow per component, one GetPixelRGB per
// pixel read, member lists of separate vectors). Both versions run from the same fixed
// clock and k-means seed; the first pair of runs checks that their results are identical.
// The trees of several exemplars and the results are also checked against digests recorded
// from an earlier build, so that a faster clustering cannot change a single tree.
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "patchloom/engine/cluster_tree_digest.h"
#include "patchloom/engine/patch_optimizer.h"
#include "patchloom/engine/patch_optimizer_internal.h"
#include "patchloom/image/image.h"
#include "patchloom/kmeans/kmeans_random.h"
#include "platform/clock.h"
#include "platform/recording_ui.h"
#include "platform/ui.h"

namespace {

// ---------------------------------------------------------------------------------------
// The straightforward version.

struct PlainNode {
  std::vector<double> centre;
  std::array<std::unique_ptr<PlainNode>, 4> children;
  bool leaf = false;
  std::vector<std::vector<std::uint8_t>> members;
};

struct PlainTree {
  std::unique_ptr<PlainNode> root;
  int n = 0;
};

std::vector<std::uint8_t> ReadPatch(CImage& image, int x, int y, int n) {
  std::vector<std::uint8_t> v;
  v.reserve(static_cast<std::size_t>(n) * n * 3 + 4);
  for (int f = 0; f < n; ++f) {
    for (int i = 0; i < n; ++i) {
      std::uint8_t r = 0, g = 0, b = 0;
      image.GetPixelRGB(x + i, y + f, &r, &g, &b);
      v.insert(v.end(), {r, g, b});
    }
  }
  return v;
}

void PlainSplit(CPatchOptimizer& optimizer, PlainNode& node, const PatchList& list, int dim,
                int total) {
  const int count = static_cast<int>(list.size());
  const auto makeLeaf = [&] {
    node.leaf = true;
    for (const std::uint8_t* p : list) node.members.emplace_back(p, p + dim + 4);
  };
  if (total * 0.01 > count || count <= 4) return makeLeaf();
  std::vector<std::vector<double>> centres;
  std::vector<PatchList> groups;
  if (!optimizer.ClusterPatches(list, dim, centres, groups, 4)) std::abort();
  for (const PatchList& g : groups)
    if (static_cast<int>(g.size()) == count) return makeLeaf();
  for (int i = 0; i < 4; ++i) {
    node.children[i] = std::make_unique<PlainNode>();
    node.children[i]->centre = centres[i];
    PlainSplit(optimizer, *node.children[i], groups[i], dim, total);
  }
}

PlainTree PlainBuild(CPatchOptimizer& optimizer, CImage& exemplar, int n) {
  const int step = n / 4;
  const int dim = n * n * 3;
  std::vector<std::vector<std::uint8_t>> vectors;
  for (int y = 0; y + n <= exemplar.GetHeight(); y += step) {
    for (int x = 0; x + n <= exemplar.GetWidth(); x += step) {
      auto v = ReadPatch(exemplar, x, y, n);
      v.insert(v.end(), {static_cast<std::uint8_t>(x & 0xFF), static_cast<std::uint8_t>(x >> 8),
                         static_cast<std::uint8_t>(y & 0xFF), static_cast<std::uint8_t>(y >> 8)});
      vectors.push_back(std::move(v));
    }
  }
  PatchList all;
  for (const auto& v : vectors) all.push_back(v.data());
  const int total = static_cast<int>(all.size());
  PlainTree tree;
  tree.n = n;
  tree.root = std::make_unique<PlainNode>();
  if (total <= 4) {
    tree.root->leaf = true;
    tree.root->members = vectors;
    return tree;
  }
  std::vector<std::vector<double>> centres;
  std::vector<PatchList> groups;
  if (!optimizer.ClusterPatches(all, dim, centres, groups, 4)) std::abort();
  for (int i = 0; i < 4; ++i) {
    tree.root->children[i] = std::make_unique<PlainNode>();
    tree.root->children[i]->centre = centres[i];
    PlainSplit(optimizer, *tree.root->children[i], groups[i], dim, total);
  }
  return tree;
}

PatchMatch PlainSearch(const PlainTree& tree, CImage& image, int x, int y) {
  const auto query = ReadPatch(image, x, y, tree.n);
  const PlainNode* node = tree.root.get();
  while (!node->leaf) {
    const PlainNode* kept = nullptr;
    double best = 1e20;
    for (const auto& child : node->children) {
      if (child->leaf && child->members.empty()) continue;
      double sum = 0.0;
      for (std::size_t i = 0; i < query.size(); ++i)
        sum += std::pow(std::fabs(std::trunc(child->centre[i] - query[i])), 1.25);
      const double d = std::pow(sum, 0.8);
      if (d < best) {
        best = d;
        kept = child.get();
      }
    }
    node = kept;
  }
  PatchMatch match{0, 0, 1e20};
  for (const auto& m : node->members) {
    double sum = 0.0;
    for (std::size_t i = 0; i < query.size(); ++i)
      sum += std::pow(std::fabs(static_cast<double>(m[i]) - query[i]), 1.25);
    const double d = std::pow(sum, 0.8);
    if (d < match.distance) {
      const std::size_t at = query.size();
      match = PatchMatch{m[at] | (m[at + 1] << 8), m[at + 2] | (m[at + 3] << 8), d};
    }
  }
  return match;
}

// Search and blend as written out for one pixel at a time; cell (r, c) at
// ((c * cellStep) / divisor, (r * cellStep) / divisor).
void PlainIterations(CPatchOptimizer& optimizer, CImage& exemplar, CImage& image,
                     const PlainTree& tree, int cellStep, int divisor, int iterations) {
  const int n = tree.n;
  const int step = n / 4;
  const int width = image.GetWidth(), height = image.GetHeight();
  PatchMatchGrid grid((height - n) / step + 1, (width - n) / step + 1);
  GaussianKernel kernel;
  optimizer.MakeGaussianKernel(kernel, n, 1, 3);
  for (int it = 0; it < iterations; ++it) {
    for (int r = 0; r < grid.GetRows(); ++r)
      for (int c = 0; c < grid.GetColumns(); ++c)
        grid[r][c] = PlainSearch(tree, image, (c * cellStep) / divisor, (r * cellStep) / divisor);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        double sr = 0, sg = 0, sb = 0, s = 0;
        for (int i = std::max(0, y - n + 1); i <= std::min(y, height - n); ++i) {
          if (i % step) continue;
          for (int j = std::max(0, x - n + 1); j <= std::min(x, width - n); ++j) {
            if (j % step) continue;
            const PatchMatch& m = grid[i / step][j / step];
            std::uint8_t pr = 0, pg = 0, pb = 0;
            exemplar.GetPixelRGB(m.x + x - j, m.y + y - i, &pr, &pg, &pb);
            const double w = kernel[x - j][y - i] * std::exp(-0.00003 * m.distance);
            sr += w * pr;
            sg += w * pg;
            sb += w * pb;
            s += w;
          }
        }
        if (s == 0) {
          image.SetPixelRGB(x, y, 0, 0, 0);
        } else {
          image.SetPixelRGB(x, y, static_cast<std::uint8_t>(static_cast<int>(sr / s)),
                            static_cast<std::uint8_t>(static_cast<int>(sg / s)),
                            static_cast<std::uint8_t>(static_cast<int>(sb / s)));
        }
      }
    }
  }
}

std::unique_ptr<CImage> PlainSynthesize(CImage& exemplar, double scale, int iterations) {
  CPatchOptimizer optimizer;
  const int e = 32;
  int width = 0, height = 0;
  optimizer.GetOutputSize(&exemplar, e, scale, scale, width, height);
  auto image = std::make_unique<CImage>();
  image->Create(width, height, 24, 0);
  CPointArray positions;
  for (int r = 0; r <= height / e; ++r) {
    for (int c = 0; c <= width / e; ++c) {
      optimizer.PickRandomPosition(positions, exemplar.GetWidth(), exemplar.GetHeight(), e);
      const CPoint p = positions[positions.GetSize() - 1];
      optimizer.CopyBlock(&exemplar, p.x, p.y, image.get(), c * e, r * e, e, e);
    }
  }
  const PlainTree tree = PlainBuild(optimizer, exemplar, e);
  const PlainTree half = PlainBuild(optimizer, exemplar, e / 2);
  PlainIterations(optimizer, exemplar, *image, tree, e / 4, 1, 5);
  PlainIterations(optimizer, exemplar, *image, half, e / 4, 2, iterations);
  return image;
}

std::unique_ptr<CImage> PlainMultiLevel(CImage& exemplar, double scale, int iterations) {
  CPatchOptimizer optimizer;
  const PlainTree t32 = PlainBuild(optimizer, exemplar, 32);
  const PlainTree t16 = PlainBuild(optimizer, exemplar, 16);
  const PlainTree t8 = PlainBuild(optimizer, exemplar, 8);
  exemplar.Save("Multi_level_1.bmp", 0);
  const double s = std::sqrt(scale);
  int w1, h1;
  optimizer.GetOutputSize(&exemplar, 16, s, s, w1, h1);
  std::unique_ptr<CImage> i1(optimizer.Interpolate(&exemplar, w1, h1, true));
  PlainIterations(optimizer, exemplar, *i1, t16, 4, 1, iterations);
  i1->Save("Multi_level_2.bmp", 0);
  PlainIterations(optimizer, exemplar, *i1, t8, 2, 1, iterations);
  i1->Save("Multi_level_3.bmp", 0);
  int w2, h2;
  optimizer.GetOutputSize(i1.get(), 32, s, s, w2, h2);
  std::unique_ptr<CImage> i2(optimizer.Interpolate(i1.get(), w2, h2, true));
  PlainIterations(optimizer, exemplar, *i2, t32, 8, 1, iterations);
  i2->Save("Multi_level_4.bmp", 0);
  PlainIterations(optimizer, exemplar, *i2, t16, 4, 1, iterations);
  i2->Save("Multi_level_5.bmp", 0);
  PlainIterations(optimizer, exemplar, *i2, t8, 2, 1, iterations);
  return i2;
}

// ---------------------------------------------------------------------------------------

// A texture with structure at several scales: soft stripes, blobs and grain.
std::unique_ptr<CImage> MakeExemplar(int side = 128, unsigned seed = 42, int grainSize = 12) {
  auto image = std::make_unique<CImage>();
  image->Create(side, side, 24, 0);
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> grain(-grainSize, grainSize);
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      const double t = 0.5 + 0.5 * std::sin(0.31 * x + 0.17 * y + 2.0 * std::sin(0.05 * y));
      const double u = 0.5 + 0.5 * std::cos(0.11 * x - 0.23 * y);
      const auto clamp = [](double v) {
        return static_cast<std::uint8_t>(std::max(0.0, std::min(255.0, v)));
      };
      image->SetPixelRGB(x, y, clamp(40 + 170 * t + grain(random)),
                         clamp(60 + 120 * u * t + grain(random)),
                         clamp(150 - 100 * u + grain(random)));
    }
  }
  return image;
}

// One run of either version from the same start: fixed clock, k-means source restarted,
// progress lines kept off the console.
template <typename Run>
std::unique_ptr<CImage> Repeatable(Run&& run) {
  platform::FixedClock clock;
  platform::ScopedClock clockGuard(clock);
  platform::RecordingUi ui;
  platform::ScopedUi uiGuard(ui);
  KMeansRandomRestart();
  return run();
}

bool Identical(const CImage& a, const CImage& b) {
  if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight()) return false;
  for (int y = 0; y < a.GetHeight(); ++y) {
    for (int x = 0; x < a.GetWidth(); ++x) {
      std::uint8_t p[3], q[3];
      a.GetPixelRGB(x, y, &p[0], &p[1], &p[2]);
      b.GetPixelRGB(x, y, &q[0], &q[1], &q[2]);
      if (p[0] != q[0] || p[1] != q[1] || p[2] != q[2]) return false;
    }
  }
  return true;
}

// The multi-level runs write their level files; keep them out of the caller's folder.
class ScratchFolder {
 public:
  ScratchFolder()
      : previous_(std::filesystem::current_path()),
        path_(std::filesystem::temp_directory_path() / "patchloom-engine-bench") {
    std::filesystem::create_directories(path_);
    std::filesystem::current_path(path_);
  }
  ~ScratchFolder() {
    std::filesystem::current_path(previous_);
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }

 private:
  std::filesystem::path previous_;
  std::filesystem::path path_;
};

std::unique_ptr<CImage> FastSynthesize(CImage& exemplar) {
  CPatchOptimizer optimizer;
  return std::unique_ptr<CImage>(optimizer.Synthesize(&exemplar, 2.0, 2.0, 5, 0, 32));
}

std::unique_ptr<CImage> FastMultiLevel(CImage& exemplar) {
  CPatchOptimizer optimizer;
  return std::unique_ptr<CImage>(optimizer.SynthesizeMultiLevel(&exemplar, 4.0, 4.0, 2));
}

std::unique_ptr<CImage> g_fastSynthesis, g_fastMultiLevel;

// How often the search's estimates left the choice to exact distances during the runs
// since `before`: descent steps, and leaf members beyond the one a leaf always needs.
void ReportExactShares(benchmark::State& state, const patchloom_detail::SearchCounts& before) {
  const patchloom_detail::SearchCounts after = patchloom_detail::SearchCountsSoFar();
  const double steps = static_cast<double>(after.steps - before.steps);
  const double members = static_cast<double>(after.members - before.members);
  const double leaves = static_cast<double>(after.leaves - before.leaves);
  if (steps > 0)
    state.counters["exact_steps_%"] =
        100.0 * static_cast<double>(after.exactSteps - before.exactSteps) / steps;
  if (members > 0)
    state.counters["exact_members_%"] =
        100.0 * (static_cast<double>(after.exactMembers - before.exactMembers) - leaves) / members;
}

// Digests of the results when they were first measured.
constexpr std::uint64_t kSynthesisDigest = 0x6280217516b3d1c4ULL;
constexpr std::uint64_t kMultiLevelDigest = 0x928577b9d1dbd092ULL;

std::string Hex(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%016llx", static_cast<unsigned long long>(value));
  return text;
}

void BM_Synthesize(benchmark::State& state) {
  auto exemplar = MakeExemplar();
  const patchloom_detail::SearchCounts before = patchloom_detail::SearchCountsSoFar();
  for (auto _ : state) g_fastSynthesis = Repeatable([&] { return FastSynthesize(*exemplar); });
  state.SetItemsProcessed(state.iterations() * 256 * 256);
  ReportExactShares(state, before);
  const std::uint64_t digest = patchloom_detail::ImageDigest(*g_fastSynthesis);
  if (digest != kSynthesisDigest)
    state.SkipWithError(("result changed: digest " + Hex(digest)).c_str());
}

void BM_SynthesizeStraightforward(benchmark::State& state) {
  auto exemplar = MakeExemplar();
  std::unique_ptr<CImage> plain;
  for (auto _ : state) plain = Repeatable([&] { return PlainSynthesize(*exemplar, 2.0, 5); });
  state.SetItemsProcessed(state.iterations() * 256 * 256);
  if (!g_fastSynthesis || !Identical(*plain, *g_fastSynthesis))
    state.SkipWithError("results differ from the engine's");
  state.counters["identical"] = 1;
}

void BM_SynthesizeMultiLevel(benchmark::State& state) {
  auto exemplar = MakeExemplar();
  ScratchFolder scratch;
  const patchloom_detail::SearchCounts before = patchloom_detail::SearchCountsSoFar();
  for (auto _ : state) g_fastMultiLevel = Repeatable([&] { return FastMultiLevel(*exemplar); });
  state.SetItemsProcessed(state.iterations() * 512 * 512);
  ReportExactShares(state, before);
  const std::uint64_t digest = patchloom_detail::ImageDigest(*g_fastMultiLevel);
  if (digest != kMultiLevelDigest)
    state.SkipWithError(("result changed: digest " + Hex(digest)).c_str());
}

void BM_SynthesizeMultiLevelStraightforward(benchmark::State& state) {
  auto exemplar = MakeExemplar();
  ScratchFolder scratch;
  std::unique_ptr<CImage> plain;
  for (auto _ : state) plain = Repeatable([&] { return PlainMultiLevel(*exemplar, 4.0, 2); });
  state.SetItemsProcessed(state.iterations() * 512 * 512);
  if (!g_fastMultiLevel || !Identical(*plain, *g_fastMultiLevel))
    state.SkipWithError("results differ from the engine's");
  state.counters["identical"] = 1;
}

// Trees of several exemplars and sizes, each built from a restarted source, against their
// digests when they were first measured. Returns the first difference, or an empty string.
std::string ChangedTree() {
  struct Case {
    int side;
    unsigned seed;
    int grain;
    int n;
    std::uint64_t digest;
  } cases[] = {
      {128, 42, 12, 32, 0xd434c6795cefdfeaULL}, {128, 42, 12, 16, 0x8985ad6c887b4af4ULL},
      {128, 42, 12, 8, 0x9d69fea073c0380aULL},  {160, 7, 40, 32, 0x107f68a3e66b4b92ULL},
      {160, 7, 40, 16, 0x9b596311e7f3a076ULL},  {96, 3, 0, 16, 0xa91948b802689c21ULL},
      {96, 3, 0, 8, 0x91ca1c8b3e12571aULL},
  };
  std::string changed;
  for (const Case& c : cases) {
    auto exemplar = MakeExemplar(c.side, c.seed, c.grain);
    std::uint64_t digest = 0;
    Repeatable([&] {
      CPatchOptimizer optimizer;
      digest = patchloom_detail::ClusterTreeDigest(
          optimizer.BuildClusterTree(exemplar.get(), c.n).get());
      return std::unique_ptr<CImage>();
    });
    if (digest != c.digest)
      changed += " " + std::to_string(c.side) + "/" + std::to_string(c.n) + ": " + Hex(digest);
  }
  return changed;
}

// The two trees of the single-size run alone: the k-means clusterings, which both
// versions share, are most of the time.
void BM_BuildClusterTrees(benchmark::State& state) {
  const std::string changed = ChangedTree();
  if (!changed.empty()) {
    state.SkipWithError(("trees changed:" + changed).c_str());
    return;
  }
  auto exemplar = MakeExemplar();
  for (auto _ : state) {
    Repeatable([&] {
      CPatchOptimizer optimizer;
      benchmark::DoNotOptimize(optimizer.BuildClusterTree(exemplar.get(), 32));
      benchmark::DoNotOptimize(optimizer.BuildClusterTree(exemplar.get(), 16));
      return std::unique_ptr<CImage>();
    });
  }
}

// Each pair in this order: the engine's run leaves its result for the comparison.
BENCHMARK(BM_BuildClusterTrees)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Synthesize)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SynthesizeStraightforward)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_SynthesizeMultiLevel)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SynthesizeMultiLevelStraightforward)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
