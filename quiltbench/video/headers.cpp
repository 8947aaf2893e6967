// Sequence, group-of-pictures and picture level headers and extensions.
#include <cmath>

#include "quiltbench/video/bit_writer.h"
#include "quiltbench/video/encoder_stages.h"
#include "quiltbench/video/vlc_tables.h"

namespace quiltbench::encoder {
namespace {

constexpr std::uint32_t kPictureStartCode = 0x00;
constexpr std::uint32_t kUserDataStartCode = 0xb2;
constexpr std::uint32_t kSequenceHeaderCode = 0xb3;
constexpr std::uint32_t kExtensionStartCode = 0xb5;
constexpr std::uint32_t kSequenceEndCode = 0xb7;
constexpr std::uint32_t kGroupStartCode = 0xb8;

constexpr int kSequenceExtensionId = 1;
constexpr int kSequenceDisplayExtensionId = 2;
constexpr int kPictureCodingExtensionId = 8;

// bit_rate in units of 400 bit/s, rounded up.
std::uint32_t bitRateValue(const EncoderParameters& params) {
  return static_cast<std::uint32_t>(std::ceil(params.bit_rate / 400.0));
}

void putMatrix(const std::array<std::uint8_t, 64>& matrix) {
  for (int i = 0; i < 64; ++i) putBits(matrix[kZigzagScan[i]], 8);
}

}  // namespace

void writeSequenceHeader(const EncoderParameters& params, const QuantMatrices& matrices) {
  putStartCode(kSequenceHeaderCode);
  putBits(static_cast<std::uint32_t>(params.horizontal_size) & 0xfff, 12);
  putBits(static_cast<std::uint32_t>(params.vertical_size) & 0xfff, 12);
  putBits(static_cast<std::uint32_t>(params.aspect_ratio_information), 4);
  putBits(static_cast<std::uint32_t>(params.frame_rate_code), 4);
  putBits(bitRateValue(params) & 0x3ffff, 18);
  putBits(1, 1);  // marker
  putBits(static_cast<std::uint32_t>(params.vbv_buffer_size) & 0x3ff, 10);
  putBits(static_cast<std::uint32_t>(params.constrained_parameters_flag), 1);
  putBits(matrices.load_intra ? 1 : 0, 1);
  if (matrices.load_intra) putMatrix(matrices.intra);
  putBits(matrices.load_non_intra ? 1 : 0, 1);
  if (matrices.load_non_intra) putMatrix(matrices.non_intra);
}

void writeSequenceExtension(const EncoderParameters& params) {
  putStartCode(kExtensionStartCode);
  putBits(kSequenceExtensionId, 4);
  putBits(static_cast<std::uint32_t>((params.profile << 4) | params.level) & 0xff, 8);
  putBits(static_cast<std::uint32_t>(params.progressive_sequence), 1);
  putBits(static_cast<std::uint32_t>(params.chroma_format), 2);
  putBits(static_cast<std::uint32_t>(params.horizontal_size >> 12), 2);
  putBits(static_cast<std::uint32_t>(params.vertical_size >> 12), 2);
  putBits((bitRateValue(params) >> 18) & 0xfff, 12);
  putBits(1, 1);  // marker
  putBits(static_cast<std::uint32_t>(params.vbv_buffer_size >> 10) & 0xff, 8);
  putBits(static_cast<std::uint32_t>(params.low_delay), 1);
  putBits(0, 2);  // frame_rate_extension_n
  putBits(0, 5);  // frame_rate_extension_d
}

void writeSequenceDisplayExtension(const EncoderParameters& params) {
  putStartCode(kExtensionStartCode);
  putBits(kSequenceDisplayExtensionId, 4);
  putBits(static_cast<std::uint32_t>(params.video_format), 3);
  putBits(1, 1);  // colour_description
  putBits(static_cast<std::uint32_t>(params.color_primaries), 8);
  putBits(static_cast<std::uint32_t>(params.transfer_characteristics), 8);
  putBits(static_cast<std::uint32_t>(params.matrix_coefficients), 8);
  putBits(static_cast<std::uint32_t>(params.display_horizontal_size), 14);
  putBits(1, 1);  // marker
  putBits(static_cast<std::uint32_t>(params.display_vertical_size), 14);
}

void writeUserData(const std::string& text) {
  putStartCode(kUserDataStartCode);
  for (unsigned char c : text) {
    // A zero byte could start a false start code; text never needs one.
    if (c != 0) putBits(c, 8);
  }
}

void writeGroupOfPicturesHeader(const EncoderParameters& params, int timeCodeFrames,
                                bool closedGop) {
  const int framesPerSecond = static_cast<int>(params.frame_rate + 0.5);
  int rest = timeCodeFrames < 0 ? 0 : timeCodeFrames;
  const int pictures = rest % framesPerSecond;
  rest /= framesPerSecond;
  const int seconds = rest % 60;
  rest /= 60;
  const int minutes = rest % 60;
  const int hours = (rest / 60) % 24;

  putStartCode(kGroupStartCode);
  putBits(0, 1);  // drop_frame_flag
  putBits(static_cast<std::uint32_t>(hours), 5);
  putBits(static_cast<std::uint32_t>(minutes), 6);
  putBits(1, 1);  // marker
  putBits(static_cast<std::uint32_t>(seconds), 6);
  putBits(static_cast<std::uint32_t>(pictures), 6);
  putBits(closedGop ? 1 : 0, 1);
  putBits(0, 1);  // broken_link
}

void writePictureHeader(const EncoderParameters& params, const PictureState& picture,
                        int vbvDelayValue) {
  putStartCode(kPictureStartCode);
  putBits(static_cast<std::uint32_t>(picture.temporal_reference) & 0x3ff, 10);
  putBits(static_cast<std::uint32_t>(picture.pict_type), 3);
  putBits(static_cast<std::uint32_t>(vbvDelayValue) & 0xffff, 16);
  // MPEG-2 carries the f_codes in the picture coding extension and writes 7 here.
  if (picture.pict_type == kPictureP || picture.pict_type == kPictureB) {
    putBits(0, 1);  // full_pel_forward_vector
    putBits(params.mpeg1 ? static_cast<std::uint32_t>(picture.forw_hor_f_code) : 7u, 3);
  }
  if (picture.pict_type == kPictureB) {
    putBits(0, 1);  // full_pel_backward_vector
    putBits(params.mpeg1 ? static_cast<std::uint32_t>(picture.back_hor_f_code) : 7u, 3);
  }
  putBits(0, 1);  // extra_bit_picture
}

void writePictureCodingExtension(const EncoderParameters& params, const PictureState& picture) {
  const bool frame = picture.pict_struct == kFramePicture;
  putStartCode(kExtensionStartCode);
  putBits(kPictureCodingExtensionId, 4);
  putBits(static_cast<std::uint32_t>(picture.forw_hor_f_code), 4);
  putBits(static_cast<std::uint32_t>(picture.forw_vert_f_code), 4);
  putBits(static_cast<std::uint32_t>(picture.back_hor_f_code), 4);
  putBits(static_cast<std::uint32_t>(picture.back_vert_f_code), 4);
  putBits(static_cast<std::uint32_t>(picture.intra_dc_precision), 2);
  putBits(static_cast<std::uint32_t>(picture.pict_struct), 2);
  // Field pictures carry neither field order nor repetition, and use field
  // prediction only.
  putBits(frame ? static_cast<std::uint32_t>(picture.top_field_first) : 0u, 1);
  putBits(frame ? static_cast<std::uint32_t>(picture.frame_pred_frame_dct) : 0u, 1);
  putBits(0, 1);  // concealment_motion_vectors
  putBits(static_cast<std::uint32_t>(picture.q_scale_type), 1);
  putBits(static_cast<std::uint32_t>(picture.intra_vlc_format), 1);
  putBits(static_cast<std::uint32_t>(picture.alternate_scan), 1);
  putBits(frame ? static_cast<std::uint32_t>(picture.repeat_first_field) : 0u, 1);
  // chroma_420_type
  putBits(params.chroma_format == kChroma420 ? static_cast<std::uint32_t>(picture.progressive_frame)
                                             : 0u,
          1);
  putBits(static_cast<std::uint32_t>(picture.progressive_frame), 1);
  putBits(0, 1);  // composite_display_flag
}

void writeSequenceEnd() {
  putStartCode(kSequenceEndCode);
  flushBitWriter();
}

}  // namespace quiltbench::encoder
