// Single-image synthesis: the patch grid, the candidate choice for each patch, the
// seam cuts and the post-process, between the sample's and the result's DIB handles.
#include "quiltbench/engine/graph_cut_synthesizer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/bitmap_format.h"
#include "platform/clock.h"
#include "platform/ui.h"
#include "quiltbench/engine/candidate_search.h"
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
      static_cast<std::uint64_t>(layout.width) * layout.height > kMaxOutputPixels)
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

CGraphCutSynthesizer::HGLOBAL CGraphCutSynthesizer::SynthesizeImage(HGLOBAL source, float scaleX,
                                                                    float scaleY) {
  std::uint32_t w = 0, h = 0;
  {
    platform::GlobalLockGuard lock(source);
    if (!lock.data()) return nullptr;
    const DibLayout layout = ReadLayout(lock.data(), platform::GlobalSize(source));
    if (layout.colorCount >= 1 && layout.colorCount <= 255) return nullptr;
    if (!layout.fits) return nullptr;
    w = layout.width;
    h = layout.height;
  }
  // A side under one patch has no offset to copy from (and a negative height is a
  // top-down bitmap, which reads as a huge one).
  if (w < kPatchSize || h < kPatchSize || w > 0x7FFFFFFF || h > 0x7FFFFFFF) return nullptr;

  const float scaledX = static_cast<float>(w) * scaleX;
  const float scaledY = static_cast<float>(h) * scaleY;
  if (!std::isfinite(scaledX) || !std::isfinite(scaledY) || scaledX > 1e9f || scaledY > 1e9f)
    return nullptr;
  const int columns = PatchesAfterFirst(scaledX);
  const int rowsAfterFirst = PatchesAfterFirst(scaledY);
  const int outWidth = kGridStep * columns + kPatchSize;
  const int outHeight = kGridStep * rowsAfterFirst + kPatchSize;
  if (static_cast<std::uint64_t>(outWidth) * static_cast<std::uint64_t>(outHeight) >
      kMaxOutputPixels)
    return nullptr;

  PixelRows sample, output;
  Grid<SeamRecord> seams;
  Grid<SourceCoord> coords;
  try {
    output = PixelRows(outWidth, outHeight);
    seams = Grid<SeamRecord>(outWidth, outHeight);
    coords = Grid<SourceCoord>(outWidth, outHeight);
    sample = DibToRows(source);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  if (sample.empty()) return nullptr;

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
  return RowsToDib(source, output, outWidth, outHeight);
}
