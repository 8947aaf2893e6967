// Single-image synthesis: the patch grid, the candidate choice for each patch, the
// seam cuts and the post-process, between the sample's and the result's DIB handles.
#include "quiltbench/engine/graph_cut_synthesizer.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <set>

#include "platform/bitmap_format.h"
#include "platform/clock.h"
#include "platform/memory_status.h"
#include "platform/ui.h"
#include "quiltbench/engine/candidate_search.h"
#include "quiltbench/engine/fft_correlation.h"
#include "quiltbench/engine/patch_seams.h"
#include "quiltbench/engine/patch_synthesis.h"
#include "quiltbench/engine/seam_smoothing.h"

namespace {

// The work buffers of a run take about 32 bytes an output pixel; a 32-bit process
// could never have held more than 2 GB of them.
constexpr std::uint64_t kMaxOutputPixels = (std::uint64_t{1} << 31) / 32;

// Patches after the first along a side of `scaled` pixels. A scale that leaves less
// than one patch still gives one.
int PatchesAfterFirst(double scaled) {
  return std::max(static_cast<int>(scaled) - kPatchSize, 0) / kGridStep;
}

// Rough costs of the work, measured on one core of the development machine
// (an 8-vCPU Xeon): each searched patch pays one scan of every offset and, with the FFT,
// three forward transforms and one inverse of the padded sample; the naive search pays
// the overlap's products at every offset instead.
constexpr double kSecondsPerScannedOffset = 6e-9;
constexpr double kSecondsPerFftPoint = 0.4e-9;  // per point and log2 of the points
constexpr double kSecondsPerNaiveOffset = 1.05e-7;
constexpr double kSecondsPerPatchCut = 1e-4;

// Bytes the run holds for each output pixel: rows, seam records, source coordinates and
// the result's rows; the post-process adds its blend sums.
constexpr std::uint64_t kBytesPerOutputPixel = 3 + sizeof(SeamRecord) + sizeof(SourceCoord) + 3;
constexpr std::uint64_t kBytesPerBlendPixel = 16;
// ... and for each sample pixel: its rows, the two summed-area tables and the used map.
constexpr std::uint64_t kBytesPerSamplePixel = 3 + 8 + 24 + 1;
// The searches keep two doubles an offset for each of the three overlap shapes.
constexpr std::uint64_t kBytesPerSearchedOffset = 3 * 2 * sizeof(double);
// Patch graphs, strips and the libraries' own tables.
constexpr std::uint64_t kFixedBytes = 8u << 20;

std::uint64_t FftBytes(std::uint32_t w, std::uint32_t h) {
  const std::uint64_t columns = FftCorrelator::TransformLength(static_cast<int>(w));
  const std::uint64_t rows = FftCorrelator::TransformLength(static_cast<int>(h));
  // Two real arrays and five half spectra (the product, the pattern's, three channels').
  return rows * columns * 2 * sizeof(double) + rows * (columns / 2 + 1) * 5 * 2 * sizeof(double);
}

double FftSeconds(std::uint32_t w, std::uint32_t h) {
  const double points = static_cast<double>(FftCorrelator::TransformLength(static_cast<int>(w))) *
                        FftCorrelator::TransformLength(static_cast<int>(h));
  return 4 * kSecondsPerFftPoint * points * std::log2(points);
}

std::string DescribeSeconds(double seconds) {
  char text[64];
  if (seconds < 1)
    std::snprintf(text, sizeof text, "under a second");
  else if (seconds < 120)
    std::snprintf(text, sizeof text, "about %.0f s", seconds);
  else if (seconds < 7200)
    std::snprintf(text, sizeof text, "about %.0f min", seconds / 60);
  else
    std::snprintf(text, sizeof text, "about %.0f h", seconds / 3600);
  return text;
}

std::string Size(std::uint64_t w, std::uint64_t h) {
  return std::to_string(w) + "x" + std::to_string(h);
}

// Layout of a locked bitmap: where its colour table and rows are, and whether the block
// holds them.
struct DibLayout {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  unsigned bitCount = 0;
  unsigned colorCount = 0;
  unsigned colorTableBytes = 0;
  const std::uint8_t* colorTable = nullptr;
  unsigned colorEntryBytes = 4;
  const std::uint8_t* bits = nullptr;
  std::uint64_t stride = 0;
  std::uint32_t compression = platform::BI_RGB;
  std::uint32_t masks[3] = {0, 0, 0};  // red, green, blue of 16- and 32-bit rows
  bool fits = false;
};

DibLayout ReadLayout(const void* header, std::size_t blockSize) {
  DibLayout layout;
  if (blockSize < platform::kBitmapCoreHeaderSize) return layout;
  const bool info = platform::loadPacked<std::uint32_t>(header) == platform::kBitmapInfoHeaderSize;
  if (info && blockSize < platform::kBitmapInfoHeaderSize) return layout;
  layout.width = DibWidth(header);
  layout.height = DibHeight(header);
  layout.bitCount = DibBitCount(header);
  layout.colorCount = DibColorCount(header);
  layout.colorEntryBytes = info ? 4 : 3;
  layout.bits = DibBits(header);
  layout.colorTableBytes = DibPaletteSize(header);
  layout.colorTable = layout.bits - layout.colorTableBytes;
  layout.stride = platform::dibStride(layout.width, layout.bitCount);
  if (info)
    layout.compression = platform::loadPacked<platform::BitmapInfoHeader>(header).compression;
  DibChannelMasks(header, layout.masks);
  const auto* start = static_cast<const std::uint8_t*>(header);
  const std::uint64_t offset = static_cast<std::uint64_t>(layout.bits - start);
  layout.fits = offset <= blockSize &&
                layout.height <= (blockSize - offset) / std::max<std::uint64_t>(layout.stride, 1);
  return layout;
}

// Frees the run's summed-area tables on every way out.
class TableRelease {
 public:
  TableRelease(SummedAreaTable<1>& squares, SummedAreaTable<3>& sums)
      : squares_(squares), sums_(sums) {}
  ~TableRelease() {
    squares_.clear();
    sums_.clear();
  }
  TableRelease(const TableRelease&) = delete;
  TableRelease& operator=(const TableRelease&) = delete;

