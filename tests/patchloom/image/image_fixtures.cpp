#include "image_fixtures.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

#include "tests/support/test_support.h"

namespace image_test {

namespace {

std::string quote(const std::string& s) { return "'" + s + "'"; }

bool run(const std::string& arguments) {
  const std::string command =
      std::string(PATCHLOOM_TEST_PYTHON) + " " + quote(PATCHLOOM_FIXTURES_SCRIPT) + " " + arguments;
  return std::system(command.c_str()) == 0;
}

struct Fixtures {
  test_support::TempDir dir;
  bool made = false;
  Fixtures() {
    made = std::strlen(PATCHLOOM_TEST_PYTHON) > 0 && run("make " + quote(dir.path().string()));
  }
};

Fixtures& fixtures() {
  static Fixtures instance;
  return instance;
}

std::optional<RefImage> readRef(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>()};
  if (bytes.size() < 13 || std::memcmp(bytes.data(), "REF1", 4) != 0) return std::nullopt;
  RefImage ref;
  std::uint32_t w, h;
  std::memcpy(&w, &bytes[4], 4);
  std::memcpy(&h, &bytes[8], 4);
  ref.width = static_cast<int>(w);
  ref.height = static_cast<int>(h);
  ref.channels = bytes[12];
  const std::size_t n = static_cast<std::size_t>(w) * h;
  const std::size_t pixelEnd = 13 + n * ref.channels;
  if (bytes.size() < pixelEnd + 1) return std::nullopt;
  ref.pixels.assign(bytes.begin() + 13, bytes.begin() + static_cast<long>(pixelEnd));
  if (bytes[pixelEnd] == 1) {
    if (bytes.size() < pixelEnd + 1 + n) return std::nullopt;
    ref.indices.assign(bytes.begin() + static_cast<long>(pixelEnd) + 1,
                       bytes.begin() + static_cast<long>(pixelEnd + 1 + n));
  }
  return ref;
}

}  // namespace

bool fixturesAvailable() { return fixtures().made; }
std::string fixtureDir() { return fixtures().dir.path().string(); }
std::string fixture(const std::string& name) { return fixtures().dir.file(name); }

std::optional<RefImage> decodeIndependently(const std::string& file) {
  const std::string out = file + ".decoded.ref";
  if (!run("decode " + quote(file) + " " + quote(out))) return std::nullopt;
  return readRef(out);
}

std::optional<RefImage> fixtureRef(const std::string& name) {
  return readRef(fixture(name) + ".ref");
}

std::uint8_t compositeOver(std::uint8_t colour, std::uint8_t alpha, std::uint8_t background) {
  const unsigned t = unsigned{colour} * alpha + unsigned{background} * (255u - alpha) + 128u;
  return static_cast<std::uint8_t>((t + (t >> 8)) >> 8);
}

Comparison compareRgb(const CImage& image, const RefImage& ref, int tolerance) {
  Comparison c;
  if (!image.IsValid() || image.GetWidth() != ref.width || image.GetHeight() != ref.height) {
    c.mismatches = 1;
    c.first = "size differs";
    return c;
  }
  static const std::uint8_t kBackground[3] = {31, 127, 255};
  double total = 0;
  for (int y = 0; y < ref.height; ++y) {
    for (int x = 0; x < ref.width; ++x) {
      std::uint8_t ours[3] = {0, 0, 0};
      image.GetPixelRGB(x, ref.height - 1 - y, &ours[0], &ours[1], &ours[2]);
      const std::uint8_t* p = ref.at(x, y);
      for (int k = 0; k < 3; ++k) {
        const int want = ref.channels == 4 ? compositeOver(p[k], p[3], kBackground[k]) : p[k];
        const int diff = std::abs(want - ours[k]);
        total += diff;
        if (diff > tolerance && c.mismatches++ == 0)
          c.first = "pixel (" + std::to_string(x) + ", top row " + std::to_string(y) +
                    ") channel " + std::to_string(k) + ": ours " + std::to_string(ours[k]) +
                    ", theirs " + std::to_string(want);
      }
    }
  }
  c.meanAbsError = total / (3.0 * ref.width * ref.height);
  return c;
}

}  // namespace image_test
