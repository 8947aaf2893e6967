// The image implementation: DIB layout, pixel access, palettes and drawing.
#include "patchloom/image/image_impl.h"

#include <gtest/gtest.h>

#include <vector>

#include "patchloom/image/image_dib.h"
#include "platform/bitmap_format.h"
#include "platform/recording_ui.h"

namespace {

using platform::BitmapInfoHeader;

BitmapInfoHeader headerOf(const CImageImpl& image) {
  return platform::loadPacked<BitmapInfoHeader>(image.GetDib());
}

TEST(ImageDib, AllocLaysOutHeaderTableAndRows) {
  struct Case {
    int bitCount, width, height;
    std::uint32_t clrUsed;
    int stride;
    std::size_t tableBytes;
  };
  const Case cases[] = {
      {1, 33, 2, 0, 8, 8}, {4, 9, 3, 16, 8, 64}, {8, 3, 2, 256, 4, 1024},
      {16, 3, 1, 0, 8, 0}, {24, 5, 3, 0, 16, 0}, {32, 2, 2, 0, 8, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bitCount);
    CImageImpl image;
    ASSERT_EQ(image.Create(c.width, c.height, c.bitCount, -1), 1);
    const BitmapInfoHeader h = headerOf(image);
    EXPECT_EQ(h.size, 40u);
    EXPECT_EQ(h.planes, 1);
    EXPECT_EQ(h.clrUsed, c.clrUsed);
    EXPECT_EQ(h.sizeImage, static_cast<std::uint32_t>(c.stride * c.height));
    EXPECT_EQ(image.GetLineBytes(), c.stride);
    EXPECT_EQ(ImageDibColorTableSize(image.GetDib()), c.tableBytes);
    EXPECT_EQ(image.GetBits(), static_cast<std::uint8_t*>(image.GetDib()) + 40 + c.tableBytes);
    EXPECT_EQ(image.GetFlags(), c.bitCount <= 8 ? 0 : 2);
  }
}

TEST(ImageDib, DefaultSixteenColourTableRepeats) {
  CImageImpl image;
  ASSERT_TRUE(image.Create(2, 2, 8, -1));
  const auto* table = static_cast<const std::uint8_t*>(image.GetDib()) + 40;
  // Entry 9 is red (255, 0, 0), stored blue first; entry 16 + 9 repeats it.
  for (int entry : {9, 25, 249}) {
    SCOPED_TRACE(entry);
    EXPECT_EQ(table[4 * entry], 0);
    EXPECT_EQ(table[4 * entry + 1], 0);
    EXPECT_EQ(table[4 * entry + 2], 255);
  }
  EXPECT_EQ(table[4 * 7 + 0], 192);  // light grey
  std::uint8_t r, g, b;
  image.SetPixelIndex(1, 1, 12);  // blue, read back through the table without a palette
  ASSERT_TRUE(image.GetPixelRGB(1, 1, &r, &g, &b));
  EXPECT_EQ((std::vector<int>{r, g, b}), (std::vector<int>{0, 0, 255}));
}

TEST(ImageDib, RefusesImpossibleSizes) {
  struct Case {
    int bitCount, width, height;
  };
  const Case cases[] = {{24, 0, 5}, {24, 5, -1},    {3, 4, 4},
                        {2, 4, 4},  {24, 70000, 1}, {8, 20000, 20000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.width);
    CImageImpl image;
    EXPECT_EQ(image.Create(c.width, c.height, c.bitCount, -1), 0);
    EXPECT_FALSE(image.HasDib());
    EXPECT_EQ(image.GetPixelIndex(0, 0), -1);
  }
}

TEST(ImageDib, WritesInPiecesOf32768) {
  struct Case {
    std::size_t size;
    std::vector<std::size_t> pieces;
  };
  const Case cases[] = {
      {40000, {32768, 7232}}, {32768, {32768}}, {65537, {32768, 32768, 1}}, {5, {5}}};
  std::vector<std::uint8_t> data(70000);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    std::vector<std::size_t> pieces;
    EXPECT_EQ(detail::imageDibWritePieces(data.data(), c.size,
                                          [&](const void*, std::size_t n) {
                                            pieces.push_back(n);
                                            return n;
                                          }),
              c.size);
    EXPECT_EQ(pieces, c.pieces);
  }
  // A short piece fails the whole write.
  EXPECT_EQ(detail::imageDibWritePieces(
                data.data(), 40000, [](const void*, std::size_t n) { return n == 32768 ? n : 0; }),
            0u);
}

