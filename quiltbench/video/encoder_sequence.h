// The encoder's sequence loop: coding order, picture types and groups of
// pictures, and the run of every picture through the coding stages.
#pragma once

#include "quiltbench/video/encoder_state.h"

namespace quiltbench::encoder {

// Where one coded picture sits in the sequence.
struct PicturePlan {
  int codingIndex = 0;       // position in the stream
  int display = 0;           // display-order index of the frame
  int type = kPictureI;      // kPictureI, kPictureP or kPictureB
  int groupFirst = 0;        // display index of the first frame of its group of pictures
  bool isReference = false;  // I or P: the reference stores rotate before it
  // Set on the I picture that starts a group of pictures.
  bool startsGroup = false;
  bool closedGop = false;
  int groupFrames = 0;    // frames in the group
  int groupP = 0;         // P pictures in the group
  int groupB = 0;         // B pictures in the group
  int motionRecord = -1;  // motion record for P (0) and B (distance) pictures
};

// The plan of coding-order picture `codingIndex` for groups of N pictures with
// reference distance M in a sequence of `frameCount` frames (N >= 1, M >= 1,
// N a multiple of M, 0 <= codingIndex < frameCount).
PicturePlan plan_picture(int codingIndex, int N, int M, int frameCount);

// Encodes the whole sequence described by g_encoder (after init_encoder) into
// g_encoder.output, writing the statistics to g_encoder.statistics and the
// progress to the error stream.
void encode_sequence();

}  // namespace quiltbench::encoder
