// Working parts of the engine shared by its procedures: images as plain RGB planes, the
// table-driven patch distance, the tree search on contiguous queries and the EM
// iteration that the single-size, multi-level and later procedures run.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "patchloom/engine/patch_optimizer.h"

class CImage;

namespace patchloom_detail {

// An image's colours as red, green, blue bytes, rows in the image's order (row 0 the
// bottom row), read once so that hot loops need no call per pixel.
struct RgbPlane {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;

  const std::uint8_t* At(int x, int y) const {
    return rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
  }
  std::uint8_t* At(int x, int y) {
    return rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
  }
  bool Contains(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
};

// One side of GetOutputSize: e + (e/4) * ((trunc(size * scale) - e) / (e/4)); 0 for e < 4.
int OutputSide(int size, double scale, int e);

// The colours as the engine reads every image: 8-bit pixels through the attached palette
// (the colour table when there is none), other depths as GetPixelRGB gives them. A pixel
// the image gives no colour for is black.
RgbPlane ReadColours(const CImage& image);

// `image` itself when the engine reads its pixels as they are (8 bits, 24 bits, or no
// image), else a new 24-bit copy made through its colours and kept in `holder`: every
// depth the image library reads (1, 4, 16, 32 bits) reaches the engine in colour
// instead of as black. Null when the copy cannot be made.
CImage* TrueColourImage(CImage* image, std::unique_ptr<CImage>& holder);

// Same rule for one pixel.
void ReadColour(const CImage& image, int x, int y, std::uint8_t& r, std::uint8_t& g,
                std::uint8_t& b);

// |d|^1.25 for d = 0 ... 1023, each entry exactly what pow gives.
const std::array<double, 1024>& PowerTable();

// (sum of |a[i] - b[i]|^1.25)^0.8 over `dimension` bytes.
double PatchDistance(const std::uint8_t* a, const std::uint8_t* b, int dimension);
// The same for `count` (1 ... 4) members at once into out[0 ... count-1].
void PatchDistances(const std::uint8_t* const* members, int count, const std::uint8_t* query,
                    int dimension, double* out);

// (sum of |trunc(centre[i] - query[i])|^1.25)^0.8 over `dimension` components.
double CentreDistance(const double* centre, const std::uint8_t* query, int dimension);

// A centre as the descent reads it; `floors` null for one read from the doubles only.
struct CentreView {
  const double* values = nullptr;
  const std::int16_t* floors = nullptr;
  const std::int16_t* ceilings = nullptr;
  const int* exact = nullptr;  // ascending component indices
  int exactCount = 0;
};

// The view of a node's centre.
CentreView ViewOf(const CPatchClusterNode& node);

// Fills the node's floors, ceilings and exact components from its centre.
void PrepareCentre(CPatchClusterNode& node);

// CentreDistance for `count` (1 ... 4) centres at once.
void CentreDistances(const CentreView* centres, int count, const std::uint8_t* query, int dimension,
                     double* out);

// How the search ranks candidates: by exact distances throughout, or by AVX2 estimates
// with a proven error bound, working out exact distances only where the estimates cannot
// decide. Both give the same answers.
enum class SearchKernel { exact, avx2 };

// The fastest kernel this processor runs.
SearchKernel BestSearchKernel();

// The position among `count` (1 ... 4) centres of the first one at the least
// CentreDistance, as comparing the exact distances finds it; -1 when none is below 1e20.
int NearestCentre(const CentreView* centres, int count, const std::uint8_t* query, int dimension,
                  SearchKernel kernel);

// The leaf's first member at the least PatchDistance from the query and that distance;
// distance 1e20 for a leaf without members.
PatchMatch NearestMember(const CPatchClusterNode& leaf, const std::uint8_t* query,
                         SearchKernel kernel);

// Descent steps, leaves and leaf members the searches of this process have ranked, and
// how many steps and members needed exact distances (at least one member a leaf does).
struct SearchCounts {
  std::uint64_t steps = 0;
  std::uint64_t exactSteps = 0;
  std::uint64_t leaves = 0;
  std::uint64_t members = 0;
  std::uint64_t exactMembers = 0;
};
SearchCounts SearchCountsSoFar();

// The tree's answer for a query of the tree's dimension.
PatchMatch SearchTree(const CPatchClusterNode* root, const std::uint8_t* query,
                      SearchKernel kernel = BestSearchKernel());

// The answers for `count` queries into matches[0 ... count-1], each exactly SearchTree's;
// the exact distances of up to eight leaves are worked out side by side, which makes
// this faster than one search at a time.
void SearchTreeBatch(const CPatchClusterNode* root, const std::uint8_t* const* queries, int count,
                     PatchMatch* matches, SearchKernel kernel = BestSearchKernel());

// The answers for two queries, each exactly SearchTree's; the exact distances of the two
// leaves are worked out side by side, which makes this faster than two searches.
void SearchTreePair(const CPatchClusterNode* root, const std::uint8_t* queryA,
                    const std::uint8_t* queryB, PatchMatch& matchA, PatchMatch& matchB,
                    SearchKernel kernel = BestSearchKernel());

// The n x n neighbourhood at (x, y) of a plane, row by row; pixels off the plane are black.
void GatherPatch(const RgbPlane& plane, int x, int y, int n, std::uint8_t* out);

// The blended colour of pixel (x, y) from a grid of size-n windows, as
// BlendNeighbourhoods computes it; `cellWeights` holds exp(-0.00003 * distance) of every
// cell in grid order. Matched pixels off the exemplar count as black.
void BlendPixel(const RgbPlane& exemplar, const GaussianKernel& kernel, const PatchMatchGrid& grid,
                const std::vector<double>& cellWeights, int n, int width, int height, int x, int y,
                std::uint8_t out[3]);

// BlendPixel for every pixel of a width x height image at once, into `out` (rows of red,
// green, blue bytes), with the same results bit for bit.
void BlendImage(const RgbPlane& exemplar, const GaussianKernel& kernel, const PatchMatchGrid& grid,
                const std::vector<double>& cellWeights, int n, int width, int height,
                std::uint8_t* out);

// `iterations` EM iterations on `image` in place: the search step fills `grid` from the
// image as it stands, the window of cell (r, c) at ((c * cellStep) / cellDivisor,
// (r * cellStep) / cellDivisor), then the blend step rewrites every pixel. `label` names
// the iterations in the progress lines.
void RunIterations(const RgbPlane& exemplar, CImage& image, const CPatchClusterNode& tree,
                   const GaussianKernel& kernel, PatchMatchGrid& grid, int n, int cellStep,
                   int cellDivisor, int iterations, const char* label);

}  // namespace patchloom_detail
