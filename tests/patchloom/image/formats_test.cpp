// Every format against an independent party: files made by Pillow and ImageMagick read
// here as Pillow reads them, and files written here read by Pillow as we hold them.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "image_fixtures.h"
#include "patchloom/image/image.h"
#include "tests/support/test_support.h"

namespace {

using image_test::compareRgb;
using image_test::decodeIndependently;
using image_test::fixture;
using image_test::fixtureRef;

#define REQUIRE_FIXTURES() \
  if (!image_test::fixturesAvailable()) GTEST_SKIP() << "no python3 with PIL, or ImageMagick"

TEST(Formats, ReadsWhatTheIndependentDecoderReads) {
  REQUIRE_FIXTURES();
  struct Case {
    const char* name;
    int bitCount;
    bool palette;
    int tolerance;  // per channel; JPEG colour files are quantised
    double maxMeanError;
  };
  const Case cases[] = {
      {"plain.gif", 8, true, 0, 0},          {"interlaced.gif", 8, true, 0, 0},
      {"large.gif", 8, true, 0, 0},          {"local.gif", 8, true, 0, 0},
      {"rgb.png", 24, false, 0, 0},          {"rgba.png", 24, false, 0, 0},
      {"rgb16.png", 24, false, 0, 0},        {"interlaced.png", 24, false, 0, 0},
      {"palette.png", 8, true, 0, 0},        {"palette4.png", 4, true, 0, 0},
      {"palette_trns.png", 8, true, 0, 0},   {"grey.png", 8, true, 0, 0},
      {"grey_alpha.png", 24, false, 0, 0},   {"grey2.png", 8, true, 0, 0},
      {"grey.jpg", 8, true, 1, 0.1},         {"colour.jpg", 8, true, 255, 8.0},
      {"rgb24.bmp", 24, false, 0, 0},        {"palette8.bmp", 8, true, 0, 0},
      {"palette4.bmp", 4, true, 0, 0},       {"core8.bmp", 8, true, 0, 0},
      {"core1.bmp", 1, true, 0, 0},          {"bare.bmp", 8, true, 0, 0},
      {"topdown.bmp", 24, false, 0, 0},      {"rle8.bmp", 8, true, 0, 0},
      {"rle4.bmp", 4, true, 0, 0},           {"fields32_rgb.bmp", 32, false, 0, 0},
      {"fields16_444.bmp", 16, false, 0, 0}, {"fields32_v5.bmp", 32, false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CImage image(fixture(c.name));
    ASSERT_TRUE(image.IsValid());
    auto ref = fixtureRef(c.name);
    ASSERT_TRUE(ref);
    EXPECT_EQ(image.GetBitCount(), c.bitCount);
    EXPECT_EQ(image.GetPalette() != nullptr, c.palette);
    const auto result = compareRgb(image, *ref, c.tolerance);
    EXPECT_EQ(result.mismatches, 0) << result.first;
    EXPECT_LE(result.meanAbsError, c.maxMeanError);
    if (c.palette && !ref->indices.empty() &&
        std::string(c.name).find(".gif") != std::string::npos) {
      for (int y = 0; y < ref->height; ++y)
        for (int x = 0; x < ref->width; ++x)
          ASSERT_EQ(image.GetPixelIndex(x, ref->height - 1 - y), ref->indices[y * ref->width + x])
              << x << ", " << y;
    }
  }
}

TEST(Formats, ColourJpegIsQuantisedTo128Colours) {
  REQUIRE_FIXTURES();
  CImage image(fixture("colour.jpg"));
  ASSERT_TRUE(image.IsValid());
  EXPECT_LE(image.GetPalette()->GetEntryCount(), 128);
  EXPECT_GE(image.GetPalette()->GetEntryCount(), 16);
  CImage grey(fixture("grey.jpg"));
  ASSERT_TRUE(grey.IsValid());
  EXPECT_EQ(grey.GetPalette()->GetEntryCount(), 256);
}

TEST(Formats, TransparentGifKeepsIndicesAndBlacksOutTheTransparentEntry) {
  REQUIRE_FIXTURES();
  CImage image(fixture("transparent.gif"));
  ASSERT_TRUE(image.IsValid());
  auto ref = fixtureRef("transparent.gif");
  ASSERT_TRUE(ref);
  ASSERT_EQ(image.GetImpl()->GetTransparentIndex(), 3);
  ASSERT_EQ(image.GetPalette()->GetEntryCount(), 256);
  int transparent = 0;
  for (int y = 0; y < ref->height; ++y)
    for (int x = 0; x < ref->width; ++x) {
      const int index = ref->indices[y * ref->width + x];
      ASSERT_EQ(image.GetPixelIndex(x, ref->height - 1 - y), index);
      std::uint8_t r, g, b;
      image.GetPixelRGB(x, ref->height - 1 - y, &r, &g, &b);
      const std::uint8_t* p = ref->at(x, y);
      if (index == 3) {
        ++transparent;
        EXPECT_EQ(p[3], 0);
        EXPECT_EQ(r | g | b, 0);
      } else {
        EXPECT_EQ((std::vector<int>{r, g, b}), (std::vector<int>{p[0], p[1], p[2]}));
      }
    }
  EXPECT_GT(transparent, 0);
}

// Our written files read back by the independent decoder.
TEST(Formats, WrittenFilesReadBackIndependently) {
  REQUIRE_FIXTURES();
  test_support::TempDir dir;
  const char* sources[] = {"rgb.png",  "palette.png", "palette4.png", "core1.bmp",
                           "grey.png", "grey2.png",   "large.gif",    "rgba.png"};
  for (const char* source : sources) {
    for (const char* extension : {"bmp", "png"}) {
      SCOPED_TRACE(std::string(source) + " as " + extension);
      CImage image(fixture(source));
      ASSERT_TRUE(image.IsValid());
      const std::string out = dir.file(std::string(source) + "." + extension);
      ASSERT_EQ(image.Save(out), 1);
      auto theirs = decodeIndependently(out);
      ASSERT_TRUE(theirs);
      const auto result = compareRgb(image, *theirs);
      EXPECT_EQ(result.mismatches, 0) << result.first;
      CImage again(out);
      const auto ours = compareRgb(again, *theirs);
      EXPECT_EQ(ours.mismatches, 0) << ours.first;
      EXPECT_EQ(again.GetBitCount(), image.GetBitCount());
    }
  }
}

TEST(Formats, EngineResultsSaveInEveryWritableFormat) {
  REQUIRE_FIXTURES();
  test_support::TempDir dir;
  // What the engine makes: 24 bits with flags 0. A smooth picture, so that quality 30
  // keeps it close.
  CImage image;
  ASSERT_TRUE(image.Create(67, 45, 24, 0));
  for (int y = 0; y < 45; ++y)
    for (int x = 0; x < 67; ++x)
      image.SetPixelRGB(x, y, static_cast<std::uint8_t>(x * 3), static_cast<std::uint8_t>(y * 5),
                        static_cast<std::uint8_t>(200 - x - y));
  struct Case {
    const char* name;
    int tolerance;
    double maxMeanError;
  };
  for (const Case& c : {Case{"r.bmp", 0, 0}, Case{"r.png", 0, 0}, Case{"r.jpg", 40, 3.0}}) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(image.Save(dir.file(c.name)), 1);
    auto theirs = decodeIndependently(dir.file(c.name));
    ASSERT_TRUE(theirs);
    ASSERT_EQ(theirs->channels, 3);
    const auto result = compareRgb(image, *theirs, c.tolerance);
    EXPECT_EQ(result.mismatches, 0) << result.first;
    EXPECT_LE(result.meanAbsError, c.maxMeanError);
    // Red stays red: the byte order is right at the file boundary.
    const std::uint8_t* topRight = theirs->at(66, 0);
    EXPECT_GT(topRight[0], 150);
    EXPECT_LT(topRight[2], 150);
  }
  // Palette images go out as JPEG through their colours.
  CImage gif(fixture("large.gif"));
  ASSERT_EQ(gif.Save(dir.file("g.jpg")), 1);
  auto theirs = decodeIndependently(dir.file("g.jpg"));
  ASSERT_TRUE(theirs);
  EXPECT_EQ(theirs->width, gif.GetWidth());
}

TEST(Formats, DamagedPngAndJpegFilesFailCleanly) {
  REQUIRE_FIXTURES();
  test_support::TempDir dir;
  struct Case {
    const char* source;
    double keep;  // fraction of the file kept
    bool mustFail;
  };
  const Case cases[] = {
      {"rgb.png", 0.5, true},     {"rgb.png", 0.02, true},    {"interlaced.png", 0.7, true},
      {"palette.png", 0.9, true}, {"colour.jpg", 0.01, true}, {"colour.jpg", 0.5, false},
      {"grey.jpg", 0.3, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.source) + " cut to " + std::to_string(c.keep));
    auto bytes = test_support::readFileBytes(fixture(c.source));
    bytes.resize(static_cast<std::size_t>(static_cast<double>(bytes.size()) * c.keep));
    const std::string ext = std::filesystem::path(c.source).extension().string();
    const std::string path = dir.file("cut" + ext);
    test_support::writeFileBytes(path, bytes);
    CImage image(path);
    if (c.mustFail) {
      EXPECT_FALSE(image.IsValid());
    } else if (image.IsValid()) {
      // A truncated JPEG reads with the missing part filled in.
      EXPECT_GT(image.GetWidth(), 0);
    }
  }
  for (const char* name : {"garbage.png", "garbage.jpg"}) {
    SCOPED_TRACE(name);
    test_support::writeFileBytes(dir.file(name), std::vector<unsigned char>(300, 0x5A));
    CImage image(dir.file(name));
    EXPECT_FALSE(image.IsValid());
  }
}

}  // namespace

namespace {

TEST(Formats, LibraryErrorsWhileWritingComeBackAsFailure) {
  test_support::TempDir dir;
  // Wider than JPEG allows: the library fails inside the write, and the save says so.
  CImage wide;
  ASSERT_TRUE(wide.Create(65535, 1, 24, 0));
  EXPECT_EQ(wide.Save(dir.file("wide.jpg")), 0);
  EXPECT_EQ(wide.Save(dir.file("missing/folder/x.jpg")), 0);
  EXPECT_EQ(wide.Save(dir.file("missing/folder/x.png")), 0);
  EXPECT_TRUE(wide.IsValid());
  EXPECT_EQ(wide.Save(dir.file("wide.png")), 1);
}

}  // namespace
