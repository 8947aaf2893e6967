// The engine object's shared operations (output size, Gaussian kernel, the blend of one
// pixel, the random start, block copies), the EM iteration and the single-size synthesis.
#include "patchloom/engine/patch_optimizer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "patchloom/engine/patch_optimizer_internal.h"
#include "patchloom/image/image.h"
#include "platform/clock.h"
#include "platform/crt_random.h"
#include "platform/ui.h"

const KMeansTermination g_clusterTermination = {100, 0, 0, 0, 0.10, 0.10, 3, 0.50, 10, 0.95};

CPatchOptimizer::~CPatchOptimizer() = default;

void PatchMatchGrid::Resize(int rows, int columns) {
  if (rows <= 0 || columns <= 0) rows = columns = 0;
  rows_ = rows;
  columns_ = columns;
  cells_.assign(static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns), PatchMatch{});
}

void GaussianKernel::Resize(int n) {
  if (n < 0) n = 0;
  n_ = n;
  weights_.assign(static_cast<std::size_t>(n) * static_cast<std::size_t>(n), 0.0);
}

namespace patchloom_detail {

void ReadColour(const CImage& image, int x, int y, std::uint8_t& r, std::uint8_t& g,
                std::uint8_t& b) {
  // With a palette attached the image answers through it, which is how the engine
  // reads 8-bit pixels; a pixel without a colour stays black.
  r = g = b = 0;
  image.GetPixelRGB(x, y, &r, &g, &b);
}

RgbPlane ReadColours(const CImage& image) {
  RgbPlane plane;
  if (!image.IsValid()) return plane;
  plane.width = image.GetWidth();
  plane.height = image.GetHeight();
  plane.rgb.assign(static_cast<std::size_t>(plane.width) * plane.height * 3, 0);
  const std::uint8_t* bits = image.GetBits();
  if (image.GetBitCount() == 24 && bits != nullptr) {
    // 24-bit rows hold blue, green, red; reading them here saves a call per pixel.
    const std::size_t stride = static_cast<std::size_t>(image.GetLineBytes());
    for (int y = 0; y < plane.height; ++y) {
      const std::uint8_t* p = bits + y * stride;
      std::uint8_t* out = plane.At(0, y);
      for (int x = 0; x < plane.width; ++x, p += 3, out += 3) {
        out[0] = p[2];
        out[1] = p[1];
        out[2] = p[0];
      }
    }
    return plane;
  }
  for (int y = 0; y < plane.height; ++y) {
    for (int x = 0; x < plane.width; ++x) {
      std::uint8_t* out = plane.At(x, y);
      ReadColour(image, x, y, out[0], out[1], out[2]);
    }
  }
  return plane;
}

CImage* TrueColourImage(CImage* image, std::unique_ptr<CImage>& holder) {
  if (image == nullptr || !image->IsValid()) return image;
  const int bits = image->GetBitCount();
  if (bits == 8 || bits == 24) return image;
  auto copy = std::make_unique<CImage>();
  const int width = image->GetWidth(), height = image->GetHeight();
  if (!copy->Create(width, height, 24, 0)) return nullptr;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      std::uint8_t r, g, b;
      ReadColour(*image, x, y, r, g, b);
      copy->SetPixelRGB(x, y, r, g, b);
    }
  holder = std::move(copy);
  return holder.get();
}

