#include "patchloom/image/image_impl.h"

#include <array>
#include <bit>
#include <vector>

#include "patchloom/image/image_dib.h"
#include "platform/bitmap_format.h"
#include "platform/ui.h"

namespace {

// One colour channel of a 16- or 32-bit pixel: where its bits lie and how many.
struct Channel {
  std::uint32_t mask = 0;
  int shift = 0;
  int bits = 0;
};

struct PixelLayout {
  Channel red, green, blue;
};

Channel channelOf(std::uint32_t mask) {
  if (mask == 0) return {};
  return {mask, std::countr_zero(mask), std::popcount(mask)};
}

// The masks of a 16- or 32-bit DIB: its bit fields, else 5-5-5 or 8-8-8.
PixelLayout pixelLayout(const void* dib) {
  const auto h = platform::loadPacked<platform::BitmapInfoHeader>(dib);
  std::uint32_t masks[3];
  if (h.compression == platform::BI_BITFIELDS) {
    const auto* table = static_cast<const std::uint8_t*>(dib) + h.size;
    for (int i = 0; i < 3; ++i) masks[i] = platform::loadPacked<std::uint32_t>(table + 4 * i);
  } else if (h.bitCount == 16) {
    masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
  } else {
    masks[0] = 0xFF0000, masks[1] = 0x00FF00, masks[2] = 0x0000FF;
  }
  return {channelOf(masks[0]), channelOf(masks[1]), channelOf(masks[2])};
}

// The channel's value widened (by repeating its bits) or narrowed to 8 bits, so that
// both ends of its range map to 0 and 255.
std::uint8_t channelValue(std::uint32_t pixel, const Channel& c) {
  if (c.bits == 0) return 0;
  const std::uint32_t v = (pixel & c.mask) >> c.shift;
  if (c.bits >= 8) return static_cast<std::uint8_t>(v >> (c.bits - 8));
  std::uint32_t wide = 0;
  int filled = 0;
  for (; filled < 8; filled += c.bits) wide = (wide << c.bits) | v;
  return static_cast<std::uint8_t>(wide >> (filled - 8));
}

std::uint32_t channelBits(std::uint8_t value, const Channel& c) {
  if (c.bits == 0) return 0;
  const std::uint32_t v = c.bits >= 8 ? static_cast<std::uint32_t>(value) << (c.bits - 8)
                                      : static_cast<std::uint32_t>(value) >> (8 - c.bits);
  return (v << c.shift) & c.mask;
}

}  // namespace

CImageImpl::~CImageImpl() { FreeImage(); }

void CImageImpl::FreeImage() {
  if (dibBlock) {
    platform::GlobalUnlock(dibBlock);
    dibBlock = platform::GlobalFree(dibBlock);
  }
  dib = nullptr;
  bits = nullptr;
  delete imagePalette;
  imagePalette = nullptr;
}

void CImageImpl::AttachDib(platform::HGLOBAL block) {
  dibBlock = block;
  dib = platform::GlobalLock(block);
  const auto h = platform::loadPacked<platform::BitmapInfoHeader>(dib);
  width = h.width;
  height = h.height;
  bitCount = h.bitCount;
  stride = static_cast<int>(platform::dibStride(static_cast<std::uint64_t>(width), bitCount));
  bits = static_cast<std::uint8_t*>(dib) + h.size + ImageDibColorTableSize(dib);
}

int CImageImpl::IsInside(int x, int y) const {
  return x >= 0 && x < width && y >= 0 && y < height ? 1 : 0;
}

int CImageImpl::Create(int w, int h, int bc, int fl) {
  FreeImage();
  width = w;
  height = h;
  bitCount = bc;
  flags = fl >= 0 ? fl : (bc < 9 ? 0 : kImageFlagColor);
  platform::HGLOBAL block = ImageDibAlloc(bc, w, h);
  if (!block) {
    width = height = stride = 0;
    return 0;
  }
  AttachDib(block);
  return 1;
}

int CImageImpl::GetPixelIndex(int x, int y) const {
  if (!bits || !IsInside(x, y) || bitCount > 8) return -1;
  const std::uint8_t* row = Row(y);
  switch (bitCount) {
    case 8:
      return row[x];
    case 4:
      return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F;
    default:
      return (row[x >> 3] >> (7 - (x & 7))) & 0x01;
  }
}

