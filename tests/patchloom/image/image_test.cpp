// The image handle: file types from names, and the format switch on Load and Save.
#include "patchloom/image/image.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <iterator>
#include <vector>

#include "patchloom/image/bmp_image.h"
#include "patchloom/image/gif_image.h"
#include "patchloom/image/jpeg_image.h"
#include "patchloom/image/png_image.h"
#include "platform/global_memory.h"
#include "tests/support/test_support.h"

namespace {

TEST(ImageFileType, FromNames) {
  struct Case {
    const char* name;
    const char* extension;
    int type;
  };
  const Case cases[] = {
      {"a.JPG", "JPG", kImageTypeJpeg},      {"a.jpg", "jpg", kImageTypeJpeg},
      {"a.Jpg", "Jpg", kImageTypeJpeg},      {"a.jpeg", "jpeg", kImageTypeUnknown},
      {"a.b.png", "png", kImageTypePng},     {"C:\\x\\y.bmp", "bmp", kImageTypeBmp},
      {"dir/pic.Gif", "Gif", kImageTypeGif}, {"x.xpm", "xpm", kImageTypeXpm},
      {"name.", "", kImageTypeUnknown},      {"name", "", kImageTypeUnknown},
      {".png", "png", kImageTypePng},        {"a.pn", "pn", kImageTypeUnknown},
      {"a.pngx", "pngx", kImageTypeUnknown}, {"a.A", "A", kImageTypeUnknown},
      {"a.zzz", "zzz", kImageTypeUnknown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(GetFileExtension(c.name), c.extension);
    EXPECT_EQ(ImageTypeFromExtension(GetFileExtension(c.name)), c.type);
  }
}

TEST(Image, StartsEmptyAndCreateMakesABmpImage) {
  CImage image;
  EXPECT_EQ(image.GetType(), kImageTypeUnknown);
  EXPECT_EQ(image.IsValid(), 0);
  EXPECT_EQ(image.GetImpl(), nullptr);
  ASSERT_EQ(image.Create(5, 3, 24, 0), 1);
  EXPECT_EQ(image.GetType(), kImageTypeBmp);
  EXPECT_NE(dynamic_cast<CBmpImageImpl*>(image.GetImpl()), nullptr);
  EXPECT_EQ(image.IsValid(), 1);
  EXPECT_EQ(image.GetWidth(), 5);
  EXPECT_EQ(image.GetHeight(), 3);
  EXPECT_EQ(image.GetBitCount(), 24);
  EXPECT_EQ(image.GetLineBytes(), 16);
  EXPECT_EQ(image.GetFlags(), 0);
  EXPECT_EQ(image.GetImpl()->GetTransparentIndex(), -1);
}

TEST(Image, CreateImplPicksTheFormatClass) {
  CImage image;
  ASSERT_EQ(image.CreateImpl("x.jpg", kImageTypeJpeg), 1);
  auto* jpeg = dynamic_cast<CJpegImageImpl*>(image.GetImpl());
  ASSERT_NE(jpeg, nullptr);
  EXPECT_EQ(jpeg->GetQuality(), 30);
  EXPECT_EQ(jpeg->GetFileName(), "x.jpg");
  EXPECT_EQ(image.IsValid(), 0);
  ASSERT_EQ(image.CreateImpl("x.gif", kImageTypeGif), 1);
  EXPECT_NE(dynamic_cast<CGifImageImpl*>(image.GetImpl()), nullptr);
  ASSERT_EQ(image.CreateImpl("x.png", kImageTypePng), 1);
  EXPECT_NE(dynamic_cast<CPngImageImpl*>(image.GetImpl()), nullptr);
  EXPECT_EQ(image.CreateImpl("x.xpm", kImageTypeXpm), 0);
  EXPECT_EQ(image.GetImpl(), nullptr);
  EXPECT_EQ(image.CreateImpl("x", kImageTypeUnknown), 0);
}

TEST(Image, LoadOfUnknownOrMissingFilesLeavesNoImage) {
  test_support::TempDir dir;
  for (const char* name : {"a.xpm", "a.jpeg", "noext", "missing.bmp", "missing.png"}) {
    SCOPED_TRACE(name);
    CImage image(dir.file(name));
    EXPECT_EQ(image.IsValid(), 0);
    EXPECT_EQ(image.GetFileName(), dir.file(name));
  }
}

TEST(Image, SaveUnderAnotherTypeSwitchesClassAndKeepsPixels) {
  test_support::TempDir dir;
  CImage image;
  ASSERT_TRUE(image.Create(4, 3, 8, -1));
  const std::uint8_t grey[4] = {0, 85, 170, 255};
  ASSERT_TRUE(image.SetPaletteRGB(4, grey, nullptr, nullptr));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) image.SetPixelIndex(x, y, (x + y) % 4);
  ASSERT_EQ(image.Save(dir.file("a.bmp")), 1);

  CImage loaded(dir.file("a.bmp"));
  ASSERT_TRUE(loaded.IsValid());
  CImagePalette* palette = loaded.GetPalette();
  const std::uint8_t* bits = loaded.GetBits();
  const long blocks = platform::GlobalLiveBlockCount();

  // Same type: the implementation stays.
  CImageImpl* bmp = loaded.GetImpl();
  ASSERT_EQ(loaded.Save(dir.file("b.bmp")), 1);
  EXPECT_EQ(loaded.GetImpl(), bmp);

  ASSERT_EQ(loaded.Save(dir.file("a.png")), 1);
  EXPECT_EQ(loaded.GetType(), kImageTypePng);
  EXPECT_NE(dynamic_cast<CPngImageImpl*>(loaded.GetImpl()), nullptr);
  // The PNG class took over the very same DIB and palette; nothing was copied or lost.
  EXPECT_EQ(loaded.GetPalette(), palette);
  EXPECT_EQ(loaded.GetBits(), bits);
  EXPECT_EQ(platform::GlobalLiveBlockCount(), blocks);
  EXPECT_EQ(loaded.GetFlags(), 3);

  CImage png(dir.file("a.png"));
  ASSERT_TRUE(png.IsValid());
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) {
      std::uint8_t r, g, b;
      ASSERT_TRUE(png.GetPixelRGB(x, y, &r, &g, &b));
      EXPECT_EQ(r, grey[(x + y) % 4]);
      EXPECT_EQ(g, r);
      EXPECT_EQ(b, r);
    }
}

