// The reconstruction of a coded picture in one walk over its macroblocks.
#pragma once

#include <vector>

#include "quiltbench/video/encoder_state.h"

namespace quiltbench::encoder {

// What the inverse quantisation of every block (inverseQuantiseIntra or
// inverseQuantiseNonIntra with the macroblock's mquant) followed by
// inverseTransformPicture gives, block by block while each block is still in
// cache. Blocks that are neither intra nor in their macroblock's cbp must be
// zero (as codePicture leaves them): they take the prediction unchanged.
// blocks are used as scratch.
void reconstructPicture(const Frame& prediction, const PictureState& picture, const Sizes& sizes,
                        const QuantMatrices& matrices, bool mpeg1,
                        const std::vector<MacroblockInfo>& macroblocks, std::vector<Block>& blocks,
                        Frame& reconstruction);

}  // namespace quiltbench::encoder
