#include "platform/canvas.h"

#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>

#include "platform/bitmap_format.h"
#include "platform/file.h"

namespace platform {

bool Palette::create(const std::vector<PaletteEntry>& entries) {
  entries_ = entries;
  return !entries_.empty();
}

int Palette::nearestIndex(std::uint8_t red, std::uint8_t green, std::uint8_t blue) const {
  int best = 0;
  long bestDistance = std::numeric_limits<long>::max();
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    long dr = entries_[i].red - red, dg = entries_[i].green - green, db = entries_[i].blue - blue;
    long d = dr * dr + dg * dg + db * db;
    if (d < bestDistance) {
      bestDistance = d;
      best = static_cast<int>(i);
    }
  }
  return best;
}

const Palette& stockDefaultPalette() {
  static const Palette palette = [] {
    Palette p;
    p.create({{0, 0, 0, 0},       {128, 0, 0, 0},     {0, 128, 0, 0},     {128, 128, 0, 0},
              {0, 0, 128, 0},     {128, 0, 128, 0},   {0, 128, 128, 0},   {192, 192, 192, 0},
              {192, 220, 192, 0}, {166, 202, 240, 0}, {255, 251, 240, 0}, {160, 160, 164, 0},
              {128, 128, 128, 0}, {255, 0, 0, 0},     {0, 255, 0, 0},     {255, 255, 0, 0},
              {0, 0, 255, 0},     {255, 0, 255, 0},   {0, 255, 255, 0},   {255, 255, 255, 0}});
    return p;
  }();
  return palette;
}

namespace {

// What the drawing code needs to know of a DIB, read from either header kind.
struct DibLayout {
  long width = 0, height = 0;  // height > 0
  bool topDown = false;
  int bitCount = 0;
  std::uint64_t stride = 0;
  std::vector<std::uint32_t> colors;  // resolved colour table, 0x00RRGGBB
};

std::optional<DibLayout> readLayout(const void* header, ColorUse usage, const Palette* palette) {
  if (!header) return std::nullopt;
  DibLayout l;
  const auto* bytes = static_cast<const std::uint8_t*>(header);
  const auto size = loadPacked<std::uint32_t>(bytes);
  std::uint32_t colorCount = 0;
  int entryBytes = 4;
  if (size >= kBitmapInfoHeaderSize) {
    auto info = loadPacked<BitmapInfoHeader>(bytes);
    if (info.compression != BI_RGB) return std::nullopt;
    l.width = info.width;
    l.height = info.height < 0 ? -static_cast<long>(info.height) : info.height;
    l.topDown = info.height < 0;
    l.bitCount = info.bitCount;
    colorCount = info.clrUsed;
  } else {
    auto core = loadPacked<BitmapCoreHeader>(bytes);
    l.width = core.width;
    l.height = core.height;
    l.bitCount = core.bitCount;
    entryBytes = 3;
  }
  if (l.width <= 0 || l.height <= 0) return std::nullopt;
  if (l.bitCount != 1 && l.bitCount != 2 && l.bitCount != 4 && l.bitCount != 8 &&
      l.bitCount != 16 && l.bitCount != 24 && l.bitCount != 32)
    return std::nullopt;
  if (l.bitCount <= 8 && (colorCount == 0 || colorCount > (1u << l.bitCount)))
    colorCount = 1u << l.bitCount;
  if (l.bitCount > 8) colorCount = 0;
  l.stride = dibStride(static_cast<std::uint64_t>(l.width), l.bitCount);
  const std::uint8_t* table = bytes + size;
  for (std::uint32_t i = 0; i < colorCount; ++i) {
    if (usage == DIB_PAL_COLORS) {
      auto index = loadPacked<std::uint16_t>(table + 2 * i);
      PaletteEntry e;
      if (palette && index < palette->entries().size()) e = palette->entries()[index];
      l.colors.push_back((e.red << 16) | (e.green << 8) | e.blue);
    } else {
      const std::uint8_t* q = table + entryBytes * i;
      l.colors.push_back((q[2] << 16) | (q[1] << 8) | q[0]);
    }
  }
  // Indices past a short colour table draw black instead of reading past it.
  if (l.bitCount <= 8) l.colors.resize(std::size_t{1} << l.bitCount, 0);
  return l;
}

// Colour of the pixel in stored row `row` (0 = first stored) and column `x`.
std::uint32_t dibPixel(const DibLayout& l, const std::uint8_t* bits, long x, long row) {
  const std::uint8_t* line = bits + static_cast<std::uint64_t>(row) * l.stride;
  switch (l.bitCount) {
    case 1:
      return l.colors[(line[x >> 3] >> (7 - (x & 7))) & 1];
    case 2:
      return l.colors[(line[x >> 2] >> (6 - 2 * (x & 3))) & 3];
    case 4:
      return l.colors[(line[x >> 1] >> ((x & 1) ? 0 : 4)) & 15];
    case 8:
      return l.colors[line[x]];
    case 16: {  // 5-5-5, each channel widened to 8 bits
      const std::uint32_t v = line[2 * x] | (line[2 * x + 1] << 8);
      const std::uint32_t r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
      return (((r << 3) | (r >> 2)) << 16) | (((g << 3) | (g >> 2)) << 8) | ((b << 3) | (b >> 2));
    }
    case 24:
      return (line[3 * x + 2] << 16) | (line[3 * x + 1] << 8) | line[3 * x];
    default:
      return (line[4 * x + 2] << 16) | (line[4 * x + 1] << 8) | line[4 * x];
  }
}

// Stored row of the source line `fromBottom` lines above the bitmap's lower edge.
long storedRow(const DibLayout& l, long fromBottom) {
  return l.topDown ? l.height - 1 - fromBottom : fromBottom;
}

}  // namespace