namespace {

// The weighted mean of the matched pixels over every window of size n that covers
// (x, y). `pixel(m, px, py, rgb)` gives the exemplar colour for match m, `cellWeight(r,
// c)` the match's own weight.
template <typename Pixel, typename CellWeight>
void Blend(const GaussianKernel& kernel, const PatchMatchGrid& grid, int n, int width, int height,
           int x, int y, Pixel&& pixel, CellWeight&& cellWeight, std::uint8_t out[3]) {
  double sumR = 0.0, sumG = 0.0, sumB = 0.0, sum = 0.0;
  const int step = n / 4;
  if (step > 0 && kernel.GetSize() >= n) {
    const auto firstOnGrid = [step](int v) { return (v + step - 1) / step * step; };
    const int top = std::min(y, height - n);
    const int right = std::min(x, width - n);
    for (int i = firstOnGrid(std::max(0, y - n + 1)); i <= top; i += step) {
      const int r = i / step;
      if (r >= grid.GetRows()) break;
      for (int j = firstOnGrid(std::max(0, x - n + 1)); j <= right; j += step) {
        const int c = j / step;
        if (c >= grid.GetColumns()) break;
        const PatchMatch& m = grid[r][c];
        std::uint8_t rgb[3];
        pixel(m, m.x + x - j, m.y + y - i, rgb);
        const double w = kernel[x - j][y - i] * cellWeight(r, c);
        sumR += w * rgb[0];
        sumG += w * rgb[1];
        sumB += w * rgb[2];
        sum += w;
      }
    }
  }
  if (sum == 0.0) {
    out[0] = out[1] = out[2] = 0;
    return;
  }
  out[0] = static_cast<std::uint8_t>(static_cast<int>(sumR / sum));
  out[1] = static_cast<std::uint8_t>(static_cast<int>(sumG / sum));
  out[2] = static_cast<std::uint8_t>(static_cast<int>(sumB / sum));
}

double MatchWeight(double distance) { return std::exp(-0.00003 * distance); }

// (int)v for a product of a size and a scale, held inside the int range; NaN gives 0.
int TruncatedSize(double v) {
  if (!(v > 0.0)) return 0;
  if (v >= static_cast<double>(std::numeric_limits<int>::max()))
    return std::numeric_limits<int>::max();
  return static_cast<int>(v);
}

}  // namespace

void BlendPixel(const RgbPlane& exemplar, const GaussianKernel& kernel, const PatchMatchGrid& grid,
                const std::vector<double>& cellWeights, int n, int width, int height, int x, int y,
                std::uint8_t out[3]) {
  const int columns = grid.GetColumns();
  Blend(
      kernel, grid, n, width, height, x, y,
      [&](const PatchMatch&, int px, int py, std::uint8_t rgb[3]) {
        if (exemplar.Contains(px, py)) {
          std::memcpy(rgb, exemplar.At(px, py), 3);
        } else {
          rgb[0] = rgb[1] = rgb[2] = 0;
        }
      },
      [&](int r, int c) { return cellWeights[static_cast<std::size_t>(r) * columns + c]; }, out);
}

namespace {

// Red, green, blue and weight; the sums are kept in doubles, four to a pixel, and read
// through memcpy, since a vector type's alignment does not survive as an element type.
typedef double ColourSums __attribute__((vector_size(32)));

inline void AddTo(double* sums, const ColourSums& add) {
  ColourSums s;
  std::memcpy(&s, sums, sizeof s);
  s += add;
  std::memcpy(sums, &s, sizeof s);
}

// acc[a] += w_a * (red, green, blue, 1) for the n pixels of one window row, w_a =
// kernelRow[a] * cellWeight: per lane the products and sums BlendPixel forms, rounded alike.
// `source` is the row's first matched pixel in the exemplar as (red, green, blue, 1)
// doubles, which must lie on the exemplar with all n.
__attribute__((target_clones("avx2", "default"))) void AddWindowRow(
    double* __restrict acc, const double* __restrict kernelRow, double cellWeight,
    const double* __restrict source, int n) {
  for (int a = 0; a < n; ++a) {
    const double w = kernelRow[a] * cellWeight;
    ColourSums colour;
    std::memcpy(&colour, source + 4 * a, sizeof colour);
    AddTo(acc + 4 * a, ColourSums{w, w, w, w} * colour);
  }
}

// The same for a window row that reaches off the exemplar, whose pixels there count as
// black.
void AddClippedWindowRow(double* acc, const double* kernelRow, double cellWeight,
                         const RgbPlane& exemplar, int px, int py, int n) {
  for (int a = 0; a < n; ++a) {
    const double w = kernelRow[a] * cellWeight;
    ColourSums colour = {0.0, 0.0, 0.0, 1.0};
    if (exemplar.Contains(px + a, py)) {
      const std::uint8_t* p = exemplar.At(px + a, py);
      colour = ColourSums{static_cast<double>(p[0]), static_cast<double>(p[1]),
                          static_cast<double>(p[2]), 1.0};
    }
    AddTo(acc + 4 * a, ColourSums{w, w, w, w} * colour);
  }
}

// The exemplar's pixels as (red, green, blue, 1) doubles, ready to weigh.
std::vector<double> ColourLanes(const RgbPlane& exemplar) {
  std::vector<double> lanes(static_cast<std::size_t>(exemplar.width) * exemplar.height * 4);
  const std::uint8_t* p = exemplar.rgb.data();
  for (std::size_t i = 0; i < lanes.size(); i += 4, p += 3) {
    lanes[i] = p[0];
    lanes[i + 1] = p[1];
    lanes[i + 2] = p[2];
    lanes[i + 3] = 1.0;
  }
  return lanes;
}

}  // namespace

