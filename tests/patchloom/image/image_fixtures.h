// Test fixtures of the image library: files made by independent encoders, and the
// pixels the independent decoder reads from any file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "patchloom/image/image.h"

namespace image_test {

// Pixels as the independent decoder sees them; row 0 is the top row.
struct RefImage {
  int width = 0, height = 0, channels = 3;
  std::vector<std::uint8_t> pixels;   // width * height * channels
  std::vector<std::uint8_t> indices;  // palette indices, empty for direct colour
  const std::uint8_t* at(int x, int topRow) const {
    return &pixels[(static_cast<std::size_t>(topRow) * width + x) * channels];
  }
};

// True when the fixture tools are there; tests that need them skip otherwise.
bool fixturesAvailable();
// The folder of fixture files, made once per test run.
std::string fixtureDir();
std::string fixture(const std::string& name);
// What the independent decoder reads from `file` (nothing when it cannot read it).
std::optional<RefImage> decodeIndependently(const std::string& file);
// The reference written beside a fixture.
std::optional<RefImage> fixtureRef(const std::string& name);

// Pixels of `image` against `ref`: the number of differing channel values beyond
// `tolerance`, with the first mismatch described in `first`.
struct Comparison {
  long mismatches = 0;
  double meanAbsError = 0;
  std::string first;
};
Comparison compareRgb(const CImage& image, const RefImage& ref, int tolerance = 0);

// libpng's compositing rule over the background (31, 127, 255).
std::uint8_t compositeOver(std::uint8_t colour, std::uint8_t alpha, std::uint8_t background);

}  // namespace image_test