DeviceContext::DeviceContext(int width, int height, std::uint32_t background)
    : width_(width > 0 ? width : 0),
      height_(height > 0 ? height : 0),
      pixels_(static_cast<std::size_t>(width_) * height_, background) {}

std::uint32_t DeviceContext::pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  return pixels_[static_cast<std::size_t>(y) * width_ + x];
}

void DeviceContext::setPixel(int x, int y, std::uint32_t rgb) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  pixels_[static_cast<std::size_t>(y) * width_ + x] = rgb & 0xFFFFFF;
}

void DeviceContext::fill(std::uint32_t rgb) {
  for (auto& p : pixels_) p = rgb & 0xFFFFFF;
}

Palette* DeviceContext::selectPalette(Palette* palette, bool) {
  Palette* old = palette_;
  palette_ = palette;
  return old;
}

unsigned DeviceContext::realizePalette() {
  return palette_ ? static_cast<unsigned>(palette_->entries().size()) : 0;
}

int DeviceContext::setStretchBltMode(int mode) {
  int old = stretchMode_;
  stretchMode_ = mode;
  return old;
}

void DeviceContext::combine(int x, int y, std::uint32_t source, RasterOp rop) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  std::uint32_t& d = pixels_[static_cast<std::size_t>(y) * width_ + x];
  switch (rop) {
    case SRCAND:
      d &= source;
      break;
    case SRCPAINT:
      d |= source;
      break;
    case SRCINVERT:
      d ^= source;
      break;
    default:
      d = source;
      break;
  }
}

int DeviceContext::setDIBitsToDevice(int xDest, int yDest, int width, int height, int xSrc,
                                     int ySrc, unsigned startScan, unsigned scanLines,
                                     const void* bits, const void* header, ColorUse usage) {
  auto layout = readLayout(header, usage, palette_);
  if (!layout || !bits || width <= 0 || height <= 0) return 0;
  const auto* pixels = static_cast<const std::uint8_t*>(bits);
  for (int j = 0; j < height; ++j) {
    const long fromBottom = static_cast<long>(ySrc) + (height - 1 - j);
    if (fromBottom < 0 || fromBottom >= layout->height) continue;
    const long row = storedRow(*layout, fromBottom);
    // The band handed over covers scan lines startScan .. startScan + scanLines - 1.
    if (row < static_cast<long>(startScan) || row >= static_cast<long>(startScan) + scanLines)
      continue;
    for (int i = 0; i < width; ++i) {
      const long x = static_cast<long>(xSrc) + i;
      if (x < 0 || x >= layout->width) continue;
      combine(xDest + i, yDest + j, dibPixel(*layout, pixels, x, row), SRCCOPY);
    }
  }
  return static_cast<int>(scanLines);
}

int DeviceContext::stretchDIBits(int xDest, int yDest, int destWidth, int destHeight, int xSrc,
                                 int ySrc, int srcWidth, int srcHeight, const void* bits,
                                 const void* header, ColorUse usage, RasterOp rop) {
  auto layout = readLayout(header, usage, palette_);
  if (!layout || !bits || destWidth <= 0 || destHeight <= 0 || srcWidth <= 0 || srcHeight <= 0)
    return 0;
  const auto* pixels = static_cast<const std::uint8_t*>(bits);
  for (int j = 0; j < destHeight; ++j) {
    const long down = static_cast<long>(j) * srcHeight / destHeight;  // lines below the source top
    const long fromBottom = static_cast<long>(ySrc) + srcHeight - 1 - down;
    if (fromBottom < 0 || fromBottom >= layout->height) continue;
    const long row = storedRow(*layout, fromBottom);
    for (int i = 0; i < destWidth; ++i) {
      const long x = static_cast<long>(xSrc) + static_cast<long>(i) * srcWidth / destWidth;
      if (x < 0 || x >= layout->width) continue;
      combine(xDest + i, yDest + j, dibPixel(*layout, pixels, x, row), rop);
    }
  }
  return static_cast<int>(layout->height);
}

bool DeviceContext::writePpm(const std::string& path) const {
  std::FILE* f = openStdFile(path, "wb");
  if (!f) return false;
  std::fprintf(f, "P6\n%d %d\n255\n", width_, height_);
  for (auto p : pixels_) {
    const unsigned char rgb[3] = {static_cast<unsigned char>(p >> 16),
                                  static_cast<unsigned char>(p >> 8),
                                  static_cast<unsigned char>(p)};
    std::fwrite(rgb, 1, 3, f);
  }
  return std::fclose(f) == 0;
}

}  // namespace platform