void BlendImage(const RgbPlane& exemplar, const GaussianKernel& kernel, const PatchMatchGrid& grid,
                const std::vector<double>& cellWeights, int n, int width, int height,
                std::uint8_t* out) {
  if (width <= 0 || height <= 0) return;
  const int step = n / 4;
  const bool windows = step > 0 && kernel.GetSize() >= n;
  const int rows = grid.GetRows(), columns = grid.GetColumns();
  // The kernel turned so that one window row reads it in order: turned[b * n + a] is
  // kernel[a][b].
  std::vector<double> turned(windows ? static_cast<std::size_t>(n) * n : 0);
  for (int b = 0; windows && b < n; ++b)
    for (int a = 0; a < n; ++a) turned[static_cast<std::size_t>(b) * n + a] = kernel[a][b];
  std::vector<double> acc(static_cast<std::size_t>(width) * 4);
  const std::vector<double> lanes = windows ? ColourLanes(exemplar) : std::vector<double>();
  for (int y = 0; y < height; ++y) {
    std::fill(acc.begin(), acc.end(), 0.0);
    // Windows in the order BlendPixel visits them for every pixel of the row (rows of
    // windows outside, columns inside), so each pixel's sums add up in the same order.
    const int firstRow = (std::max(0, y - n + 1) + step - 1) / std::max(step, 1);
    for (int r = firstRow; windows && r < rows; ++r) {
      const int i = r * step;
      if (i > y || i > height - n) break;
      const double* kernelRow = turned.data() + static_cast<std::size_t>(y - i) * n;
      for (int c = 0; c < columns; ++c) {
        const int j = c * step;
        if (j > width - n) break;
        const PatchMatch& m = grid[r][c];
        const double w = cellWeights[static_cast<std::size_t>(r) * columns + c];
        const int py = m.y + y - i;
        double* into = acc.data() + 4 * static_cast<std::size_t>(j);
        if (exemplar.Contains(m.x, py) && exemplar.Contains(m.x + n - 1, py)) {
          AddWindowRow(into, kernelRow, w,
                       lanes.data() + (static_cast<std::size_t>(py) * exemplar.width + m.x) * 4, n);
        } else {
          AddClippedWindowRow(into, kernelRow, w, exemplar, m.x, py, n);
        }
      }
    }
    std::uint8_t* row = out + static_cast<std::size_t>(y) * width * 3;
    for (int x = 0; x < width; ++x, row += 3) {
      const double* s = acc.data() + 4 * static_cast<std::size_t>(x);
      if (s[3] == 0.0) {
        row[0] = row[1] = row[2] = 0;
        continue;
      }
      for (int k = 0; k < 3; ++k) row[k] = static_cast<std::uint8_t>(static_cast<int>(s[k] / s[3]));
    }
  }
}

void RunIterations(const RgbPlane& exemplar, CImage& image, const CPatchClusterNode& tree,
                   const GaussianKernel& kernel, PatchMatchGrid& grid, int n, int cellStep,
                   int cellDivisor, int iterations, const char* label) {
  if (iterations <= 0 || !image.IsValid() || tree.dimension != n * n * 3 || cellDivisor <= 0)
    return;
  const int width = image.GetWidth();
  const int height = image.GetHeight();
  const int rows = grid.GetRows();
  const int columns = grid.GetColumns();
  std::vector<std::uint8_t> query(static_cast<std::size_t>(tree.dimension));
  std::vector<std::uint8_t> query2(query.size());
  std::vector<double> cellWeights(static_cast<std::size_t>(rows) * columns);
  std::vector<std::uint8_t> blended(static_cast<std::size_t>(width) * height * 3);
  for (int it = 0; it < iterations; ++it) {
    platform::ui().progress(std::string(label) + ": iteration " + std::to_string(it + 1) + " of " +
                            std::to_string(iterations));
    const RgbPlane current = ReadColours(image);
    // Cells in row order, two at a time.
    const int cells = rows * columns;
    for (int cell = 0; cell < cells; cell += 2) {
      const int r = cell / columns, c = cell % columns;
      GatherPatch(current, (c * cellStep) / cellDivisor, (r * cellStep) / cellDivisor, n,
                  query.data());
      if (cell + 1 == cells) {
        grid[r][c] = SearchTree(&tree, query.data());
        break;
      }
      const int r2 = (cell + 1) / columns, c2 = (cell + 1) % columns;
      GatherPatch(current, (c2 * cellStep) / cellDivisor, (r2 * cellStep) / cellDivisor, n,
                  query2.data());
      SearchTreePair(&tree, query.data(), query2.data(), grid[r][c], grid[r2][c2]);
    }
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < columns; ++c)
        cellWeights[static_cast<std::size_t>(r) * columns + c] = MatchWeight(grid[r][c].distance);
    // The search above read the whole image first, so writing in place is safe.
    BlendImage(exemplar, kernel, grid, cellWeights, n, width, height, blended.data());
    const std::uint8_t* rgb = blended.data();
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x, rgb += 3) image.SetPixelRGB(x, y, rgb[0], rgb[1], rgb[2]);
  }
}

}  // namespace patchloom_detail

