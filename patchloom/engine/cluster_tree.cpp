// The patch cluster tree: exemplar patches clustered four ways by k-means, level by level,
// until a group is small; a query descends to the nearest centre and scans its leaf.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "patchloom/engine/patch_optimizer.h"
#include "patchloom/engine/patch_optimizer_internal.h"
#include "patchloom/image/image.h"
#include "patchloom/kmeans/kmeans.h"
#include "platform/ui.h"

namespace patchloom_detail {

namespace {

// The best value a first candidate has to beat.
constexpr double kNoMatch = 1e20;

// Differences are worked out a block of components at a time, so that the compiler
// can do them side by side; only the sums have to run one component after another.
constexpr int kBlock = 64;

// A component of a prepared centre closer than this to a whole number is read from the
// doubles: only there could the rounding of centre - query reach the whole number and
// change the truncation.
constexpr double kNearWhole = 1.0 / (1 << 20);

// Prepared centres keep every difference below the table's end.
constexpr double kLowestPrepared = -512.0;
constexpr double kHighestPrepared = 767.0;

double PowerOf(unsigned d) {
  const auto& table = PowerTable();
  // Centres can lie outside 0 ... 255 (k-means may sample inside a widened cell), so a
  // difference past the table is raised directly.
  return d < table.size() ? table[d] : std::pow(static_cast<double>(d), 1.25);
}

}  // namespace

const std::array<double, 1024>& PowerTable() {
  static const std::array<double, 1024> table = [] {
    std::array<double, 1024> t{};
    for (std::size_t d = 0; d < t.size(); ++d) t[d] = std::pow(static_cast<double>(d), 1.25);
    return t;
  }();
  return table;
}

// The sums run in component order, each candidate on its own chain: four chains side
// by side hide the latency of the additions without changing a single rounding.
void PatchDistances(const std::uint8_t* const* members, int count, const std::uint8_t* query,
                    int dimension, double* out) {
  const auto& table = PowerTable();
  const std::uint8_t* m[4];
  for (int c = 0; c < 4; ++c) m[c] = members[c < count ? c : 0];
  alignas(16) std::uint8_t d[4][kBlock];
  double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
  for (int base = 0; base < dimension; base += kBlock) {
    const int len = std::min(kBlock, dimension - base);
    const std::uint8_t* q = query + base;
    for (int c = 0; c < 4; ++c) {
      const std::uint8_t* a = m[c] + base;
      for (int i = 0; i < len; ++i)
        d[c][i] = static_cast<std::uint8_t>(a[i] > q[i] ? a[i] - q[i] : q[i] - a[i]);
    }
    for (int i = 0; i < len; ++i) {
      s0 += table[d[0][i]];
      s1 += table[d[1][i]];
      s2 += table[d[2][i]];
      s3 += table[d[3][i]];
    }
  }
  const double sums[4] = {s0, s1, s2, s3};
  for (int c = 0; c < count && c < 4; ++c) out[c] = std::pow(sums[c], 0.8);
}

CentreView ViewOf(const CPatchClusterNode& node) {
  CentreView view;
  view.values = node.centre.data();
  const std::size_t dimension = static_cast<std::size_t>(node.dimension);
  if (node.centre.size() == dimension && node.centreFloor.size() == dimension &&
      node.centreCeiling.size() == dimension) {
    view.floors = node.centreFloor.data();
    view.ceilings = node.centreCeiling.data();
    view.exact = node.exactComponents.data();
    view.exactCount = static_cast<int>(node.exactComponents.size());
  }
  return view;
}

void PrepareCentre(CPatchClusterNode& node) {
  node.centreFloor.clear();
  node.centreCeiling.clear();
  node.exactComponents.clear();
  const std::size_t dimension = static_cast<std::size_t>(node.dimension);
  if (node.centre.size() != dimension) return;
  std::vector<std::int16_t> floors(dimension), ceilings(dimension);
  std::vector<int> exact;
  for (std::size_t i = 0; i < dimension; ++i) {
    const double v = node.centre[i];
    if (!(v > kLowestPrepared && v < kHighestPrepared)) return;
    const double f = std::floor(v);
    const double c = std::ceil(v);
    floors[i] = static_cast<std::int16_t>(f);
    ceilings[i] = static_cast<std::int16_t>(c);
    if (f != c && (v - f < kNearWhole || c - v < kNearWhole)) exact.push_back(static_cast<int>(i));
  }
  node.centreFloor = std::move(floors);
  node.centreCeiling = std::move(ceilings);
  node.exactComponents = std::move(exact);
}

void CentreDistances(const CentreView* centres, int count, const std::uint8_t* query,
                     int dimension, double* out) {
  CentreView v[4];
  bool prepared = true;
  for (int c = 0; c < 4; ++c) {
    v[c] = centres[c < count ? c : 0];
    prepared = prepared && v[c].floors != nullptr;
  }
  double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
  if (!prepared) {
    const auto term = [](double centre, int q) {
      const int d = static_cast<int>(centre - q);
      return PowerOf(static_cast<unsigned>(d < 0 ? -d : d));
    };
    for (int i = 0; i < dimension; ++i) {
      const int q = query[i];
      s0 += term(v[0].values[i], q);
      s1 += term(v[1].values[i], q);
      s2 += term(v[2].values[i], q);
      s3 += term(v[3].values[i], q);
    }
  } else {
    // For a query byte q, trunc(centre - q) is floor - q when q <= floor and
    // ceiling - q above it, so |trunc(centre - q)| = max(floor - q, q - ceiling).
    const auto& table = PowerTable();
    alignas(16) std::uint16_t d[4][kBlock];
    int cursor[4] = {0, 0, 0, 0};
    for (int base = 0; base < dimension; base += kBlock) {
      const int len = std::min(kBlock, dimension - base);
      const std::uint8_t* q = query + base;
      for (int c = 0; c < 4; ++c) {
        const std::int16_t* lo = v[c].floors + base;
        const std::int16_t* hi = v[c].ceilings + base;
        for (int i = 0; i < len; ++i) {
          const int qi = q[i];
          d[c][i] = static_cast<std::uint16_t>(std::max(lo[i] - qi, qi - hi[i]));
        }
        for (; cursor[c] < v[c].exactCount && v[c].exact[cursor[c]] < base + len; ++cursor[c]) {
          const int k = v[c].exact[cursor[c]];
          const int e = static_cast<int>(v[c].values[k] - query[k]);
          d[c][k - base] = static_cast<std::uint16_t>(e < 0 ? -e : e);
        }
      }
      for (int i = 0; i < len; ++i) {
        s0 += table[d[0][i]];
        s1 += table[d[1][i]];
        s2 += table[d[2][i]];
        s3 += table[d[3][i]];
      }
    }
  }
  const double sums[4] = {s0, s1, s2, s3};
  for (int c = 0; c < count && c < 4; ++c) out[c] = std::pow(sums[c], 0.8);
}

double PatchDistance(const std::uint8_t* a, const std::uint8_t* b, int dimension) {
  double d = 0.0;
  PatchDistances(&a, 1, b, dimension, &d);
  return d;
}

double CentreDistance(const double* centre, const std::uint8_t* query, int dimension) {
  CentreView view;
  view.values = centre;
  double d = 0.0;
  CentreDistances(&view, 1, query, dimension, &d);
  return d;
}

PatchMatch SearchTree(const CPatchClusterNode* node, const std::uint8_t* query) {
  if (node == nullptr) return PatchMatch{0, 0, kNoMatch};
  const int dimension = node->dimension;
  while (!node->isLeaf) {
    // A cluster that got no members leaves an empty leaf; its nearest non-empty
    // sibling answers instead.
    const CPatchClusterNode* candidates[4];
    CentreView centres[4];
    int count = 0;
    for (const auto& child : node->children) {
      if (!child || (child->isLeaf && child->memberCount == 0)) continue;
      candidates[count] = child.get();
      centres[count] = ViewOf(*child);
      ++count;
    }
    if (count == 0) return PatchMatch{0, 0, kNoMatch};
    double d[4];
    CentreDistances(centres, count, query, dimension, d);
    const CPatchClusterNode* kept = nullptr;
    double best = kNoMatch;
    for (int c = 0; c < count; ++c) {
      if (d[c] < best) {
        best = d[c];
        kept = candidates[c];
      }
    }
    if (kept == nullptr) return PatchMatch{0, 0, kNoMatch};
    node = kept;
  }
  PatchMatch match{0, 0, kNoMatch};
  for (int first = 0; first < node->memberCount; first += 4) {
    const int count = std::min(4, node->memberCount - first);
    const std::uint8_t* members[4];
    for (int c = 0; c < count; ++c) members[c] = node->GetMember(first + c);
    double d[4];
    PatchDistances(members, count, query, dimension, d);
    for (int c = 0; c < count; ++c) {
      if (d[c] < match.distance) {
        const std::uint8_t* position = members[c] + dimension;
        match.x = position[0] | (position[1] << 8);
        match.y = position[2] | (position[3] << 8);
        match.distance = d[c];
      }
    }
  }
  return match;
}

void GatherPatch(const RgbPlane& plane, int x, int y, int n, std::uint8_t* out) {
  const std::size_t rowBytes = static_cast<std::size_t>(n) * 3;
  const bool inside = plane.Contains(x, y) && plane.Contains(x + n - 1, y + n - 1);
  for (int f = 0; f < n; ++f, out += rowBytes) {
    if (inside) {
      std::memcpy(out, plane.At(x, y + f), rowBytes);
      continue;
    }
    for (int i = 0; i < n; ++i) {
      std::uint8_t* p = out + static_cast<std::size_t>(i) * 3;
      if (plane.Contains(x + i, y + f)) {
        std::memcpy(p, plane.At(x + i, y + f), 3);
      } else {
        p[0] = p[1] = p[2] = 0;
      }
    }
  }
}

}  // namespace patchloom_detail

