// GIF reading from hand-built files: palettes, transparency, interlace, and damaged or
// hostile image data.
#include "patchloom/image/gif_image.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Codes packed least significant bit first into data sub-blocks, with the terminator.
class CodeWriter {
 public:
  void put(int code, int size) {
    accumulator_ |= static_cast<unsigned long>(code) << bits_;
    bits_ += size;
    while (bits_ >= 8) {
      bytes_.push_back(static_cast<unsigned char>(accumulator_));
      accumulator_ >>= 8;
      bits_ -= 8;
    }
  }
  Bytes subBlocks() {
    if (bits_ > 0) bytes_.push_back(static_cast<unsigned char>(accumulator_));
    bits_ = 0;
    Bytes out;
    for (std::size_t i = 0; i < bytes_.size(); i += 255) {
      const std::size_t n = std::min<std::size_t>(255, bytes_.size() - i);
      out.push_back(static_cast<unsigned char>(n));
      out.insert(out.end(), bytes_.begin() + static_cast<long>(i),
                 bytes_.begin() + static_cast<long>(i + n));
    }
    out.push_back(0);
    return out;
  }

 private:
  Bytes bytes_;
  unsigned long accumulator_ = 0;
  int bits_ = 0;
};

// Image data that codes every pixel as its own root code, tracking the code size the
// way a decoder grows it.
Bytes lzwData(const std::vector<int>& pixels, int minCodeSize) {
  CodeWriter w;
  const int clear = 1 << minCodeSize;
  int size = minCodeSize + 1, next = clear + 2;
  w.put(clear, size);
  bool first = true;
  for (int p : pixels) {
    w.put(p, size);
    if (first) {
      first = false;
    } else if (next < 4096) {
      ++next;
      if (next >= (1 << size) && size < 12) ++size;
    }
  }
  w.put(clear + 1, size);
  Bytes out{static_cast<unsigned char>(minCodeSize)};
  Bytes blocks = w.subBlocks();
  out.insert(out.end(), blocks.begin(), blocks.end());
  return out;
}

void put16(Bytes& b, int v) {
  b.push_back(static_cast<unsigned char>(v));
  b.push_back(static_cast<unsigned char>(v >> 8));
}

struct GifSpec {
  int width = 4, height = 4;
  int screenWidth = -1, screenHeight = -1;
  int globalEntries = 16;  // 0 for none
  int localEntries = 0;
  int transparent = -1;
  bool interlaced = false;
};

int tableBits(int entries) {
  int bits = 0;
  while ((2 << bits) < entries) ++bits;
  return bits;
}

// Entry i of a table is (i, 2i, 255 - i), or (i, i, i) + 100 for a local table.
Bytes gifFile(const GifSpec& s, const Bytes& data) {
  Bytes b{'G', 'I', 'F', '8', '9', 'a'};
  put16(b, s.screenWidth < 0 ? s.width : s.screenWidth);
  put16(b, s.screenHeight < 0 ? s.height : s.screenHeight);
  b.push_back(static_cast<unsigned char>(s.globalEntries ? 0x80 | tableBits(s.globalEntries) : 0));
  b.push_back(0);
  b.push_back(0);
  for (int i = 0; i < s.globalEntries; ++i) {
    b.push_back(static_cast<unsigned char>(i));
    b.push_back(static_cast<unsigned char>(2 * i));
    b.push_back(static_cast<unsigned char>(255 - i));
  }
  // A comment first: extensions other than graphic control are skipped whole.
  for (unsigned char c : Bytes{0x21, 0xFE, 3, 'a', 'b', 'c', 0}) b.push_back(c);
  if (s.transparent >= 0)
    for (unsigned char c :
         Bytes{0x21, 0xF9, 4, 1, 0, 0, static_cast<unsigned char>(s.transparent), 0})
      b.push_back(c);
  b.push_back(0x2C);
  put16(b, 0);
  put16(b, 0);
  put16(b, s.width);
  put16(b, s.height);
  b.push_back(static_cast<unsigned char>((s.interlaced ? 0x40 : 0) |
                                         (s.localEntries ? 0x80 | tableBits(s.localEntries) : 0)));
  for (int i = 0; i < s.localEntries; ++i)
    for (int k = 0; k < 3; ++k) b.push_back(static_cast<unsigned char>(i + 100));
  b.insert(b.end(), data.begin(), data.end());
  b.push_back(0x3B);
  return b;
}

struct GifRead {
  int result = 0;
  CGifImageImpl image;
};

void readGif(const Bytes& file, GifRead& out) {
  test_support::TempDir dir;
  test_support::writeFileBytes(dir.file("t.gif"), file);
  out.result = out.image.Read(dir.file("t.gif"));
}

std::vector<int> ramp(int n, int modulo) {
  std::vector<int> v(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) v[i] = (i * 7 + 3) % modulo;
  return v;
}