using patchloom_detail::RgbPlane;
using patchloom_detail::TruncatedSize;

int patchloom_detail::OutputSide(int size, double scale, int e) {
  if (e < 4) return 0;
  const int step = e / 4;
  const int t = TruncatedSize(size * scale);
  return e + step * ((t - e) / step);
}

void CPatchOptimizer::GetOutputSize(const CImage* image, int e, double xScale, double yScale,
                                    int& width, int& height) {
  width = height = 0;
  if (image == nullptr || !image->IsValid()) return;
  width = patchloom_detail::OutputSide(image->GetWidth(), xScale, e);
  height = patchloom_detail::OutputSide(image->GetHeight(), yScale, e);
}

void CPatchOptimizer::MakeGaussianKernel(GaussianKernel& kernel, int n, int a, int b) {
  kernel.Resize(n);
  if (n <= 0) return;
  const int c = n / 2;
  double sum = 0.0;
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) {
      const double r2 = static_cast<double>((j - c) * (j - c) + (i - c) * (i - c));
      kernel[j][i] = std::exp(-(a * a * r2) / (2.0 * b * b));
      sum += kernel[j][i];
    }
  }
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) kernel[j][i] /= sum;
}

bool CPatchOptimizer::BlendNeighbourhoods(CImage* exemplar, const GaussianKernel& kernel,
                                          const PatchMatchGrid& grid, int n, int width, int height,
                                          int x, int y, std::uint8_t& r, std::uint8_t& g,
                                          std::uint8_t& b) {
  std::uint8_t out[3] = {0, 0, 0};
  if (exemplar != nullptr && exemplar->IsValid()) {
    patchloom_detail::Blend(
        kernel, grid, n, width, height, x, y,
        [&](const PatchMatch&, int px, int py, std::uint8_t rgb[3]) {
          patchloom_detail::ReadColour(*exemplar, px, py, rgb[0], rgb[1], rgb[2]);
        },
        [&](int row, int column) {
          return patchloom_detail::MatchWeight(grid[row][column].distance);
        },
        out);
  }
  r = out[0];
  g = out[1];
  b = out[2];
  return true;
}

int CPatchOptimizer::PickRandomPosition(CPointArray& positions, int width, int height, int e) {
  // The float nearest 1/32767, so that a draw of 32767 reaches the last position.
  constexpr double kUnit = static_cast<double>(3.0518509e-05f);
  const int spanX = std::max(width - e, 0);
  const int spanY = std::max(height - e, 0);
  const auto used = [&positions](const CPoint& p) {
    return std::find(positions.begin(), positions.end(), p) != positions.end();
  };
  const auto draw = [&] {
    const int xr = platform::rand();
    const int yr = platform::rand();
    return CPoint{static_cast<int>(xr * kUnit * spanX), static_cast<int>(yr * kUnit * spanY)};
  };

  platform::rand();
  platform::rand();
  const unsigned seed = positions.IsEmpty()
                            ? static_cast<unsigned>(platform::time())
                            : static_cast<unsigned>(positions[positions.GetSize() - 1].x) *
                                  static_cast<unsigned>(platform::time());
  platform::srand(seed);
  platform::rand();
  platform::srand(static_cast<unsigned>(platform::rand()));
  platform::rand();
  CPoint p = draw();

  // Reseeding from the same seed would repeat a taken position for ever (always so when
  // the last x is 0), so repeats draw on from the running generator; a few that still
  // hit taken positions give way to the next free one in row order, and once every
  // position is taken a repeat is accepted.
  constexpr int kRedraws = 64;
  for (int attempt = 0; attempt < kRedraws && used(p); ++attempt) {
    platform::rand();
    platform::rand();
    p = draw();
  }
  if (used(p)) {
    const long long columns = spanX + 1LL;
    const long long count = columns * (spanY + 1LL);
    std::vector<CPoint> taken(positions.begin(), positions.end());
    const auto before = [](const CPoint& a, const CPoint& b) {
      return a.y != b.y ? a.y < b.y : a.x < b.x;
    };
    std::sort(taken.begin(), taken.end(), before);
    const long long start = p.y * columns + p.x;
    for (long long k = 1; k < count; ++k) {
      const long long index = (start + k) % count;
      const CPoint q{static_cast<int>(index % columns), static_cast<int>(index / columns)};
      if (!std::binary_search(taken.begin(), taken.end(), q, before)) {
        p = q;
        break;
      }
    }
  }
  positions.Add(p);
  return 1;
}

