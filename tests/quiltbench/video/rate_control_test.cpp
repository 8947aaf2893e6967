// The macroblock quantiser of Test Model 5: mquant = Q * N_act from the virtual
// buffer's fullness and the normalised spatial activity, clipped to 1..31 only
// after the modulation and rounded to the nearest quantiser_scale_code.
#include "quiltbench/video/rate_control.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "quiltbench/video/encoder_stages.h"

namespace quiltbench::encoder {
namespace {

enum class Texture { Flat, Checkerboard };

// One 16 x 16 intra macroblock with an ample buffer, so that only the virtual
// buffer and the activity set the quantiser of macroblock 0.
int firstQuantiser(int d0i, double avgAct, Texture texture, bool masking) {
  EncoderParameters params{};
  params.bit_rate = 4000000;
  params.frame_rate = 25;
  params.vbv_buffer_size = 112;
  params.progressive_frame = 1;
  params.r = 3100;  // Q = fullness / 100
  params.d0i = d0i;
  params.avg_act = avgAct;
  Sizes sizes{};
  sizes.mb_width = sizes.mb_height = sizes.mb_height2 = 1;
  sizes.width = sizes.height = 16;
  sizes.block_count = 6;
  Frame source;
  source.plane[0].resize(256);
  for (int i = 0; i < 256; ++i) {
    const bool bright = texture == Texture::Checkerboard && ((i + i / 16) & 1);
    source.plane[0][i] = bright ? 255 : 0;
  }
  std::vector<MacroblockInfo> macroblocks(1);
  macroblocks[0].mb_type = kMbIntra;
  PictureState picture{};

  std::FILE* sink = std::tmpfile();
  resetBitWriter(sink);
  setActivityMasking(masking);
  initRateControlSequence(params);
  initRateControlGroup(0, 0);
  initRateControlPicture(params, picture, sizes, source, macroblocks);
  const int scale = macroblockQuantiser(picture, 0, macroblocks[0]);
  setActivityMasking(true);
  resetBitWriter(nullptr);
  std::fclose(sink);
  return scale;
}

TEST(RateControl, MacroblockQuantiserFollowsTheVirtualBufferAndActivity) {
  // A flat macroblock has activity 1, the checkerboard about 16257: against an
  // average of 400 the first is normalised to about 0.5, against 1 the second
  // to about 2.
  struct Case {
    const char* what;
    int d0i;
    double avgAct;
    Texture texture;
    bool masking;
    int quantiserScale;
  };
  const Case cases[] = {
      {"Q 2.25 rounds to mquant 2, not up", 225, 400, Texture::Flat, false, 4},
      {"Q 2.75 rounds to mquant 3", 275, 400, Texture::Flat, false, 6},
      {"a busy macroblock under Q 1 is clipped after its modulation", 30, 1, Texture::Checkerboard,
       true, 2},
      {"a flat macroblock is quantised finer", 1000, 400, Texture::Flat, true, 10},
      {"a busy macroblock is quantised coarser", 1000, 1, Texture::Checkerboard, true, 40},
      {"masking off leaves Q alone", 1000, 1, Texture::Checkerboard, false, 20},
      {"mquant is clipped to 31", 1000000, 400, Texture::Flat, false, 62},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(firstQuantiser(c.d0i, c.avgAct, c.texture, c.masking), c.quantiserScale);
  }
}

}  // namespace
}  // namespace quiltbench::encoder
