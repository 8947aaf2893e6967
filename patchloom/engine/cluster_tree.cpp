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

namespace {

// The sums run in component order, each (candidate, query) pair on its own chain:
// several chains side by side hide the latency of the additions without changing a
// single rounding.
template <int N>
void MemberSums(const std::uint8_t* const* members, const std::uint8_t* const* queries,
                int dimension, double* sums) {
  const auto& table = PowerTable();
  alignas(16) std::uint8_t d[N][kBlock];
  double s[N] = {};
  for (int base = 0; base < dimension; base += kBlock) {
    const int len = std::min(kBlock, dimension - base);
    for (int c = 0; c < N; ++c) {
      const std::uint8_t* a = members[c] + base;
      const std::uint8_t* q = queries[c] + base;
      for (int i = 0; i < len; ++i)
        d[c][i] = static_cast<std::uint8_t>(a[i] > q[i] ? a[i] - q[i] : q[i] - a[i]);
    }
    for (int i = 0; i < len; ++i)
      for (int c = 0; c < N; ++c) s[c] += table[d[c][i]];
  }
  for (int c = 0; c < N; ++c) sums[c] = s[c];
}

template <int N>
void CentreSums(const CentreView* v, const std::uint8_t* const* queries, int dimension,
                double* sums) {
  double s[N] = {};
  bool prepared = true;
  for (int c = 0; c < N; ++c) prepared = prepared && v[c].floors != nullptr;
  if (!prepared) {
    for (int i = 0; i < dimension; ++i) {
      for (int c = 0; c < N; ++c) {
        const int d = static_cast<int>(v[c].values[i] - queries[c][i]);
        s[c] += PowerOf(static_cast<unsigned>(d < 0 ? -d : d));
      }
    }
  } else {
    // For a query byte q, trunc(centre - q) is floor - q when q <= floor and
    // ceiling - q above it, so |trunc(centre - q)| = max(floor - q, q - ceiling).
    const auto& table = PowerTable();
    alignas(16) std::uint16_t d[N][kBlock];
    int cursor[N] = {};
    for (int base = 0; base < dimension; base += kBlock) {
      const int len = std::min(kBlock, dimension - base);
      for (int c = 0; c < N; ++c) {
        const std::int16_t* lo = v[c].floors + base;
        const std::int16_t* hi = v[c].ceilings + base;
        const std::uint8_t* q = queries[c] + base;
        for (int i = 0; i < len; ++i) {
          const int qi = q[i];
          d[c][i] = static_cast<std::uint16_t>(std::max(lo[i] - qi, qi - hi[i]));
        }
        for (; cursor[c] < v[c].exactCount && v[c].exact[cursor[c]] < base + len; ++cursor[c]) {
          const int k = v[c].exact[cursor[c]];
          const int e = static_cast<int>(v[c].values[k] - queries[c][k]);
          d[c][k - base] = static_cast<std::uint16_t>(e < 0 ? -e : e);
        }
      }
      for (int i = 0; i < len; ++i)
        for (int c = 0; c < N; ++c) s[c] += table[d[c][i]];
    }
  }
  for (int c = 0; c < N; ++c) sums[c] = s[c];
}

// The candidates of one query at one step: up to four, padded with the first.
struct Candidates {
  int count = 0;
  const std::uint8_t* query = nullptr;
  const CPatchClusterNode* nodes[4] = {};
  CentreView centres[4];
  const std::uint8_t* members[4] = {};
};

// The distances of one or two candidate sets; `b` may be null.
void CentreDistancesOf(const Candidates& a, const Candidates* b, int dimension, double* da,
                       double* db) {
  CentreView views[8];
  const std::uint8_t* queries[8];
  double sums[8];
  for (int c = 0; c < 4; ++c) {
    views[c] = a.centres[c < a.count ? c : 0];
    queries[c] = a.query;
    if (b) {
      views[4 + c] = b->centres[c < b->count ? c : 0];
      queries[4 + c] = b->query;
    }
  }
  if (b) {
    CentreSums<8>(views, queries, dimension, sums);
  } else {
    CentreSums<4>(views, queries, dimension, sums);
  }
  for (int c = 0; c < a.count; ++c) da[c] = std::pow(sums[c], 0.8);
  if (b)
    for (int c = 0; c < b->count; ++c) db[c] = std::pow(sums[4 + c], 0.8);
}

void MemberDistancesOf(const Candidates& a, const Candidates* b, int dimension, double* da,
                       double* db) {
  const std::uint8_t* members[8];
  const std::uint8_t* queries[8];
  double sums[8];
  for (int c = 0; c < 4; ++c) {
    members[c] = a.members[c < a.count ? c : 0];
    queries[c] = a.query;
    if (b) {
      members[4 + c] = b->members[c < b->count ? c : 0];
      queries[4 + c] = b->query;
    }
  }
  if (b) {
    MemberSums<8>(members, queries, dimension, sums);
  } else {
    MemberSums<4>(members, queries, dimension, sums);
  }
  for (int c = 0; c < a.count; ++c) da[c] = std::pow(sums[c], 0.8);
  if (b)
    for (int c = 0; c < b->count; ++c) db[c] = std::pow(sums[4 + c], 0.8);
}

// One query's walk through the tree, a step at a time, so that two walks can share
// their distance computations.
class Walk {
 public:
  Walk(const CPatchClusterNode* root, const std::uint8_t* query) : node_(root) {
    next_.query = query;
    if (node_ == nullptr) done_ = true;
    Prepare();
  }
  bool Done() const { return done_; }
  const Candidates& Next() const { return next_; }
  bool Descending() const { return !node_->isLeaf; }
  // Takes the distances of Next() and moves on.
  void Advance(const double* d) {
    if (Descending()) {
      const CPatchClusterNode* kept = nullptr;
      double best = kNoMatch;
      for (int c = 0; c < next_.count; ++c) {
        if (d[c] < best) {
          best = d[c];
          kept = next_.nodes[c];
        }
      }
      if (kept == nullptr) {
        done_ = true;
        return;
      }
      node_ = kept;
      first_ = 0;
    } else {
      for (int c = 0; c < next_.count; ++c) {
        if (d[c] < match_.distance) {
          const std::uint8_t* position = next_.members[c] + node_->dimension;
          match_.x = position[0] | (position[1] << 8);
          match_.y = position[2] | (position[3] << 8);
          match_.distance = d[c];
        }
      }
      first_ += next_.count;
    }
    Prepare();
  }
  const PatchMatch& Match() const { return match_; }

