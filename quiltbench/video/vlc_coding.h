// Writing the variable-length coded elements of slices and macroblocks.
#pragma once

#include <array>
#include <cstdint>

namespace quiltbench::encoder {

// macroblock_address_increment, with escapes for increments above 33.
void putAddressIncrement(int increment);
// macroblock_type for picture type 1, 2 or 3 and the kMb* flags.
void putMacroblockType(int pictureType, int flags);
// coded_block_pattern for `blockCount` blocks (block 0 in the top bit):
// the 4:2:0 code for the first six, then 2 or 6 plain bits for 4:2:2 / 4:4:4.
void putCodedBlockPattern(int cbp, int blockCount);
// One motion vector component: `vector` predicted by `prediction`, both in the
// units the syntax codes, wrapped into the range of fCode.
void putMotionComponent(int vector, int prediction, int fCode);
// dmvector -1, 0 or 1.
void putDualPrimeVector(int value);

// Coefficient coding context of one picture.
struct BlockCoding {
  const std::uint8_t* scan;  // scan position -> raster index
  bool intraTableOne;        // intra blocks use DCT coefficient table one
  bool mpeg1;                // MPEG-1 escapes
};

// An intra block of quantised levels (raster order): the DC difference from
// `dcPredictor` (updated), then the AC levels and end of block. component 0 is
// luma, 1 and 2 chroma.
void putIntraBlock(const std::array<std::int16_t, 64>& levels, int component, int& dcPredictor,
                   const BlockCoding& coding);
// A non-intra block with at least one non-zero level.
void putNonIntraBlock(const std::array<std::int16_t, 64>& levels, const BlockCoding& coding);

}  // namespace quiltbench::encoder
