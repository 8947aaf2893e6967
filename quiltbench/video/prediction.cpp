// Prediction stage: builds the prediction of every non-intra macroblock from
// its motion vectors, luma and chroma, frame or field based.
#include "quiltbench/video/prediction.h"

#include "quiltbench/video/coding_kernels.h"
#include "quiltbench/video/encoder_stages.h"

namespace quiltbench::encoder {

void predictBlock(const std::uint8_t* ref, int refStride, int x, int y, int dx, int dy, int w,
                  int h, std::uint8_t* dst, int dstStride, bool average) {
  static const auto kernel = activeKernels().predictBlock;
  kernel(ref, refStride, x, y, dx, dy, w, h, dst, dstStride, average);
}

const Frame& referenceFrame(const FrameStores& stores, const Frame& reconstruction,
                            const PictureState& picture, int s, int fieldSelect) {
  if (s == 1) return stores.newReference;
  if (picture.pict_struct != kFramePicture && picture.second_field &&
      picture.pict_type == kPictureP) {
    const int parity = picture.pict_struct == kBottomField ? 1 : 0;
    if (fieldSelect != parity) return reconstruction;
  }
  return stores.oldReference;
}

void dualPrimeVectors(const int mv[2], const int dmv[2], bool framePicture, bool topFieldFirst,
                      int parity, int out[2][2]) {
  // Scaled by the ratio of the field distances (m / 2), rounded away from
  // zero, then moved by half a field line between parities (e).
  auto scaled = [](int v, int m) { return (v * m + (v > 0 ? 1 : 0)) >> 1; };
  if (framePicture) {
    const int mTop = topFieldFirst ? 1 : 3;
    const int mBottom = 4 - mTop;
    out[0][0] = scaled(mv[0], mTop) + dmv[0];
    out[0][1] = scaled(mv[1], mTop) + dmv[1] - 1;
    out[1][0] = scaled(mv[0], mBottom) + dmv[0];
    out[1][1] = scaled(mv[1], mBottom) + dmv[1] + 1;
    return;
  }
  out[0][0] = scaled(mv[0], 1) + dmv[0];
  out[0][1] = scaled(mv[1], 1) + dmv[1] + (parity == 0 ? -1 : 1);
}

namespace {

struct ChromaShape {
  int shiftX;  // 1 when chroma is horizontally subsampled
  int shiftY;  // 1 when chroma is vertically subsampled
};

ChromaShape chromaShape(const Sizes& sizes) {
  return {sizes.chrom_width < sizes.width ? 1 : 0, sizes.chrom_height < sizes.height ? 1 : 0};
}

// Chroma vectors are the luma ones halved with truncation toward zero.
inline int chromaVector(int v, int shift) { return shift ? v / 2 : v; }

void predictDirection(const FrameStores& stores, const Frame& reconstruction,
                      const PictureState& picture, const Sizes& sizes, const MacroblockInfo& mb,
                      int mbx, int mby, int s, bool average, Frame& prediction) {
  const ChromaShape cs = chromaShape(sizes);
  const int cw = 16 >> cs.shiftX;
  const int ch = 16 >> cs.shiftY;
  const int W = sizes.width;
  const int CW = sizes.chrom_width;

  if (picture.pict_struct == kFramePicture) {
    if (mb.motion_type == kMotionFrame) {
      const Frame& ref = referenceFrame(stores, reconstruction, picture, s, 0);
      const int* v = mb.MV[0][s];
      predictBlock(ref[0], W, mbx * 16, mby * 16, v[0], v[1], 16, 16,
                   prediction[0] + mby * 16 * W + mbx * 16, W, average);
      for (int c = 1; c < 3; ++c) {
        predictBlock(ref[c], CW, mbx * cw, mby * ch, chromaVector(v[0], cs.shiftX),
                     chromaVector(v[1], cs.shiftY), cw, ch,
                     prediction[c] + mby * ch * CW + mbx * cw, CW, average);
      }
      return;
    }
    if (mb.motion_type == kMotionDualPrime) {
      // Each field of the macroblock: the mean of the same-parity prediction
      // and the opposite-parity one with the derived vector.
      int derived[2][2];
      dualPrimeVectors(mb.MV[0][0], mb.dmvector, true, picture.top_field_first != 0, 0, derived);
      const Frame& ref = stores.oldReference;
      for (int r = 0; r < 2; ++r) {
        for (int pass = 0; pass < 2; ++pass) {
          const int sel = pass == 0 ? r : 1 - r;
          const int* v = pass == 0 ? mb.MV[0][0] : derived[r];
          predictBlock(ref[0] + sel * W, 2 * W, mbx * 16, mby * 8, v[0], v[1], 16, 8,
                       prediction[0] + (mby * 16 + r) * W + mbx * 16, 2 * W, pass == 1);
          for (int c = 1; c < 3; ++c) {
            predictBlock(ref[c] + sel * CW, 2 * CW, mbx * cw, mby * ch / 2,
                         chromaVector(v[0], cs.shiftX), chromaVector(v[1], cs.shiftY), cw, ch / 2,
                         prediction[c] + (mby * ch + r) * CW + mbx * cw, 2 * CW, pass == 1);
          }
        }
      }
      return;
    }
    // Field prediction within a frame picture: each field of the macroblock
    // from its own reference field.
    for (int r = 0; r < 2; ++r) {
      const int sel = mb.mv_field_sel[r][s];
      const Frame& ref = referenceFrame(stores, reconstruction, picture, s, sel);
      const int* v = mb.MV[r][s];
      predictBlock(ref[0] + sel * W, 2 * W, mbx * 16, mby * 8, v[0], v[1], 16, 8,
                   prediction[0] + (mby * 16 + r) * W + mbx * 16, 2 * W, average);
      for (int c = 1; c < 3; ++c) {
        predictBlock(ref[c] + sel * CW, 2 * CW, mbx * cw, mby * ch / 2,
                     chromaVector(v[0], cs.shiftX), chromaVector(v[1], cs.shiftY), cw, ch / 2,
                     prediction[c] + (mby * ch + r) * CW + mbx * cw, 2 * CW, average);
      }
    }
    return;
  }

  const int parity = picture.pict_struct == kBottomField ? 1 : 0;
  if (mb.motion_type == kMotionDualPrime) {
    int derived[2][2];
    dualPrimeVectors(mb.MV[0][0], mb.dmvector, false, false, parity, derived);
    for (int pass = 0; pass < 2; ++pass) {
      const int sel = pass == 0 ? parity : 1 - parity;
      const Frame& ref = referenceFrame(stores, reconstruction, picture, 0, sel);
      const int* v = pass == 0 ? mb.MV[0][0] : derived[0];
      predictBlock(ref[0] + sel * W, 2 * W, mbx * 16, mby * 16, v[0], v[1], 16, 16,
                   prediction[0] + parity * W + mby * 16 * 2 * W + mbx * 16, 2 * W, pass == 1);
      for (int c = 1; c < 3; ++c) {
        predictBlock(ref[c] + sel * CW, 2 * CW, mbx * cw, mby * ch, chromaVector(v[0], cs.shiftX),
                     chromaVector(v[1], cs.shiftY), cw, ch,
                     prediction[c] + parity * CW + mby * ch * 2 * CW + mbx * cw, 2 * CW, pass == 1);
      }
    }
    return;
  }
  // Field picture, field prediction.
  const int sel = mb.mv_field_sel[0][s];
  const Frame& ref = referenceFrame(stores, reconstruction, picture, s, sel);
  const int* v = mb.MV[0][s];
  predictBlock(ref[0] + sel * W, 2 * W, mbx * 16, mby * 16, v[0], v[1], 16, 16,
               prediction[0] + parity * W + mby * 16 * 2 * W + mbx * 16, 2 * W, average);
  for (int c = 1; c < 3; ++c) {
    predictBlock(ref[c] + sel * CW, 2 * CW, mbx * cw, mby * ch, chromaVector(v[0], cs.shiftX),
                 chromaVector(v[1], cs.shiftY), cw, ch,
                 prediction[c] + parity * CW + mby * ch * 2 * CW + mbx * cw, 2 * CW, average);
  }
}

}  // namespace

void predictPicture(const FrameStores& stores, const Frame& reconstruction,
                    const PictureState& picture, const Sizes& sizes,
                    const std::vector<MacroblockInfo>& macroblocks, Frame& prediction) {
  for (int mby = 0; mby < sizes.mb_height2; ++mby) {
    for (int mbx = 0; mbx < sizes.mb_width; ++mbx) {
      const MacroblockInfo& mb = macroblocks[mby * sizes.mb_width + mbx];
      if (mb.mb_type & kMbIntra) continue;
      bool average = false;
      if (mb.mb_type & kMbForward) {
        predictDirection(stores, reconstruction, picture, sizes, mb, mbx, mby, 0, false,
                         prediction);
        average = true;
      }
      if (mb.mb_type & kMbBackward) {
        predictDirection(stores, reconstruction, picture, sizes, mb, mbx, mby, 1, average,
                         prediction);
      }
      if (!(mb.mb_type & (kMbForward | kMbBackward))) {
        // P macroblock without a coded vector: zero-vector prediction.
        MacroblockInfo zero = mb;
        zero.motion_type = picture.pict_struct == kFramePicture ? kMotionFrame : kMotionField;
        zero.MV[0][0][0] = zero.MV[0][0][1] = 0;
        zero.mv_field_sel[0][0] = picture.pict_struct == kBottomField ? 1 : 0;
        predictDirection(stores, reconstruction, picture, sizes, zero, mbx, mby, 0, false,
                         prediction);
      }
    }
  }
}

}  // namespace quiltbench::encoder