TEST(ImagePixels, IndexAccessPacksSubBytePixels) {
  for (int bitCount : {1, 4, 8}) {
    SCOPED_TRACE(bitCount);
    CImageImpl image;
    ASSERT_TRUE(image.Create(11, 2, bitCount, -1));
    const int levels = 1 << bitCount;
    for (int x = 0; x < 11; ++x) ASSERT_EQ(image.SetPixelIndex(x, 1, (x * 5 + 1) % levels), 1);
    for (int x = 0; x < 11; ++x) {
      EXPECT_EQ(image.GetPixelIndex(x, 1), (x * 5 + 1) % levels);
      EXPECT_EQ(image.GetPixelIndex(x, 0), 0);  // the other row is untouched
    }
    // Most significant bits first, as the DIB stores them.
    EXPECT_EQ(image.GetBits()[image.GetLineBytes()] >> (8 - bitCount), 1);
    EXPECT_EQ(image.SetPixelIndex(0, 0, levels), 0);
    EXPECT_EQ(image.SetPixelIndex(-1, 0, 0), 0);
    EXPECT_EQ(image.SetPixelIndex(11, 0, 0), 0);
    EXPECT_EQ(image.GetPixelIndex(0, 2), -1);
  }
}

TEST(ImagePixels, DirectColourIsStoredBlueGreenRed) {
  CImageImpl image;
  ASSERT_TRUE(image.Create(3, 2, 24, -1));
  ASSERT_TRUE(image.SetPixelRGB(2, 1, 10, 20, 30));
  const std::uint8_t* p = image.GetBits() + image.GetLineBytes() + 6;
  EXPECT_EQ((std::vector<int>{p[0], p[1], p[2]}), (std::vector<int>{30, 20, 10}));
  std::uint8_t r, g, b;
  ASSERT_TRUE(image.GetPixelRGB(2, 1, &r, &g, &b));
  EXPECT_EQ((std::vector<int>{r, g, b}), (std::vector<int>{10, 20, 30}));
  EXPECT_EQ(image.GetPixelIndex(2, 1), -1);
  EXPECT_EQ(image.SetPixelIndex(2, 1, 0), 0);
  EXPECT_EQ(image.GetPixelRGB(3, 0, &r, &g, &b), 0);
  EXPECT_EQ(image.SetPixelRGB(0, -1, 1, 2, 3), 0);

  for (int bitCount : {16, 32}) {
    SCOPED_TRACE(bitCount);
    CImageImpl other;
    ASSERT_TRUE(other.Create(2, 1, bitCount, -1));
    ASSERT_TRUE(other.SetPixelRGB(1, 0, 255, 8, 128));
    ASSERT_TRUE(other.GetPixelRGB(1, 0, &r, &g, &b));
    EXPECT_EQ(r, 255);
    EXPECT_EQ(g, 8);
    EXPECT_EQ(b, bitCount == 16 ? 132 : 128);  // 5 bits a channel widened back
  }
}

TEST(ImagePalette, SettersAttachPaletteAndIndexTable) {
  CImageImpl image;
  ASSERT_TRUE(image.Create(4, 1, 8, -1));
  const std::uint8_t red[3] = {0, 200, 255}, green[3] = {0, 100, 255}, blue[3] = {0, 50, 0};
  ASSERT_EQ(image.SetPaletteRGB(3, red, green, blue), 1);
  EXPECT_EQ(image.GetFlags(), 3);
  const auto* table = static_cast<const std::uint8_t*>(image.GetDib()) + 40;
  for (int i : {0, 1, 2, 255}) EXPECT_EQ(platform::loadPacked<std::uint16_t>(table + 2 * i), i);

  ASSERT_TRUE(image.SetPixelRGB(0, 0, 190, 110, 40));  // nearest is entry 1
  EXPECT_EQ(image.GetPixelIndex(0, 0), 1);
  std::uint8_t r, g, b;
  ASSERT_TRUE(image.GetPixelRGB(0, 0, &r, &g, &b));
  EXPECT_EQ((std::vector<int>{r, g, b}), (std::vector<int>{200, 100, 50}));
  image.SetPixelIndex(1, 0, 7);  // past the palette's end: black, and 0
  EXPECT_EQ(image.GetPixelRGB(1, 0, &r, &g, &b), 0);
  EXPECT_EQ(r | g | b, 0);

  // Missing arrays: green is red, blue is green.
  ASSERT_TRUE(image.SetPaletteRGB(3, red, nullptr, nullptr));
  ASSERT_TRUE(image.GetPixelRGB(0, 0, &r, &g, &b));
  EXPECT_EQ((std::vector<int>{r, g, b}), (std::vector<int>{200, 200, 200}));
  EXPECT_EQ(image.SetPaletteRGB(0, red, green, blue), 0);
  EXPECT_EQ(image.SetPaletteRGB(257, red, green, blue), 0);
  EXPECT_EQ(image.SetPalette(nullptr), 0);

  auto* own = new CImagePalette;
  ASSERT_TRUE(own->CreateFromRGB(3, blue, green, red));
  EXPECT_EQ(own->CreateFromRGB(3, blue, green, red), 0);  // already created
  ASSERT_EQ(image.SetPalette(own), 1);
  EXPECT_EQ(image.GetPalette(), own);
  EXPECT_EQ(own->GetEntryRGB(-1, &r, &g, &b), 0);
  EXPECT_EQ(own->GetEntryRGB(3, &r, &g, &b), 0);
}