using patchloom_detail::RgbPlane;

std::unique_ptr<CPatchClusterNode> CPatchOptimizer::BuildClusterTree(CImage* exemplar, int n) {
  if (exemplar == nullptr || !exemplar->IsValid() || n < 4) return nullptr;
  const int width = exemplar->GetWidth();
  const int height = exemplar->GetHeight();
  if (width < n || height < n) return nullptr;
  try {
    const int step = n / 4;
    const int columns = (width - n) / step + 1;
    const int rows = (height - n) / step + 1;
    const int total = columns * rows;
    const int dimension = n * n * 3;
    const std::size_t vectorBytes = static_cast<std::size_t>(dimension) + 4;

    // Every 8-bit exemplar pixel through the palette, 24-bit ones as stored.
    const int bits = exemplar->GetBitCount();
    RgbPlane plane = bits == 8 || bits == 24 ? patchloom_detail::ReadColours(*exemplar)
                                              : RgbPlane{width, height, {}};
    if (plane.rgb.empty()) plane.rgb.assign(static_cast<std::size_t>(width) * height * 3, 0);

    std::vector<std::uint8_t> vectors(vectorBytes * static_cast<std::size_t>(total));
    PatchList all;
    all.reserve(static_cast<std::size_t>(total));
    std::uint8_t* v = vectors.data();
    for (int y = 0; y + n <= height; y += step) {
      for (int x = 0; x + n <= width; x += step, v += vectorBytes) {
        patchloom_detail::GatherPatch(plane, x, y, n, v);
        v[dimension] = static_cast<std::uint8_t>(x & 0xFF);
        v[dimension + 1] = static_cast<std::uint8_t>((x >> 8) & 0xFF);
        v[dimension + 2] = static_cast<std::uint8_t>(y & 0xFF);
        v[dimension + 3] = static_cast<std::uint8_t>((y >> 8) & 0xFF);
        all.push_back(v);
      }
    }

    platform::ui().progress("Building the patch tree of size " + std::to_string(n) + " (" +
                            std::to_string(total) + " patches)");
    auto root = std::make_unique<CPatchClusterNode>();
    root->dimension = dimension;
    if (total <= 4) {
      root->isLeaf = true;
      root->memberCount = total;
      root->members = std::move(vectors);
      return root;
    }
    std::vector<std::vector<double>> centres;
    std::vector<PatchList> members;
    if (!ClusterPatches(all, dimension, centres, members, 4)) return nullptr;
    for (int i = 0; i < 4; ++i) {
      auto child = std::make_unique<CPatchClusterNode>();
      child->dimension = dimension;
      child->centre = std::move(centres[static_cast<std::size_t>(i)]);
      patchloom_detail::PrepareCentre(*child);
      if (!SplitClusterNode(*child, members[static_cast<std::size_t>(i)], dimension, total, 4))
        return nullptr;
      root->children[static_cast<std::size_t>(i)] = std::move(child);
    }
    return root;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

namespace {

// Makes `node` a leaf owning copies of the members' vectors.
void MakeLeaf(CPatchClusterNode& node, const PatchList& members, int dimension) {
  const std::size_t vectorBytes = static_cast<std::size_t>(dimension) + 4;
  node.isLeaf = true;
  node.memberCount = static_cast<int>(members.size());
  node.members.resize(vectorBytes * members.size());
  std::uint8_t* out = node.members.data();
  for (const std::uint8_t* member : members) {
    std::memcpy(out, member, vectorBytes);
    out += vectorBytes;
  }
}

}  // namespace

bool CPatchOptimizer::SplitClusterNode(CPatchClusterNode& node, const PatchList& members,
                                       int dimension, int total, int k) {
  const int count = static_cast<int>(members.size());
  node.dimension = dimension;
  if (total * 0.01 > count || count <= k) {
    MakeLeaf(node, members, dimension);
    return true;
  }
  std::vector<std::vector<double>> centres;
  std::vector<PatchList> groups;
  if (!ClusterPatches(members, dimension, centres, groups, k)) return false;
  // Equal patches (a flat area) all go to one centre, and splitting that group again
  // would never end: a clustering that divides nothing ends the branch here.
  for (const PatchList& group : groups) {
    if (static_cast<int>(group.size()) == count) {
      MakeLeaf(node, members, dimension);
      return true;
    }
  }
  for (int i = 0; i < k && i < static_cast<int>(node.children.size()); ++i) {
    auto child = std::make_unique<CPatchClusterNode>();
    child->dimension = dimension;
    child->centre = std::move(centres[static_cast<std::size_t>(i)]);
    patchloom_detail::PrepareCentre(*child);
    PatchList group = std::move(groups[static_cast<std::size_t>(i)]);
    if (!SplitClusterNode(*child, group, dimension, total, k)) return false;
    node.children[static_cast<std::size_t>(i)] = std::move(child);
  }
  return true;
}

bool CPatchOptimizer::ClusterPatches(const PatchList& patches, int dimension,
                                     std::vector<std::vector<double>>& centres,
                                     std::vector<PatchList>& members, int k) {
  try {
    const int count = static_cast<int>(patches.size());
    KMeansPointSet points(dimension, count);
    for (int i = 0; i < count; ++i) {
      const std::uint8_t* patch = patches[static_cast<std::size_t>(i)];
      double* point = points.point(i);
      for (int d = 0; d < dimension; ++d) point[d] = patch[d];
    }
    points.buildTree();
    KMeansFilterCenterSet centreSet(k, points, 1.0);
    KMeansTermination termination = g_clusterTermination;
    {
      KMeansLloydRestartSearch search(centreSet, termination);
      centreSet = search.Execute();
    }
    centres.assign(static_cast<std::size_t>(k), {});
    for (int c = 0; c < k; ++c) {
      const double* centre = static_cast<const KMeansFilterCenterSet&>(centreSet).center(c);
      centres[static_cast<std::size_t>(c)].assign(centre, centre + dimension);
    }
    std::vector<int> closest(static_cast<std::size_t>(count));
    centreSet.GetAssignments(closest.data(), nullptr);
    std::vector<int> counts(static_cast<std::size_t>(k), 0);
    for (int c : closest) ++counts[static_cast<std::size_t>(c)];
    members.assign(static_cast<std::size_t>(k), {});
    for (int c = 0; c < k; ++c) members[static_cast<std::size_t>(c)].reserve(static_cast<std::size_t>(counts[static_cast<std::size_t>(c)]));
    for (int i = 0; i < count; ++i)
      members[static_cast<std::size_t>(closest[static_cast<std::size_t>(i)])].push_back(
          patches[static_cast<std::size_t>(i)]);
    return true;
  } catch (...) {
    return false;
  }
}

PatchMatch CPatchOptimizer::FindNearestPatch(const CPatchClusterNode* root, CImage* image,
                                             int x, int y, int width, int height, int k) {
  (void)k;  // the tree has four children a node
  if (root == nullptr || image == nullptr || width != height ||
      width * height * 3 != root->dimension)
    return PatchMatch{0, 0, 1e20};
  std::vector<std::uint8_t> query(static_cast<std::size_t>(root->dimension));
  std::uint8_t* q = query.data();
  for (int f = 0; f < height; ++f) {
    for (int i = 0; i < width; ++i, q += 3)
      patchloom_detail::ReadColour(*image, x + i, y + f, q[0], q[1], q[2]);
  }
  return patchloom_detail::SearchTree(root, query.data());
}
