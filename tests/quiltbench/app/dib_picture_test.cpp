// DIB handles as RGB pictures for the main window's view: row order, padding, palettes,
// refused handles, and two pictures side by side.
#include "quiltbench/app/dib_picture.h"

#include <gtest/gtest.h>

#include "quiltbench/engine/dib.h"
#include "tests/quiltbench/app/app_test_support.h"

namespace {

struct Loaded {
  CDib reader;
  platform::HGLOBAL dib = nullptr;
  ~Loaded() { platform::GlobalFree(dib); }
};

TEST(DibPictureTest, RowsComeTopDownWithoutPadding) {
  struct Case {
    int bits;
  } cases[] = {{24}, {8}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bits);
    test_support::TempDir dir;
    const int w = 37, h = 33;  // rows of 111 or 37 bytes, padded to 112 and 40
    app_test::writeSampleBmp(dir.file("s.bmp"), w, h, c.bits);
    const std::vector<unsigned char> file = test_support::readFileBytes(dir.file("s.bmp"));
    Loaded loaded;
    loaded.dib = loaded.reader.Load(dir.file("s.bmp"));
    ASSERT_NE(loaded.dib, nullptr);
    const std::optional<RgbPicture> picture = dibToRgb(loaded.dib);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width, w);
    EXPECT_EQ(picture->height, h);
    ASSERT_EQ(picture->rgb.size(), std::size_t(w) * h * 3);
    const std::size_t stride = (std::size_t(w) * c.bits + 31) / 32 * 4;
    const std::size_t pixels = file.size() - stride * h;
    for (int y : {0, h - 1})
      for (int x : {0, 5, w - 1}) {
        // The file's last row is the picture's top row.
        const unsigned char* stored = file.data() + pixels + (h - 1 - y) * stride;
        const unsigned char* bgr = c.bits == 24 ? stored + x * 3 : file.data() + 54 + stored[x] * 4;
        const std::uint8_t* rgb = picture->rgb.data() + (std::size_t(y) * w + x) * 3;
        EXPECT_EQ(rgb[0], bgr[2]);
        EXPECT_EQ(rgb[1], bgr[1]);
        EXPECT_EQ(rgb[2], bgr[0]);
      }
  }
}

TEST(DibPictureTest, RefusesWhatItCannotShow) {
  test_support::TempDir dir;
  app_test::writeSampleBmp(dir.file("four.bmp"), 40, 40, 4);
  Loaded loaded;
  loaded.dib = loaded.reader.Load(dir.file("four.bmp"));
  ASSERT_NE(loaded.dib, nullptr);
  EXPECT_FALSE(dibToRgb(loaded.dib));
  EXPECT_FALSE(dibToRgb(nullptr));
  // A header that promises more rows than the block holds.
  platform::HGLOBAL shortBlock = platform::GlobalAlloc(platform::GHND, 60);
  {
    platform::GlobalLockGuard lock(shortBlock);
    platform::BitmapInfoHeader info{};
    info.size = 40;
    info.width = 100;
    info.height = 100;
    info.planes = 1;
    info.bitCount = 24;
    std::memcpy(lock.data(), &info, 40);
  }
  EXPECT_FALSE(dibToRgb(shortBlock));
  platform::GlobalFree(shortBlock);
}

TEST(DibPictureTest, SideBySideKeepsBothOnOneBackground) {
  RgbPicture left{2, 3, std::vector<std::uint8_t>(2 * 3 * 3, 10)};
  RgbPicture right{4, 1, std::vector<std::uint8_t>(4 * 1 * 3, 200)};
  const RgbPicture both = sideBySide(left, right, 1);
  EXPECT_EQ(both.width, 7);
  EXPECT_EQ(both.height, 3);
  const auto at = [&](int x, int y) { return both.rgb[(std::size_t(y) * both.width + x) * 3]; };
  EXPECT_EQ(at(1, 2), 10);
  EXPECT_EQ(at(2, 0), 0x80);  // the gap
  EXPECT_EQ(at(3, 0), 200);
  EXPECT_EQ(at(6, 0), 200);
  EXPECT_EQ(at(3, 1), 0x80);  // below the shorter picture
}

}  // namespace
