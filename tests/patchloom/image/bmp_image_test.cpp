// BMP reading and writing from hand-built files: header kinds, palettes and headers
// that do not fit their file.
#include "patchloom/image/bmp_image.h"

#include <gtest/gtest.h>

#include <vector>

#include "patchloom/image/image_dib.h"
#include "platform/bitmap_format.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<unsigned char>;
using platform::BitmapInfoHeader;

template <typename T>
void append(Bytes& b, const T& value) {
  const auto* p = reinterpret_cast<const unsigned char*>(&value);
  b.insert(b.end(), p, p + sizeof value);
}

struct BmpSpec {
  int width = 3, height = 2, bitCount = 8;
  std::uint32_t compression = 0;
  std::uint32_t clrUsed = 2;
  int tableEntries = 2;  // colour-table entries actually written
  bool fileHeader = true;
  bool core = false;
  long pixelBytes = -1;  // -1: exactly the rows
};

// Entry i of the table is (red 10 + i, green 20 + i, blue 30 + i); pixel bytes count up.
Bytes bmpFile(const BmpSpec& s) {
  const long stride =
      static_cast<long>(platform::dibStride(static_cast<std::uint64_t>(s.width), s.bitCount));
  const long rows =
      s.pixelBytes >= 0 ? s.pixelBytes : stride * (s.height < 0 ? -s.height : s.height);
  const int entryBytes = s.core ? 3 : 4;
  const std::uint32_t headerBytes = s.core ? 12 : 40;
  Bytes dib;
  if (s.core) {
    append(dib, platform::BitmapCoreHeader{12, static_cast<std::uint16_t>(s.width),
                                           static_cast<std::uint16_t>(s.height), 1,
                                           static_cast<std::uint16_t>(s.bitCount)});
  } else {
    BitmapInfoHeader h{};
    h.size = 40;
    h.width = s.width;
    h.height = s.height;
    h.planes = 1;
    h.bitCount = static_cast<std::uint16_t>(s.bitCount);
    h.compression = s.compression;
    h.clrUsed = s.clrUsed;
    append(dib, h);
  }
  for (int i = 0; i < s.tableEntries; ++i) {
    dib.push_back(static_cast<unsigned char>(30 + i));
    dib.push_back(static_cast<unsigned char>(20 + i));
    dib.push_back(static_cast<unsigned char>(10 + i));
    if (entryBytes == 4) dib.push_back(0);
  }
  for (long i = 0; i < rows; ++i) dib.push_back(static_cast<unsigned char>(i % 2));
  if (!s.fileHeader) return dib;
  Bytes file;
  platform::BitmapFileHeader fh{};
  fh.type = platform::kBitmapFileType;
  fh.fileSize = static_cast<std::uint32_t>(14 + dib.size());
  fh.pixelOffset = 14 + headerBytes + static_cast<std::uint32_t>(s.tableEntries * entryBytes);
  append(file, fh);
  file.insert(file.end(), dib.begin(), dib.end());
  return file;
}

int readBmp(const Bytes& file, CBmpImageImpl& image) {
  test_support::TempDir dir;
  test_support::writeFileBytes(dir.file("t.bmp"), file);
  return image.Read(dir.file("t.bmp"));
}

TEST(BmpRead, CoreHeaderWithTwoColoursWidensToInfoHeader) {
  BmpSpec s;
  s.core = true;
  s.bitCount = 1;
  s.width = 9;
  s.height = 3;
  for (bool fileHeader : {true, false}) {
    SCOPED_TRACE(fileHeader);
    s.fileHeader = fileHeader;
    Bytes file = bmpFile(s);
    file[file.size() - 8] = 0x80;  // second stored row: only its first pixel is 1
    file[file.size() - 7] = 0x00;
    file[file.size() - 6] = 0x00;
    CBmpImageImpl image;
    ASSERT_EQ(readBmp(file, image), 1);
    const auto h = platform::loadPacked<BitmapInfoHeader>(image.GetDib());
    EXPECT_EQ(h.size, 40u);
    EXPECT_EQ(h.width, 9);
    EXPECT_EQ(h.height, 3);
    EXPECT_EQ(h.bitCount, 1);
    EXPECT_EQ(h.clrUsed, 2u);
    EXPECT_EQ(ImageDibColorTableSize(image.GetDib()), 8u);
    EXPECT_EQ(image.GetFlags(), 3);
    ASSERT_EQ(image.GetPalette()->GetEntryCount(), 2);
    std::uint8_t r, g, b;
    image.GetPalette()->GetEntryRGB(1, &r, &g, &b);
    EXPECT_EQ((std::vector<int>{r, g, b}), (std::vector<int>{11, 21, 31}));
    EXPECT_EQ(image.GetPixelIndex(0, 1), 1);
    EXPECT_EQ(image.GetPixelIndex(1, 1), 0);
    EXPECT_EQ(image.GetPixelIndex(8, 1), 0);
    EXPECT_EQ(image.GetPixelIndex(0, 0), 0);
    ASSERT_TRUE(image.GetPixelRGB(0, 1, &r, &g, &b));
    EXPECT_EQ(r, 11);
  }
}

