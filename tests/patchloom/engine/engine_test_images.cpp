// Builders of the engine tests' images.
#include "engine_test_images.h"

#include <random>

#include "patchloom/kmeans/kmeans_random.h"

namespace engine_test {

std::unique_ptr<CImage> MakeImage(int width, int height,
                                  const std::function<Rgb(int x, int y)>& colour) {
  auto image = std::make_unique<CImage>();
  EXPECT_EQ(image->Create(width, height, 24, 0), 1);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const Rgb c = colour(x, y);
      image->SetPixelRGB(x, y, c.r, c.g, c.b);
    }
  }
  return image;
}

std::unique_ptr<CImage> MakeNoise(int width, int height, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> byte(0, 255);
  return MakeImage(width, height, [&](int, int) {
    return Rgb{static_cast<std::uint8_t>(byte(random)), static_cast<std::uint8_t>(byte(random)),
               static_cast<std::uint8_t>(byte(random))};
  });
}

std::unique_ptr<CImage> MakeIndexed(int width, int height, const std::vector<Rgb>& palette,
                                    const std::function<int(int x, int y)>& index) {
  auto image = std::make_unique<CImage>();
  EXPECT_EQ(image->Create(width, height, 8, 0), 1);
  std::vector<std::uint8_t> triples;
  for (const Rgb& c : palette) triples.insert(triples.end(), {c.r, c.g, c.b});
  EXPECT_EQ(image->SetPaletteTriples(static_cast<int>(palette.size()), triples.data()), 1);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) image->SetPixelIndex(x, y, index(x, y));
  return image;
}

Rgb PixelOf(const CImage& image, int x, int y) {
  Rgb c;
  image.GetPixelRGB(x, y, &c.r, &c.g, &c.b);
  return c;
}

::testing::AssertionResult SamePixels(const CImage& a, const CImage& b) {
  if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight())
    return ::testing::AssertionFailure() << "sizes " << a.GetWidth() << "x" << a.GetHeight()
                                         << " and " << b.GetWidth() << "x" << b.GetHeight();
  for (int y = 0; y < a.GetHeight(); ++y) {
    for (int x = 0; x < a.GetWidth(); ++x) {
      if (!(PixelOf(a, x, y) == PixelOf(b, x, y)))
        return ::testing::AssertionFailure() << "pixels differ at (" << x << ", " << y << ")";
    }
  }
  return ::testing::AssertionSuccess();
}

EngineTest::EngineTest() : clockGuard_(clock_), uiGuard_(ui_) { KMeansRandomRestart(); }

}  // namespace engine_test