int CImageImpl::SetPixelIndex(int x, int y, int index) {
  if (!bits || !IsInside(x, y) || bitCount > 8) return 0;
  if (index < 0 || index >= (1 << bitCount)) return 0;
  std::uint8_t* row = Row(y);
  if (bitCount == 8) {
    row[x] = static_cast<std::uint8_t>(index);
    return 1;
  }
  const int perByte = 8 / bitCount;
  const int shift = (perByte - 1 - x % perByte) * bitCount;
  const int mask = ((1 << bitCount) - 1) << shift;
  std::uint8_t& byte = row[x / perByte];
  byte = static_cast<std::uint8_t>((byte & ~mask) | (index << shift));
  return 1;
}

int CImageImpl::PixelRGB(int x, int y, std::uint8_t* r, std::uint8_t* g, std::uint8_t* b) const {
  if (!bits || !IsInside(x, y)) return 0;
  if (bitCount <= 8) {
    const int index = GetPixelIndex(x, y);
    if (imagePalette) return imagePalette->GetEntryRGB(index, r, g, b);
    // Without a palette the colour table holds (blue, green, red, 0) quads.
    if (static_cast<std::size_t>(index) >= ImageDibColorTableEntries(dib)) return 0;
    const auto* quad = static_cast<const std::uint8_t*>(dib) + 40 + 4 * index;
    *b = quad[0];
    *g = quad[1];
    *r = quad[2];
    return 1;
  }
  const std::uint8_t* p = Row(y) + static_cast<std::size_t>(x) * (bitCount / 8);
  if (bitCount == 16 || bitCount == 32) {
    std::uint32_t v = p[0] | (p[1] << 8);
    if (bitCount == 32)
      v |= (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    const PixelLayout layout = pixelLayout(dib);
    *r = channelValue(v, layout.red);
    *g = channelValue(v, layout.green);
    *b = channelValue(v, layout.blue);
    return 1;
  }
  *b = p[0];
  *g = p[1];
  *r = p[2];
  return 1;
}

int CImageImpl::GetPixelRGB(int x, int y, std::uint8_t* r, std::uint8_t* g, std::uint8_t* b) const {
  std::uint8_t rgb[3] = {0, 0, 0};
  // Callers that do not look at the result still get black rather than stale values.
  const int found = PixelRGB(x, y, &rgb[0], &rgb[1], &rgb[2]);
  if (!found) rgb[0] = rgb[1] = rgb[2] = 0;
  if (r) *r = rgb[0];
  if (g) *g = rgb[1];
  if (b) *b = rgb[2];
  return found;
}

int CImageImpl::SetPixelRGB(int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  if (!bits || !IsInside(x, y)) return 0;
  if (bitCount <= 8) {
    if (!imagePalette) return 0;
    return SetPixelIndex(x, y, imagePalette->GetNearestIndex(r, g, b));
  }
  std::uint8_t* p = Row(y) + static_cast<std::size_t>(x) * (bitCount / 8);
  if (bitCount == 16 || bitCount == 32) {
    const PixelLayout layout = pixelLayout(dib);
    const std::uint32_t v =
        channelBits(r, layout.red) | channelBits(g, layout.green) | channelBits(b, layout.blue);
    for (int i = 0; i < bitCount / 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    return 1;
  }
  p[0] = b;
  p[1] = g;
  p[2] = r;
  return 1;
}

int CImageImpl::Read(const std::string&) { return 0; }
int CImageImpl::Write(const std::string&) { return 0; }

void CImageImpl::ReplacePalette(CImagePalette* palette) {
  if (palette != imagePalette) delete imagePalette;
  imagePalette = palette;
  flags |= kImageFlagPalette | kImageFlagColor;
  ImageDibSetColorTable(dib, imagePalette, 1);
}

int CImageImpl::SetPalette(CImagePalette* palette) {
  if (!palette) return 0;
  ReplacePalette(palette);
  return 1;
}

int CImageImpl::SetPaletteRGB(int n, const std::uint8_t* red, const std::uint8_t* green,
                              const std::uint8_t* blue) {
  if (!green) green = red;
  if (!blue) blue = green;
  auto* palette = new CImagePalette;
  if (!palette->CreateFromRGB(n, red, green, blue)) {
    delete palette;
    return 0;
  }
  ReplacePalette(palette);
  return 1;
}

int CImageImpl::SetPaletteTriples(int n, const std::uint8_t* rgb) {
  if (imagePalette) platform::ui().messageBox("CImageImpl::imagePalette already exists!");
  if (!rgb || n < 1 || n > 256) return 0;
  std::array<std::uint8_t, 256> red{}, green{}, blue{};
  for (int i = 0; i < n; ++i) {
    red[i] = rgb[3 * i];
    green[i] = rgb[3 * i + 1];
    blue[i] = rgb[3 * i + 2];
  }
  return SetPaletteRGB(n, red.data(), green.data(), blue.data());
}

int CImageImpl::SetGreyPalette(int n) {
  if (n < 1 || n > 256) return 0;
  std::array<std::uint8_t, 256> grey{};
  for (int i = 0; i < n; ++i) grey[i] = static_cast<std::uint8_t>(i * 256 / n);
  return SetPaletteRGB(n, grey.data(), nullptr, nullptr);
}

void CImageImpl::TakeOver(CImageImpl& other) {
  if (&other == this) return;
  FreeImage();
  dibBlock = other.dibBlock;
  dib = other.dib;
  transparentIndex = other.transparentIndex;
  imagePalette = other.imagePalette;
  bits = other.bits;
  width = other.width;
  height = other.height;
  bitCount = other.bitCount;
  flags = other.flags;
  stride = other.stride;
  other.dibBlock = nullptr;
  other.dib = nullptr;
  other.imagePalette = nullptr;
  other.bits = nullptr;
}

int CImageImpl::DrawWithPalette(platform::DeviceContext* dc, int x, int y, int w, int h, int xSrc,
                                int ySrc, int wSrc, int hSrc, platform::RasterOp rop) {
  // The colour table holds palette indices exactly while a palette is attached.
  const platform::ColorUse usage =
      imagePalette ? platform::DIB_PAL_COLORS : platform::DIB_RGB_COLORS;
  return dc->stretchDIBits(x, y, w, h, xSrc, ySrc, wSrc, hSrc, bits, dib, usage, rop);
}

int CImageImpl::Draw(platform::DeviceContext* dc, int x, int y, int w, int h, int xSrc,
                     int startScan) {
  if (!dib) return 0;
  if (!dc) return 1;
  platform::Palette* old = dc->selectPalette(imagePalette, false);
  dc->realizePalette();
  if (w == -1) w = width;
  if (h == -1) h = height;
  const platform::ColorUse usage =
      imagePalette ? platform::DIB_PAL_COLORS : platform::DIB_RGB_COLORS;
  dc->setDIBitsToDevice(x, y, w, h, xSrc, 0, static_cast<unsigned>(startScan),
                        static_cast<unsigned>(h), bits, dib, usage);
  dc->selectPalette(old, false);
  return 1;
}

int CImageImpl::StretchDraw(platform::DeviceContext* dc, int x, int y, int w, int h, int xSrc,
                            int ySrc, int wSrc, int hSrc) {
  if (!dib) return 0;
  if (!dc) return 1;
  if (w == -1) w = width;
  if (h == -1) h = height;
  if (wSrc == -1) wSrc = width - xSrc;
  if (hSrc == -1) hSrc = height - ySrc;
  platform::Palette* old = dc->selectPalette(imagePalette, false);
  dc->realizePalette();
  dc->setStretchBltMode(platform::COLORONCOLOR);
  // The transparent road needs indices to mask by, so only indexed images with a palette.
  if (transparentIndex < 0 || bitCount > 8 || !imagePalette) {
    DrawWithPalette(dc, x, y, w, h, xSrc, ySrc, wSrc, hSrc, platform::SRCCOPY);
    dc->selectPalette(old, false);
    return 1;
  }
  const int black = imagePalette->GetNearestIndex(0, 0, 0);
  const int white = imagePalette->GetNearestIndex(255, 255, 255);
  std::vector<std::uint8_t> saved(static_cast<std::size_t>(width) * height);
  for (int row = 0; row < height; ++row)
    for (int col = 0; col < width; ++col)
      saved[static_cast<std::size_t>(row) * width + col] =
          static_cast<std::uint8_t>(GetPixelIndex(col, row));
  auto each = [&](auto&& paint) {
    for (int row = 0; row < height; ++row)
      for (int col = 0; col < width; ++col)
        paint(col, row, saved[static_cast<std::size_t>(row) * width + col]);
  };
  // Mask: the transparent pixels white (AND keeps the destination), the rest black.
  each([&](int col, int row, int index) {
    SetPixelIndex(col, row, index == transparentIndex ? white : black);
  });
  DrawWithPalette(dc, x, y, w, h, xSrc, ySrc, wSrc, hSrc, platform::SRCAND);
  // Picture with the transparent pixels black, so that OR keeps the destination there.
  each([&](int col, int row, int index) {
    SetPixelIndex(col, row, index == transparentIndex ? black : index);
  });
  DrawWithPalette(dc, x, y, w, h, xSrc, ySrc, wSrc, hSrc, platform::SRCPAINT);
  each([&](int col, int row, int index) { SetPixelIndex(col, row, index); });
  dc->selectPalette(old, false);
  return 1;
}