TEST(GifRead, DecodesRowsTopDownIntoTheDib) {
  GifSpec s;
  s.width = 5;
  s.height = 3;
  const auto pixels = ramp(15, 16);
  GifRead r;
  readGif(gifFile(s, lzwData(pixels, 4)), r);
  ASSERT_EQ(r.result, 1);
  ASSERT_TRUE(r.image.HasDib());
  EXPECT_EQ(r.image.GetBitCount(), 8);
  EXPECT_EQ(r.image.GetFlags(), 3);
  EXPECT_EQ(r.image.GetPalette()->GetEntryCount(), 16);
  EXPECT_EQ(r.image.GetTransparentIndex(), -1);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(r.image.GetPixelIndex(x, 2 - y), pixels[y * 5 + x]);
  std::uint8_t red, green, blue;
  ASSERT_TRUE(r.image.GetPixelRGB(0, 2, &red, &green, &blue));
  EXPECT_EQ((std::vector<int>{red, green, blue}), (std::vector<int>{3, 6, 252}));
}

TEST(GifRead, CodeSizesGrowUpToTwelveBits) {
  // 300 x 20 pixels coded one by one: the table fills up and the code size reaches 12.
  GifSpec s;
  s.width = 300;
  s.height = 20;
  s.globalEntries = 256;
  const auto pixels = ramp(6000, 256);
  GifRead r;
  readGif(gifFile(s, lzwData(pixels, 8)), r);
  ASSERT_TRUE(r.image.HasDib());
  for (int i : {0, 299, 300, 4095, 4096, 5999})
    EXPECT_EQ(r.image.GetPixelIndex(i % 300, 19 - i / 300), pixels[i]) << i;
}

TEST(GifRead, TransparentIndexGetsBlackAndWhiteFills) {
  GifSpec s;
  s.transparent = 3;
  GifRead r;
  readGif(gifFile(s, lzwData(ramp(16, 16), 4)), r);
  ASSERT_EQ(r.image.GetTransparentIndex(), 3);
  const CImagePalette* palette = r.image.GetPalette();
  ASSERT_EQ(palette->GetEntryCount(), 256);
  std::uint8_t red, green, blue;
  palette->GetEntryRGB(3, &red, &green, &blue);
  EXPECT_EQ((std::vector<int>{red, green, blue}), (std::vector<int>{0, 0, 0}));
  palette->GetEntryRGB(2, &red, &green, &blue);
  EXPECT_EQ((std::vector<int>{red, green, blue}), (std::vector<int>{2, 4, 253}));
  for (int i : {16, 100, 255}) {
    palette->GetEntryRGB(i, &red, &green, &blue);
    EXPECT_EQ((std::vector<int>{red, green, blue}), (std::vector<int>{255, 255, 255})) << i;
  }
}

TEST(GifRead, LocalTableOverridesTheGlobalOne) {
  GifSpec s;
  s.localEntries = 4;
  GifRead r;
  readGif(gifFile(s, lzwData(ramp(16, 4), 2)), r);
  ASSERT_EQ(r.image.GetPalette()->GetEntryCount(), 4);
  std::uint8_t red, green, blue;
  r.image.GetPalette()->GetEntryRGB(2, &red, &green, &blue);
  EXPECT_EQ(red, 102);
}

TEST(GifRead, InterlacedRowsComeInFourPasses) {
  struct Case {
    int height;
    std::vector<int> order;  // picture row of each decoded line
  };
  const Case cases[] = {
      {4, {0, 2, 1, 3}},
      {1, {0}},
      {10, {0, 8, 4, 2, 6, 1, 3, 5, 7, 9}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.height);
    GifSpec s;
    s.width = 1;
    s.height = c.height;
    s.interlaced = true;
    std::vector<int> lines;
    for (int i = 0; i < c.height; ++i) lines.push_back(i + 1);
    GifRead r;
    readGif(gifFile(s, lzwData(lines, 4)), r);
    ASSERT_TRUE(r.image.HasDib());
    for (int i = 0; i < c.height; ++i)
      EXPECT_EQ(r.image.GetPixelIndex(0, c.height - 1 - c.order[i]), i + 1) << "line " << i;
  }
}