 private:
  void Prepare() {
    if (done_) return;
    next_.count = 0;
    if (node_->isLeaf) {
      const int count = std::min(4, node_->memberCount - first_);
      if (count <= 0) {
        done_ = true;
        return;
      }
      for (int c = 0; c < count; ++c) next_.members[c] = node_->GetMember(first_ + c);
      next_.count = count;
      return;
    }
    // A cluster that got no members leaves an empty leaf; its nearest non-empty
    // sibling answers instead.
    for (const auto& child : node_->children) {
      if (!child || (child->isLeaf && child->memberCount == 0)) continue;
      next_.nodes[next_.count] = child.get();
      next_.centres[next_.count] = ViewOf(*child);
      ++next_.count;
    }
    if (next_.count == 0) done_ = true;
  }

  const CPatchClusterNode* node_;
  Candidates next_;
  int first_ = 0;
  bool done_ = false;
  PatchMatch match_{0, 0, kNoMatch};
};

// One step of one walk alone.
void Step(Walk& walk, int dimension) {
  double d[4];
  if (walk.Descending()) {
    CentreDistancesOf(walk.Next(), nullptr, dimension, d, nullptr);
  } else {
    MemberDistancesOf(walk.Next(), nullptr, dimension, d, nullptr);
  }
  walk.Advance(d);
}

}  // namespace

void PatchDistances(const std::uint8_t* const* members, int count, const std::uint8_t* query,
                    int dimension, double* out) {
  Candidates a;
  a.count = std::min(count, 4);
  a.query = query;
  for (int c = 0; c < a.count; ++c) a.members[c] = members[c];
  MemberDistancesOf(a, nullptr, dimension, out, nullptr);
}

void CentreDistances(const CentreView* centres, int count, const std::uint8_t* query, int dimension,
                     double* out) {
  Candidates a;
  a.count = std::min(count, 4);
  a.query = query;
  for (int c = 0; c < a.count; ++c) a.centres[c] = centres[c];
  CentreDistancesOf(a, nullptr, dimension, out, nullptr);
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

PatchMatch SearchTree(const CPatchClusterNode* root, const std::uint8_t* query) {
  Walk walk(root, query);
  while (!walk.Done()) Step(walk, root->dimension);
  return walk.Match();
}

void SearchTreePair(const CPatchClusterNode* root, const std::uint8_t* queryA,
                    const std::uint8_t* queryB, PatchMatch& matchA, PatchMatch& matchB) {
  Walk a(root, queryA), b(root, queryB);
  const int dimension = root ? root->dimension : 0;
  // Steps of the same kind go together; otherwise each walk steps alone.
  while (!a.Done() && !b.Done()) {
    if (a.Descending() != b.Descending()) {
      Step(a.Descending() ? a : b, dimension);
      continue;
    }
    double da[4], db[4];
    if (a.Descending()) {
      CentreDistancesOf(a.Next(), &b.Next(), dimension, da, db);
    } else {
      MemberDistancesOf(a.Next(), &b.Next(), dimension, da, db);
    }
    a.Advance(da);
    b.Advance(db);
  }
  while (!a.Done()) Step(a, dimension);
  while (!b.Done()) Step(b, dimension);
  matchA = a.Match();
  matchB = b.Match();
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
    points.buildIndex();
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
    for (int c = 0; c < k; ++c)
      members[static_cast<std::size_t>(c)].reserve(
          static_cast<std::size_t>(counts[static_cast<std::size_t>(c)]));
    for (int i = 0; i < count; ++i)
      members[static_cast<std::size_t>(closest[static_cast<std::size_t>(i)])].push_back(
          patches[static_cast<std::size_t>(i)]);
    return true;
  } catch (...) {
    return false;
  }
}

PatchMatch CPatchOptimizer::FindNearestPatch(const CPatchClusterNode* root, CImage* image, int x,
                                             int y, int width, int height, int k) {
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
