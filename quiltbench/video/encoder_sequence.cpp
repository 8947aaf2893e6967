// The encoder's sequence loop.
#include "quiltbench/video/encoder_sequence.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <string>
#include <utility>

#include "quiltbench/video/encoder_frame_input.h"
#include "quiltbench/video/encoder_parameters.h"
#include "quiltbench/video/encoder_stages.h"
#include "quiltbench/video/encoder_statistics.h"
#include "quiltbench/video/transform.h"

namespace quiltbench::encoder {

namespace {

void useForwardRecord(PictureState& picture, const EncoderMotionData& m) {
  picture.forw_hor_f_code = m.forw_hor_f_code;
  picture.forw_vert_f_code = m.forw_vert_f_code;
  picture.sxf = m.sxf;
  picture.syf = m.syf;
}

void useBackwardRecord(PictureState& picture, const EncoderMotionData& m) {
  picture.back_hor_f_code = m.back_hor_f_code;
  picture.back_vert_f_code = m.back_vert_f_code;
  picture.sxb = m.sxb;
  picture.syb = m.syb;
}

void clearBackward(PictureState& picture) {
  picture.back_hor_f_code = kUnusedFCode;
  picture.back_vert_f_code = kUnusedFCode;
  picture.sxb = 0;
  picture.syb = 0;
}

void clearForward(PictureState& picture) {
  picture.forw_hor_f_code = kUnusedFCode;
  picture.forw_vert_f_code = kUnusedFCode;
  picture.sxf = 0;
  picture.syf = 0;
}

// The number that names display frame `display` in the file-name patterns.
int frameNumber(const EncoderParameters& params, int display) {
  const long long number = static_cast<long long>(display) + params.first_frame_number;
  if (number > INT_MAX)
    encoder_fatal("Frame number " + std::to_string(number) + " is out of range");
  return static_cast<int>(number);
}

void printSearchLines(std::FILE* out, const char* direction, int sx, int sy, int horFCode,
                      int vertFCode) {
  std::fprintf(out,
               " %s search window: %d...%d / %d...%d\n"
               " %s vector range: %d...%d.5 / %d...%d.5\n",
               direction, -sx, sx, -sy, sy, direction, -(4 << horFCode), (4 << horFCode) - 1,
               -(4 << vertFCode), (4 << vertFCode) - 1);
}

// One coded picture (a frame or a field) through every stage, then its statistics.
void codeOnePicture(EncoderState& e, Frame& source, Frame& reconstruction) {
  PictureState& picture = e.picture;
  FrameStores& stores = e.frames;
  estimateMotion(stores, source, reconstruction, picture, e.sizes, e.macroblocks);
  predictPicture(stores, reconstruction, picture, e.sizes, e.macroblocks, stores.prediction);
  chooseDctTypes(source, stores.prediction, picture, e.sizes, e.macroblocks);
  transformPicture(source, stores.prediction, picture, e.sizes, e.macroblocks, e.blocks);
  codePicture(e.params, e.matrices, source, picture, e.sizes, e.macroblocks, e.blocks);

  // Inverse quantisation and inverse transform run together, block by block.
  reconstructPicture(stores.prediction, picture, e.sizes, e.matrices, e.params.mpeg1 != 0,
                     e.macroblocks, e.blocks, reconstruction);

  print_snr(e.statistics, e.params, e.sizes, source, reconstruction, picture.pict_struct);
  print_picture_statistics(e.statistics, e.sizes, e.macroblocks);
}

}  // namespace

PicturePlan plan_picture(int i, int N, int M, int frameCount) {
  // 64-bit arithmetic: N and M come from the parameter file and may be near the
  // int limit, where i + M - 1 would overflow.
  using Wide = long long;
  const Wide wi = i, wn = N, wm = M, count = frameCount;
  PicturePlan plan;
  plan.codingIndex = i;
  const Wide f0 = std::max<Wide>(0, wn * ((wi + wm - 1) / wn) - (wm - 1));
  plan.groupFirst = static_cast<int>(f0);

  if (i == 0 || (wi - 1) % wm == 0) {
    plan.isReference = true;
    plan.display = i == 0 ? 0 : static_cast<int>(std::min(wi + wm - 1, count - 1));
    if (wi == f0) {
      plan.type = kPictureI;
      plan.startsGroup = true;
      plan.closedGop = i == 0;
      const Wide n = std::min(i == 0 ? wn - (wm - 1) : wn, count - f0);
      const Wide np = i == 0 ? (n + 2 * (wm - 1)) / wm - 1 : (n + wm - 1) / wm - 1;
      plan.groupFrames = static_cast<int>(n);
      plan.groupP = static_cast<int>(np);
      plan.groupB = static_cast<int>(n - np - 1);
    } else {
      plan.type = kPictureP;
      plan.motionRecord = 0;
    }
  } else {
    plan.type = kPictureB;
    plan.display = i - 1;
    plan.motionRecord = static_cast<int>((wi - 2) % wm + 1);
  }
  return plan;
}

void encode_sequence() {
  EncoderState& e = g_encoder;
  const EncoderParameters& params = e.params;
  PictureState& picture = e.picture;
  FrameStores& stores = e.frames;
  std::FILE* stats = e.statistics;

  initRateControlSequence(params);
  writeSequenceHeader(params, e.matrices);
  if (!params.mpeg1) {
    writeSequenceExtension(params);
    writeSequenceDisplayExtension(params);
  }
  if (params.description.size() > 1) writeUserData(params.description);

  for (int i = 0; i < params.frame_count; ++i) {
    std::fprintf(stderr, "Encoding frame %d ", i);
    std::fflush(stderr);

    const PicturePlan plan = plan_picture(i, params.N, params.M, params.frame_count);
    picture = PictureState{};
    picture.pict_type = plan.type;
    Frame* source;
    Frame* reconstruction;
    if (plan.isReference) {
      std::swap(stores.oldReference, stores.newReference);
      std::swap(stores.oldSource, stores.newSource);
      source = &stores.newSource;
      reconstruction = &stores.newReference;
      if (plan.type == kPictureI) {
        clearForward(picture);
        clearBackward(picture);
        initRateControlGroup(plan.groupP, plan.groupB);
        const long long timeCode = static_cast<long long>(params.start_time_code) + plan.groupFirst;
        writeGroupOfPicturesHeader(params, static_cast<int>(std::min<long long>(timeCode, INT_MAX)),
                                   plan.closedGop);
      } else {
        useForwardRecord(picture, params.motion_data[0]);
        clearBackward(picture);
      }
    } else {
      source = &stores.auxSource;
      reconstruction = &stores.auxReconstruction;
      const EncoderMotionData& m = params.motion_data[static_cast<std::size_t>(plan.motionRecord)];
      useForwardRecord(picture, m);
      useBackwardRecord(picture, m);
    }

    const int f = plan.display;
    const int typeIndex = plan.type - 1;
    picture.temporal_reference = f - plan.groupFirst;
    picture.frame_pred_frame_dct = params.frame_pred_frame_dct_tab[typeIndex];
    picture.q_scale_type = params.qscale_tab[typeIndex];
    picture.intra_vlc_format = params.intravlc_tab[typeIndex];
    picture.alternate_scan = params.altscan_tab[typeIndex];
    // A field picture's top_field_first is written as 0: it has one field only.
    picture.top_field_first = params.field_pictures ? 0 : params.top_field_first;
    picture.repeat_first_field = params.repeat_first_field;
    picture.progressive_frame = params.progressive_frame;
    picture.intra_dc_precision = params.intra_dc_precision;

    std::fprintf(stats,
                 "\nFrame %d (#%d in display order):\n picture_type=%c\n temporal_reference=%d\n"
                 " frame_pred_frame_dct=%d\n q_scale_type=%d\n intra_vlc_format=%d\n"
                 " alternate_scan=%d\n",
                 i, f, " IPBD"[plan.type], picture.temporal_reference, picture.frame_pred_frame_dct,
                 picture.q_scale_type, picture.intra_vlc_format, picture.alternate_scan);
    if (plan.type != kPictureI) {
      printSearchLines(stats, "forward", picture.sxf, picture.syf, picture.forw_hor_f_code,
                       picture.forw_vert_f_code);
    }
    if (plan.type == kPictureB) {
      printSearchLines(stats, "backward", picture.sxb, picture.syb, picture.back_hor_f_code,
                       picture.back_vert_f_code);
    }

    read_frame(formatName(params.frame_name_pattern, frameNumber(params, f)), *source);

    if (!params.field_pictures) {
      picture.pict_struct = kFramePicture;
      codeOnePicture(e, *source, *reconstruction);
    } else {
      const bool topFirst = params.top_field_first != 0;
      std::fprintf(stderr, "\nfirst field  (%s) ", topFirst ? "top" : "bot");
      std::fflush(stderr);
      picture.pict_struct = topFirst ? kTopField : kBottomField;
      picture.second_field = false;
      picture.predict_from_first = false;
      codeOnePicture(e, *source, *reconstruction);

      std::fprintf(stderr, "second field (%s) ", topFirst ? "bot" : "top");
      std::fflush(stderr);
      picture.pict_struct = topFirst ? kBottomField : kTopField;
      picture.second_field = true;
      if (plan.type == kPictureI) {
        // The second field of an I frame predicts from the first.
        picture.pict_type = kPictureP;
        useForwardRecord(picture, params.motion_data[0]);
        clearBackward(picture);
        picture.predict_from_first = true;
      }
      codeOnePicture(e, *source, *reconstruction);
    }

    if (params.recon_name_pattern.empty() || params.recon_name_pattern[0] != '-') {
      write_reconstructed_frame(formatName(params.recon_name_pattern, frameNumber(params, f)),
                                params, e.sizes, *reconstruction);
    }
  }

  writeSequenceEnd();
}

}  // namespace quiltbench::encoder
