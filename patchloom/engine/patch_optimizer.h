// CPatchOptimizer: texture optimisation of an output image against an exemplar. It
// alternates a search step (the closest exemplar neighbourhood of every overlapping
// output neighbourhood, found through a tree of k-means clusters of exemplar patches)
// and a blend step (every output pixel rebuilt as a Gaussian-weighted mean of the
// matches), from a random or interpolated start, at one size or level by level.
//
//   CPatchOptimizer optimizer;
//   CImage* result = optimizer.Synthesize(&exemplar, 2.0, 2.0, 5, 0, 32);
//   if (result) { result->Save("simple_result.bmp"); delete result; }
//
// The object holds no state: every operation allocates and frees its own work. Images
// use the CImage's DIB coordinates (row 0 is the bottom row). Every image an operation
// returns is new and owned by the caller, 24 bits per pixel unless stated otherwise.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "patchloom/engine/point_array.h"
#include "patchloom/kmeans/local_search.h"

class CImage;

// The termination record of every clustering run of the patch trees.
extern const KMeansTermination g_clusterTermination;

// One cell of the match grid: the top-left exemplar position of the matched
// neighbourhood and its search distance.
struct PatchMatch {
  int x = 0;
  int y = 0;
  double distance = 0.0;
};

// rows x columns matches; cell (r, c) belongs to the output neighbourhood whose
// top-left corner is (c * step, r * step).
class PatchMatchGrid {
 public:
  PatchMatchGrid() = default;
  PatchMatchGrid(int rows, int columns) { Resize(rows, columns); }
  // Non-positive counts give an empty grid.
  void Resize(int rows, int columns);
  int GetRows() const { return rows_; }
  int GetColumns() const { return columns_; }
  PatchMatch* operator[](int r) { return cells_.data() + static_cast<std::size_t>(r) * columns_; }
  const PatchMatch* operator[](int r) const {
    return cells_.data() + static_cast<std::size_t>(r) * columns_;
  }

 private:
  int rows_ = 0;
  int columns_ = 0;
  std::vector<PatchMatch> cells_;
};

// An n x n kernel of doubles, read as kernel[j][i].
class GaussianKernel {
 public:
  int GetSize() const { return n_; }
  void Resize(int n);
  double* operator[](int j) { return weights_.data() + static_cast<std::size_t>(j) * n_; }
  const double* operator[](int j) const {
    return weights_.data() + static_cast<std::size_t>(j) * n_;
  }

 private:
  int n_ = 0;
  std::vector<double> weights_;
};

// A patch vector: the n x n patch's pixels row by row as red, green, blue bytes, then
// its exemplar position as x low, x high, y low, y high bytes. Only the pixel bytes
// enter clustering and distances.
using PatchList = std::vector<const std::uint8_t*>;

// A node of the patch cluster tree. An inner node has a centre and four children; a
// leaf owns the vectors of its members, stored one after the other. The root has no
// centre. Destroying a node destroys everything below it.
struct CPatchClusterNode {
  std::vector<double> centre;  // dimension doubles; empty at the root
  // The centre as the descent reads it (set with the centre by the tree build): the
  // floor and ceiling of every component, and the components that must be read from
  // the doubles. Empty when not prepared; the descent then reads the doubles throughout.
  std::vector<std::int16_t> centreFloor;
  std::vector<std::int16_t> centreCeiling;
  std::vector<int> exactComponents;
  std::array<std::unique_ptr<CPatchClusterNode>, 4> children;
  bool isLeaf = false;
  int dimension = 0;  // n * n * 3
  int memberCount = 0;
  std::vector<std::uint8_t> members;  // memberCount vectors of dimension + 4 bytes

  int GetVectorBytes() const { return dimension + 4; }
  const std::uint8_t* GetMember(int i) const {
    return members.data() + static_cast<std::size_t>(i) * GetVectorBytes();
  }
};

class CPatchOptimizer {
 public:
  CPatchOptimizer() = default;
  virtual ~CPatchOptimizer();

  // Grows a texture of GetOutputSize(exemplar, e, xScale, yScale) from a random
  // (initMethod 0) or interpolated (1) start: five iterations at neighbourhood size e,
  // then `iterations` at e / 2. Null for another initMethod, a null or empty exemplar,
  // an exemplar or output smaller than e on a side, or when a tree or the result
  // cannot be made.
  CImage* Synthesize(CImage* exemplar, double xScale, double yScale, int iterations, int initMethod,
                     int e);

  // Per axis: e + (e/4) * ((trunc(size * scale) - e) / (e/4)), so that the grids of
  // step e/4 and e/8 cover the output exactly.
  void GetOutputSize(const CImage* image, int e, double xScale, double yScale, int& width,
                     int& height);

  // kernel[j][i] = exp(-(a*a*((j-c)^2 + (i-c)^2)) / (2*b*b)) with c = n/2, normalised
  // to sum 1.
  void MakeGaussianKernel(GaussianKernel& kernel, int n, int a, int b);

