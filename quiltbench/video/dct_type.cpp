// Frame or field DCT per macroblock of an interlaced frame picture: field DCT
// when the lines of each field resemble each other more than adjacent lines do.
#include <cstdlib>

#include "quiltbench/video/encoder_stages.h"

namespace quiltbench::encoder {

void chooseDctTypes(const Frame& source, const Frame& prediction, const PictureState& picture,
                    const Sizes& sizes, std::vector<MacroblockInfo>& macroblocks) {
  const bool choose = picture.pict_struct == kFramePicture && !picture.frame_pred_frame_dct;
  const int W = sizes.width;
  for (int mby = 0; mby < sizes.mb_height2; ++mby) {
    for (int mbx = 0; mbx < sizes.mb_width; ++mbx) {
      MacroblockInfo& mb = macroblocks[mby * sizes.mb_width + mbx];
      mb.dct_type = 0;
      if (!choose) continue;
      const bool intra = (mb.mb_type & kMbIntra) != 0;
      int error[16][16];
      for (int y = 0; y < 16; ++y) {
        const int row = (mby * 16 + y) * W + mbx * 16;
        for (int x = 0; x < 16; ++x) {
          error[y][x] = source[0][row + x] - (intra ? 0 : prediction[0][row + x]);
        }
      }
      long frameDifference = 0, fieldDifference = 0;
      for (int y = 0; y < 15; ++y) {
        for (int x = 0; x < 16; ++x) {
          const int d = error[y + 1][x] - error[y][x];
          frameDifference += d * d;
        }
      }
      for (int y = 0; y < 14; ++y) {
        for (int x = 0; x < 16; ++x) {
          const int d = error[y + 2][x] - error[y][x];
          fieldDifference += d * d;
        }
      }
      // Scale to the same number of differences (15 vs 14 row pairs).
      mb.dct_type = fieldDifference * 15 < frameDifference * 14 ? 1 : 0;
    }
  }
}

}  // namespace quiltbench::encoder
