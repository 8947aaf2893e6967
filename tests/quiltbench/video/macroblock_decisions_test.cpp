// The intra/inter choice of the motion estimation, end to end: a picture that
// continues its reference is predicted, one after a cut to unrelated content of
// the same energy is coded intra (the case a lenient intra threshold misses).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "quiltbench/video/encoder_entry.h"
#include "tests/support/test_support.h"

namespace quiltbench::encoder {
namespace {

constexpr int kWidth = 96, kHeight = 64, kFrames = 4, kCut = 2;
constexpr std::size_t kLuma = static_cast<std::size_t>(kWidth) * kHeight;

// Frames before the cut show one noise texture drifting a sample a frame,
// frames from it on another, drawn independently with the same spread.
void writeClip(const test_support::TempDir& dir) {
  std::vector<std::uint8_t> textures[2];
  for (int k = 0; k < 2; ++k) {
    std::mt19937 rng(7 + k);
    std::uniform_int_distribution<int> value(48, 208);
    textures[k].resize(static_cast<std::size_t>(kWidth + kFrames) * kHeight);
    for (auto& v : textures[k]) v = static_cast<std::uint8_t>(value(rng));
  }
  for (int t = 0; t < kFrames; ++t) {
    std::vector<std::uint8_t> frame(kLuma * 3 / 2, 128);
    const std::vector<std::uint8_t>& texture = textures[t < kCut ? 0 : 1];
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x)
        frame[y * kWidth + x] = texture[y * (kWidth + kFrames) + x + t];
    }
    std::ofstream out(dir.file("f" + std::to_string(t) + ".yuv"), std::ios::binary);
    out.write(reinterpret_cast<const char*>(frame.data()),
              static_cast<std::streamsize>(frame.size()));
  }
}

// I P P P at a rate that codes noise well; statistics written.
std::string parameterFile(const test_support::TempDir& dir) {
  std::ostringstream s;
  s << "cut\n"
    << dir.file("f%d") << "\n-\n-\n-\n"
    << dir.file("stats.txt") << "\n1\n"
    << kFrames << "\n0\n00:00:00:00\n12\n1\n0\n0\n"
    << kWidth << "\n"
    << kHeight << "\n2\n3\n8000000\n112\n0\n0\n4\n8\n1\n1\n2\n5\n5\n5\n"
    << kWidth << "\n"
    << kHeight << "\n0\n0\n1 1 1\n0 0 0\n0 0 0\n0 0 0\n0 0 0\n0\n1\n0\n0\n0\n0\n0\n0\n0\n0\n0\n"
    << "2 2 15 15\n2 2 15 15\n2 2 15 15\n2 2 15 15\n2 2 15 15\n";
  return s.str();
}

// The share of intra macroblocks of each picture in coding order, from the
// statistics file.
std::vector<double> intraShares(const std::string& statistics) {
  std::ifstream in(statistics);
  std::vector<double> shares;
  const std::string key = "# of intra coded macroblocks:";
  for (std::string line; std::getline(in, line);) {
    const std::size_t at = line.find(key);
    if (at == std::string::npos) continue;
    const std::size_t open = line.find('(', at);
    shares.push_back(open == std::string::npos ? -1 : std::stod(line.substr(open + 1)) / 100);
  }
  return shares;
}

TEST(MacroblockDecisions, ACutIsCodedIntraAndAContinuationPredicted) {
  test_support::TempDir dir;
  writeClip(dir);
  {
    std::ofstream par(dir.file("clip.par"));
    par << parameterFile(dir);
  }
  ASSERT_EQ(encode_mpeg2_file(dir.file("clip.par"), dir.file("clip.m2v")), 0);
  const std::vector<double> shares = intraShares(dir.file("stats.txt"));
  ASSERT_EQ(shares.size(), static_cast<std::size_t>(kFrames));
  // Continuing pictures: only the macroblock column where new noise enters (one
  // in six) has nothing to predict from.
  EXPECT_LT(shares[1], 0.2) << "the picture continuing its reference";
  EXPECT_GT(shares[kCut], 0.9) << "the first picture after the cut";
  EXPECT_LT(shares[3], 0.2) << "the picture after that";
}

}  // namespace
}  // namespace quiltbench::encoder