bool CPatchOptimizer::CopyBlock(CImage* source, int sourceX, int sourceY, CImage* destination,
                                int destX, int destY, int w, int h) {
  if (source == nullptr || destination == nullptr || !source->IsValid() || !destination->IsValid())
    return true;
  const int bits = source->GetBitCount();
  if (bits != 8 && bits != 24) return true;
  if (destX > destination->GetWidth() || destY > destination->GetHeight()) return true;
  for (int f = 0; f < h; ++f) {
    for (int i = 0; i < w; ++i) {
      if (!source->IsInside(sourceX + i, sourceY + f)) continue;
      std::uint8_t r, g, b;
      patchloom_detail::ReadColour(*source, sourceX + i, sourceY + f, r, g, b);
      destination->SetPixelRGB(destX + i, destY + f, r, g, b);
    }
  }
  return true;
}

CImage* CPatchOptimizer::Synthesize(CImage* exemplar, double xScale, double yScale, int iterations,
                                    int initMethod, int e) {
  if (initMethod != 0 && initMethod != 1) return nullptr;
  std::unique_ptr<CImage> converted;
  exemplar = patchloom_detail::TrueColourImage(exemplar, converted);
  // Below 8 the half size would have no grid step.
  if (exemplar == nullptr || !exemplar->IsValid() || e < 8) return nullptr;
  const int exemplarWidth = exemplar->GetWidth();
  const int exemplarHeight = exemplar->GetHeight();
  if (exemplarWidth < e || exemplarHeight < e) return nullptr;
  int width = 0, height = 0;
  GetOutputSize(exemplar, e, xScale, yScale, width, height);
  if (width < e || height < e) return nullptr;

  try {
    const int step = e / 4;
    std::unique_ptr<CImage> image;
    if (initMethod == 1) {
      image.reset(Interpolate(exemplar, width, height, true));
      if (!image) return nullptr;
    } else {
      image = std::make_unique<CImage>();
      if (!image->Create(width, height, 24, 0)) return nullptr;
      CPointArray positions;
      for (int r = 0; r <= height / e; ++r) {
        for (int c = 0; c <= width / e; ++c) {
          PickRandomPosition(positions, exemplarWidth, exemplarHeight, e);
          const CPoint& p = positions[positions.GetSize() - 1];
          CopyBlock(exemplar, p.x, p.y, image.get(), c * e, r * e, e, e);
        }
      }
    }

    GaussianKernel kernel;
    MakeGaussianKernel(kernel, e, 1, 3);
    PatchMatchGrid grid((height - e) / step + 1, (width - e) / step + 1);
    const auto tree = BuildClusterTree(exemplar, e);
    if (!tree) return nullptr;

    const int halfE = e / 2;
    const int halfStep = step / 2;
    GaussianKernel halfKernel;
    MakeGaussianKernel(halfKernel, halfE, 1, 3);
    PatchMatchGrid halfGrid((height - halfE) / halfStep + 1, (width - halfE) / halfStep + 1);
    const auto halfTree = BuildClusterTree(exemplar, halfE);
    if (!halfTree) return nullptr;

    const RgbPlane colours = patchloom_detail::ReadColours(*exemplar);
    const std::string label = "Synthesis at size ";
    patchloom_detail::RunIterations(colours, *image, *tree, kernel, grid, e, step, 1, 5,
                                    (label + std::to_string(e)).c_str());
    patchloom_detail::RunIterations(colours, *image, *halfTree, halfKernel, halfGrid, halfE, step,
                                    2, iterations, (label + std::to_string(halfE)).c_str());
    return image.release();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
