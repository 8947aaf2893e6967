// Where macroblocks and their 8x8 blocks sit in the frame stores, for frame
// pictures (frame or field DCT) and for field pictures.
#pragma once

#include "quiltbench/video/encoder_state.h"

namespace quiltbench::encoder {

// Rows and stride of the current picture within a frame store component.
struct PictureGeometry {
  int lumaOffset;  // first row of the picture (row 1 for a bottom field)
  int lumaStride;  // width, or 2 * width for field pictures
  int chromaOffset;
  int chromaStride;
  int lumaRows;  // rows of the picture
  int chromaRows;
};

inline PictureGeometry pictureGeometry(const Sizes& sizes, const PictureState& picture) {
  const bool field = picture.pict_struct != kFramePicture;
  const int parity = picture.pict_struct == kBottomField ? 1 : 0;
  return {parity * sizes.width,
          field ? 2 * sizes.width : sizes.width,
          parity * sizes.chrom_width,
          field ? 2 * sizes.chrom_width : sizes.chrom_width,
          field ? sizes.height / 2 : sizes.height,
          field ? sizes.chrom_height / 2 : sizes.chrom_height};
}

// Position of one 8x8 block: component, offset of its first sample within the
// component's plane, and the step between its rows.
struct BlockPlace {
  int component;
  int offset;
  int stride;
};

inline BlockPlace blockPlace(const Sizes& sizes, const PictureGeometry& geometry, int chromaFormat,
                             int mbx, int mby, int block, bool fieldDct) {
  if (block < 4) {
    const int x = mbx * 16 + (block & 1) * 8;
    const int half = block >> 1;
    if (fieldDct) {
      return {0, geometry.lumaOffset + (mby * 16 + half) * geometry.lumaStride + x,
              2 * geometry.lumaStride};
    }
    return {0, geometry.lumaOffset + (mby * 16 + half * 8) * geometry.lumaStride + x,
            geometry.lumaStride};
  }
  const int component = (block & 1) ? 2 : 1;
  const int k = (block - 4) >> 1;
  int chromaMbWidth = 16, chromaMbHeight = 16;
  if (chromaFormat != kChroma444) chromaMbWidth = 8;
  if (chromaFormat == kChroma420) chromaMbHeight = 8;
  // 4:4:4 orders its chroma blocks top left, bottom left, top right, bottom right.
  const int column = chromaFormat == kChroma444 ? (k >> 1) * 8 : 0;
  const int half = chromaFormat == kChroma444 ? (k & 1) : k;
  const int x = mbx * chromaMbWidth + column;
  const int top = mby * chromaMbHeight;
  (void)sizes;
  if (fieldDct && chromaFormat != kChroma420) {
    return {component, geometry.chromaOffset + (top + half) * geometry.chromaStride + x,
            2 * geometry.chromaStride};
  }
  return {component, geometry.chromaOffset + (top + half * 8) * geometry.chromaStride + x,
          geometry.chromaStride};
}

// Bit of block `block` in a coded block pattern of `blockCount` blocks.
inline int cbpBit(int block, int blockCount) { return 1 << (blockCount - 1 - block); }

}  // namespace quiltbench::encoder