 private:
  SummedAreaTable<1>& squares_;
  SummedAreaTable<3>& sums_;
};

// Takes one channel out of a pixel and scales it to 0..255 (the caller has checked that
// the mask is one run of bits).
class ChannelScale {
 public:
  explicit ChannelScale(std::uint32_t mask)
      : mask_(mask), shift_(std::countr_zero(mask)), max_((mask >> std::countr_zero(mask))) {}
  std::uint8_t operator()(std::uint32_t pixel) const {
    const std::uint32_t value = (pixel & mask_) >> shift_;
    return static_cast<std::uint8_t>((std::uint64_t{value} * 255 + max_ / 2) / max_);
  }

 private:
  std::uint32_t mask_;
  int shift_;
  std::uint32_t max_;
};

// Why the engine cannot convert these rows; empty when it can.
std::string ConversionProblem(const DibLayout& layout) {
  if (layout.compression == platform::BI_RLE8 || layout.compression == platform::BI_RLE4)
    return "run-length compressed samples are not taken";
  if (layout.compression != platform::BI_RGB && layout.compression != platform::BI_BITFIELDS)
    return "compression " + std::to_string(layout.compression) + " is not taken";
  switch (layout.bitCount) {
    case 8:
    case 24:
      return {};
    case 16:
    case 32:
      for (std::uint32_t m : layout.masks)
        if (m == 0 || !std::has_single_bit((m >> std::countr_zero(m)) + 1))
          return "its channel masks are not runs of bits";
      return {};
    default:
      return std::to_string(layout.bitCount) + "-bit samples are not taken";
  }
}

void MaskedRowsToRows(const DibLayout& layout, PixelRows& rows) {
  const ChannelScale red(layout.masks[0]), green(layout.masks[1]), blue(layout.masks[2]);
  const unsigned bytes = layout.bitCount / 8;
  for (int y = 0; y < rows.height(); ++y) {
    const std::uint8_t* in = layout.bits + layout.stride * y;
    std::uint8_t* out = rows[y];
    for (int x = 0; x < rows.width(); ++x, in += bytes, out += 3) {
      std::uint32_t pixel = 0;
      for (unsigned b = 0; b < bytes; ++b) pixel |= std::uint32_t{in[b]} << (8 * b);
      out[0] = blue(pixel);
      out[1] = green(pixel);
      out[2] = red(pixel);
    }
  }
}

}  // namespace

CGraphCutSynthesizer::CGraphCutSynthesizer() = default;

CGraphCutSynthesizer::~CGraphCutSynthesizer() {
  for (HGLOBAL top : m_topImages) platform::GlobalFree(top);
  m_hResultImage = platform::GlobalFree(m_hResultImage);
  m_hSecondImage = platform::GlobalFree(m_hSecondImage);
}

