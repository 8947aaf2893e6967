// The patch cluster tree: patch vectors, leaf rules, descent, ties, empty leaves, and the
// fast distance against the plain formula.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "engine_test_images.h"
#include "patchloom/engine/patch_optimizer.h"
#include "patchloom/engine/patch_optimizer_internal.h"

namespace {

using engine_test::EngineTest;
using engine_test::MakeImage;
using engine_test::PixelOf;
using engine_test::Rgb;

// The distance written out plainly, one pow per component.
double PlainDistance(const std::vector<double>& centre, const std::uint8_t* query) {
  double sum = 0.0;
  for (std::size_t i = 0; i < centre.size(); ++i)
    sum += std::pow(std::fabs(std::trunc(centre[i] - query[i])), 1.25);
  return std::pow(sum, 0.8);
}

TEST(PatchDistanceTest, FastFormsGiveExactlyWhatPowGives) {
  const unsigned seed = 20261210;
  SCOPED_TRACE(testing::Message() << "seed " << seed);
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> value(-3.0, 258.0);  // centres may leave 0..255
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> pick(0, 9);
  // Values where truncating centre - query is delicate: whole numbers, a hair off them,
  // and far outside the byte range.
  const double awkward[] = {7.0,   7.0 + 1e-15, 7.0 - 1e-15, 200.0 + 3e-14, 0.0,   -1e-300,
                            255.0, 255.5,       -0.5,        -600.0,        900.25};
  std::uniform_int_distribution<int> awkwardIndex(0, static_cast<int>(std::size(awkward)) - 1);
  for (int dim : {3, 48, 200, 768, 3072}) {
    SCOPED_TRACE(dim);
    for (int trial = 0; trial < 20; ++trial) {
      const int count = 1 + trial % 4;
      std::vector<CPatchClusterNode> nodes(4);
      std::vector<std::vector<std::uint8_t>> members(
          4, std::vector<std::uint8_t>(static_cast<std::size_t>(dim)));
      std::vector<std::uint8_t> query(static_cast<std::size_t>(dim));
      for (auto& node : nodes) {
        node.dimension = dim;
        node.centre.resize(static_cast<std::size_t>(dim));
        for (auto& c : node.centre) {
          const int kind = pick(random);
          c = kind == 0   ? awkward[awkwardIndex(random)]
              : kind == 1 ? std::round(value(random))
                          : value(random);
        }
        patchloom_detail::PrepareCentre(node);
      }
      for (auto& member : members)
        for (auto& m : member) m = static_cast<std::uint8_t>(byte(random));
      for (auto& q : query) q = static_cast<std::uint8_t>(byte(random));
      patchloom_detail::CentreView prepared[4], plain[4];
      const std::uint8_t* memberPointers[4];
      for (int c = 0; c < 4; ++c) {
        prepared[c] = patchloom_detail::ViewOf(nodes[static_cast<std::size_t>(c)]);
        plain[c].values = nodes[static_cast<std::size_t>(c)].centre.data();
        memberPointers[c] = members[static_cast<std::size_t>(c)].data();
      }
      double fromPrepared[4], fromPlain[4], fromMembers[4];
      patchloom_detail::CentreDistances(prepared, count, query.data(), dim, fromPrepared);
      patchloom_detail::CentreDistances(plain, count, query.data(), dim, fromPlain);
      patchloom_detail::PatchDistances(memberPointers, count, query.data(), dim, fromMembers);
      for (int c = 0; c < count; ++c) {
        const double want = PlainDistance(nodes[static_cast<std::size_t>(c)].centre, query.data());
        ASSERT_EQ(fromPrepared[c], want) << "centre " << c;
        ASSERT_EQ(fromPlain[c], want) << "centre " << c;
        const auto& member = members[static_cast<std::size_t>(c)];
        ASSERT_EQ(fromMembers[c],
                  PlainDistance(std::vector<double>(member.begin(), member.end()), query.data()));
      }
      ASSERT_EQ(patchloom_detail::PatchDistance(memberPointers[0], query.data(), dim),
                fromMembers[0]);
      ASSERT_EQ(patchloom_detail::CentreDistance(plain[0].values, query.data(), dim), fromPlain[0]);
    }
  }
}

TEST(PatchDistanceTest, CentresNearWholeNumbersAreReadExactly) {
  // 7 + 2^-50 less a query of 200 rounds to exactly -193 in doubles; the floor and
  // ceiling alone would say 192.
  CPatchClusterNode node;
  node.dimension = 3;
  node.centre = {7.0 + std::ldexp(1.0, -50), 7.0, 7.5};
  patchloom_detail::PrepareCentre(node);
  ASSERT_EQ(node.centreFloor.size(), 3u);
  EXPECT_EQ(node.exactComponents, std::vector<int>{0});
  const std::uint8_t query[3] = {200, 200, 200};
  const auto view = patchloom_detail::ViewOf(node);
  double d = 0.0;
  patchloom_detail::CentreDistances(&view, 1, query, 3, &d);
  EXPECT_EQ(d, PlainDistance(node.centre, query));
  EXPECT_EQ(static_cast<int>(node.centre[0] - 200), -193);
}

class ClusterTreeTest : public EngineTest {
 protected:
  CPatchOptimizer optimizer;

