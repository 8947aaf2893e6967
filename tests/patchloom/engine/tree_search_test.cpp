// The tree search's estimated ranking against exact distances: near-ties, duplicates,
// centres outside the byte range, awkward dimensions and the worst errors the hardware
// estimate makes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "engine_test_images.h"
#include "patchloom/engine/patch_optimizer.h"
#include "patchloom/engine/patch_optimizer_internal.h"

namespace {

using patchloom_detail::SearchKernel;

// Awkward dimensions: below, at and past the vector widths, and the real ones.
const int kDimensions[] = {1, 5, 15, 16, 17, 33, 100, 192, 771, 3072};

CPatchClusterNode CentreNode(std::vector<double> centre) {
  CPatchClusterNode node;
  node.dimension = static_cast<int>(centre.size());
  node.centre = std::move(centre);
  patchloom_detail::PrepareCentre(node);
  return node;
}

// The first centre at the least exact distance, written out over CentreDistances.
int ExactNearest(const std::vector<CPatchClusterNode>& nodes, const std::uint8_t* query,
                 int dimension) {
  patchloom_detail::CentreView views[4];
  for (std::size_t c = 0; c < nodes.size(); ++c) views[c] = patchloom_detail::ViewOf(nodes[c]);
  double d[4];
  patchloom_detail::CentreDistances(views, static_cast<int>(nodes.size()), query, dimension, d);
  int nearest = -1;
  double best = 1e20;
  for (std::size_t c = 0; c < nodes.size(); ++c) {
    if (d[c] < best) {
      best = d[c];
      nearest = static_cast<int>(c);
    }
  }
  return nearest;
}

// |d|^1.25 as the vector estimate forms it, for picking the differences it gets most wrong.
double EstimatedPower(int d) {
#if defined(__x86_64__) || defined(__i386__)
  const __m128 x = _mm_set_ss(static_cast<float>(d));
  return _mm_cvtss_f32(_mm_mul_ss(x, _mm_rsqrt_ss(_mm_rsqrt_ss(x))));
#else
  return std::pow(d, 1.25);
#endif
}

// The differences in [from, to] the estimate makes smallest and largest, relative to pow.
std::pair<int, int> WorstDifferences(int from, int to) {
  int under = from, over = from;
  double least = 1.0, most = -1.0;
  for (int d = from; d <= to; ++d) {
    const double error = EstimatedPower(d) / std::pow(d, 1.25) - 1.0;
    if (error < least) least = error, under = d;
    if (error > most) most = error, over = d;
  }
  return {under, over};
}

// Differences from a zero query for two candidates whose true sums are `gap` apart
// (relative), the nearer one made of differences the estimate overrates and the farther
// one of differences it underrates, so that the estimates rank them the wrong way round.
struct Rivals {
  std::vector<int> nearer, farther;
};

Rivals RivalsAt(int dimension, double gap, int largest) {
  const auto [under, over] = WorstDifferences(largest / 3, largest);
  Rivals r{std::vector<int>(static_cast<std::size_t>(dimension), 0),
           std::vector<int>(static_cast<std::size_t>(dimension), 0)};
  const int share = dimension / 4;
  for (int i = 0; i < share; ++i) r.nearer[static_cast<std::size_t>(i)] = over;
  const double target = share * std::pow(over, 1.25) * (1.0 + gap);
  const double step = std::pow(under, 1.25);
  const int count = static_cast<int>(target / step);
  for (int i = 0; i < count && i + 1 < dimension; ++i)
    r.farther[static_cast<std::size_t>(i)] = under;
  // One more component makes up the rest, rounded up so the farther one stays farther.
  int rest = 0;
  while (rest < largest && count * step + std::pow(rest, 1.25) <= target) ++rest;
  r.farther[static_cast<std::size_t>(std::min(count, dimension - 1))] = rest;
  return r;
}

class TreeSearchTest : public engine_test::EngineTest {
 protected:
  void SetUp() override {
    if (patchloom_detail::BestSearchKernel() != SearchKernel::avx2)
      GTEST_SKIP() << "no estimating kernel on this processor";
  }
};

TEST_F(TreeSearchTest, EstimatedDescentChoosesTheFirstExactlyNearestCentre) {
  const unsigned seed = 20261211;
  SCOPED_TRACE(testing::Message() << "seed " << seed);
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_real_distribution<double> wide(-511.0, 766.0);
  using Centres = std::vector<std::vector<double>>;
  // Each case turns a query, random unless `fill` gives its bytes, into four centres
  // (fewer where it says so).
  struct Case {
    const char* name;
    std::function<Centres(const std::vector<std::uint8_t>&, int)> centres;
    int fill = -1;
  };
  const auto randomCentre = [&](int dim, double spread) {
    std::vector<double> c(static_cast<std::size_t>(dim));
    std::uniform_real_distribution<double> v(128.0 - spread, 128.0 + spread);
    for (double& x : c) x = v(random);
    return c;
  };
  const auto fromDifferences = [](const std::vector<int>& d) {
    return std::vector<double>(d.begin(), d.end());
  };
  const Case cases[] = {
      {"duplicates, the first wins",
       [&](const auto&, int dim) {
         const auto c = randomCentre(dim, 100.0);
         return Centres{c, c, c, c};
       }},
      {"a far one, then three equal near ones",
       [&](const auto& q, int dim) {
         std::vector<double> nearer(q.begin(), q.end());
         nearer[0] += 1.0;
         return Centres{randomCentre(dim, 120.0), nearer, nearer, nearer};
       }},
      {"the query itself twice",
       [&](const auto& q, int dim) {
         const std::vector<double> same(q.begin(), q.end());
         return Centres{randomCentre(dim, 50.0), same, randomCentre(dim, 50.0), same};
       }},
      {"one component, the last, one step nearer",
       [&](const auto& q, int dim) {
         auto a = randomCentre(dim, 60.0);
         for (double& x : a) x = std::round(x);
         auto b = a;
         const std::size_t last = b.size() - 1;
         b[last] += b[last] > q[last] ? -1.0 : 1.0;
         return Centres{a, b, a, randomCentre(dim, 60.0)};
       }},
      {"the same differences in another order",
       [&](const auto& q, int dim) {
         auto a = randomCentre(dim, 90.0);
         auto b = a;
         for (std::size_t i = 0; i + 1 < b.size(); i += 2) {
           b[i] = q[i] + (a[i + 1] - q[i + 1]);
           b[i + 1] = q[i + 1] + (a[i] - q[i]);
         }
         return Centres{b, a, b, a};
       }},
      {"outside the byte range, some past what is prepared",
       [&](const auto&, int dim) {
         Centres c(4, std::vector<double>(static_cast<std::size_t>(dim)));
         for (auto& centre : c)
           for (double& x : centre) x = wide(random);
         c[3][0] = 900.5;
         c[2][static_cast<std::size_t>(dim) / 2] = -700.0;
         return c;
       }},
      {"a hair off whole numbers",
       [&](const auto& q, int dim) {
         const double hairs[] = {1e-15, -1e-15, 3e-14, -2e-13, 0.0};
         Centres c(4, std::vector<double>(static_cast<std::size_t>(dim)));
         for (std::size_t k = 0; k < 4; ++k)
           for (std::size_t i = 0; i < c[k].size(); ++i)
             c[k][i] =
                 std::round(q[i] + 3.0 * std::sin(static_cast<double>(i + k))) + hairs[(i + k) % 5];
         return c;
       }},
      {"two centres only, overrated nearer one second",
       [&](const auto&, int dim) {
         const Rivals r = RivalsAt(dim, 1e-4, 766);
         return Centres{fromDifferences(r.farther), fromDifferences(r.nearer)};
       },
       0},
      // 4 + 1e-15 - 200 rounds to -196, one further than floor and ceiling make it.
      {"a hair above a small whole number, far from the query",
       [&](const auto&, int dim) {
         std::vector<double> hairs(static_cast<std::size_t>(dim), 4.0 + 1e-15);
         std::vector<double> mixed(static_cast<std::size_t>(dim), 4.0);
         for (std::size_t i = 0; i < mixed.size(); i += 2) mixed[i] = 5.0;
         return Centres{hairs, mixed};
       },
       200},
  };
  for (int dim : kDimensions) {
    SCOPED_TRACE(testing::Message() << "dimension " << dim);
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      for (int trial = 0; trial < 3; ++trial) {
        std::vector<std::uint8_t> query(static_cast<std::size_t>(dim));
        for (auto& q : query) q = static_cast<std::uint8_t>(byte(random));
        if (c.fill >= 0) std::fill(query.begin(), query.end(), static_cast<std::uint8_t>(c.fill));
        std::vector<CPatchClusterNode> nodes;
        for (auto& centre : c.centres(query, dim)) nodes.push_back(CentreNode(std::move(centre)));
        patchloom_detail::CentreView views[4];
        for (std::size_t k = 0; k < nodes.size(); ++k)
          views[k] = patchloom_detail::ViewOf(nodes[k]);
        const int count = static_cast<int>(nodes.size());
        const int expected = ExactNearest(nodes, query.data(), dim);
        ASSERT_EQ(
            patchloom_detail::NearestCentre(views, count, query.data(), dim, SearchKernel::avx2),
            expected);
        ASSERT_EQ(
            patchloom_detail::NearestCentre(views, count, query.data(), dim, SearchKernel::exact),
            expected);
      }
    }
  }
}