TEST(BmpRead, TrueColourKeepsFlagsAndHasNoPalette) {
  BmpSpec s;
  s.bitCount = 24;
  s.clrUsed = 0;
  s.tableEntries = 0;
  CBmpImageImpl image;
  ASSERT_EQ(readBmp(bmpFile(s), image), 1);
  EXPECT_EQ(image.GetPalette(), nullptr);
  EXPECT_EQ(image.GetFlags(), 0);
  EXPECT_EQ(image.GetBitCount(), 24);
  std::uint8_t r, g, b;
  ASSERT_TRUE(image.GetPixelRGB(0, 0, &r, &g, &b));
  EXPECT_EQ((std::vector<int>{r, g, b}),
            (std::vector<int>{0, 1, 0}));  // bytes 0 1 0: blue 0, green 1, red 0
}

TEST(BmpRead, BitFieldMasksComeBeforeThePixels) {
  // 2 x 1 pixels at 16 bits in the 5-6-5 layout: red, then green.
  BitmapInfoHeader h{};
  h.size = 40;
  h.width = 2;
  h.height = 1;
  h.planes = 1;
  h.bitCount = 16;
  h.compression = platform::BI_BITFIELDS;
  Bytes dib;
  append(dib, h);
  for (std::uint32_t mask : {0xF800u, 0x07E0u, 0x001Fu}) append(dib, mask);
  for (std::uint16_t pixel : {std::uint16_t{0xF800}, std::uint16_t{0x07E0}}) append(dib, pixel);
  CBmpImageImpl image;
  ASSERT_EQ(readBmp(dib, image), 1);
  EXPECT_EQ(image.GetBits(), static_cast<std::uint8_t*>(image.GetDib()) + 52);
  std::uint8_t r, g, b;
  ASSERT_TRUE(image.GetPixelRGB(0, 0, &r, &g, &b));
  EXPECT_EQ((std::vector<int>{r, g, b}), (std::vector<int>{255, 0, 0}));
  ASSERT_TRUE(image.GetPixelRGB(1, 0, &r, &g, &b));
  EXPECT_EQ((std::vector<int>{r, g, b}), (std::vector<int>{0, 255, 0}));
  test_support::TempDir dir;
  ASSERT_EQ(image.Write(dir.file("f.bmp")), 1);
  EXPECT_EQ(test_support::readFileBytes(dir.file("f.bmp")).size(), 14u + 40 + 12 + 4);
}