TEST(ImagePalette, TriplesReplacingAPaletteSaySo) {
  platform::RecordingUi ui;
  platform::ScopedUi scoped(ui);
  CImageImpl image;
  ASSERT_TRUE(image.Create(2, 2, 8, -1));
  const std::uint8_t rgb[6] = {1, 2, 3, 4, 5, 6};
  ASSERT_EQ(image.SetPaletteTriples(2, rgb), 1);
  EXPECT_TRUE(ui.messages().empty());
  ASSERT_EQ(image.SetPaletteTriples(2, rgb), 1);
  EXPECT_EQ(ui.messages(), std::vector<std::string>{"CImageImpl::imagePalette already exists!"});
  std::uint8_t r, g, b;
  ASSERT_TRUE(image.GetPalette()->GetEntryRGB(1, &r, &g, &b));
  EXPECT_EQ((std::vector<int>{r, g, b}), (std::vector<int>{4, 5, 6}));
}

TEST(ImagePalette, GreyLevels) {
  CImageImpl image;
  ASSERT_TRUE(image.Create(1, 1, 8, -1));
  ASSERT_TRUE(image.SetGreyPalette(4));
  std::uint8_t r, g, b;
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(image.GetPalette()->GetEntryRGB(i, &r, &g, &b));
    EXPECT_EQ(r, i * 64);
  }
}

TEST(ImageImpl, TakeOverMovesEverything) {
  CImageImpl from, to;
  ASSERT_TRUE(from.Create(3, 2, 8, -1));
  const std::uint8_t grey[2] = {0, 255};
  from.SetPaletteRGB(2, grey, nullptr, nullptr);
  from.SetTransparentIndex(1);
  void* dib = from.GetDib();
  CImagePalette* palette = from.GetPalette();
  ASSERT_TRUE(to.Create(9, 9, 24, -1));
  to.TakeOver(from);
  EXPECT_EQ(to.GetDib(), dib);
  EXPECT_EQ(to.GetPalette(), palette);
  EXPECT_EQ(to.GetTransparentIndex(), 1);
  EXPECT_EQ(to.GetWidth(), 3);
  EXPECT_EQ(to.GetBitCount(), 8);
  EXPECT_EQ(to.GetFlags(), 3);
  EXPECT_EQ(to.GetLineBytes(), 4);
  EXPECT_FALSE(from.HasDib());
  EXPECT_EQ(from.GetPalette(), nullptr);
  EXPECT_EQ(from.GetBits(), nullptr);
  EXPECT_EQ(from.GetPixelIndex(0, 0), -1);
}

// A 4 x 2 indexed image over a 6-entry palette, and a canvas filled with grey.
struct DrawFixture {
  CImageImpl image;
  platform::DeviceContext dc{6, 4, 0x808080};
  DrawFixture() {
    image.Create(4, 2, 8, -1);
    const std::uint8_t red[6] = {0, 255, 0, 0, 255, 10};
    const std::uint8_t green[6] = {0, 255, 200, 0, 0, 20};
    const std::uint8_t blue[6] = {0, 255, 0, 200, 0, 30};
    image.SetPaletteRGB(6, red, green, blue);
    // Bottom row 2 3 5 4, top row 5 2 3 5.
    const int bottom[4] = {2, 3, 5, 4}, top[4] = {5, 2, 3, 5};
    for (int x = 0; x < 4; ++x) {
      image.SetPixelIndex(x, 0, bottom[x]);
      image.SetPixelIndex(x, 1, top[x]);
    }
  }
};

