// The coding stages of the MPEG-2 encoder, as the sequence loop calls them.
//
// Per sequence: resetBitWriter and the two DCT initialisers (from init_encoder),
// initRateControlSequence, the sequence-level header writers, then per group
// initRateControlGroup and writeGroupOfPicturesHeader, and at the end
// writeSequenceEnd. Per coded picture (a frame, or each field of a frame), in
// this order: estimateMotion, predictPicture, chooseDctTypes, transformPicture,
// codePicture, then for every macroblock the inverse quantisation of each of its
// blocks (inverseQuantiseIntra or inverseQuantiseNonIntra with the macroblock's
// mquant), and inverseTransformPicture into the reconstruction.
//
// codePicture writes the picture header and picture coding extension itself and
// runs the picture-level rate control (initRateControlPicture, vbvDelay,
// macroblockQuantiser with macroblockStarved, updateRateControlPicture, which
// also stuffs the picture); the loop does not call those.
//
// Frame arguments: `source` is the store holding the current picture's source
// (newSource for I and P, auxSource for B); `reconstruction` is the store that
// receives its reconstruction (newReference for I and P, auxReconstruction for
// B). Forward prediction reads stores.oldReference, backward prediction
// stores.newReference. For field pictures the stages work on the field named by
// picture.pict_struct within these frame stores.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "quiltbench/video/encoder_state.h"

namespace quiltbench::encoder {

// ---- Bit writer (bit_writer.cpp) ------------------------------------------------

// Starts a new stream on `out` (not owned) with an empty bit buffer.
void resetBitWriter(std::FILE* out);
// Bits written since the last reset, including those not yet flushed.
std::int64_t bitCount();

// ---- Transforms (dct.cpp) ---------------------------------------------------------

// Build the forward transform's cosine table and the inverse transform's tables.
void initForwardDct();
void initInverseDct();

// ---- Rate control (rate_control.cpp) ----------------------------------------------

// Applies the defaults of r, avg_act, Xi, Xp, Xb, d0i, d0p, d0b (r first) and
// starts the buffer model.
void initRateControlSequence(const EncoderParameters& params);
// Starts a group of pictures holding np P and nb B pictures after its I picture.
void initRateControlGroup(int np, int nb);
// Called by codePicture: picture target, and the spatial activity of every
// macroblock (MacroblockInfo::act) from the source picture.
void initRateControlPicture(const EncoderParameters& params, const PictureState& picture,
                            const Sizes& sizes, const Frame& source,
                            std::vector<MacroblockInfo>& macroblocks);
// Called by codePicture: quantiser_scale for macroblock `index` (in coding
// order), given the bits written so far in this picture.
int macroblockQuantiser(const PictureState& picture, int index, const MacroblockInfo& macroblock);
// Called by codePicture after macroblockQuantiser: true once the picture has so
// little of its buffer budget left that the macroblock may carry only what the
// syntax requires (the DC terms of intra blocks, motion vectors).
bool macroblockStarved();
// Called by codePicture after the last slice: complexity and buffer updates, then
// zero stuffing where the bits arriving before the next decoding time would
// overflow the decoder's buffer.
void updateRateControlPicture(const PictureState& picture, const Sizes& sizes,
                              const std::vector<MacroblockInfo>& macroblocks);
// vbv_delay field for the picture whose start code is written next (90 kHz
// units), or 0xFFFF when the buffer cannot hold a constant rate.
int vbvDelay(const EncoderParameters& params, const PictureState& picture);

// ---- Headers (headers.cpp) --------------------------------------------------------

void writeSequenceHeader(const EncoderParameters& params, const QuantMatrices& matrices);
void writeSequenceExtension(const EncoderParameters& params);
void writeSequenceDisplayExtension(const EncoderParameters& params);
// Writes `text` as a user data block.
void writeUserData(const std::string& text);
// `timeCodeFrames`: time code of the group's first picture counted in frames
// (params.start_time_code + its display index).
void writeGroupOfPicturesHeader(const EncoderParameters& params, int timeCodeFrames,
                                bool closedGop);
void writePictureHeader(const EncoderParameters& params, const PictureState& picture,
                        int vbvDelayValue);
void writePictureCodingExtension(const EncoderParameters& params, const PictureState& picture);
// Writes the sequence end code and flushes every pending bit to the stream.
void writeSequenceEnd();

// ---- Motion estimation (motion_estimation.cpp) ------------------------------------

// Chooses for every macroblock of the current picture intra or a prediction
// (mb_type, motion_type, MV, mv_field_sel): full-pel search on the source
// frames within the picture's search widths, half-pel refinement on the
// reconstructed references; frame, field and (P pictures of interlaced video
// when M is 1) dual-prime prediction. picture.predict_from_first limits a P
// field to the first field of the same frame (held in `reconstruction`).
// Reads mpeg1 and M from g_encoder.params.
void estimateMotion(const FrameStores& stores, const Frame& source, const Frame& reconstruction,
                    const PictureState& picture, const Sizes& sizes,
                    std::vector<MacroblockInfo>& macroblocks);

// ---- Prediction (prediction.cpp) -----------------------------------------------------

// Forms the motion-compensated prediction of every non-intra macroblock into
// `prediction`; intra macroblocks leave it untouched (their samples are coded
// directly).
void predictPicture(const FrameStores& stores, const Frame& reconstruction,
                    const PictureState& picture, const Sizes& sizes,
                    const std::vector<MacroblockInfo>& macroblocks, Frame& prediction);

// ---- DCT type decision (dct_type.cpp) ---------------------------------------------

// Sets MacroblockInfo::dct_type (frame pictures with frame_pred_frame_dct 0).
void chooseDctTypes(const Frame& source, const Frame& prediction, const PictureState& picture,
                    const Sizes& sizes, std::vector<MacroblockInfo>& macroblocks);

// ---- Forward and inverse transform of a picture (transform.cpp) ----------------------

// blocks[mb * block_count + b] = DCT of (source - prediction), raster order.
void transformPicture(const Frame& source, const Frame& prediction, const PictureState& picture,
                      const Sizes& sizes, const std::vector<MacroblockInfo>& macroblocks,
                      std::vector<Block>& blocks);
// reconstruction = prediction + inverse DCT of blocks (already inverse
// quantised), clipped to 0..255; blocks are used as scratch.
void inverseTransformPicture(const Frame& prediction, const PictureState& picture,
                             const Sizes& sizes, const std::vector<MacroblockInfo>& macroblocks,
                             std::vector<Block>& blocks, Frame& reconstruction);

// ---- Picture coding (picture_coding.cpp) --------------------------------------------

// Writes the picture header, picture coding extension (MPEG-2) and all slices.
// Quantises the blocks in place (raster order levels afterwards; blocks of
// macroblocks that are not coded are zero) and fills mb_type, mquant, cbp and
// skipped of every macroblock.
void codePicture(const EncoderParameters& params, const QuantMatrices& matrices,
                 const Frame& source, PictureState& picture, const Sizes& sizes,
                 std::vector<MacroblockInfo>& macroblocks, std::vector<Block>& blocks);

// ---- Inverse quantisation (quantisation.cpp) --------------------------------------

// In place, raster order, with mismatch control (MPEG-2) or oddification (MPEG-1).
// A non-intra block without levels (not coded) stays all zero.
void inverseQuantiseIntra(Block& block, int mquant, int intraDcPrecision,
                          const std::array<std::uint8_t, 64>& matrix, bool mpeg1);
void inverseQuantiseNonIntra(Block& block, int mquant, const std::array<std::uint8_t, 64>& matrix,
                             bool mpeg1);

}  // namespace quiltbench::encoder