TEST(BmpRead, HeadersThatDoNotFitTheFileAreRefused) {
  struct Case {
    const char* what;
    BmpSpec spec;
    std::size_t cut;  // bytes dropped from the end
  };
  BmpSpec huge;
  huge.width = 1000000;
  huge.height = 1000000;
  huge.bitCount = 24;
  huge.clrUsed = 0;
  huge.tableEntries = 0;
  huge.pixelBytes = 16;
  BmpSpec bigger = huge;
  bigger.width = 2000;
  bigger.height = 2000;
  BmpSpec rle;
  rle.compression = platform::BI_RLE8;
  rle.height = -2;
  BmpSpec jpeg;
  jpeg.compression = 4;
  BmpSpec bits7;
  bits7.bitCount = 7;
  BmpSpec manyColours;
  manyColours.clrUsed = 100000;
  BmpSpec noWidth;
  noWidth.width = 0;
  BmpSpec negativeWidth;
  negativeWidth.width = -4;
  negativeWidth.pixelBytes = 16;
  BmpSpec bitFields24;
  bitFields24.bitCount = 24;
  bitFields24.compression = platform::BI_BITFIELDS;
  const Case cases[] = {
      {"a huge image in a small file", huge, 0},
      {"rows past the end of the file", bigger, 0},
      {"short pixel data", BmpSpec{}, 1},
      {"no pixel data", BmpSpec{}, 8},
      {"top-down run-length data", rle, 0},
      {"bit count 7", bits7, 0},
      {"JPEG compression", jpeg, 0},
      {"100000 colours", manyColours, 0},
      {"width 0", noWidth, 0},
      {"negative width", negativeWidth, 0},
      {"bit fields at 24 bits", bitFields24, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes file = bmpFile(c.spec);
    file.resize(file.size() - c.cut);
    CBmpImageImpl image;
    EXPECT_EQ(readBmp(file, image), 0);
    EXPECT_FALSE(image.HasDib());
    EXPECT_EQ(image.GetWidth(), 0);
  }
  for (std::size_t size : {0, 13, 14, 20, 53}) {
    SCOPED_TRACE(size);
    Bytes file = bmpFile(BmpSpec{});
    file.resize(size);
    CBmpImageImpl image;
    EXPECT_EQ(readBmp(file, image), 0);
  }
  CBmpImageImpl missing("/nonexistent/x.bmp");
  EXPECT_EQ(missing.Read(""), 0);
}

TEST(BmpRead, TopDownFilesAreTurnedUpright) {
  BmpSpec s;
  s.bitCount = 8;
  s.width = 4;
  s.height = -3;
  Bytes file = bmpFile(s);
  // Rows as stored: first row 7s, then 8s, then 9s. Top-down: the first is the top.
  for (int row = 0; row < 3; ++row)
    for (int x = 0; x < 4; ++x)
      file[file.size() - 12 + row * 4 + x] = static_cast<unsigned char>(7 + row);
  CBmpImageImpl image;
  ASSERT_EQ(readBmp(file, image), 1);
  EXPECT_EQ(image.GetHeight(), 3);
  EXPECT_EQ(image.GetPixelIndex(0, 2), 7);
  EXPECT_EQ(image.GetPixelIndex(0, 0), 9);
}

TEST(BmpWrite, WritesQuadsFromThePaletteAndKeepsIndicesForDrawing) {
  test_support::TempDir dir;
  CBmpImageImpl image(dir.file("p.bmp"));
  ASSERT_TRUE(image.Create(3, 2, 8, -1));
  const std::uint8_t red[2] = {1, 250}, green[2] = {2, 251}, blue[2] = {3, 252};
  image.SetPaletteRGB(2, red, green, blue);
  image.SetPixelIndex(2, 1, 1);
  ASSERT_EQ(image.Write(""), 1);
  const Bytes file = test_support::readFileBytes(dir.file("p.bmp"));
  ASSERT_EQ(file.size(), 14u + 40 + 1024 + 8);
  EXPECT_EQ(platform::loadPacked<std::uint32_t>(&file[2]), file.size());
  EXPECT_EQ(platform::loadPacked<std::uint32_t>(&file[10]), 14u + 40 + 1024);
  EXPECT_EQ((Bytes{file[54 + 4], file[55 + 4], file[56 + 4]}), (Bytes{252, 251, 250}));
  EXPECT_EQ((Bytes{file[54 + 8], file[55 + 8]}), (Bytes{0, 0}));  // past the palette: black
  const auto* table = static_cast<const std::uint8_t*>(image.GetDib()) + 40;
  EXPECT_EQ(platform::loadPacked<std::uint16_t>(table + 2), 1);

  CBmpImageImpl back;
  ASSERT_EQ(back.Read(dir.file("p.bmp")), 1);
  EXPECT_EQ(back.GetPixelIndex(2, 1), 1);
  std::uint8_t r, g, b;
  ASSERT_TRUE(back.GetPixelRGB(2, 1, &r, &g, &b));
  EXPECT_EQ((std::vector<int>{r, g, b}), (std::vector<int>{250, 251, 252}));
}

TEST(BmpWrite, EightBitsWithoutPaletteGetTheStockColours) {
  test_support::TempDir dir;
  CBmpImageImpl image;
  ASSERT_TRUE(image.Create(2, 2, 8, -1));
  ASSERT_EQ(image.Write(dir.file("s.bmp")), 1);
  const Bytes file = test_support::readFileBytes(dir.file("s.bmp"));
  // Entry 8 of the stock palette is (192, 220, 192), entry 19 white, entry 20 none.
  EXPECT_EQ((Bytes{file[54 + 32], file[55 + 32], file[56 + 32]}), (Bytes{192, 220, 192}));
  EXPECT_EQ((Bytes{file[54 + 76], file[55 + 76], file[56 + 76]}), (Bytes{255, 255, 255}));
  EXPECT_EQ((Bytes{file[54 + 80], file[55 + 80], file[56 + 80]}), (Bytes{0, 0, 0}));
}

TEST(BmpWrite, FailsWithoutImageOrFile) {
  CBmpImageImpl empty;
  test_support::TempDir dir;
  EXPECT_EQ(empty.Write(dir.file("e.bmp")), 0);
  CBmpImageImpl image;
  ASSERT_TRUE(image.Create(2, 2, 24, -1));
  EXPECT_EQ(image.Write("/nonexistent/folder/x.bmp"), 0);
}

// A 4 x 3 run-length file of `bitCount` bits with the given compressed data.
Bytes rleFile(int bitCount, const Bytes& data) {
  BmpSpec s;
  s.width = 4;
  s.height = 3;
  s.bitCount = bitCount;
  s.compression = bitCount == 8 ? platform::BI_RLE8 : platform::BI_RLE4;
  s.clrUsed = 16;
  s.tableEntries = 16;
  s.pixelBytes = 0;
  Bytes file = bmpFile(s);
  file.insert(file.end(), data.begin(), data.end());
  return file;
}

TEST(BmpRead, HostileRunLengthDataStaysInsideTheRows) {
  struct Case {
    const char* what;
    int bitCount;
    Bytes data;
    const char* rows;  // indices bottom row first, as hex digits
  };
  const Case cases[] = {
      {"runs and end of line", 8, {2, 5, 0, 0, 4, 7, 0, 1}, "5500 7777 0000"},
      {"a run past the row is cut there", 8, {9, 3, 0, 0, 1, 4, 0, 1}, "3333 4000 0000"},
      {"an absolute run past the row", 8, {0, 6, 1, 2, 3, 4, 5, 6, 0, 1}, "1234 0000 0000"},
      {"a delta past the image ends the data",
       8,
       {1, 9, 0, 2, 1, 200, 1, 8, 0, 1},
       "9000 0000 0000"},
      {"a delta then a run", 8, {0, 2, 2, 1, 2, 6, 0, 1}, "0000 0066 0000"},
      {"end of line past the last row", 8, {0, 0, 0, 0, 0, 0, 0, 0, 1, 1}, "0000 0000 0000"},
      {"truncated inside an absolute run", 8, {1, 3, 0, 5, 7, 8}, "3780 0000 0000"},
      {"truncated after a count", 8, {2, 9, 7}, "9900 0000 0000"},
      {"no end of bitmap", 8, {4, 1, 0, 0, 4, 2}, "1111 2222 0000"},
      {"RLE4 runs alternate nibbles", 4, {3, 0xAB, 0, 0, 5, 0xC1, 0, 1}, "aba0 c1c1 0000"},
      {"RLE4 odd absolute run is padded", 4, {0, 3, 0x12, 0x30, 1, 0xF0, 0, 1}, "123f 0000 0000"},
      {"RLE4 absolute run past the row", 4, {0, 8, 0x12, 0x34, 0x56, 0x78, 0, 1}, "1234 0000 0000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CBmpImageImpl image;
    ASSERT_EQ(readBmp(rleFile(c.bitCount, c.data), image), 1) << image.GetLastError();
    EXPECT_EQ(image.GetBitCount(), c.bitCount);
    EXPECT_EQ(platform::loadPacked<BitmapInfoHeader>(image.GetDib()).compression, platform::BI_RGB);
    std::string rows;
    for (int y = 0; y < 3; ++y) {
      if (y) rows += ' ';
      for (int x = 0; x < 4; ++x) rows += "0123456789abcdef"[image.GetPixelIndex(x, y)];
    }
    EXPECT_EQ(rows, c.rows);
  }
}

TEST(BmpRead, BitFieldsTakeAnyContiguousMasks) {
  // 2 x 1 pixels at 32 bits with red in the low byte (the layout that came out with red
  // and blue swapped), and 16 bits in 4-4-4; masks that are not runs of bits are refused.
  struct Case {
    int bitCount;
    std::uint32_t masks[3];
    std::uint32_t pixel;
    int rgb[3];  // -1: the file is refused
  };
  const Case cases[] = {
      {32, {0xFF, 0xFF00, 0xFF0000}, 0x00302010, {0x10, 0x20, 0x30}},
      {16, {0x0F00, 0x00F0, 0x000F}, 0x0F81, {0xFF, 0x88, 0x11}},
      {16, {0x7C00, 0x03E0, 0x001F}, 0x7C00, {255, 0, 0}},
      {32, {0xFFC00000, 0x3FF000, 0xFFC}, 0xFFC00000, {255, 0, 0}},
      {16, {0x0F0F, 0x00F0, 0x0000}, 0, {-1, 0, 0}},
      {16, {0xFF00, 0x0FF0, 0x000F}, 0, {-1, 0, 0}},
      {16, {0x1F0000, 0x00F0, 0x000F}, 0, {-1, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bitCount << " bits, red mask " << std::hex << c.masks[0]);
    BitmapInfoHeader h{};
    h.size = 40;
    h.width = 2;
    h.height = 1;
    h.planes = 1;
    h.bitCount = static_cast<std::uint16_t>(c.bitCount);
    h.compression = platform::BI_BITFIELDS;
    Bytes dib;
    append(dib, h);
    for (std::uint32_t mask : c.masks) append(dib, mask);
    for (int i = 0; i < 2; ++i)
      for (int k = 0; k < c.bitCount / 8; ++k)
        dib.push_back(static_cast<unsigned char>(c.pixel >> (8 * k)));
    if (c.bitCount == 16) dib.insert(dib.end(), 0);
    if (c.bitCount == 16) dib.insert(dib.end(), 0);
    CBmpImageImpl image;
    if (c.rgb[0] < 0) {
      EXPECT_EQ(readBmp(dib, image), 0);
      EXPECT_NE(image.GetLastError().find("bit-field masks"), std::string::npos);
      continue;
    }
    ASSERT_EQ(readBmp(dib, image), 1) << image.GetLastError();
    std::uint8_t r, g, b;
    ASSERT_TRUE(image.GetPixelRGB(1, 0, &r, &g, &b));
    EXPECT_EQ((std::vector<int>{r, g, b}), (std::vector<int>{c.rgb[0], c.rgb[1], c.rgb[2]}));
    // Written back through the masks, the colour reads the same.
    ASSERT_TRUE(image.SetPixelRGB(0, 0, r, g, b));
    std::uint8_t r2, g2, b2;
    image.GetPixelRGB(0, 0, &r2, &g2, &b2);
    EXPECT_EQ((std::vector<int>{r2, g2, b2}), (std::vector<int>{r, g, b}));
  }
}

TEST(BmpRead, RefusalsNameTheFileAndTheField) {
  struct Case {
    const char* what;
    Bytes file;
    const char* reason;
  };
  BmpSpec bits7;
  bits7.bitCount = 7;
  BmpSpec manyColours;
  manyColours.clrUsed = 100000;
  Bytes shortRows = bmpFile(BmpSpec{});
  shortRows.resize(shortRows.size() - 1);
  const Case cases[] = {
      {"bit count", bmpFile(bits7), "bit count 7"},
      {"colour table", bmpFile(manyColours), "colour table: 100000 entries"},
      {"pixel data", shortRows, "pixel data: 7 bytes where the rows need 8"},
      {"header", Bytes(10, 'B'), "file header"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CBmpImageImpl image;
    EXPECT_EQ(readBmp(c.file, image), 0);
    EXPECT_NE(image.GetLastError().find("t.bmp: "), std::string::npos) << image.GetLastError();
    EXPECT_NE(image.GetLastError().find(c.reason), std::string::npos) << image.GetLastError();
  }
  CBmpImageImpl missing;
  EXPECT_EQ(missing.Read("/nonexistent/x.bmp"), 0);
  EXPECT_EQ(missing.GetLastError(), "/nonexistent/x.bmp: cannot open: No such file or directory");
}

}  // namespace
