// BMP reading and writing through CDib, the header queries and drawing of DIB handles,
// with the hostile headers a reader must refuse.
#include "quiltbench/engine/dib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/bitmap_format.h"
#include "tests/support/test_support.h"

namespace {

using platform::BitmapCoreHeader;
using platform::BitmapFileHeader;
using platform::BitmapInfoHeader;
using platform::HGLOBAL;
using Bytes = std::vector<unsigned char>;

// A copy of a packed header field, which must not be bound to a reference.
template <typename T>
T field(T value) {
  return value;
}

struct BmpSpec {
  std::int32_t width = 32;
  std::int32_t height = 32;
  std::uint16_t bitCount = 24;
  bool core = false;
  std::uint32_t headerSize = 0;  // 0: 40 or 12 by kind
  std::uint32_t compression = 0;
  std::uint32_t clrUsed = 0;
  std::uint32_t sizeImage = 0;
  long paletteEntries = -1;  // -1: as many as the header's colour count
  long pixelBytes = -1;      // -1: every padded row
  long truncate = 0;         // bytes cut off the end of the file
};

long defaultColors(const BmpSpec& s) {
  if (!s.core && s.clrUsed) return s.clrUsed;
  return s.bitCount <= 8 ? 1L << s.bitCount : 0;
}

// The packed DIB: header, colour table, pixel rows.
Bytes makeDib(const BmpSpec& s) {
  Bytes out;
  auto append = [&](const void* p, std::size_t n) {
    const auto* b = static_cast<const unsigned char*>(p);
    out.insert(out.end(), b, b + n);
  };
  if (s.core) {
    BitmapCoreHeader h{s.headerSize ? s.headerSize : 12, static_cast<std::uint16_t>(s.width),
                       static_cast<std::uint16_t>(s.height), 1, s.bitCount};
    append(&h, sizeof h);
  } else {
    BitmapInfoHeader h{};
    h.size = s.headerSize ? s.headerSize : 40;
    h.width = s.width;
    h.height = s.height;
    h.planes = 1;
    h.bitCount = s.bitCount;
    h.compression = s.compression;
    h.sizeImage = s.sizeImage;
    h.clrUsed = s.clrUsed;
    append(&h, sizeof h);
  }
  const long entries = s.paletteEntries >= 0 ? s.paletteEntries : defaultColors(s);
  for (long i = 0; i < entries; ++i) {
    const unsigned char e[4] = {static_cast<unsigned char>(i), static_cast<unsigned char>(255 - i),
                                static_cast<unsigned char>(3 * i), 0};
    append(e, s.core ? 3 : 4);
  }
  const long rows = s.height < 0 ? -static_cast<long>(s.height) : s.height;
  const long pixels = s.pixelBytes >= 0
                          ? s.pixelBytes
                          : static_cast<long>(platform::dibStride(s.width, s.bitCount)) * rows;
  for (long k = 0; k < pixels; ++k) out.push_back(static_cast<unsigned char>(k * 7 + 3));
  return out;
}

Bytes makeBmp(const BmpSpec& s) {
  const Bytes dib = makeDib(s);
  BitmapFileHeader f{platform::kBitmapFileType, static_cast<std::uint32_t>(14 + dib.size()), 0, 0,
                     0};
  Bytes out(14 + dib.size());
  std::memcpy(out.data(), &f, 14);
  std::copy(dib.begin(), dib.end(), out.begin() + 14);
  out.resize(out.size() - static_cast<std::size_t>(s.truncate));
  return out;
}

HGLOBAL toHandle(const Bytes& bytes) {
  HGLOBAL h = platform::GlobalAlloc(platform::GHND, bytes.size());
  std::memcpy(platform::GlobalLock(h), bytes.data(), bytes.size());
  platform::GlobalUnlock(h);
  return h;
}

Bytes handleBytes(HGLOBAL h) {
  platform::GlobalLockGuard lock(h);
  const auto* p = lock.as<unsigned char>();
  return Bytes(p, p + platform::GlobalSize(h));
}

struct LoadCase {
  const char* name;
  Bytes file;
  bool loads;
};

TEST(DibLoadTest, AcceptsSoundFilesAndRefusesTheRest) {
  auto spec = [](auto&& edit) {
    BmpSpec s;
    edit(s);
    return makeBmp(s);
  };
  Bytes notBm = makeBmp({});
  notBm[1] = 'X';
  const Bytes headerOnly(notBm.begin(), notBm.begin() + 14);
  Bytes fileHeaderOnly = headerOnly;
  fileHeaderOnly[1] = 'M';
  const LoadCase cases[] = {
      {"32x32 24-bit", makeBmp({}), true},
      {"33x47 24-bit with row padding", spec([](BmpSpec& s) {
         s.width = 33;
         s.height = 47;
       }),
       true},
      {"8-bit full palette", spec([](BmpSpec& s) { s.bitCount = 8; }), true},
      {"8-bit short palette", spec([](BmpSpec& s) {
         s.bitCount = 8;
         s.clrUsed = 16;
       }),
       true},
      {"4-bit", spec([](BmpSpec& s) { s.bitCount = 4; }), true},
      {"1-bit", spec([](BmpSpec& s) { s.bitCount = 1; }), true},
      {"core header 24-bit", spec([](BmpSpec& s) { s.core = true; }), true},
      {"core header 8-bit", spec([](BmpSpec& s) {
         s.core = true;
         s.bitCount = 8;
       }),
       true},
      {"RLE8 inside the file", spec([](BmpSpec& s) {
         s.bitCount = 8;
         s.compression = 1;
         s.sizeImage = 64;
         s.pixelBytes = 64;
       }),
       true},
      {"31 wide", spec([](BmpSpec& s) {
         s.width = 31;
         s.height = 40;
       }),
       false},
      {"31 high", spec([](BmpSpec& s) {
         s.width = 40;
         s.height = 31;
       }),
       false},
      {"top-down", spec([](BmpSpec& s) { s.height = -40; }), false},
      {"shorter than the file header", Bytes{'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, false},
      {"file header only", fileHeaderOnly, false},
      {"no BM", notBm, false},
      {"truncated by one byte", spec([](BmpSpec& s) { s.truncate = 1; }), false},
      {"truncated inside the header", spec([](BmpSpec& s) { s.truncate = 32 * 32 * 3 + 20; }),
       false},
      {"bomb: 65535x65535 declared", spec([](BmpSpec& s) {
         s.width = 65535;
         s.height = 65535;
         s.pixelBytes = 100;
       }),
       false},
      {"bomb: huge width", spec([](BmpSpec& s) {
         s.width = 0x7FFFFFFF;
         s.pixelBytes = 100;
       }),
       false},
      {"rows overflow 64 bits", spec([](BmpSpec& s) {
         s.width = 0x7FFFFFFF;
         s.height = 0x7FFFFFFF;
         s.bitCount = 32;
         s.pixelBytes = 8;
       }),
       false},
      {"colour table past the end", spec([](BmpSpec& s) {
         s.bitCount = 8;
         s.paletteEntries = 100;
         s.pixelBytes = 0;
       }),
       false},
      {"used colours absurd", spec([](BmpSpec& s) {
         s.bitCount = 8;
         s.clrUsed = 0x40000000;
         s.paletteEntries = 4;
       }),
       false},
      {"used colours past 16-bit table size", spec([](BmpSpec& s) {
         s.bitCount = 8;
         s.clrUsed = 20000;
       }),
       false},
      {"zero width", spec([](BmpSpec& s) { s.width = 0; }), false},
      {"zero height", spec([](BmpSpec& s) { s.height = 0; }), false},
      {"negative width", spec([](BmpSpec& s) {
         s.width = -32;
         s.pixelBytes = 4096;
       }),
       false},
      {"bit count 0", spec([](BmpSpec& s) {
         s.bitCount = 0;
         s.pixelBytes = 4096;
       }),
       false},
      {"bit count 7", spec([](BmpSpec& s) {
         s.bitCount = 7;
         s.pixelBytes = 4096;
       }),
       false},
      {"core bit count 16", spec([](BmpSpec& s) {
         s.core = true;
         s.bitCount = 16;
       }),
       false},
      {"RLE8 size past the end", spec([](BmpSpec& s) {
         s.bitCount = 8;
         s.compression = 1;
         s.sizeImage = 5000;
         s.pixelBytes = 64;
       }),
       false},
      {"RLE4 on an 8-bit image", spec([](BmpSpec& s) {
         s.bitCount = 8;
         s.compression = 2;
         s.sizeImage = 64;
       }),
       false},
      {"bit fields", spec([](BmpSpec& s) {
         s.bitCount = 32;
         s.compression = 3;
       }),
       false},
      {"embedded PNG", spec([](BmpSpec& s) { s.compression = 5; }), false},
      {"version 5 header cut short", spec([](BmpSpec& s) {
         s.headerSize = 124;
         s.pixelBytes = 40;
       }),
       false},
      {"header of 64 bytes", spec([](BmpSpec& s) {
         s.headerSize = 64;
         s.pixelBytes = 4096;
       }),
       false},
      {"header size absurd", spec([](BmpSpec& s) { s.headerSize = 0xFFFFFFFF; }), false},
  };
  test_support::TempDir dir;
  for (const LoadCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.file("in.bmp");
    test_support::writeFileBytes(path, c.file);
    const long liveBefore = platform::GlobalLiveBlockCount();
    CDib dib;
    HGLOBAL h = dib.Load(path);
    EXPECT_EQ(h != nullptr, c.loads);
    if (h) {
      // The handle holds the packed DIB; the block is the file's length.
      const Bytes bytes = handleBytes(h);
      ASSERT_EQ(bytes.size(), c.file.size());
      EXPECT_TRUE(std::equal(c.file.begin() + 14, c.file.end(), bytes.begin()));
      EXPECT_EQ(platform::GlobalLockCount(h), 0);
      platform::GlobalLockGuard lock(h);
      EXPECT_EQ(dib.m_nWidth, static_cast<int>(DibWidth(lock.data())));
      EXPECT_EQ(dib.m_nHeight, static_cast<int>(DibHeight(lock.data())));
      EXPECT_TRUE(dib.lastError().empty());
    } else {
      EXPECT_FALSE(dib.lastError().empty());
    }
    platform::GlobalFree(h);
    EXPECT_EQ(platform::GlobalLiveBlockCount(), liveBefore);
    // The file is free again for writing.
    platform::File writer;
    EXPECT_TRUE(writer.Open(path, platform::File::modeCreate | platform::File::modeWrite |
                                      platform::File::shareExclusive));
  }
}

TEST(DibLoadTest, RefusalTextsAndMissingFile) {
  test_support::TempDir dir;
  CDib dib;
  EXPECT_EQ(dib.Load(dir.file("missing.bmp")), nullptr);
  EXPECT_EQ(dib.lastError(), "");
  EXPECT_EQ(dib.lastReason(), "cannot open " + dir.file("missing.bmp") + ": no such file");

  BmpSpec small;
  small.width = 31;
  test_support::writeFileBytes(dir.file("small.bmp"), makeBmp(small));
  EXPECT_EQ(dib.Load(dir.file("small.bmp")), nullptr);
  EXPECT_EQ(dib.lastError(), "BMP Image is too big or too small for loading");

  test_support::writeFileBytes(dir.file("junk.bmp"), Bytes(100, 'B'));
  EXPECT_EQ(dib.Load(dir.file("junk.bmp")), nullptr);
  EXPECT_EQ(dib.lastError(), "Reading Image error!\n Maybe the type is not supported!");
}

// A 32x32 BMP of `bits` bits whose header is `headerSize` bytes (masks inside it from
// 108 bytes on, after it for a 40-byte bit-field header), with `gap` bytes between the
// header and the rows that the file's pixel offset skips; pixel bytes count up.
Bytes gappedBmp(std::uint32_t headerSize, std::uint16_t bits, std::uint32_t compression,
                std::uint32_t gap) {
  BitmapInfoHeader info{};
  info.size = headerSize;
  info.width = 32;
  info.height = 32;
  info.planes = 1;
  info.bitCount = bits;
  info.compression = compression;
  const std::uint32_t masks[3] = {0x0000FF, 0x00FF00, 0xFF0000};  // red in the first byte
  Bytes dib(headerSize, 0);
  std::memcpy(dib.data(), &info, sizeof info);
  if (compression == platform::BI_BITFIELDS) {
    if (headerSize == 40) dib.resize(52);
    std::memcpy(dib.data() + 40, masks, sizeof masks);
  }
  const std::size_t rowsAt = dib.size() + gap;
  dib.resize(rowsAt, 0xEE);
  for (std::uint64_t k = 0; k < platform::dibStride(32, bits) * 32; ++k)
    dib.push_back(static_cast<unsigned char>(k));
  Bytes file(14 + dib.size());
  BitmapFileHeader f{platform::kBitmapFileType, static_cast<std::uint32_t>(14 + dib.size()), 0, 0,
                     static_cast<std::uint32_t>(14 + rowsAt)};
  std::memcpy(file.data(), &f, 14);
  std::copy(dib.begin(), dib.end(), file.begin() + 14);
  return file;
}

TEST(DibLoadTest, RowsComeFromThePixelOffsetAndLongerHeadersKeepTheirMasks) {
  struct Case {
    const char* name;
    std::uint32_t headerSize;
    std::uint16_t bits;
    std::uint32_t compression, gap;
  } const cases[] = {
      {"24-bit with a gap before the rows", 40, 24, platform::BI_RGB, 100},
      {"32-bit bit fields after a 40-byte header", 40, 32, platform::BI_BITFIELDS, 0},
      {"32-bit version 5 header with masks", 124, 32, platform::BI_BITFIELDS, 0},
      {"16-bit version 4 header, plain rows, gap", 108, 16, platform::BI_RGB, 6},
  };
  test_support::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test_support::writeFileBytes(dir.file("in.bmp"),
                                 gappedBmp(c.headerSize, c.bits, c.compression, c.gap));
    CDib dib;
    HGLOBAL h = dib.Load(dir.file("in.bmp"));
    ASSERT_NE(h, nullptr) << dib.lastReason();
    {
      platform::GlobalLockGuard lock(h);
      const auto* header = lock.as<const unsigned char>();
      EXPECT_EQ(field(platform::loadPacked<BitmapInfoHeader>(header).size), 40u);
      const bool fields = c.compression == platform::BI_BITFIELDS;
      EXPECT_EQ(DibMaskBytes(header), fields ? 12u : 0u);
      std::uint32_t masks[3] = {};
      EXPECT_EQ(DibChannelMasks(header, masks), c.bits != 24);
      EXPECT_EQ(masks[0], fields ? 0x0000FFu : c.bits == 16 ? 0x7C00u : 0u);
      const unsigned char* bits = DibBits(header);
      EXPECT_EQ(bits - header, 40 + (fields ? 12 : 0));
      for (int k = 0; k < 300; ++k) EXPECT_EQ(bits[k], static_cast<unsigned char>(k)) << k;
    }
    platform::GlobalFree(h);
  }
  Bytes inside = gappedBmp(40, 24, platform::BI_RGB, 0);
  inside[10] = 20;  // the rows would start inside the header
  Bytes past = gappedBmp(40, 24, platform::BI_RGB, 0);
  past[12] = 0x10;  // 1 MB into a 3 KB file
  Bytes noMasks = gappedBmp(40, 16, platform::BI_BITFIELDS, 0);
  noMasks[10] = 54;  // as one common tool writes it: bit fields declared, none stored
  for (const Bytes& bad : {inside, past, noMasks}) {
    test_support::writeFileBytes(dir.file("bad.bmp"), bad);
    CDib dib;
    EXPECT_EQ(dib.Load(dir.file("bad.bmp")), nullptr);
    EXPECT_NE(dib.lastReason().find("pixel offset"), std::string::npos) << dib.lastReason();
  }
}

TEST(DibSaveTest, AFailedWriteLeavesTheOldFileWholeAndNoTemporary) {
  test_support::TempDir dir;
  const std::string path = dir.file("result.bmp");
  const Bytes old(5000, 0x42);
  test_support::writeFileBytes(path, old);
  BmpSpec big;
  big.width = 256;
  big.height = 256;
  HGLOBAL h = toHandle(makeDib(big));  // 196 KB, far past the limit
  const int status = test_support::runWithFileSizeLimit(64 * 1024, [&] {
    CDib dib;
    if (dib.Save(path, h)) return 1;
    return dib.lastReason().find("cannot save " + path) == 0 ? 0 : 2;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(test_support::readFileBytes(path), old);
  EXPECT_TRUE(test_support::hiddenFiles(dir.path()).empty());
  // Without the limit the same save replaces the file.
  CDib dib;
  EXPECT_TRUE(dib.Save(path, h)) << dib.lastReason();
  EXPECT_EQ(test_support::readFileBytes(path).size(), 14 + handleBytes(h).size());
  EXPECT_TRUE(test_support::hiddenFiles(dir.path()).empty());
  platform::GlobalFree(h);
}

TEST(DibSaveTest, FixesTheImageSizeOfUncompressedBitmaps) {
  BmpSpec s;
  s.width = 33;  // 99 bytes of pixels, 100 stored
  s.height = 34;
  HGLOBAL h = toHandle(makeDib(s));
  test_support::TempDir dir;
  CDib dib;
  ASSERT_TRUE(dib.Save(dir.file("out.bmp"), h));
  const Bytes file = test_support::readFileBytes(dir.file("out.bmp"));
  const std::uint32_t image = 100 * 34;
  ASSERT_EQ(file.size(), 14 + 40 + image);
  const auto fileHeader = platform::loadPacked<BitmapFileHeader>(file.data());
  EXPECT_EQ(field(fileHeader.type), 0x4D42);
  EXPECT_EQ(field(fileHeader.fileSize), 14 + 40 + image);
  EXPECT_EQ(field(fileHeader.reserved1), 0);
  EXPECT_EQ(field(fileHeader.reserved2), 0);
  EXPECT_EQ(field(fileHeader.pixelOffset), 14u + 40u);
  EXPECT_EQ(field(platform::loadPacked<BitmapInfoHeader>(file.data() + 14).sizeImage), image);
  {
    platform::GlobalLockGuard lock(h);
    EXPECT_EQ(field(platform::loadPacked<BitmapInfoHeader>(lock.data()).sizeImage), image);
  }
  EXPECT_EQ(platform::GlobalLockCount(h), 0);
  // What was written reads back as the same DIB.
  HGLOBAL back = dib.Load(dir.file("out.bmp"));
  ASSERT_NE(back, nullptr);
  const Bytes original = handleBytes(h), reread = handleBytes(back);
  EXPECT_TRUE(std::equal(original.begin(), original.end(), reread.begin()));
  platform::GlobalFree(back);
  platform::GlobalFree(h);
}

TEST(DibSaveTest, PaletteAndRunLengthFilesKeepTheirLayout) {
  BmpSpec s;
  s.bitCount = 8;
  s.clrUsed = 16;
  HGLOBAL palette = toHandle(makeDib(s));
  s.compression = 1;
  s.sizeImage = 60;
  s.pixelBytes = 60;
  HGLOBAL rle = toHandle(makeDib(s));
  test_support::TempDir dir;
  CDib dib;
  ASSERT_TRUE(dib.Save(dir.file("p.bmp"), palette));
  ASSERT_TRUE(dib.Save(dir.file("r.bmp"), rle));
  const Bytes p = test_support::readFileBytes(dir.file("p.bmp"));
  const Bytes r = test_support::readFileBytes(dir.file("r.bmp"));
  EXPECT_EQ(p.size(), 14u + 40 + 64 + 32 * 32);
  EXPECT_EQ(field(platform::loadPacked<BitmapFileHeader>(p.data()).pixelOffset), 14u + 40 + 64);
  EXPECT_EQ(r.size(), 14u + 40 + 64 + 60);
  EXPECT_EQ(field(platform::loadPacked<BitmapInfoHeader>(r.data() + 14).sizeImage), 60u);
  platform::GlobalFree(palette);
  platform::GlobalFree(rle);
}

TEST(DibSaveTest, RefusesWhatItCannotWriteWithoutTouchingTheFile) {
  BmpSpec core;
  core.core = true;
  Bytes shortDib = makeDib({});
  shortDib.resize(shortDib.size() - 1);
  BmpSpec rle;
  rle.bitCount = 8;
  rle.compression = 1;
  rle.sizeImage = 100000;
  rle.pixelBytes = 10;
  struct Case {
    const char* name;
    HGLOBAL handle;
  } cases[] = {
      {"null handle", nullptr},
      {"core header", toHandle(makeDib(core))},
      {"block shorter than its rows", toHandle(shortDib)},
      {"run-length size past the block", toHandle(makeDib(rle))},
  };
  test_support::TempDir dir;
  const std::string path = dir.file("keep.bmp");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test_support::writeFileBytes(path, Bytes{1, 2, 3});
    CDib dib;
    EXPECT_FALSE(dib.Save(path, c.handle));
    EXPECT_EQ(dib.lastError(), "Cannot save BMP Image!");
    EXPECT_EQ(test_support::readFileBytes(path), (Bytes{1, 2, 3}));
    EXPECT_EQ(platform::GlobalLockCount(c.handle), 0);
    platform::GlobalFree(c.handle);
  }
  HGLOBAL good = toHandle(makeDib({}));
  CDib dib;
  EXPECT_FALSE(dib.Save(dir.file("no/such/folder/out.bmp"), good));
  platform::GlobalFree(good);
}

TEST(DibHeaderTest, ColourCountsPaletteSizesAndBits) {
  struct Case {
    const char* name;
    BmpSpec spec;
    std::uint16_t colors, paletteBytes, bits;
  } cases[] = {
      {"24-bit", {}, 0, 0, 24},
      {"8-bit, used 0", {.bitCount = 8}, 256, 1024, 8},
      {"8-bit, used 16", {.bitCount = 8, .clrUsed = 16}, 16, 64, 8},
      {"4-bit", {.bitCount = 4}, 16, 64, 4},
      {"1-bit", {.bitCount = 1}, 2, 8, 1},
      {"24-bit with a colour table", {.clrUsed = 3}, 3, 12, 24},
      {"core 8-bit", {.bitCount = 8, .core = true}, 256, 768, 8},
      {"core 24-bit", {.core = true}, 0, 0, 24},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes dib = makeDib(c.spec);
    EXPECT_EQ(DibColorCount(dib.data()), c.colors);
    EXPECT_EQ(DibPaletteSize(dib.data()), c.paletteBytes);
    EXPECT_EQ(DibBitCount(dib.data()), c.bits);
    EXPECT_EQ(DibWidth(dib.data()), 32u);
    EXPECT_EQ(DibHeight(dib.data()), 32u);
    const std::size_t header = c.spec.core ? 12 : 40;
    EXPECT_EQ(DibBits(dib.data()), dib.data() + header + c.paletteBytes);
  }
  // Core fields are 16 bits, zero-extended; a top-down info height shows as its bits.
  Bytes wide = makeDib({.width = 40000, .height = 1, .core = true, .pixelBytes = 0});
  EXPECT_EQ(DibWidth(wide.data()), 40000u);
  Bytes topDown = makeDib({.height = -2, .pixelBytes = 0});
  EXPECT_EQ(DibHeight(topDown.data()), 0xFFFFFFFEu);
}

// A 32x32 picture whose pixel (x, row) has red x, green row (row 0 stored first).
HGLOBAL gradient() {
  Bytes dib = makeDib({});
  unsigned char* bits = DibBits(dib.data());
  for (int row = 0; row < 32; ++row)
    for (int x = 0; x < 32; ++x) {
      unsigned char* p = bits + row * 96 + 3 * x;
      p[0] = 7;
      p[1] = static_cast<unsigned char>(row);
      p[2] = static_cast<unsigned char>(x);
    }
  return toHandle(dib);
}

std::uint32_t rgb(int red, int green, int blue) { return (red << 16) | (green << 8) | blue; }

TEST(DibPaintTest, EqualSizesDrawTheWholeBitmapFromItsOrigin) {
  HGLOBAL h = gradient();
  platform::DeviceContext dc(80, 80, 0xFFFFFF);
  platform::Palette palette;
  ASSERT_TRUE(palette.create({{1, 2, 3, 0}}));
  // The source rectangle is somewhere else; only its size counts.
  const int lines = DibPaint(dc, {10, 20, 42, 52}, h, {5, 7, 37, 39}, &palette);
  EXPECT_EQ(lines, 32);
  EXPECT_EQ(dc.selectedPalette(), nullptr);
  EXPECT_EQ(dc.stretchBltMode(), platform::COLORONCOLOR);
  EXPECT_EQ(dc.pixel(10, 20), rgb(0, 31, 7));  // top-left is the last stored row
  EXPECT_EQ(dc.pixel(41, 51), rgb(31, 0, 7));  // bottom-right is the first stored row
  EXPECT_EQ(dc.pixel(9, 20), 0xFFFFFFu);
  EXPECT_EQ(dc.pixel(42, 51), 0xFFFFFFu);
  EXPECT_EQ(platform::GlobalLockCount(h), 0);

  // Different sizes stretch the source rectangle (from the origin) over the destination.
  platform::DeviceContext big(64, 64, 0);
  EXPECT_GT(DibPaint(big, {0, 0, 64, 64}, h, {0, 0, 32, 32}, nullptr), 0);
  EXPECT_EQ(big.pixel(0, 0), rgb(0, 31, 7));
  EXPECT_EQ(big.pixel(63, 63), rgb(31, 0, 7));
  EXPECT_EQ(big.pixel(21, 41), rgb(10, 11, 7));

  EXPECT_EQ(DibPaint(dc, {0, 0, 32, 32}, nullptr, {0, 0, 32, 32}, nullptr), 0);
  Bytes shortDib = handleBytes(h);
  shortDib.resize(shortDib.size() - 10);
  HGLOBAL cut = toHandle(shortDib);
  EXPECT_EQ(DibPaint(dc, {0, 0, 32, 32}, cut, {0, 0, 32, 32}, nullptr), 0);
  platform::GlobalFree(cut);
  platform::GlobalFree(h);
}

TEST(DibPaletteTest, CreatesLogicalPaletteFromEitherTableKind) {
  platform::Palette palette;
  for (bool core : {false, true}) {
    SCOPED_TRACE(core ? "core" : "info");
    HGLOBAL h = toHandle(makeDib({.bitCount = 4, .core = core}));
    ASSERT_TRUE(DibCreatePalette(h, palette));
    ASSERT_EQ(palette.entries().size(), 16u);
    // Table entry i is blue i, green 255 - i, red 3i.
    EXPECT_EQ(palette.entries()[5].red, 15);
    EXPECT_EQ(palette.entries()[5].green, 250);
    EXPECT_EQ(palette.entries()[5].blue, 5);
    EXPECT_EQ(palette.entries()[5].flags, 0);
    EXPECT_EQ(platform::GlobalLockCount(h), 0);
    platform::GlobalFree(h);
  }
  HGLOBAL trueColour = toHandle(makeDib({}));
  EXPECT_FALSE(DibCreatePalette(trueColour, palette));
  EXPECT_FALSE(DibCreatePalette(nullptr, palette));
  platform::GlobalFree(trueColour);
}

TEST(DibCopyTest, CopiesTheWholeBlock) {
  HGLOBAL h = gradient();
  HGLOBAL copy = DibCopyHandle(h);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, h);
  EXPECT_EQ(handleBytes(copy), handleBytes(h));
  EXPECT_EQ(platform::GlobalLockCount(h), 0);
  EXPECT_EQ(platform::GlobalLockCount(copy), 0);
  EXPECT_EQ(DibCopyHandle(nullptr), nullptr);
  platform::GlobalFree(copy);
  platform::GlobalFree(h);
}

}  // namespace
