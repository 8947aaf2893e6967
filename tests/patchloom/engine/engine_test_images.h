// Small images for the engine's tests, and the fixture that makes runs repeatable and
// quiet: a fixed clock, the k-means source started over, progress lines recorded.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "patchloom/image/image.h"
#include "platform/clock.h"
#include "platform/recording_ui.h"
#include "platform/ui.h"

namespace engine_test {

struct Rgb {
  std::uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

// A 24-bit image whose pixel (x, y) is colour(x, y).
std::unique_ptr<CImage> MakeImage(int width, int height,
                                  const std::function<Rgb(int x, int y)>& colour);

// A 24-bit image of uniformly random colours from a fixed seed.
std::unique_ptr<CImage> MakeNoise(int width, int height, unsigned seed);

// An 8-bit image with `palette` attached and pixel (x, y) = index(x, y).
std::unique_ptr<CImage> MakeIndexed(int width, int height, const std::vector<Rgb>& palette,
                                    const std::function<int(int x, int y)>& index);

Rgb PixelOf(const CImage& image, int x, int y);

// Every pixel of both images equal (and the sizes).
::testing::AssertionResult SamePixels(const CImage& a, const CImage& b);

class EngineTest : public ::testing::Test {
 protected:
  EngineTest();
  platform::FixedClock clock_;
  platform::ScopedClock clockGuard_;
  platform::RecordingUi ui_;
  platform::ScopedUi uiGuard_;
};

}  // namespace engine_test
