#include "platform/canvas.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/bitmap_format.h"

namespace {

using namespace platform;

// A 2x2 24-bit bottom-up DIB: stored row 0 (bottom) red, green; row 1 (top) blue, white.
struct TinyDib {
  std::vector<unsigned char> header = std::vector<unsigned char>(40);
  std::vector<unsigned char> bits{0,   0, 255, 0,   255, 0,   0, 0,   // bottom: red, green, pad
                                  255, 0, 0,   255, 255, 255, 0, 0};  // top: blue, white, pad
  explicit TinyDib(int height = 2) {
    BitmapInfoHeader h{};
    h.size = 40;
    h.width = 2;
    h.height = height;
    h.planes = 1;
    h.bitCount = 24;
    storePacked(header.data(), h);
  }
};

TEST(Canvas, SetDibitsDrawsBottomUpBitmapsUpright) {
  TinyDib dib;
  DeviceContext dc(4, 4, 0);
  EXPECT_EQ(dc.setDIBitsToDevice(1, 1, 2, 2, 0, 0, 0, 2, dib.bits.data(), dib.header.data(),
                                 DIB_RGB_COLORS),
            2);
  EXPECT_EQ(dc.pixel(1, 1), 0x0000FFu);  // top-left: blue
  EXPECT_EQ(dc.pixel(2, 1), 0xFFFFFFu);
  EXPECT_EQ(dc.pixel(1, 2), 0xFF0000u);  // bottom-left: red
  EXPECT_EQ(dc.pixel(2, 2), 0x00FF00u);
  EXPECT_EQ(dc.pixel(0, 0), 0u);
}

TEST(Canvas, StretchDoublesAndCombinesWithRasterOps) {
  TinyDib dib;
  DeviceContext dc(4, 4, 0xFFFFFF);
  dc.stretchDIBits(0, 0, 4, 4, 0, 0, 2, 2, dib.bits.data(), dib.header.data(), DIB_RGB_COLORS,
                   SRCAND);
  EXPECT_EQ(dc.pixel(0, 0), 0x0000FFu);
  EXPECT_EQ(dc.pixel(1, 1), 0x0000FFu);
  EXPECT_EQ(dc.pixel(3, 3), 0x00FF00u);
  dc.stretchDIBits(0, 0, 4, 4, 0, 0, 2, 2, dib.bits.data(), dib.header.data(), DIB_RGB_COLORS,
                   SRCPAINT);
  EXPECT_EQ(dc.pixel(3, 3), 0x00FF00u);
}

TEST(Canvas, PaletteIndexedColourTables) {
  // 8-bit, 2x1, colour table of two 16-bit palette indices.
  std::vector<unsigned char> header(40 + 4);
  BitmapInfoHeader h{};
  h.size = 40;
  h.width = 2;
  h.height = 1;
  h.bitCount = 8;
  h.clrUsed = 2;
  storePacked(header.data(), h);
  storePacked<std::uint16_t>(header.data() + 40, 1);
  storePacked<std::uint16_t>(header.data() + 42, 0);
  std::vector<unsigned char> bits{0, 1, 7, 0};  // index 7 is past the table: black
  Palette palette;
  ASSERT_TRUE(palette.create({{10, 20, 30, 0}, {200, 100, 50, 0}}));
  EXPECT_EQ(palette.nearestIndex(190, 90, 60), 1);
  DeviceContext dc(3, 1, 0xFFFFFF);
  dc.selectPalette(&palette, true);
  EXPECT_EQ(dc.realizePalette(), 2u);
  dc.setDIBitsToDevice(0, 0, 2, 1, 0, 0, 0, 1, bits.data(), header.data(), DIB_PAL_COLORS);
  EXPECT_EQ(dc.pixel(0, 0), 0xC86432u);
  EXPECT_EQ(dc.pixel(1, 0), 0x0A141Eu);
}

}  // namespace

namespace {

using namespace platform;

TEST(Canvas, StockDefaultPaletteHoldsTheTwentyStaticColours) {
  const Palette& stock = stockDefaultPalette();
  ASSERT_EQ(stock.entries().size(), 20u);
  EXPECT_EQ(stock.entries()[0].red, 0);
  EXPECT_EQ(stock.entries()[8].green, 220);
  EXPECT_EQ(stock.entries()[19].blue, 255);
}

TEST(Canvas, TwoBitDibsDraw) {
  std::vector<unsigned char> header(40 + 16);
  BitmapInfoHeader h{};
  h.size = 40;
  h.width = 4;
  h.height = 1;
  h.bitCount = 2;
  storePacked(header.data(), h);
  const unsigned char quads[16] = {0, 0, 0, 0, 255, 0, 0, 0, 0, 255, 0, 0, 0, 0, 255, 0};
  std::copy(quads, quads + 16, header.begin() + 40);
  std::vector<unsigned char> bits{0x1B, 0, 0, 0};  // indices 0 1 2 3
  DeviceContext dc(4, 1, 0x777777);
  dc.setDIBitsToDevice(0, 0, 4, 1, 0, 0, 0, 1, bits.data(), header.data(), DIB_RGB_COLORS);
  EXPECT_EQ(dc.pixel(0, 0), 0x000000u);
  EXPECT_EQ(dc.pixel(1, 0), 0x0000FFu);
  EXPECT_EQ(dc.pixel(2, 0), 0x00FF00u);
  EXPECT_EQ(dc.pixel(3, 0), 0xFF0000u);
}

TEST(Canvas, SixteenBitDibsDrawFiveBitsAChannel) {
  std::vector<unsigned char> header(40);
  BitmapInfoHeader h{};
  h.size = 40;
  h.width = 2;
  h.height = 1;
  h.bitCount = 16;
  storePacked(header.data(), h);
  std::vector<unsigned char> bits{0x00, 0x7C, 0x10, 0x02};  // red 31; green 16, blue 16
  DeviceContext dc(2, 1, 0);
  dc.setDIBitsToDevice(0, 0, 2, 1, 0, 0, 0, 1, bits.data(), header.data(), DIB_RGB_COLORS);
  EXPECT_EQ(dc.pixel(0, 0), 0xFF0000u);
  EXPECT_EQ(dc.pixel(1, 0), 0x008484u);
}

}  // namespace