PixelRows CGraphCutSynthesizer::DibToRows(HGLOBAL dib) {
  platform::GlobalLockGuard lock(dib);
  if (!lock.data()) return {};
  const DibLayout layout = ReadLayout(lock.data(), platform::GlobalSize(dib));
  if (!layout.fits || layout.width == 0 || layout.height == 0 ||
      static_cast<std::uint64_t>(layout.width) * layout.height > kMaxOutputPixels ||
      !ConversionProblem(layout).empty())
    return {};
  const int width = static_cast<int>(layout.width), height = static_cast<int>(layout.height);
  PixelRows rows(width, height);
  if (layout.bitCount == 8) {
    // Indexes past the colour table stay black rather than read past it.
    std::uint8_t table[256][3] = {};
    const unsigned entries =
        std::min({layout.colorCount, 256u, layout.colorTableBytes / layout.colorEntryBytes});
    for (unsigned i = 0; i < entries; ++i)
      std::memcpy(table[i], layout.colorTable + i * layout.colorEntryBytes, 3);
    for (int y = 0; y < height; ++y) {
      const std::uint8_t* in = layout.bits + layout.stride * y;
      std::uint8_t* out = rows[y];
      for (int x = 0; x < width; ++x) std::memcpy(out + 3 * x, table[in[x]], 3);
    }
  } else if (layout.bitCount == 24) {
    for (int y = 0; y < height; ++y)
      std::memcpy(rows[y], layout.bits + layout.stride * y, rows.stride());
  } else {
    MaskedRowsToRows(layout, rows);
  }
  return rows;
}

CGraphCutSynthesizer::HGLOBAL CGraphCutSynthesizer::RowsToDib(HGLOBAL source, const PixelRows& rows,
                                                              int width, int height) {
  if (width <= 0 || height <= 0 || width > rows.width() || height > rows.height()) return nullptr;
  const std::uint64_t stride = platform::dibStride(static_cast<std::uint64_t>(width), 24);
  const std::uint64_t bytes =
      platform::kBitmapInfoHeaderSize + stride * static_cast<std::uint64_t>(height);
  if (bytes > platform::kMaxGlobalBlockBytes) return nullptr;

  platform::BitmapInfoHeader header{};
  header.size = platform::kBitmapInfoHeaderSize;
  header.planes = 1;
  {
    platform::GlobalLockGuard lock(source);
    const std::size_t sourceSize = platform::GlobalSize(source);
    // A longer header starts with the same 40 bytes; a core header has nothing to keep.
    if (lock.data() && sourceSize >= platform::kBitmapInfoHeaderSize &&
        platform::loadPacked<std::uint32_t>(lock.data()) >= platform::kBitmapInfoHeaderSize) {
      header = platform::loadPacked<platform::BitmapInfoHeader>(lock.data());
      header.size = platform::kBitmapInfoHeaderSize;
    }
  }
  header.width = width;
  header.height = height;
  header.bitCount = 24;
  header.clrUsed = 0;
  // The rows are plain 24-bit ones whatever the sample was.
  header.compression = platform::BI_RGB;
  header.sizeImage = static_cast<std::uint32_t>(stride * height);
  header.clrImportant = 0;

  HGLOBAL dib = platform::GlobalAlloc(platform::GMEM_MOVEABLE | platform::GMEM_ZEROINIT, bytes);
  if (!dib) return nullptr;
  {
    platform::GlobalLockGuard lock(dib);
    auto* out = lock.as<std::uint8_t>();
    platform::storePacked(out, header);
    for (int y = 0; y < height; ++y)
      std::memcpy(out + platform::kBitmapInfoHeaderSize + stride * y, rows[y],
                  3 * static_cast<std::size_t>(width));
  }
  return dib;
}

std::string DescribeBytes(std::uint64_t bytes) {
  char text[64];
  const double mb = static_cast<double>(bytes) / (1 << 20);
  if (mb >= 1024)
    std::snprintf(text, sizeof text, "about %.1f GB", mb / 1024);
  else
    std::snprintf(text, sizeof text, "about %.0f MB", std::max(mb, 1.0));
  return text;
}