  // Every leaf of the tree, depth first.
  static void Leaves(const CPatchClusterNode& node, std::vector<const CPatchClusterNode*>& out) {
    if (node.isLeaf) {
      out.push_back(&node);
      return;
    }
    for (const auto& child : node.children) {
      ASSERT_NE(child, nullptr);
      ASSERT_EQ(static_cast<int>(child->centre.size()), node.dimension);
      Leaves(*child, out);
    }
  }
};

TEST_F(ClusterTreeTest, FewPatchesMakeOneLeafWithPositionBytes) {
  // 2 x 2 patches of 32 at step 8, from colours and from palette indices.
  const std::vector<Rgb> palette = {{1, 2, 3}, {250, 0, 9}, {40, 160, 200}, {77, 77, 0}};
  std::mt19937 random(11);
  std::uniform_int_distribution<int> entry(0, 3);
  std::unique_ptr<CImage> exemplars[] = {
      engine_test::MakeNoise(40, 40, 11),
      engine_test::MakeIndexed(40, 40, palette, [&](int, int) { return entry(random); })};
  for (auto& exemplar : exemplars) {
    SCOPED_TRACE(exemplar->GetBitCount());
    const auto tree = optimizer.BuildClusterTree(exemplar.get(), 32);
    ASSERT_NE(tree, nullptr);
    ASSERT_TRUE(tree->isLeaf);
    EXPECT_TRUE(tree->centre.empty());
    ASSERT_EQ(tree->memberCount, 4);
    const int dim = 32 * 32 * 3;
    const std::pair<int, int> positions[] = {{0, 0}, {8, 0}, {0, 8}, {8, 8}};
    for (int m = 0; m < 4; ++m) {
      SCOPED_TRACE(m);
      const std::uint8_t* v = tree->GetMember(m);
      const auto [x, y] = positions[m];
      EXPECT_EQ(v[dim] | (v[dim + 1] << 8), x);
      EXPECT_EQ(v[dim + 2] | (v[dim + 3] << 8), y);
      // Rows y ... y + 31 outer, columns inner, red, green, blue.
      for (int f : {0, 13, 31}) {
        for (int i : {0, 5, 31}) {
          const Rgb p = PixelOf(*exemplar, x + i, y + f);
          const std::uint8_t* q = v + (f * 32 + i) * 3;
          EXPECT_EQ((Rgb{q[0], q[1], q[2]}), p);
        }
      }
      // Every query scans all four: each patch finds itself.
      const PatchMatch match =
          optimizer.FindNearestPatch(tree.get(), exemplar.get(), x, y, 32, 32, 4);
      EXPECT_EQ(match.x, x);
      EXPECT_EQ(match.y, y);
      EXPECT_EQ(match.distance, 0.0);
    }
  }
}

TEST_F(ClusterTreeTest, EqualMembersGoToTheFirst) {
  auto flat = MakeImage(40, 40, [](int, int) { return Rgb{9, 9, 9}; });
  const auto tree = optimizer.BuildClusterTree(flat.get(), 32);
  ASSERT_NE(tree, nullptr);
  auto other = MakeImage(40, 40, [](int x, int) {
    return Rgb{static_cast<std::uint8_t>(x), 0, 0};
  });
  const PatchMatch match = optimizer.FindNearestPatch(tree.get(), other.get(), 8, 8, 32, 32, 4);
  EXPECT_EQ(match.x, 0);
  EXPECT_EQ(match.y, 0);
  EXPECT_GT(match.distance, 0.0);
}

TEST_F(ClusterTreeTest, FlatExemplarEndsInOneLeaf) {
  // k-means cannot divide equal patches; the branch must end rather than recurse.
  auto flat = MakeImage(64, 64, [](int, int) { return Rgb{50, 60, 70}; });
  const auto tree = optimizer.BuildClusterTree(flat.get(), 16);
  ASSERT_NE(tree, nullptr);
  std::vector<const CPatchClusterNode*> leaves;
  Leaves(*tree, leaves);
  int members = 0;
  for (const CPatchClusterNode* leaf : leaves) members += leaf->memberCount;
  EXPECT_EQ(members, 169);
  const PatchMatch m = optimizer.FindNearestPatch(tree.get(), flat.get(), 4, 8, 16, 16, 4);
  EXPECT_EQ(m.distance, 0.0);
}

TEST_F(ClusterTreeTest, DeepTreeHoldsEveryPatchInSmallLeaves) {
  auto exemplar = engine_test::MakeNoise(64, 64, 12);  // 13 x 13 patches of 16 at step 4
  const auto tree = optimizer.BuildClusterTree(exemplar.get(), 16);
  ASSERT_NE(tree, nullptr);
  ASSERT_FALSE(tree->isLeaf);
  EXPECT_TRUE(tree->centre.empty());
  std::vector<const CPatchClusterNode*> leaves;
  Leaves(*tree, leaves);
  std::set<std::pair<int, int>> seen;
  const int dim = 16 * 16 * 3;
  for (const CPatchClusterNode* leaf : leaves) {
    // Under 1% of 169 means at most one; otherwise at most four.
    EXPECT_LE(leaf->memberCount, 4);
    for (int m = 0; m < leaf->memberCount; ++m) {
      const std::uint8_t* v = leaf->GetMember(m);
      EXPECT_TRUE(seen.insert({v[dim] | (v[dim + 1] << 8), v[dim + 2] | (v[dim + 3] << 8)}).second);
    }
  }
  EXPECT_EQ(seen.size(), 169u);

  // The answer is a real patch at its true distance, and a query equal to a patch
  // usually finds it (the descent is approximate by design).
  int exact = 0;
  for (int y = 0; y + 16 <= 64; y += 4) {
    for (int x = 0; x + 16 <= 64; x += 4) {
      const PatchMatch m = optimizer.FindNearestPatch(tree.get(), exemplar.get(), x, y, 16, 16, 4);
      ASSERT_EQ(seen.count({m.x, m.y}), 1u);
      if (m.x == x && m.y == y && m.distance == 0.0) ++exact;
    }
  }
  EXPECT_GE(exact, 169 * 9 / 10);

  // Two walks at once answer exactly as one at a time, also for queries that part ways.
  auto other = engine_test::MakeNoise(40, 40, 13);
  std::mt19937 random(3);
  std::uniform_int_distribution<int> at(0, 40 - 16);
  const auto queryAt = [](const CImage& image, int x, int y) {
    std::vector<std::uint8_t> q(16 * 16 * 3);
    for (int f = 0; f < 16; ++f)
      for (int i = 0; i < 16; ++i) {
        const Rgb p = PixelOf(image, x + i, y + f);
        q[static_cast<std::size_t>((f * 16 + i) * 3)] = p.r;
        q[static_cast<std::size_t>((f * 16 + i) * 3 + 1)] = p.g;
        q[static_cast<std::size_t>((f * 16 + i) * 3 + 2)] = p.b;
      }
    return q;
  };
  for (int trial = 0; trial < 30; ++trial) {
    const auto a = queryAt(trial % 2 ? *other : *exemplar, at(random), at(random));
    const auto b = queryAt(*other, at(random), at(random));
    PatchMatch pa, pb;
    patchloom_detail::SearchTreePair(tree.get(), a.data(), b.data(), pa, pb);
    const PatchMatch sa = patchloom_detail::SearchTree(tree.get(), a.data());
    const PatchMatch sb = patchloom_detail::SearchTree(tree.get(), b.data());
    ASSERT_EQ(pa.x, sa.x);
    ASSERT_EQ(pa.y, sa.y);
    ASSERT_EQ(pa.distance, sa.distance);
    ASSERT_EQ(pb.x, sb.x);
    ASSERT_EQ(pb.y, sb.y);
    ASSERT_EQ(pb.distance, sb.distance);
  }
}

TEST_F(ClusterTreeTest, LeafRules) {
  struct Case {
    int count, total;
    bool leaf;
  };
  const Case cases[] = {
      {4, 100, true},                        // at most k
      {5, 100, false}, {8, 841, true},       // under 8.41: under 1% of all patches
      {9, 841, false}, {300, 100000, true},  // more members than an 8-bit count holds
  };
  const int dim = 4 * 4 * 3;
  std::mt19937 random(5);
  std::uniform_int_distribution<int> byte(0, 255);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.count << " of " << c.total);
    std::vector<std::vector<std::uint8_t>> vectors(static_cast<std::size_t>(c.count));
    PatchList list;
    for (int i = 0; i < c.count; ++i) {
      auto& v = vectors[static_cast<std::size_t>(i)];
      v.resize(dim + 4);
      for (auto& b : v) b = static_cast<std::uint8_t>(byte(random));
      v[dim] = static_cast<std::uint8_t>(i & 0xFF);
      v[dim + 1] = static_cast<std::uint8_t>(i >> 8);
      list.push_back(v.data());
    }
    CPatchClusterNode node;
    ASSERT_TRUE(optimizer.SplitClusterNode(node, list, dim, c.total, 4));
    EXPECT_EQ(node.isLeaf, c.leaf);
    if (c.leaf) {
      ASSERT_EQ(node.memberCount, c.count);
      const std::uint8_t* last = node.GetMember(c.count - 1);
      EXPECT_TRUE(std::equal(last, last + dim + 4, vectors.back().data()));
    } else {
      int members = 0;
      for (const auto& child : node.children) {
        ASSERT_NE(child, nullptr);
        ASSERT_TRUE(child->isLeaf);
        members += child->memberCount;
      }
      EXPECT_EQ(members, c.count);
    }
  }
}

