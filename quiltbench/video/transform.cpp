// Forward transform of the prediction error and inverse transform into the
// reconstruction, block by block in the layout of picture_layout.h.
#include "quiltbench/video/dct.h"
#include "quiltbench/video/encoder_stages.h"
#include "quiltbench/video/picture_layout.h"

namespace quiltbench::encoder {
namespace {

// Calls visit(macroblock, place, block) for every block of the picture in coding order.
template <typename Visit>
void forEachBlock(const PictureState& picture, const Sizes& sizes,
                  const std::vector<MacroblockInfo>& macroblocks, std::vector<Block>& blocks,
                  Visit visit) {
  const PictureGeometry geometry = pictureGeometry(sizes, picture);
  const int chromaFormat = sizes.block_count == 6   ? kChroma420
                           : sizes.block_count == 8 ? kChroma422
                                                    : kChroma444;
  for (int mby = 0; mby < sizes.mb_height2; ++mby) {
    for (int mbx = 0; mbx < sizes.mb_width; ++mbx) {
      const int index = mby * sizes.mb_width + mbx;
      const MacroblockInfo& mb = macroblocks[index];
      for (int b = 0; b < sizes.block_count; ++b) {
        const BlockPlace place =
            blockPlace(sizes, geometry, chromaFormat, mbx, mby, b, mb.dct_type != 0);
        visit(mb, b, place, blocks[static_cast<std::size_t>(index) * sizes.block_count + b]);
      }
    }
  }
}

}  // namespace

void transformPicture(const Frame& source, const Frame& prediction, const PictureState& picture,
                      const Sizes& sizes, const std::vector<MacroblockInfo>& macroblocks,
                      std::vector<Block>& blocks) {
  forEachBlock(picture, sizes, macroblocks, blocks,
               [&](const MacroblockInfo& mb, int, const BlockPlace& place, Block& block) {
                 const bool intra = (mb.mb_type & kMbIntra) != 0;
                 const std::uint8_t* src = source[place.component] + place.offset;
                 const std::uint8_t* pred = prediction[place.component] + place.offset;
                 for (int y = 0; y < 8; ++y) {
                   for (int x = 0; x < 8; ++x) {
                     // Intra blocks code the samples themselves.
                     const int p = intra ? 0 : pred[y * place.stride + x];
                     block[y * 8 + x] = static_cast<std::int16_t>(src[y * place.stride + x] - p);
                   }
                 }
                 forwardDct(block);
               });
}

void inverseTransformPicture(const Frame& prediction, const PictureState& picture,
                             const Sizes& sizes, const std::vector<MacroblockInfo>& macroblocks,
                             std::vector<Block>& blocks, Frame& reconstruction) {
  forEachBlock(picture, sizes, macroblocks, blocks,
               [&](const MacroblockInfo& mb, int b, const BlockPlace& place, Block& block) {
                 const bool intra = (mb.mb_type & kMbIntra) != 0;
                 const std::uint8_t* pred = prediction[place.component] + place.offset;
                 std::uint8_t* out = reconstruction[place.component] + place.offset;
                 const bool coded = intra || (mb.cbp & cbpBit(b, sizes.block_count)) != 0;
                 if (!coded) {
                   for (int y = 0; y < 8; ++y) {
                     for (int x = 0; x < 8; ++x)
                       out[y * place.stride + x] = pred[y * place.stride + x];
                   }
                   return;
                 }
                 inverseDct(block);
                 for (int y = 0; y < 8; ++y) {
                   for (int x = 0; x < 8; ++x) {
                     const int p = intra ? 0 : pred[y * place.stride + x];
                     int v = p + block[y * 8 + x];
                     v = v < 0 ? 0 : (v > 255 ? 255 : v);
                     out[y * place.stride + x] = static_cast<std::uint8_t>(v);
                   }
                 }
               });
}

}  // namespace quiltbench::encoder