std::optional<SynthesisPlan> PlanSynthesis(std::uint32_t w, std::uint32_t h, float scaleX,
                                           float scaleY, bool random, int searchMode,
                                           bool postProcess, std::string& reason) {
  for (float scale : {scaleX, scaleY}) {
    if (!std::isfinite(scale) || scale <= 0) {
      reason = "a scale must be positive";
      return std::nullopt;
    }
  }
  const double scaledX = static_cast<double>(w) * scaleX;
  const double scaledY = static_cast<double>(h) * scaleY;
  SynthesisPlan plan;
  const auto side = [](double scaled) { return PatchesAfterFirst(std::min(scaled, 2e9)); };
  plan.columns = side(scaledX);
  plan.rows = side(scaledY);
  const std::uint64_t width = std::uint64_t{kGridStep} * plan.columns + kPatchSize;
  const std::uint64_t height = std::uint64_t{kGridStep} * plan.rows + kPatchSize;
  if (width * height > kMaxOutputPixels) {
    reason = "the result of " + Size(width, height) + " pixels would be larger than the " +
             std::to_string(kMaxOutputPixels) + " pixels this program makes";
    return std::nullopt;
  }
  plan.width = static_cast<int>(width);
  plan.height = static_cast<int>(height);
  plan.patches = (std::uint64_t{1} + plan.columns) * (std::uint64_t{1} + plan.rows);

  const std::uint64_t samplePixels = std::uint64_t{w} * h;
  const std::uint64_t searched = std::uint64_t{w > 32 ? w - 32 : 0} * (h > 32 ? h - 32 : 0);
  plan.memoryBytes = kFixedBytes + width * height * kBytesPerOutputPixel +
                     samplePixels * kBytesPerSamplePixel + plan.patches * sizeof(CPoint);
  if (postProcess) plan.memoryBytes += width * height * kBytesPerBlendPixel;
  double perPatch = kSecondsPerPatchCut;
  if (!random) {
    plan.memoryBytes += searched * kBytesPerSearchedOffset;
    if (searchMode == kFftSearch) {
      plan.memoryBytes += FftBytes(w, h);
      perPatch += FftSeconds(w, h) + kSecondsPerScannedOffset * static_cast<double>(searched);
    } else {
      perPatch += kSecondsPerNaiveOffset * static_cast<double>(searched);
    }
  }
  plan.seconds = perPatch * static_cast<double>(plan.patches);
  return plan;
}

namespace {

// Offsets that a run can still take: any in 0 .. w - 32 by 0 .. h - 32 for a random
// draw (and every run's first patch), only those up to w - 33 by h - 33 for a search.
struct FreeOffsets {
  std::uint64_t drawable = 0;
  std::uint64_t searchable = 0;
};

FreeOffsets CountFreeOffsets(std::uint32_t w, std::uint32_t h, const std::vector<CPoint>& used) {
  const std::uint64_t drawW = w - kPatchSize + 1, drawH = h - kPatchSize + 1;
  FreeOffsets free{drawW * drawH, (drawW - 1) * (drawH - 1)};
  std::set<std::pair<int, int>> seen;
  for (const CPoint& p : used) {
    if (p.x < 0 || p.y < 0 || static_cast<std::uint64_t>(p.x) >= drawW ||
        static_cast<std::uint64_t>(p.y) >= drawH || !seen.insert({p.x, p.y}).second)
      continue;
    --free.drawable;
    if (static_cast<std::uint64_t>(p.x) + 1 < drawW && static_cast<std::uint64_t>(p.y) + 1 < drawH)
      --free.searchable;
  }
  return free;
}

// Why the sample cannot give every patch of the grid an offset of its own (no offset is
// ever used twice); empty when it can. A searched run's first patch is drawn and may
// take a searchable offset, so the searches need one more than they will use.
std::string OffsetShortage(std::uint32_t w, std::uint32_t h, const SynthesisPlan& plan,
                           const std::vector<CPoint>& used, bool random) {
  const FreeOffsets free = CountFreeOffsets(w, h, used);
  const std::uint64_t have = random || plan.patches == 1 ? free.drawable : free.searchable;
  if (free.drawable >= 1 && have >= plan.patches) return {};
  return "the " + std::to_string(plan.columns + 1) + "x" + std::to_string(plan.rows + 1) +
         " grid of the " + Size(plan.width, plan.height) + " result needs " +
         std::to_string(plan.patches) + " distinct 32x32 source offsets, and the " + Size(w, h) +
         " sample has " + std::to_string(have) + " unused" +
         (random ? "" : " that the search can take") + "; use a larger sample or smaller scales";
}

}  // namespace

