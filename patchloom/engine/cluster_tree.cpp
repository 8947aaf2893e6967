// The patch cluster tree: exemplar patches clustered four ways by k-means, level by level,
// until a group is small; a query descends to the nearest centre and scans its leaf.
#include <algorithm>
#include <atomic>
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

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define PATCHLOOM_X86 1
#else
#define PATCHLOOM_X86 0
#endif

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

// Exact sums of `count` (member, query) pairs, as many chains side by side as there are.
void ExactMemberSums(const std::uint8_t* const* members, const std::uint8_t* const* queries,
                     int count, int dimension, double* sums) {
  for (; count >= 8; count -= 8, members += 8, queries += 8, sums += 8)
    MemberSums<8>(members, queries, dimension, sums);
  if (count >= 4) {
    MemberSums<4>(members, queries, dimension, sums);
    count -= 4, members += 4, queries += 4, sums += 4;
  }
  if (count >= 2) {
    MemberSums<2>(members, queries, dimension, sums);
    count -= 2, members += 2, queries += 2, sums += 2;
  }
  if (count == 1) MemberSums<1>(members, queries, dimension, sums);
}

// Exact sums of `count` (1 ... 4) centres against one query.
void ExactCentreSums(const CentreView* views, int count, const std::uint8_t* query, int dimension,
                     double* sums) {
  const std::uint8_t* queries[4] = {query, query, query, query};
  if (count == 1) return CentreSums<1>(views, queries, dimension, sums);
  if (count == 2) return CentreSums<2>(views, queries, dimension, sums);
  CentreView padded[4] = {views[0], views[1], views[2], views[count > 3 ? 3 : 0]};
  double all[4];
  CentreSums<4>(padded, queries, dimension, all);
  std::copy(all, all + count, sums);
}

// ---------------------------------------------------------------------------------------
// Estimated sums. A descent step only needs to know which centre is nearest, and a leaf
// only which member, so both first estimate every sum with vector arithmetic and work
// out exact sums only for the candidates the estimates cannot tell apart.

// Documented bound on the relative error of the hardware reciprocal square root.
constexpr double kRsqrtError = 1.5 / 4096;
// A term d * rsqrt(rsqrt(d)) is d^1.25 (1 + e1)^-1/2 (1 + e2) (1 + e3), |e1|, |e2| within
// kRsqrtError and e3 the rounding of the product; this bounds its relative error.
constexpr double kTermError = 1.5 * kRsqrtError + kRsqrtError * kRsqrtError + 0x1p-23;
// Terms are added in floats for this many components, no lane taking more than 32 of
// them, then moved to doubles.
constexpr int kFloatRun = 256;
constexpr double kFloatSumError = 32 * 0x1p-24 / (1 - 32 * 0x1p-24);
constexpr double kEstimateError = (1 + kTermError) * (1 + kFloatSumError) - 1;
// The exact sums round up to kLargestEstimated additions by 2^-53 each, the estimates'
// double additions are fewer, and pow rounds by less than an ulp: all far below this.
constexpr double kRoundingSlack = 1e-9;
constexpr int kLargestEstimated = 1 << 20;
// A candidate whose estimate exceeds the least estimate by more than this factor has an
// exact distance above the least exact one and cannot be the first nearest.
constexpr double kLead = (1 + kEstimateError) / (1 - kEstimateError) * (1 + kRoundingSlack);

#if PATCHLOOM_X86
#define SEARCH_AVX2 __attribute__((target("avx2")))

// d^1.25 = d * d^(1/4); rsqrt(0) is infinity and rsqrt(infinity) zero, so 0 stays 0.
SEARCH_AVX2 inline __m256 PowerEstimate(__m256 d) {
  return _mm256_mul_ps(d, _mm256_rsqrt_ps(_mm256_rsqrt_ps(d)));
}

SEARCH_AVX2 inline __m256d Widened(__m256 run) {
  return _mm256_add_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(run)),
                       _mm256_cvtps_pd(_mm256_extractf128_ps(run, 1)));
}

