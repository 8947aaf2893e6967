// The nearest-centre passes as a plain scan over points held as bytes, for point sets where
// the kc-tree cannot prune (many dimensions): every point against every centre, four centres
// and several points at a time, with the sums kept in integers.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

class KMeansByteScan {
 public:
  // `count` points of `dim` coordinates, copied from `points` (count rows of dim doubles),
  // each of which must be a whole number in 0..255 (see holdsBytes).
  KMeansByteScan(const double* points, int count, int dim);

  // The scan of those points, or null when a coordinate is not a whole number in 0..255 or
  // the sizes are out of range: the check and the copy in one pass.
  static std::unique_ptr<KMeansByteScan> ofBytes(const double* points, int count, int dim);

  // The most points a scan takes.
  static constexpr int kMaxPoints = 16'843'009;  // 2^32 / 255: sums stay in 32 bits
  // True when every coordinate of the count x dim doubles is a whole number in 0..255.
  static bool holdsBytes(const double* points, int count, int dim);

  int count() const { return count_; }
  // Point i as dim doubles into `out`: the byte copy is smaller to read than the points.
  void copyPoint(int i, double* out) const;
  int dim() const { return dim_; }

  // The kc-tree's filtering and assignment passes, with the same results bit for bit: the
  // distances are summed over the dimensions in order as KMeansSquaredDistance does, ties
  // go to the lower centre index, and the sums of whole numbers are exact in any order.
  void filter(int k, const double* centres, double* sums, int* weights, double* sumSqs) const;
  void assign(int k, const double* centres, int* closest, double* sqDist) const;

 private:
  // An empty scan of count x dim; throws std::invalid_argument for sizes out of range.
  KMeansByteScan(int count, int dim);
  // Fills the bytes and norms from `points`; false when a coordinate is not a byte.
  bool load(const double* points);
  // Brings closest_ up to date for `centres`: the nearest centre of every point.
  void update(int k, const double* centres) const;
  // The nearest centre of each listed point from the quick test, the ordered sums deciding
  // where another centre comes within the bound; refreshes the points' distance bounds.
  void nearestOf(const int* listed, int n, int k, const double* centres,
                 const double* centreNorms) const;
  // True when every centre coordinate is a whole number in 0..255, as for centres sampled
  // from the points; fills centreBytes_.
  bool wholeCentres(int k, const double* centres) const;
  // nearestOf for such centres, from exact distances in integers.
  void nearestOfWhole(const int* listed, int n, int k) const;
  // The same for every point from the ordered sums alone, for centres the quick test does
  // not cover.
  void nearestOrdered(int k, const double* centres) const;
  // Brings the per-centre totals of the coordinates up to date with closest_.
  void updateTotals(int k) const;

  int count_;
  int dim_;
  std::vector<std::uint8_t> bytes_;
  std::vector<std::int64_t> norms_;

  // What the passes keep from one to the next (which makes them unsafe to run on one scan
  // from several threads at once). closest_ is the nearest centre of every point for
  // boundCentres_; upper_ bounds from above the exact distance (not squared) of the point
  // to that centre, lower_ (k a point) from below the distance to each centre. When the
  // centres move, the bounds move by at most as much, and a point whose bounds still keep
  // every other centre further away keeps its centre without a distance being computed.
  mutable std::vector<int> closest_;
  mutable std::vector<double> upper_;
  mutable std::vector<double> lower_;
  mutable std::vector<double> boundCentres_;
  mutable int boundK_ = 0;       // 0: no bounds held
  mutable bool bounds_ = false;  // whether this pass keeps them

  // Per-centre sums of the coordinates and squared norms, and point counts, of the points
  // as totalled_ assigns them; updated by the points that changed centre.
  mutable std::vector<std::uint32_t> total_;
  mutable std::vector<std::int64_t> totalSq_;
  mutable std::vector<int> weights_;
  mutable std::vector<int> totalled_;
  mutable int totalK_ = 0;  // 0: no totals held

  mutable std::vector<int> listed_;  // scratch: points whose bounds failed
  mutable std::vector<double> approx_, margin_, centreNorms_, drift_;
  mutable std::vector<float> centreFloats_;
  mutable std::vector<std::uint8_t> centreBytes_;
  mutable std::vector<std::int64_t> wholeNorms_;
};