CGraphCutSynthesizer::HGLOBAL CGraphCutSynthesizer::SynthesizeImage(HGLOBAL source, float scaleX,
                                                                    float scaleY) {
  m_strReason.clear();
  auto refuse = [this](std::string why) -> HGLOBAL {
    m_strReason = std::move(why);
    return nullptr;
  };
  std::uint32_t w = 0, h = 0;
  {
    platform::GlobalLockGuard lock(source);
    if (!lock.data()) return refuse("there is no sample image");
    const DibLayout layout = ReadLayout(lock.data(), platform::GlobalSize(source));
    if (layout.bitCount <= 8 && layout.colorCount >= 1 && layout.colorCount <= 255)
      return refuse("a " + std::to_string(layout.bitCount) + "-bit sample with " +
                    std::to_string(layout.colorCount) +
                    " colours is not taken: it needs 24 bits, 16 or 32 bits, or 8 bits with a "
                    "full 256-colour table");
    if (!layout.fits) return refuse("the sample's pixel rows are incomplete");
    if (std::string why = ConversionProblem(layout); !why.empty()) return refuse(why);
    w = layout.width;
    h = layout.height;
  }
  // A side under one patch has no offset to copy from (and a negative height is a
  // top-down bitmap, which reads as a huge one).
  if (w > 0x7FFFFFFF || h > 0x7FFFFFFF) return refuse("top-down samples are not taken");
  if (w < kPatchSize || h < kPatchSize)
    return refuse("the " + Size(w, h) + " sample is smaller than one 32x32 patch");

  std::string why;
  const std::optional<SynthesisPlan> plan =
      PlanSynthesis(w, h, scaleX, scaleY, m_bRandom != 0, m_nSearchMode, m_bPostProcess != 0, why);
  if (!plan) return refuse(why);
  if (!m_bRandom && m_nSearchMode != kFftSearch && m_nSearchMode != kNaiveSearch)
    return refuse("search mode " + std::to_string(m_nSearchMode) + " is not one the engine has");
  if (why = OffsetShortage(w, h, *plan, m_usedOffsets, m_bRandom != 0); !why.empty())
    return refuse(why);
  const std::uint64_t budget =
      m_nMemoryBudget ? m_nMemoryBudget : platform::availablePhysicalMemory();
  platform::ui().progress(
      "Growing the " + Size(w, h) + " sample into " + Size(plan->width, plan->height) + " from " +
      std::to_string(plan->patches) + " patches: needs " + DescribeBytes(plan->memoryBytes) +
      " of memory, takes " + DescribeSeconds(plan->seconds));
  if (budget != 0 && plan->memoryBytes > budget)
    return refuse("the run needs " + DescribeBytes(plan->memoryBytes) + " of memory and " +
                  DescribeBytes(budget) + " is available");
  if (plan->seconds > m_fTimeBudgetSeconds)
    return refuse("the run would take " + DescribeSeconds(plan->seconds) + ", more than the " +
                  DescribeSeconds(m_fTimeBudgetSeconds) +
                  " a run may take; use a smaller sample, smaller scales or --method random");
  const int columns = plan->columns, rowsAfterFirst = plan->rows;
  const int outWidth = plan->width, outHeight = plan->height;

  PixelRows sample, output;
  Grid<SeamRecord> seams;
  Grid<SourceCoord> coords;
  try {
    output = PixelRows(outWidth, outHeight);
    seams = Grid<SeamRecord>(outWidth, outHeight);
    coords = Grid<SourceCoord>(outWidth, outHeight);
    sample = DibToRows(source);
  } catch (const std::bad_alloc&) {
    return refuse("no memory for the " + Size(outWidth, outHeight) + " result");
  }
  if (sample.empty()) return refuse("the sample's pixels cannot be read");

  TableRelease release(m_squareSums, m_rgbSums);
  BuildSummedAreaTables(sample, m_squareSums, m_rgbSums);
  const std::uint32_t start = platform::tickCount();

  CandidateSearch search(sample, m_squareSums, m_rgbSums, m_usedOffsets, m_nSearchMode);
  GrowTexture(PatchCanvas{sample, output, seams, coords}, search, m_usedOffsets, m_bRandom != 0,
              columns, rowsAfterFirst);

  if (m_bPostProcess) SmoothSeams(output, seams, coords, sample);

  char message[64];
  std::snprintf(message, sizeof message, "Time Cost: %f seconds\n",
                static_cast<std::uint32_t>(platform::tickCount() - start) * 0.001);
  m_strMessage = message;
  HGLOBAL result = RowsToDib(source, output, outWidth, outHeight);
  if (!result) m_strReason = "no memory for the " + Size(outWidth, outHeight) + " result";
  return result;
}