TEST_F(TreeSearchTest, EstimatesRankedTheWrongWayRoundFallBackToExactDistances) {
  // The gaps straddle the estimate's real error on any processor within the documented
  // bound; the nearer centre must win at every one of them, in either position.
  for (int dim : {192, 771, 3072}) {
    for (double gap : {1e-2, 1e-3, 4e-4, 2e-4, 1e-4, 1e-5, 1e-7}) {
      SCOPED_TRACE(testing::Message() << "dimension " << dim << ", gap " << gap);
      const Rivals r = RivalsAt(dim, gap, 766);
      const std::vector<std::uint8_t> query(static_cast<std::size_t>(dim), 0);
      std::vector<CPatchClusterNode> nodes;
      nodes.push_back(CentreNode(std::vector<double>(r.farther.begin(), r.farther.end())));
      nodes.push_back(CentreNode(std::vector<double>(r.nearer.begin(), r.nearer.end())));
      nodes.push_back(CentreNode(std::vector<double>(r.farther.begin(), r.farther.end())));
      patchloom_detail::CentreView views[3];
      for (std::size_t k = 0; k < 3; ++k) views[k] = patchloom_detail::ViewOf(nodes[k]);
      ASSERT_EQ(ExactNearest(nodes, query.data(), dim), 1);
      EXPECT_EQ(patchloom_detail::NearestCentre(views, 3, query.data(), dim, SearchKernel::avx2),
                1);
      EXPECT_EQ(
          patchloom_detail::NearestCentre(views + 1, 2, query.data(), dim, SearchKernel::avx2), 0);
    }
  }
}