TEST(ImageDraw, DrawsUprightThroughThePalette) {
  DrawFixture f;
  EXPECT_EQ(f.image.Draw(nullptr, 0, 0, -1, -1, 0, 0), 1);
  ASSERT_EQ(f.image.Draw(&f.dc, 1, 1, -1, -1, 0, 0), 1);
  EXPECT_EQ(f.dc.pixel(1, 1), 0x0A141Eu);  // top-left: index 5
  EXPECT_EQ(f.dc.pixel(2, 1), 0x00C800u);
  EXPECT_EQ(f.dc.pixel(1, 2), 0x00C800u);  // bottom-left: index 2
  EXPECT_EQ(f.dc.pixel(4, 2), 0xFF0000u);
  EXPECT_EQ(f.dc.pixel(0, 0), 0x808080u);
  EXPECT_EQ(f.dc.selectedPalette(), nullptr);  // the palette is released again

  CImageImpl empty;
  EXPECT_EQ(empty.Draw(&f.dc, 0, 0, -1, -1, 0, 0), 0);
  EXPECT_EQ(empty.StretchDraw(&f.dc, 0, 0, -1, -1, 0, 0, -1, -1), 0);
}

TEST(ImageDraw, StretchDrawLeavesTransparentPixelsUnchanged) {
  DrawFixture f;
  f.image.SetTransparentIndex(5);
  std::vector<int> before;
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) before.push_back(f.image.GetPixelIndex(x, y));
  ASSERT_EQ(f.image.StretchDraw(&f.dc, 0, 0, 4, 2, 0, 0, -1, -1), 1);
  EXPECT_EQ(f.dc.pixel(0, 0), 0x808080u);  // top row: 5 2 3 5
  EXPECT_EQ(f.dc.pixel(1, 0), 0x00C800u);
  EXPECT_EQ(f.dc.pixel(2, 0), 0x0000C8u);
  EXPECT_EQ(f.dc.pixel(3, 0), 0x808080u);
  EXPECT_EQ(f.dc.pixel(2, 1), 0x808080u);  // bottom row: 2 3 5 4
  EXPECT_EQ(f.dc.pixel(3, 1), 0xFF0000u);
  EXPECT_EQ(f.dc.pixel(4, 0), 0x808080u);  // outside the destination
  std::vector<int> after;
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) after.push_back(f.image.GetPixelIndex(x, y));
  EXPECT_EQ(after, before);

  // Stretched to twice the size without transparency, every pixel is painted.
  f.image.SetTransparentIndex(-1);
  platform::DeviceContext big(8, 4, 0x808080);
  ASSERT_EQ(f.image.StretchDraw(&big, 0, 0, 8, 4, 0, 0, -1, -1), 1);
  EXPECT_EQ(big.pixel(0, 0), 0x0A141Eu);
  EXPECT_EQ(big.pixel(7, 3), 0xFF0000u);
  EXPECT_EQ(big.stretchBltMode(), platform::COLORONCOLOR);

  // A source rectangle from column 2 to the right edge.
  platform::DeviceContext half(2, 2, 0x808080);
  ASSERT_EQ(f.image.StretchDraw(&half, 0, 0, 2, 2, 2, 0, -1, -1), 1);
  EXPECT_EQ(half.pixel(0, 0), 0x0000C8u);  // top row, column 2: index 3
  EXPECT_EQ(half.pixel(1, 1), 0xFF0000u);  // bottom row, column 3: index 4
}

TEST(ImageDraw, DirectColourImagesDrawTheirOwnColours) {
  CImageImpl image;
  ASSERT_TRUE(image.Create(2, 2, 24, -1));
  image.SetPixelRGB(0, 0, 1, 2, 3);
  image.SetPixelRGB(1, 1, 200, 100, 50);
  platform::DeviceContext dc(2, 2, 0);
  ASSERT_EQ(image.Draw(&dc, 0, 0, -1, -1, 0, 0), 1);
  EXPECT_EQ(dc.pixel(0, 1), 0x010203u);
  EXPECT_EQ(dc.pixel(1, 0), 0xC86432u);
}

}  // namespace