TEST(Image, SaveAsGifOrUnknownTypeFails) {
  test_support::TempDir dir;
  CImage image;
  EXPECT_EQ(image.Save(dir.file("none.bmp")), 0);  // no implementation
  ASSERT_TRUE(image.Create(2, 2, 24, 0));
  EXPECT_EQ(image.Save(dir.file("a.gif")), 0);
  EXPECT_NE(dynamic_cast<CGifImageImpl*>(image.GetImpl()), nullptr);  // the switch stays
  EXPECT_TRUE(image.IsValid());
  CImageImpl* gif = image.GetImpl();
  EXPECT_EQ(image.Save(dir.file("a.xpm")), 0);
  EXPECT_EQ(image.GetImpl(), gif);  // the old implementation is back
  EXPECT_TRUE(image.IsValid());
  EXPECT_EQ(image.Save(dir.file("a.bmp")), 1);
}

TEST(Image, ReleasesEveryBlock) {
  test_support::TempDir dir;
  const long before = platform::GlobalLiveBlockCount();
  {
    CImage image;
    image.Create(8, 8, 8, -1);
    image.Create(9, 9, 24, -1);
    image.Save(dir.file("x.bmp"));
    image.Load(dir.file("x.bmp"));
    image.Save(dir.file("x.png"));
    image.Load(dir.file("x.png"));
  }
  EXPECT_EQ(platform::GlobalLiveBlockCount(), before);
}

// Saves under a file-size limit smaller than the image, in a child process so the limit
// stays there: every format must fail, leave the older file byte for byte, and leave no
// temporary beside it.
TEST(Image, FailedSaveLeavesTheOlderFileAsItWas) {
  for (const char* name : {"old.bmp", "old.png", "old.jpg"}) {
    SCOPED_TRACE(name);
    test_support::TempDir dir;
    const std::string path = dir.file(name);
    const std::vector<unsigned char> before(3000, 'x');
    test_support::writeFileBytes(path, before);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      std::signal(SIGXFSZ, SIG_IGN);
      rlimit limit{4096, 4096};
      setrlimit(RLIMIT_FSIZE, &limit);
      CImage image;
      image.Create(256, 256, 24, 0);
      std::uint32_t seed = 7;
      for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
          seed = seed * 1103515245u + 12345u;
          image.SetPixelRGB(x, y, seed >> 24, seed >> 16, seed >> 8);
        }
      const bool failed = image.Save(path) == 0 && !image.GetLastError().empty() &&
                          image.GetLastError().find(path) == 0;
      _exit(failed ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the save did not fail with a reason naming the file";
    EXPECT_EQ(test_support::readFileBytes(path), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator{}),
              1);
  }
}

}  // namespace
