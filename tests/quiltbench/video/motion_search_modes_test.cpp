// Both motion search modes end to end: the stream decoded by ffmpeg equals the
// encoder's reconstruction, and the predictive search, which remembers vectors
// from picture to picture, carries nothing from one encode into the next.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "quiltbench/video/encoder_entry.h"
#include "quiltbench/video/motion_search.h"
#include "tests/support/test_support.h"

namespace quiltbench::encoder {
namespace {

constexpr int kWidth = 96, kHeight = 64, kFrames = 13;  // a second group starts at frame 12
constexpr std::size_t kLuma = static_cast<std::size_t>(kWidth) * kHeight;
constexpr std::size_t kFrameBytes = kLuma * 3 / 2;

std::vector<std::uint8_t> readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// A textured picture moving (speedX, speedY) samples a frame, 4:2:0.
void writeClip(const test_support::TempDir& dir, int speedX, int speedY) {
  for (int t = 0; t < kFrames; ++t) {
    std::vector<std::uint8_t> frame(kFrameBytes, 128);
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        const double u = x + speedX * t, v = y + speedY * t;
        frame[y * kWidth + x] = static_cast<std::uint8_t>(
            128 + 60 * std::sin(u * 0.21) * std::cos(v * 0.17) + 40 * std::sin((u + v) * 0.07));
      }
    }
    std::ofstream out(dir.file("f" + std::to_string(t) + ".yuv"), std::ios::binary);
    out.write(reinterpret_cast<const char*>(frame.data()),
              static_cast<std::streamsize>(frame.size()));
  }
}

std::string parameterFile(const test_support::TempDir& dir) {
  std::ostringstream s;
  s << "modes\n"
    << dir.file("f%d") << "\n"
    << dir.file("r%d") << "\n-\n-\n"
    << dir.file("stats.txt") << "\n1\n"
    << kFrames << "\n0\n00:00:00:00\n12\n3\n0\n0\n"
    << kWidth << "\n"
    << kHeight << "\n2\n3\n1500000\n112\n0\n0\n4\n8\n1\n1\n2\n5\n5\n5\n"
    << kWidth << "\n"
    << kHeight << "\n0\n0\n1 1 1\n0 0 0\n0 0 0\n0 0 0\n0 0 0\n0\n1\n0\n0\n0\n0\n0\n0\n0\n0\n0\n"
    << "2 2 15 15\n2 2 15 15\n2 2 15 15\n2 2 15 15\n2 2 15 15\n";
  return s.str();
}

// Encodes the clip in `dir`; returns the stream's bytes.
std::vector<std::uint8_t> encode(const test_support::TempDir& dir, MotionSearchMode mode) {
  {
    std::ofstream par(dir.file("clip.par"));
    par << parameterFile(dir);
  }
  setMotionSearchMode(mode);
  const int status = encode_mpeg2_file(dir.file("clip.par"), dir.file("clip.m2v"));
  setMotionSearchMode(MotionSearchMode::Predictive);
  EXPECT_EQ(status, 0);
  return readAll(dir.file("clip.m2v"));
}

double psnr(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
  double squared = 0;
  for (std::size_t i = 0; i < n; ++i) squared += (a[i] - b[i]) * (a[i] - b[i]);
  return squared == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * n / squared);
}

TEST(MotionSearchModes, DecoderReproducesTheReconstructionInEitherMode) {
  struct Case {
    const char* name;
    MotionSearchMode mode;
  };
  for (const Case& c :
       {Case{"predictive", MotionSearchMode::Predictive}, Case{"full", MotionSearchMode::Full}}) {
    SCOPED_TRACE(c.name);
    test_support::TempDir dir;
    writeClip(dir, 5, -2);
    encode(dir, c.mode);
    const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -threads 1 -i '" +
                                dir.file("clip.m2v") + "' -f rawvideo -pix_fmt yuv420p -y '" +
                                dir.file("decoded.yuv") + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::vector<std::uint8_t> decoded = readAll(dir.file("decoded.yuv"));
    ASSERT_EQ(decoded.size(), kFrameBytes * kFrames);
    for (int t = 0; t < kFrames; ++t) {
      SCOPED_TRACE("frame " + std::to_string(t));
      const std::vector<std::uint8_t> luma = readAll(dir.file("r" + std::to_string(t) + ".Y"));
      const std::vector<std::uint8_t> source = readAll(dir.file("f" + std::to_string(t) + ".yuv"));
      ASSERT_EQ(luma.size(), kLuma);
      EXPECT_GT(psnr(luma.data(), &decoded[kFrameBytes * t], kLuma), 45) << "decoder";
      // The motion is found: a plain pan codes well at this rate.
      EXPECT_GT(psnr(luma.data(), source.data(), kLuma), 35) << "source";
    }
  }
}

TEST(MotionSearchModes, AnEncodeDoesNotDependOnTheOneBefore) {
  test_support::TempDir first, other;
  writeClip(first, 3, 1);
  writeClip(other, -6, 4);
  const std::vector<std::uint8_t> alone = encode(first, MotionSearchMode::Predictive);
  encode(other, MotionSearchMode::Predictive);
  EXPECT_EQ(encode(first, MotionSearchMode::Predictive), alone);
}

}  // namespace
}  // namespace quiltbench::encoder