SEARCH_AVX2 inline double LaneSum(__m256d v) {
  alignas(32) double lanes[4];
  _mm256_store_pd(lanes, v);
  return (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
}

// Estimates over the first (dimension / 16) * 16 components of prepared centres, each
// difference max(floor - q, q - ceiling) as the exact sums take it outside the near-whole
// components.
template <int N>
SEARCH_AVX2 void EstimateCentreSumsAvx2(const CentreView* v, const std::uint8_t* query,
                                        int dimension, double* sums) {
  const int vectorEnd = dimension - dimension % 16;
  __m256d total[N];
  for (auto& t : total) t = _mm256_setzero_pd();
  for (int base = 0; base < vectorEnd; base += kFloatRun) {
    const int runEnd = std::min(vectorEnd, base + kFloatRun);
    __m256 run[N];
    for (auto& r : run) r = _mm256_setzero_ps();
    for (int i = base; i < runEnd; i += 16) {
      const __m256i q =
          _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(query + i)));
      for (int c = 0; c < N; ++c) {
        const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(v[c].floors + i));
        const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(v[c].ceilings + i));
        const __m256i d = _mm256_max_epi16(_mm256_sub_epi16(lo, q), _mm256_sub_epi16(q, hi));
        const __m256 low = _mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(_mm256_castsi256_si128(d)));
        const __m256 high =
            _mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(_mm256_extracti128_si256(d, 1)));
        run[c] = _mm256_add_ps(run[c], _mm256_add_ps(PowerEstimate(low), PowerEstimate(high)));
      }
    }
    for (int c = 0; c < N; ++c) total[c] = _mm256_add_pd(total[c], Widened(run[c]));
  }
  for (int c = 0; c < N; ++c) sums[c] = LaneSum(total[c]);
}

// Estimates for the low eight bytes.
SEARCH_AVX2 inline __m256 BytePowers(__m128i bytes) {
  return PowerEstimate(_mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(bytes)));
}

// Estimates over the first (dimension / 32) * 32 bytes of members.
template <int N>
SEARCH_AVX2 void EstimateMemberSumsAvx2(const std::uint8_t* const* members,
                                        const std::uint8_t* query, int dimension, double* sums) {
  const int vectorEnd = dimension - dimension % 32;
  __m256d total[N];
  for (auto& t : total) t = _mm256_setzero_pd();
  for (int base = 0; base < vectorEnd; base += kFloatRun) {
    const int runEnd = std::min(vectorEnd, base + kFloatRun);
    __m256 run[N];
    for (auto& r : run) r = _mm256_setzero_ps();
    for (int i = base; i < runEnd; i += 32) {
      const __m256i q = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(query + i));
      for (int c = 0; c < N; ++c) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(members[c] + i));
        const __m256i d = _mm256_sub_epi8(_mm256_max_epu8(a, q), _mm256_min_epu8(a, q));
        const __m128i low = _mm256_castsi256_si128(d);
        const __m128i high = _mm256_extracti128_si256(d, 1);
        const __m256 first = _mm256_add_ps(BytePowers(low), BytePowers(_mm_srli_si128(low, 8)));
        const __m256 second = _mm256_add_ps(BytePowers(high), BytePowers(_mm_srli_si128(high, 8)));
        run[c] = _mm256_add_ps(run[c], _mm256_add_ps(first, second));
      }
    }
    for (int c = 0; c < N; ++c) total[c] = _mm256_add_pd(total[c], Widened(run[c]));
  }
  for (int c = 0; c < N; ++c) sums[c] = LaneSum(total[c]);
}

#endif

int FormulaDifference(const CentreView& v, const std::uint8_t* query, int i) {
  return std::max(v.floors[i] - query[i], query[i] - v.ceilings[i]);
}

// Adds the exact terms of the components past the vector loop and puts the near-whole
// components right. False if one would lower the sum, which would void the bound.
bool FinishCentreEstimate(const CentreView& v, const std::uint8_t* query, int from, int dimension,
                          double& sum) {
  const auto& table = PowerTable();
  for (int i = from; i < dimension; ++i)
    sum += table[static_cast<std::size_t>(FormulaDifference(v, query, i))];
  for (int k = 0; k < v.exactCount; ++k) {
    const int i = v.exact[k];
    const int e = static_cast<int>(v.values[i] - query[i]);
    const int exact = e < 0 ? -e : e;
    const int formula = FormulaDifference(v, query, i);
    if (exact < formula) return false;
    if (exact > formula) sum += PowerOf(static_cast<unsigned>(exact)) - table[formula];
  }
  return true;
}