TEST_F(ClusterTreeTest, EmptyLeafGivesWayToItsNearestSibling) {
  // Child 0 is a leaf without members whose centre equals the query; child 2 is nearer
  // than child 1 and answers.
  const int dim = 4 * 4 * 3;
  CPatchClusterNode root;
  root.dimension = dim;
  const std::uint8_t values[4] = {100, 0, 90, 200};
  for (int c = 0; c < 4; ++c) {
    auto child = std::make_unique<CPatchClusterNode>();
    child->dimension = dim;
    child->isLeaf = true;
    child->centre.assign(dim, values[c]);
    if (c > 0) {
      child->memberCount = 1;
      child->members.assign(dim + 4, values[c]);
      child->members[dim] = static_cast<std::uint8_t>(c);
      child->members[dim + 1] = 0;
      child->members[dim + 2] = static_cast<std::uint8_t>(10 * c);
      child->members[dim + 3] = 0;
    }
    root.children[static_cast<std::size_t>(c)] = std::move(child);
  }
  const std::vector<std::uint8_t> query(dim, 100);
  const PatchMatch m = patchloom_detail::SearchTree(&root, query.data());
  EXPECT_EQ(m.x, 2);
  EXPECT_EQ(m.y, 20);
  EXPECT_DOUBLE_EQ(m.distance, std::pow(dim * std::pow(10.0, 1.25), 0.8));
}

TEST_F(ClusterTreeTest, RefusalsGiveNull) {
  auto small = engine_test::MakeNoise(31, 40, 1);
  CImage empty;
  EXPECT_EQ(optimizer.BuildClusterTree(small.get(), 32), nullptr);
  EXPECT_EQ(optimizer.BuildClusterTree(&empty, 32), nullptr);
  EXPECT_EQ(optimizer.BuildClusterTree(nullptr, 32), nullptr);
  // A query of another size than the tree's finds nothing.
  auto exemplar = engine_test::MakeNoise(40, 40, 2);
  const auto tree = optimizer.BuildClusterTree(exemplar.get(), 32);
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(optimizer.FindNearestPatch(tree.get(), exemplar.get(), 0, 0, 16, 16, 4).distance, 1e20);
}

}  // namespace
