// The cluster trees and a synthesis result stay exactly what they were when the digests
// below were taken: any change to the clustering's arithmetic or its random draws shows.
#include "patchloom/engine/cluster_tree_digest.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>

#include "engine_test_images.h"
#include "patchloom/engine/patch_optimizer.h"

namespace {

using engine_test::EngineTest;
using engine_test::MakeImage;
using engine_test::MakeNoise;
using engine_test::Rgb;
using patchloom_detail::ClusterTreeDigest;
using patchloom_detail::ImageDigest;

// Stripes, soft blobs and a little grain: clusters of uneven sizes at every level.
std::unique_ptr<CImage> MakeTexture(int width, int height) {
  return MakeImage(width, height, [](int x, int y) {
    const double t = 0.5 + 0.5 * std::sin(0.31 * x + 0.17 * y + 2.0 * std::sin(0.05 * y));
    const double u = 0.5 + 0.5 * std::cos(0.11 * x - 0.23 * y);
    const int grain = ((x * 7919 + y * 104729) >> 3) % 9;
    return Rgb{static_cast<std::uint8_t>(40 + 170 * t + grain),
               static_cast<std::uint8_t>(60 + 120 * u * t + grain),
               static_cast<std::uint8_t>(150 - 100 * u + grain)};
  });
}

using ClusterTreeDigestTest = EngineTest;

TEST_F(ClusterTreeDigestTest, TreesAreTheOnesRecorded) {
  const auto texture = MakeTexture(96, 96);
  const auto noise = MakeNoise(64, 64, 7);
  const auto flat = MakeImage(48, 48, [](int x, int) {
    return x < 24 ? Rgb{10, 20, 30} : Rgb{10, 20, 31};
  });
  struct Case {
    const char* name;
    CImage* exemplar;
    int n;
    std::uint64_t digest;
  } cases[] = {
      {"texture 32", texture.get(), 32, 0x13489f1629f59256ULL},
      {"texture 16", texture.get(), 16, 0xfd0fcad900682807ULL},
      {"texture 8", texture.get(), 8, 0x0239c9d2fd593107ULL},
      {"noise 16", noise.get(), 16, 0x8a6b83d322a4282fULL},
      {"noise 8", noise.get(), 8, 0x8ee7a33794e134dcULL},
      {"two flat halves 8", flat.get(), 8, 0x3632f27bc19e2215ULL},
  };
  // One source for all cases in this order, as a synthesis builds its trees one after another.
  CPatchOptimizer optimizer;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto root = optimizer.BuildClusterTree(c.exemplar, c.n);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(ClusterTreeDigest(root.get()), c.digest);
  }
}

TEST_F(ClusterTreeDigestTest, SynthesisIsTheOneRecorded) {
  const auto texture = MakeTexture(64, 64);
  CPatchOptimizer optimizer;
  const std::unique_ptr<CImage> result(optimizer.Synthesize(texture.get(), 2.0, 2.0, 2, 0, 32));
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(ImageDigest(*result), 0x08e156e6274c6eecULL);
}

}  // namespace
