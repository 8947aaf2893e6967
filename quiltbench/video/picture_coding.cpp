// Picture coding: the picture header, then one slice per macroblock row with
// every macroblock quantised and coded, skipping those the syntax lets a
// decoder infer.
#include <cstring>

#include "quiltbench/video/bit_writer.h"
#include "quiltbench/video/encoder_stages.h"
#include "quiltbench/video/picture_layout.h"
#include "quiltbench/video/quantisation.h"
#include "quiltbench/video/vlc_coding.h"
#include "quiltbench/video/vlc_tables.h"

namespace quiltbench::encoder {
namespace {

struct SliceState {
  int dcPredictor[3];
  int PMV[2][2][2];  // [r][s][t], vertical in frame units for field vectors of frame pictures
  int previousCode;  // quantiser_scale_code in force
  int lastAddress;   // address of the last coded macroblock, -1 + slice start before any
  const MacroblockInfo* previous;  // last coded (not skipped) macroblock of the slice
};

void resetDcPredictors(SliceState& slice, int intraDcPrecision) {
  for (int& p : slice.dcPredictor) p = 128 << intraDcPrecision;
}

void resetMotionPredictors(SliceState& slice) { std::memset(slice.PMV, 0, sizeof slice.PMV); }

// A decoder predicts a skipped B macroblock from the previous macroblock's
// directions and motion vectors, but always with frame prediction in a frame
// picture and from the same-parity reference fields in a field picture. Both
// macroblocks must use that very prediction: only then does the inferred
// prediction reproduce the coded one, whichever of the two (the previous
// macroblock's record or the rule) a decoder follows for the field selects.
bool usesSkippedBPrediction(const MacroblockInfo& mb, const PictureState& picture) {
  if (picture.pict_struct == kFramePicture) return mb.motion_type == kMotionFrame;
  if (mb.motion_type != kMotionField) return false;
  const int parity = picture.pict_struct == kBottomField ? 1 : 0;
  for (int s = 0; s < 2; ++s) {
    const int flag = s == 0 ? kMbForward : kMbBackward;
    if ((mb.mb_type & flag) && mb.mv_field_sel[0][s] != parity) return false;
  }
  return true;
}

bool repeatsSkippedBPrediction(const MacroblockInfo& mb, const MacroblockInfo& previous,
                               const PictureState& picture) {
  const int directions = kMbForward | kMbBackward;
  if ((mb.mb_type & directions) != (previous.mb_type & directions)) return false;
  if (!usesSkippedBPrediction(mb, picture) || !usesSkippedBPrediction(previous, picture)) {
    return false;
  }
  for (int s = 0; s < 2; ++s) {
    const int flag = s == 0 ? kMbForward : kMbBackward;
    if (!(mb.mb_type & flag)) continue;
    if (mb.MV[0][s][0] != previous.MV[0][s][0] || mb.MV[0][s][1] != previous.MV[0][s][1]) {
      return false;
    }
  }
  return true;
}

// Whether a macroblock without coefficients may be left out of the stream.
bool skippable(const MacroblockInfo& mb, const PictureState& picture, const SliceState& slice) {
  if (mb.mb_type & kMbIntra || mb.cbp != 0) return false;
  const bool frame = picture.pict_struct == kFramePicture;
  if (picture.pict_type == kPictureP) {
    if (!(mb.mb_type & kMbForward) || mb.MV[0][0][0] != 0 || mb.MV[0][0][1] != 0) return false;
    if (frame) return mb.motion_type == kMotionFrame;
    const int parity = picture.pict_struct == kBottomField ? 1 : 0;
    return mb.motion_type == kMotionField && mb.mv_field_sel[0][0] == parity;
  }
  if (picture.pict_type == kPictureB) {
    // The previous macroblock must have been coded with motion, never intra.
    if (slice.previous == nullptr || (slice.previous->mb_type & kMbIntra)) return false;
    return repeatsSkippedBPrediction(mb, *slice.previous, picture);
  }
  return false;
}

void putMotionVectors(const MacroblockInfo& mb, int s, const PictureState& picture, bool mpeg1,
                      SliceState& slice) {
  const int hCode = s == 0 ? picture.forw_hor_f_code : picture.back_hor_f_code;
  const int vCode = mpeg1 ? hCode : (s == 0 ? picture.forw_vert_f_code : picture.back_vert_f_code);
  const bool frame = picture.pict_struct == kFramePicture;
  if (mb.motion_type == kMotionDualPrime) {
    // One same-parity field vector, each component followed by its dmvector;
    // no field select.
    putMotionComponent(mb.MV[0][s][0], slice.PMV[0][s][0], hCode);
    putDualPrimeVector(mb.dmvector[0]);
    putMotionComponent(mb.MV[0][s][1], frame ? slice.PMV[0][s][1] >> 1 : slice.PMV[0][s][1], vCode);
    putDualPrimeVector(mb.dmvector[1]);
    slice.PMV[0][s][0] = slice.PMV[1][s][0] = mb.MV[0][s][0];
    slice.PMV[0][s][1] = slice.PMV[1][s][1] = frame ? mb.MV[0][s][1] * 2 : mb.MV[0][s][1];
    return;
  }
  if (frame && mb.motion_type == kMotionField) {
    for (int r = 0; r < 2; ++r) {
      putBits(static_cast<std::uint32_t>(mb.mv_field_sel[r][s]), 1);
      putMotionComponent(mb.MV[r][s][0], slice.PMV[r][s][0], hCode);
      putMotionComponent(mb.MV[r][s][1], slice.PMV[r][s][1] >> 1, vCode);
      slice.PMV[r][s][0] = mb.MV[r][s][0];
      slice.PMV[r][s][1] = mb.MV[r][s][1] * 2;
    }
    return;
  }
  if (!frame) putBits(static_cast<std::uint32_t>(mb.mv_field_sel[0][s]), 1);
  putMotionComponent(mb.MV[0][s][0], slice.PMV[0][s][0], hCode);
  putMotionComponent(mb.MV[0][s][1], slice.PMV[0][s][1], vCode);
  slice.PMV[0][s][0] = slice.PMV[1][s][0] = mb.MV[0][s][0];
  slice.PMV[0][s][1] = slice.PMV[1][s][1] = mb.MV[0][s][1];
}

void putSliceHeader(int mbRow, int quantiserCode, int verticalSize, bool mpeg1) {
  // MPEG-2 pictures taller than 2800 lines carry the high bits of the row
  // separately.
  if (!mpeg1 && verticalSize > 2800) {
    putStartCode(static_cast<std::uint32_t>((mbRow & 127) + 1));
    putBits(static_cast<std::uint32_t>(mbRow >> 7), 3);
  } else {
    putStartCode(static_cast<std::uint32_t>(mbRow + 1));
  }
  putBits(static_cast<std::uint32_t>(quantiserCode), 5);
  putBits(0, 1);  // extra_bit_slice
}

}  // namespace

void codePicture(const EncoderParameters& params, const QuantMatrices& matrices,
                 const Frame& source, PictureState& picture, const Sizes& sizes,
                 std::vector<MacroblockInfo>& macroblocks, std::vector<Block>& blocks) {
  const bool mpeg1 = params.mpeg1 != 0;
  const bool frame = picture.pict_struct == kFramePicture;
  const int blockCount = sizes.block_count;

  initRateControlPicture(params, picture, sizes, source, macroblocks);
  writePictureHeader(params, picture, vbvDelay(params, picture));
  if (!mpeg1) writePictureCodingExtension(params, picture);

  BlockCoding coding{};
  coding.scan = picture.alternate_scan ? kAlternateScan.data() : kZigzagScan.data();
  coding.intraTableOne = !mpeg1 && picture.intra_vlc_format != 0;
  coding.mpeg1 = mpeg1;

  const bool writeMotionType = !frame || !picture.frame_pred_frame_dct;
  const bool writeDctType = frame && !picture.frame_pred_frame_dct;

  for (int mby = 0; mby < sizes.mb_height2; ++mby) {
    SliceState slice{};
    resetDcPredictors(slice, picture.intra_dc_precision);
    resetMotionPredictors(slice);
    slice.lastAddress = mby * sizes.mb_width - 1;
    slice.previous = nullptr;

    for (int mbx = 0; mbx < sizes.mb_width; ++mbx) {
      const int index = mby * sizes.mb_width + mbx;
      MacroblockInfo& mb = macroblocks[index];
      Block* mbBlocks = &blocks[static_cast<std::size_t>(index) * blockCount];
      const bool intra = (mb.mb_type & kMbIntra) != 0;

      const int wanted = macroblockQuantiser(picture, index, mb);
      const int wantedCode = quantiserScaleCode(wanted, picture.q_scale_type);
      if (mbx == 0) {
        slice.previousCode = wantedCode;
        putSliceHeader(mby, wantedCode, params.vertical_size, mpeg1);
      }
      const int mquant = quantiserScale(wantedCode, picture.q_scale_type);

      // Quantise.
      mb.cbp = 0;
      for (int b = 0; b < blockCount; ++b) {
        const std::array<std::uint8_t, 64>& matrix = intra ? matrices.intra : matrices.non_intra;
        if (intra) {
          quantiseIntra(mbBlocks[b], mquant, picture.intra_dc_precision, matrix, mpeg1);
          mb.cbp |= cbpBit(b, blockCount);
        } else if (quantiseNonIntra(mbBlocks[b], mquant, matrix, mpeg1)) {
          mb.cbp |= cbpBit(b, blockCount);
        } else {
          mbBlocks[b].fill(0);
        }
      }
      if (macroblockStarved()) {
        for (int b = 0; b < blockCount; ++b) {
          const std::int16_t dc = mbBlocks[b][0];
          mbBlocks[b].fill(0);
          if (intra) mbBlocks[b][0] = dc;
        }
        if (!intra) mb.cbp = 0;
      }
      if (!intra) {
        mb.mb_type &= ~(kMbPattern | kMbQuant);
        if (mb.cbp) mb.mb_type |= kMbPattern;
      } else {
        mb.mb_type = kMbIntra;
      }

      // A quantiser change is only signalled with coefficients; otherwise the
      // macroblock keeps the one in force (its blocks are all zero anyway).
      if ((intra || mb.cbp) && wantedCode != slice.previousCode) {
        mb.mb_type |= kMbQuant;
        slice.previousCode = wantedCode;
      }
      mb.mquant = quantiserScale(slice.previousCode, picture.q_scale_type);

      const bool lastInSlice = mbx == sizes.mb_width - 1;
      mb.skipped = mbx != 0 && !lastInSlice && skippable(mb, picture, slice);
      if (mb.skipped) {
        resetDcPredictors(slice, picture.intra_dc_precision);
        if (picture.pict_type == kPictureP) resetMotionPredictors(slice);
        continue;
      }

      putAddressIncrement(index - slice.lastAddress);
      slice.lastAddress = index;
      putMacroblockType(picture.pict_type, mb.mb_type);
      const bool motion = (mb.mb_type & (kMbForward | kMbBackward)) != 0;
      if (!mpeg1 && motion && writeMotionType) {
        putBits(static_cast<std::uint32_t>(mb.motion_type), 2);
      }
      if (!mpeg1 && writeDctType && (intra || mb.cbp)) {
        putBits(static_cast<std::uint32_t>(mb.dct_type), 1);
      }
      if (mb.mb_type & kMbQuant) putBits(static_cast<std::uint32_t>(slice.previousCode), 5);
      if (mb.mb_type & kMbForward) putMotionVectors(mb, 0, picture, mpeg1, slice);
      if (mb.mb_type & kMbBackward) putMotionVectors(mb, 1, picture, mpeg1, slice);
      if (mb.cbp && !intra) putCodedBlockPattern(mb.cbp, blockCount);

      if (intra) {
        resetMotionPredictors(slice);
        for (int b = 0; b < blockCount; ++b) {
          const int component = b < 4 ? 0 : ((b & 1) ? 2 : 1);
          putIntraBlock(mbBlocks[b], component, slice.dcPredictor[component], coding);
        }
      } else {
        resetDcPredictors(slice, picture.intra_dc_precision);
        if (picture.pict_type == kPictureP && !(mb.mb_type & kMbForward)) {
          resetMotionPredictors(slice);
        }
        for (int b = 0; b < blockCount; ++b) {
          if (mb.cbp & cbpBit(b, blockCount)) putNonIntraBlock(mbBlocks[b], coding);
        }
      }
      slice.previous = &mb;
    }
  }
  updateRateControlPicture(picture, sizes, macroblocks);
}

}  // namespace quiltbench::encoder
