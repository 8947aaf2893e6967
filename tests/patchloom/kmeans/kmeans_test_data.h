// Point sets for the k-means tests and the brute-force reference the library must match.
#pragma once

#include <cfloat>
#include <cstdint>
#include <random>
#include <vector>

#include "patchloom/kmeans/point_set.h"

namespace kmeans_test {

enum class Data {
  kSmallIntegers,  // coordinates 0..3: many ties and repeated points
  kBytes,          // coordinates 0..255, as patch vectors have them
  kBlobs,          // integer points in tight groups around k integer seeds
  kReal,           // uniform doubles
};

// Fills `points` and returns, for centres, k rows: from the blobs' seeds (shifted by a
// fraction) for kBlobs, else a mix of sampled points, a repeated centre and fractions.
inline std::vector<double> fill(KMeansPointSet& points, Data kind, int k, std::uint32_t seed) {
  std::mt19937 rng(seed);
  const int dim = points.dim();
  const int n = points.count();
  std::uniform_int_distribution<int> small(0, 3), byte(0, 255), noise(-2, 2);
  std::uniform_real_distribution<double> real(-10.0, 10.0);
  std::vector<double> seeds(static_cast<std::size_t>(k) * dim);
  for (double& s : seeds) s = byte(rng);
  for (int i = 0; i < n; ++i) {
    double* p = points.point(i);
    const int group = static_cast<int>(rng() % k);
    for (int d = 0; d < dim; ++d) {
      switch (kind) {
        case Data::kSmallIntegers:
          p[d] = small(rng);
          break;
        case Data::kBytes:
          p[d] = byte(rng);
          break;
        case Data::kBlobs:
          p[d] = seeds[static_cast<std::size_t>(group) * dim + d] + noise(rng);
          break;
        case Data::kReal:
          p[d] = real(rng);
          break;
      }
    }
  }
  std::vector<double> centres(static_cast<std::size_t>(k) * dim);
  for (int c = 0; c < k; ++c) {
    double* z = centres.data() + static_cast<std::size_t>(c) * dim;
    const double* from = kind == Data::kBlobs ? seeds.data() + static_cast<std::size_t>(c) * dim
                                              : points.point(static_cast<int>(rng() % n));
    for (int d = 0; d < dim; ++d) z[d] = from[d];
    if (c % 3 == 2) {
      for (int d = 0; d < dim; ++d) z[d] += 0.25 * ((d + c) % 4);
    }
  }
  if (kind != Data::kBlobs && k >= 4) {
    // A repeated centre: every point nearest to it must go to the lower index.
    for (int d = 0; d < dim; ++d) centres[static_cast<std::size_t>(3) * dim + d] = centres[d];
  }
  return centres;
}

struct Reference {
  std::vector<int> closest;
  std::vector<double> sqDist;
  std::vector<double> sums;
  std::vector<int> weights;
  std::vector<double> sumSqs;
};

// Every point against every centre, in point order; ties go to the lower centre index.
inline Reference bruteForce(const KMeansPointSet& points, int k, const double* centres) {
  const int dim = points.dim();
  const int n = points.count();
  Reference r;
  r.closest.resize(n);
  r.sqDist.resize(n);
  r.sums.assign(static_cast<std::size_t>(k) * dim, 0.0);
  r.weights.assign(k, 0);
  r.sumSqs.assign(k, 0.0);
  for (int i = 0; i < n; ++i) {
    const double* p = points.point(i);
    double best = DBL_MAX;
    int winner = 0;
    for (int c = 0; c < k; ++c) {
      double s = 0.0;
      for (int d = 0; d < dim; ++d) {
        const double e = p[d] - centres[static_cast<std::size_t>(c) * dim + d];
        s += e * e;
      }
      if (s < best) {
        best = s;
        winner = c;
      }
    }
    r.closest[i] = winner;
    r.sqDist[i] = best;
    double norm = 0.0;
    for (int d = 0; d < dim; ++d) {
      r.sums[static_cast<std::size_t>(winner) * dim + d] += p[d];
      norm += p[d] * p[d];
    }
    r.weights[winner] += 1;
    r.sumSqs[winner] += norm;
  }
  return r;
}

}  // namespace kmeans_test
