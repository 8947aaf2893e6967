// The nearest-centre passes as a plain scan over points held as bytes, for point sets where
// the kc-tree cannot prune (many dimensions): every point against every centre, four centres
// and several points at a time, with the sums kept in integers.
#pragma once

#include <cstdint>
#include <vector>

class KMeansByteScan {
 public:
  // `count` points of `dim` coordinates, copied from `points` (count rows of dim doubles),
  // each of which must be a whole number in 0..255 (see holdsBytes).
  KMeansByteScan(const double* points, int count, int dim);

  // The most points a scan takes.
  static constexpr int kMaxPoints = 16'843'009;  // 2^32 / 255: sums stay in 32 bits
  // True when every coordinate of the count x dim doubles is a whole number in 0..255.
  static bool holdsBytes(const double* points, int count, int dim);

  int count() const { return count_; }
  int dim() const { return dim_; }

  // The kc-tree's filtering and assignment passes, with the same results bit for bit: the
  // distances are summed over the dimensions in order as KMeansSquaredDistance does, ties
  // go to the lower centre index, and the sums of whole numbers are exact in any order.
  void filter(int k, const double* centres, double* sums, int* weights, double* sumSqs) const;
  void assign(int k, const double* centres, int* closest, double* sqDist) const;

 private:
  // Nearest centre of every point and, when `sqDist` is set, the distance to it.
  void nearest(int k, const double* centres, int* closest, double* sqDist) const;
  // The same from the ordered sums alone, for centres the quick test does not cover.
  void nearestOrdered(int k, const double* centres, int* closest, double* sqDist) const;

  int count_;
  int dim_;
  std::vector<std::uint8_t> bytes_;
  std::vector<std::int64_t> norms_;
  mutable std::vector<int> closest_;  // scratch of the filtering pass
};