// Estimates of `count` (2 ... 4) prepared centres; false when they carry no bound.
bool EstimateCentreSums(const CentreView* views, int count, const std::uint8_t* query,
                        int dimension, double* sums) {
#if !PATCHLOOM_X86
  (void)views, (void)count, (void)query, (void)dimension, (void)sums;
  return false;
#else
  if (count == 2) EstimateCentreSumsAvx2<2>(views, query, dimension, sums);
  if (count == 3) EstimateCentreSumsAvx2<3>(views, query, dimension, sums);
  if (count == 4) EstimateCentreSumsAvx2<4>(views, query, dimension, sums);
  const int from = dimension - dimension % 16;
  for (int c = 0; c < count; ++c)
    if (!FinishCentreEstimate(views[c], query, from, dimension, sums[c])) return false;
  return true;
#endif
}

void EstimateMemberSums(const std::uint8_t* const* members, int count, const std::uint8_t* query,
                        int dimension, double* sums) {
#if PATCHLOOM_X86
  if (count == 1) EstimateMemberSumsAvx2<1>(members, query, dimension, sums);
  if (count == 2) EstimateMemberSumsAvx2<2>(members, query, dimension, sums);
  if (count == 3) EstimateMemberSumsAvx2<3>(members, query, dimension, sums);
  if (count == 4) EstimateMemberSumsAvx2<4>(members, query, dimension, sums);
#endif
  const auto& table = PowerTable();
  for (int c = 0; c < count; ++c) {
    for (int i = dimension - dimension % 32; i < dimension; ++i) {
      const int d = members[c][i] - query[i];
      sums[c] += table[static_cast<std::size_t>(d < 0 ? -d : d)];
    }
  }
}

struct Counters {
  std::atomic<std::uint64_t> steps{0}, exactSteps{0}, leaves{0}, members{0}, exactMembers{0};
};

Counters& SearchCounters() {
  static Counters counters;
  return counters;
}

void Count(std::atomic<std::uint64_t>& counter, std::uint64_t amount) {
  counter.fetch_add(amount, std::memory_order_relaxed);
}

// Ascending positions `which` of the candidates whose estimate is within kLead of the
// least; their number.
int Contenders(const double* estimates, int count, int* which) {
  const double bar = *std::min_element(estimates, estimates + count) * kLead;
  int kept = 0;
  for (int c = 0; c < count; ++c)
    if (estimates[c] <= bar) which[kept++] = c;
  return kept;
}

// The first of centres `which` whose exact distance is least, -1 when none is below kNoMatch.
int NearestCentreExactly(const CentreView* views, const int* which, int count,
                         const std::uint8_t* query, int dimension) {
  CentreView chosen[4];
  for (int c = 0; c < count; ++c) chosen[c] = views[which[c]];
  double sums[4];
  ExactCentreSums(chosen, count, query, dimension, sums);
  int nearest = -1;
  double best = kNoMatch;
  for (int c = 0; c < count; ++c) {
    const double d = std::pow(sums[c], 0.8);
    if (d < best) {
      best = d;
      nearest = which[c];
    }
  }
  return nearest;
}

// Estimates run only where this processor has the instructions, and for dimensions that
// keep the rounding of the exact sums inside kRoundingSlack.
bool Estimating(SearchKernel kernel, int dimension) {
  return kernel == SearchKernel::avx2 && BestSearchKernel() == SearchKernel::avx2 &&
         dimension <= kLargestEstimated;
}

bool Estimable(const CentreView* views, int count) {
  for (int c = 0; c < count; ++c)
    if (views[c].floors == nullptr) return false;
  return true;
}

// The children a query may descend to: an empty leaf (a cluster that got no members)
// gives way to its nearest non-empty sibling.
int ChildrenOf(const CPatchClusterNode& node, const CPatchClusterNode** children,
               CentreView* views) {
  int count = 0;
  for (const auto& child : node.children) {
    if (!child || (child->isLeaf && child->memberCount == 0)) continue;
    children[count] = child.get();
    views[count] = ViewOf(*child);
    ++count;
  }
  return count;
}