  // The blended colour of output pixel (x, y): every grid window of size n (step n/4)
  // covering it adds its matched exemplar pixel, weighted by the kernel and by
  // exp(-0.00003 * distance). A pixel no window covers is black. Always true.
  bool BlendNeighbourhoods(CImage* exemplar, const GaussianKernel& kernel,
                           const PatchMatchGrid& grid, int n, int width, int height, int x, int y,
                           std::uint8_t& r, std::uint8_t& g, std::uint8_t& b);

  // Appends a random top-left position of an e x e block inside a width x height
  // exemplar, new unless every position is already taken. Returns 1.
  int PickRandomPosition(CPointArray& positions, int width, int height, int e);

  // Copies the w x h block at (sourceX, sourceY) to (destX, destY); 8-bit sources
  // through their palette, 24-bit ones directly, other depths not at all. Pixels past
  // the destination are dropped. Always true.
  bool CopyBlock(CImage* source, int sourceX, int sourceY, CImage* destination, int destX,
                 int destY, int w, int h);

  // The tree of the exemplar's n x n patches on a grid of step n/4. Null when the
  // exemplar has no such patch or a clustering fails.
  std::unique_ptr<CPatchClusterNode> BuildClusterTree(CImage* exemplar, int n);

  // Makes `node` a leaf of `members` (fewer than 1% of `total`, or at most k of them),
  // or clusters them into k children and splits each in turn; a clustering that leaves
  // all members in one cluster (equal patches) makes the node a leaf too. False when a
  // clustering fails.
  bool SplitClusterNode(CPatchClusterNode& node, const PatchList& members, int dimension, int total,
                        int k);

  // One k-means run over the pixel bytes of `patches`: k centres of `dimension` doubles
  // and each cluster's members in list order. False when the library throws.
  bool ClusterPatches(const PatchList& patches, int dimension,
                      std::vector<std::vector<double>>& centres, std::vector<PatchList>& members,
                      int k);

  // The exemplar patch closest to the width x height neighbourhood of `image` at (x, y):
  // descent to the nearest centre, then a scan of the leaf, by
  // (sum of |difference|^1.25)^0.8. width * height * 3 must be the tree's dimension.
  // Children that are leaves without members are passed over.
  PatchMatch FindNearestPatch(const CPatchClusterNode* root, CImage* image, int x, int y, int width,
                              int height, int k);

  // Bilinear resampling to width x height. mode set: 8-bit sources give a 24-bit result
  // through their palette; otherwise palette indices are interpolated. At the right and
  // bottom edges the last column and row stand in for neighbours past the source.
  // Null for a null source or when the result cannot be made.
  CImage* Interpolate(CImage* source, int width, int height, bool mode);

  // Interpolate to (trunc(width * xScale), trunc(height * yScale)).
  CImage* ScaleImage(CImage* source, double xScale, double yScale);

  // Two stages of sqrt(scale) each, refined at sizes 16 and 8, then 32, 16 and 8,
  // writing "Multi_level_1.bmp" ... "Multi_level_5.bmp" into the working directory.
  // Null when a tree cannot be built (no file is written then).
  CImage* SynthesizeMultiLevel(CImage* exemplar, double xScale, double yScale, int iterations);

  // `iterations` search and blend steps at size e on `image`, in place. Always true.
  bool OptimizeLevel(CImage* exemplar, CImage* image, int e, const CPatchClusterNode* tree,
                     const GaussianKernel& kernel, int iterations);

  // a*x + b*y + c from a formula linear in x and y; false for anything else.
  static bool ParseFlowFormula(const std::string& text, double& a, double& b, double& c);

  // `frames` frames of the image carried along the map (x, y) -> (ax*x + bx*y + cx,
  // ay*x + by*y + cy), in pixels from the image's centre with y up: each frame is the
  // last one carried (bilinear, through the inverse map), then refined by itersPerFrame
  // EM iterations at size 32 with the carried frame as a target of weight flowWeight,
  // and written as "FlowGuided_Step<k>.bmp" (k from 1). Returns the last frame; null for
  // a map that cannot be inverted, no frames, a negative weight, or an image smaller
  // than 32 on a side.
  CImage* SynthesizeFlowGuided(CImage* image, double ax, double bx, double cx, double ay, double by,
                               double cy, int frames, int itersPerFrame, double flowWeight);

  // Synthesis from `exemplar` that starts from `image` and returns an image of its size
  // in which every constrained pixel (image coordinates; points off the image are
  // ignored) keeps its colour exactly; during the iterations each counts `weight` times
  // as much as the matches for its own colour (weights above 1e6 count as 1e6), and the
  // free pixels within 16 of them are pulled toward the start's colours by a weight that
  // falls from `weight` to 0 with the distance, so that the texture continues from the
  // constrained area. Null for a negative or infinite weight or an exemplar smaller than
  // 32 on a side.
  CImage* SynthesizeControllable(CImage* exemplar, CImage* image,
                                 const CPointArray& constrainedPixels, double weight);
};