TEST(NearestCentreTest, NoCandidatesIsNoAnswer) {
  const std::uint8_t query[3] = {1, 2, 3};
  patchloom_detail::CentreView none;
  for (SearchKernel kernel : {SearchKernel::exact, SearchKernel::avx2})
    EXPECT_EQ(patchloom_detail::NearestCentre(&none, 0, query, 3, kernel), -1);
}

// A leaf whose member m sits at position (m, 1000 - m).
CPatchClusterNode LeafWith(const std::vector<std::vector<std::uint8_t>>& members, int dimension) {
  CPatchClusterNode leaf;
  leaf.isLeaf = true;
  leaf.dimension = dimension;
  leaf.memberCount = static_cast<int>(members.size());
  for (std::size_t m = 0; m < members.size(); ++m) {
    leaf.members.insert(leaf.members.end(), members[m].begin(), members[m].end());
    const int x = static_cast<int>(m), y = 1000 - static_cast<int>(m);
    leaf.members.insert(leaf.members.end(),
                        {static_cast<std::uint8_t>(x & 0xFF), static_cast<std::uint8_t>(x >> 8),
                         static_cast<std::uint8_t>(y & 0xFF), static_cast<std::uint8_t>(y >> 8)});
  }
  return leaf;
}

TEST_F(TreeSearchTest, EstimatedLeafScanGivesTheExactFirstNearestMember) {
  const unsigned seed = 7;
  SCOPED_TRACE(testing::Message() << "seed " << seed);
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> byte(0, 255);
  using Members = std::vector<std::vector<std::uint8_t>>;
  const auto noise = [&](int dim) {
    std::vector<std::uint8_t> v(static_cast<std::size_t>(dim));
    for (auto& b : v) b = static_cast<std::uint8_t>(byte(random));
    return v;
  };
  struct Case {
    const char* name;
    std::function<Members(const std::vector<std::uint8_t>&, int)> members;
    int fill = -1;  // the query's bytes, random when negative
  };
  const Case cases[] = {
      {"noise",
       [&](const auto&, int dim) {
         return Members{noise(dim), noise(dim), noise(dim)};
       }},
      {"duplicates around a farther one",
       [&](const auto&, int dim) {
         const auto a = noise(dim);
         return Members{noise(dim), a, a, noise(dim), a};
       }},
      {"the query itself, late",
       [&](const auto& q, int dim) {
         return Members{noise(dim), noise(dim), q, noise(dim), q};
       }},
      {"one byte, the last, one step apart",
       [&](const auto& q, int dim) {
         auto a = noise(dim);
         auto b = a;
         b.back() = static_cast<std::uint8_t>(b.back() > q.back() ? b.back() - 1 : b.back() + 1);
         return Members{a, a, b, a, b, noise(dim)};
       }},
      {"the same differences in another order",
       [&](const auto&, int dim) {
         auto a = noise(dim);
         auto b = a;
         std::reverse(b.begin(), b.end());
         return Members{noise(dim), b, a, b, a, noise(dim), noise(dim), noise(dim), a};
       }},
      {"overrated nearer member after underrated farther ones",
       [&](const auto&, int dim) {
         const Rivals r = RivalsAt(dim, 1e-4, 255);
         const std::vector<std::uint8_t> nearer(r.nearer.begin(), r.nearer.end());
         const std::vector<std::uint8_t> farther(r.farther.begin(), r.farther.end());
         return Members{farther, farther, farther, farther, nearer, farther};
       },
       0},
  };
  for (int dim : kDimensions) {
    SCOPED_TRACE(testing::Message() << "dimension " << dim);
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      for (int trial = 0; trial < 3; ++trial) {
        std::vector<std::uint8_t> query = noise(dim);
        if (c.fill >= 0) std::fill(query.begin(), query.end(), static_cast<std::uint8_t>(c.fill));
        const CPatchClusterNode leaf = LeafWith(c.members(query, dim), dim);
        const PatchMatch exact =
            patchloom_detail::NearestMember(leaf, query.data(), SearchKernel::exact);
        const PatchMatch estimated =
            patchloom_detail::NearestMember(leaf, query.data(), SearchKernel::avx2);
        // The exact scan is the plain one: first member at the least PatchDistance.
        double best = 1e20;
        int first = -1;
        for (int m = 0; m < leaf.memberCount; ++m) {
          const double d = patchloom_detail::PatchDistance(leaf.GetMember(m), query.data(), dim);
          if (d < best) best = d, first = m;
        }
        ASSERT_EQ(exact.x, first);
        ASSERT_EQ(exact.distance, best);
        ASSERT_EQ(estimated.x, exact.x);
        ASSERT_EQ(estimated.y, exact.y);
        ASSERT_EQ(estimated.distance, exact.distance);
      }
    }
  }
}