// The leaf a query descends to; null when a node offers no way on.
const CPatchClusterNode* LeafOf(const CPatchClusterNode* root, const std::uint8_t* query,
                                SearchKernel kernel) {
  const int dimension = root ? root->dimension : 0;
  const CPatchClusterNode* node = root;
  while (node && !node->isLeaf) {
    const CPatchClusterNode* children[4];
    CentreView views[4];
    const int count = ChildrenOf(*node, children, views);
    if (count == 0) return nullptr;
    const int nearest = NearestCentre(views, count, query, dimension, kernel);
    node = nearest < 0 ? nullptr : children[nearest];
  }
  return node;
}

// Queries searched together, their exact leaf distances side by side.
constexpr int kBatch = 8;

// Scratch lists of one search, kept between searches so that a search allocates nothing.
struct LeafScratch {
  std::vector<double> estimates;
  std::vector<int> contenders[kBatch];
  std::vector<const std::uint8_t*> members, queries;
  std::vector<double> sums;
};

LeafScratch& Scratch() {
  thread_local LeafScratch scratch;
  return scratch;
}

// The members of `leaf` that may be the query's first nearest, ascending.
void MemberContenders(const CPatchClusterNode& leaf, const std::uint8_t* query, int dimension,
                      SearchKernel kernel, std::vector<double>& estimates,
                      std::vector<int>& contenders) {
  const int count = leaf.memberCount;
  contenders.clear();
  Count(SearchCounters().leaves, 1);
  Count(SearchCounters().members, static_cast<std::uint64_t>(count));
  if (!Estimating(kernel, dimension) || count < 2) {
    for (int m = 0; m < count; ++m) contenders.push_back(m);
    return;
  }
  estimates.resize(static_cast<std::size_t>(count));
  for (int first = 0; first < count; first += 4) {
    const int group = std::min(4, count - first);
    const std::uint8_t* members[4];
    for (int c = 0; c < group; ++c) members[c] = leaf.GetMember(first + c);
    EstimateMemberSums(members, group, query, dimension, estimates.data() + first);
  }
  const double bar = *std::min_element(estimates.begin(), estimates.end()) * kLead;
  for (int m = 0; m < count; ++m)
    if (estimates[static_cast<std::size_t>(m)] <= bar) contenders.push_back(m);
}

// The first nearest of each walk's contenders by exact distance; the exact sums of all
// walks run side by side.
void MatchContenders(const CPatchClusterNode* const* leaves, const std::uint8_t* const* queries,
                     int walks, int dimension, LeafScratch& scratch, PatchMatch* matches) {
  scratch.members.clear();
  scratch.queries.clear();
  for (int w = 0; w < walks; ++w) {
    for (int m : scratch.contenders[w]) {
      scratch.members.push_back(leaves[w]->GetMember(m));
      scratch.queries.push_back(queries[w]);
    }
  }
  const int total = static_cast<int>(scratch.members.size());
  Count(SearchCounters().exactMembers, static_cast<std::uint64_t>(total));
  scratch.sums.resize(scratch.members.size());
  ExactMemberSums(scratch.members.data(), scratch.queries.data(), total, dimension,
                  scratch.sums.data());
  std::size_t at = 0;
  for (int w = 0; w < walks; ++w) {
    PatchMatch match{0, 0, kNoMatch};
    for (int m : scratch.contenders[w]) {
      const double d = std::pow(scratch.sums[at++], 0.8);
      if (d < match.distance) {
        const std::uint8_t* position = leaves[w]->GetMember(m) + leaves[w]->dimension;
        match = PatchMatch{position[0] | (position[1] << 8), position[2] | (position[3] << 8), d};
      }
    }
    matches[w] = match;
  }
}