TEST(GifRead, DamagedDataStopsDecodingOnly) {
  struct Case {
    const char* what;
    Bytes data;
    std::vector<int> firstPixels;  // expected indices of the top row, left to right
  };
  auto codes = [](std::initializer_list<std::pair<int, int>> list, int minCodeSize) {
    CodeWriter w;
    for (auto [code, size] : list) w.put(code, size);
    Bytes out{static_cast<unsigned char>(minCodeSize)};
    Bytes blocks = w.subBlocks();
    out.insert(out.end(), blocks.begin(), blocks.end());
    return out;
  };
  const Case cases[] = {
      {"minimum code size 10", Bytes{10, 1, 0, 0}, {0, 0, 0, 0}},
      {"minimum code size 1", Bytes{1, 1, 0, 0}, {0, 0, 0, 0}},
      // After a clear code, a code above the table counts as 0; later ones repeat the
      // previous string plus its first byte.
      {"codes above the table", codes({{4, 3}, {7, 3}, {1, 3}, {7, 3}, {5, 3}}, 2), {0, 1, 1, 1}},
      {"no end code", codes({{4, 3}, {1, 3}, {2, 3}}, 2), {1, 2, 0, 0}},
      {"no data at all", Bytes{}, {0, 0, 0, 0}},
      {"data without a clear code", codes({{2, 3}, {3, 3}, {5, 3}}, 2), {2, 3, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    GifSpec s;
    s.globalEntries = 4;
    Bytes file = gifFile(s, c.data);
    if (c.data.empty()) file.resize(file.size() - 1);  // cut after the descriptor
    GifRead r;
    readGif(file, r);
    EXPECT_EQ(r.result, 1);
    ASSERT_TRUE(r.image.HasDib());
    for (int x = 0; x < 4; ++x) EXPECT_EQ(r.image.GetPixelIndex(x, 3), c.firstPixels[x]) << x;
  }
}

TEST(GifRead, HostileSizesAreRefusedOrBounded) {
  // The image is larger than its logical screen: it is decoded at its own size.
  GifSpec larger;
  larger.width = 8;
  larger.height = 2;
  larger.screenWidth = 1;
  larger.screenHeight = 1;
  GifRead r1;
  readGif(gifFile(larger, lzwData(ramp(16, 16), 4)), r1);
  ASSERT_TRUE(r1.image.HasDib());
  EXPECT_EQ(r1.image.GetWidth(), 8);
  EXPECT_EQ(r1.image.GetPixelIndex(7, 0), ramp(16, 16)[15]);

  // More pixels than the image holds: the surplus is dropped.
  GifSpec small;
  small.width = 2;
  small.height = 2;
  GifRead r2;
  readGif(gifFile(small, lzwData(ramp(40, 16), 4)), r2);
  ASSERT_TRUE(r2.image.HasDib());
  EXPECT_EQ(r2.image.GetPixelIndex(1, 0), ramp(40, 16)[3]);

  // 65535 x 65535 pixels declared in a file of a few bytes: no image, no allocation.
  GifSpec huge;
  huge.width = 65535;
  huge.height = 65535;
  GifRead r3;
  readGif(gifFile(huge, lzwData({1, 2}, 4)), r3);
  EXPECT_EQ(r3.result, 1);
  EXPECT_FALSE(r3.image.HasDib());
}

TEST(GifRead, LongestCodeChainDecodes) {
  // Each code names the entry made just before it, so strings grow by one byte a code
  // until the table is full: chains as long as the table, 4093 bytes at the end.
  CodeWriter w;
  int size = 3, next = 6;
  w.put(4, size);
  w.put(1, size);
  long pixels = 1, length = 1;
  while (next < 4096) {
    w.put(next, size);
    ++length;
    pixels += length;
    ++next;
    if (next >= (1 << size) && size < 12) ++size;
  }
  w.put(5, size);
  Bytes data{2};
  Bytes blocks = w.subBlocks();
  data.insert(data.end(), blocks.begin(), blocks.end());
  GifSpec s;
  s.globalEntries = 4;
  s.width = 4096;
  s.height = static_cast<int>((pixels + 4095) / 4096);
  GifRead r;
  readGif(gifFile(s, data), r);
  ASSERT_TRUE(r.image.HasDib());
  const long last = pixels - 1;
  EXPECT_EQ(r.image.GetPixelIndex(static_cast<int>(last % 4096),
                                  s.height - 1 - static_cast<int>(last / 4096)),
            1);
}

TEST(GifRead, SignatureDecides) {
  struct Case {
    const char* what;
    Bytes file;
    int result;
  };
  const Case cases[] = {
      {"not a GIF", Bytes{'P', 'N', 'G', '8', 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0},
      {"empty", Bytes{}, 0},
      {"header only", Bytes{'G', 'I', 'F', '8', '9', 'a'}, 1},
      {"trailer only", Bytes{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, 0x3B}, 1},
      {"truncated table", Bytes{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x87, 0, 0, 1, 2}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    GifRead r;
    readGif(c.file, r);
    EXPECT_EQ(r.result, c.result);
    EXPECT_FALSE(r.image.HasDib());
  }
  CGifImageImpl missing("/nonexistent/x.gif");
  EXPECT_EQ(missing.Read(""), 0);
  EXPECT_EQ(missing.Write(""), 0);
}

}  // namespace