void ExpectSameMatch(const PatchMatch& a, const PatchMatch& b) {
  EXPECT_EQ(a.x, b.x);
  EXPECT_EQ(a.y, b.y);
  EXPECT_EQ(a.distance, b.distance);
}

// Single searches, pairs and batches (11 queries: a full batch and a short one) with the
// estimates against single searches by exact distances.
TEST_F(TreeSearchTest, BothKernelsGiveTheSameAnswersOnBuiltTrees) {
  CPatchOptimizer optimizer;
  auto exemplar = engine_test::MakeNoise(56, 56, 5);
  auto other = engine_test::MakeNoise(48, 48, 6);
  std::mt19937 random(11);
  for (int n : {4, 8, 16}) {
    SCOPED_TRACE(testing::Message() << "size " << n);
    const auto tree = optimizer.BuildClusterTree(exemplar.get(), n);
    ASSERT_NE(tree, nullptr);
    const int dim = n * n * 3;
    std::uniform_int_distribution<int> at(0, 48 - n);
    // Windows of the exemplar, of other noise, and of the exemplar with channels mixed.
    std::vector<std::vector<std::uint8_t>> queries;
    for (int trial = 0; trial < 33; ++trial) {
      std::vector<std::uint8_t> q(static_cast<std::size_t>(dim));
      const CImage& source = trial % 3 == 1 ? *other : *exemplar;
      const int x = at(random), y = at(random);
      for (int f = 0, k = 0; f < n; ++f) {
        for (int i = 0; i < n; ++i, k += 3) {
          const engine_test::Rgb p = engine_test::PixelOf(source, x + i, y + f);
          const bool mixed = trial % 3 == 2;
          q[static_cast<std::size_t>(k)] = mixed ? static_cast<std::uint8_t>(255 - p.g) : p.r;
          q[static_cast<std::size_t>(k) + 1] = mixed ? p.b : p.g;
          q[static_cast<std::size_t>(k) + 2] = mixed ? p.r : p.b;
        }
      }
      queries.push_back(std::move(q));
    }
    std::vector<PatchMatch> exact;
    for (const auto& q : queries)
      exact.push_back(patchloom_detail::SearchTree(tree.get(), q.data(), SearchKernel::exact));
    for (std::size_t k = 0; k + 1 < queries.size(); k += 2) {
      PatchMatch a, b;
      patchloom_detail::SearchTreePair(tree.get(), queries[k].data(), queries[k + 1].data(), a, b,
                                       SearchKernel::avx2);
      ExpectSameMatch(a, exact[k]);
      ExpectSameMatch(b, exact[k + 1]);
      ExpectSameMatch(patchloom_detail::SearchTree(tree.get(), queries[k].data()), exact[k]);
    }
    for (std::size_t first = 0; first + 11 <= queries.size(); first += 11) {
      const std::uint8_t* batch[11];
      for (int q = 0; q < 11; ++q) batch[q] = queries[first + static_cast<std::size_t>(q)].data();
      PatchMatch matches[11];
      patchloom_detail::SearchTreeBatch(tree.get(), batch, 11, matches, SearchKernel::avx2);
      for (int q = 0; q < 11; ++q)
        ExpectSameMatch(matches[q], exact[first + static_cast<std::size_t>(q)]);
    }
  }
}

}  // namespace