// Each query's answer, `walks` (1 ... kBatch) at a time.
void SearchTrees(const CPatchClusterNode* root, const std::uint8_t* const* queries, int walks,
                 SearchKernel kernel, PatchMatch* matches) {
  const int dimension = root ? root->dimension : 0;
  LeafScratch& scratch = Scratch();
  const CPatchClusterNode* leaves[kBatch] = {};
  int found = 0;
  const std::uint8_t* foundQueries[kBatch] = {};
  int foundAt[kBatch] = {};
  for (int w = 0; w < walks; ++w) {
    matches[w] = PatchMatch{0, 0, kNoMatch};
    const CPatchClusterNode* leaf = LeafOf(root, queries[w], kernel);
    if (leaf == nullptr) continue;
    MemberContenders(*leaf, queries[w], dimension, kernel, scratch.estimates,
                     scratch.contenders[found]);
    leaves[found] = leaf;
    foundQueries[found] = queries[w];
    foundAt[found++] = w;
  }
  PatchMatch answers[kBatch];
  MatchContenders(leaves, foundQueries, found, dimension, scratch, answers);
  for (int f = 0; f < found; ++f) matches[foundAt[f]] = answers[f];
}

}  // namespace

SearchKernel BestSearchKernel() {
#if PATCHLOOM_X86
  static const SearchKernel best =
      __builtin_cpu_supports("avx2") ? SearchKernel::avx2 : SearchKernel::exact;
  return best;
#else
  return SearchKernel::exact;
#endif
}

SearchCounts SearchCountsSoFar() {
  const Counters& c = SearchCounters();
  return SearchCounts{c.steps.load(), c.exactSteps.load(), c.leaves.load(), c.members.load(),
                      c.exactMembers.load()};
}

int NearestCentre(const CentreView* centres, int count, const std::uint8_t* query, int dimension,
                  SearchKernel kernel) {
  if (count <= 0) return -1;
  Count(SearchCounters().steps, 1);
  int which[4] = {0, 1, 2, 3};
  int contenders = std::min(count, 4);
  if (Estimating(kernel, dimension) && Estimable(centres, contenders)) {
    // Prepared centres keep every sum small and finite, so one candidate is the answer.
    if (contenders == 1) return 0;
    double estimates[4];
    if (EstimateCentreSums(centres, contenders, query, dimension, estimates)) {
      contenders = Contenders(estimates, contenders, which);
      if (contenders == 1) return which[0];
    }
  }
  Count(SearchCounters().exactSteps, 1);
  return NearestCentreExactly(centres, which, contenders, query, dimension);
}

PatchMatch NearestMember(const CPatchClusterNode& leaf, const std::uint8_t* query,
                         SearchKernel kernel) {
  LeafScratch& scratch = Scratch();
  MemberContenders(leaf, query, leaf.dimension, kernel, scratch.estimates, scratch.contenders[0]);
  const CPatchClusterNode* leaves[1] = {&leaf};
  PatchMatch match;
  MatchContenders(leaves, &query, 1, leaf.dimension, scratch, &match);
  return match;
}

void PatchDistances(const std::uint8_t* const* members, int count, const std::uint8_t* query,
                    int dimension, double* out) {
  count = std::min(count, 4);
  const std::uint8_t* queries[4] = {query, query, query, query};
  ExactMemberSums(members, queries, count, dimension, out);
  for (int c = 0; c < count; ++c) out[c] = std::pow(out[c], 0.8);
}

void CentreDistances(const CentreView* centres, int count, const std::uint8_t* query, int dimension,
                     double* out) {
  count = std::min(count, 4);
  if (count <= 0) return;
  ExactCentreSums(centres, count, query, dimension, out);
  for (int c = 0; c < count; ++c) out[c] = std::pow(out[c], 0.8);
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

PatchMatch SearchTree(const CPatchClusterNode* root, const std::uint8_t* query,
                      SearchKernel kernel) {
  PatchMatch match;
  SearchTrees(root, &query, 1, kernel, &match);
  return match;
}

void SearchTreeBatch(const CPatchClusterNode* root, const std::uint8_t* const* queries, int count,
                     PatchMatch* matches, SearchKernel kernel) {
  for (int first = 0; first < count; first += kBatch)
    SearchTrees(root, queries + first, std::min(kBatch, count - first), kernel, matches + first);
}

void SearchTreePair(const CPatchClusterNode* root, const std::uint8_t* queryA,
                    const std::uint8_t* queryB, PatchMatch& matchA, PatchMatch& matchB,
                    SearchKernel kernel) {
  const std::uint8_t* queries[2] = {queryA, queryB};
  PatchMatch matches[2];
  SearchTrees(root, queries, 2, kernel, matches);
  matchA = matches[0];
  matchB = matches[1];
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
