// Motion-compensated prediction of blocks, shared by the prediction stage and
// the half-pel refinement of motion estimation.
#pragma once

#include <cstdint>

#include "quiltbench/video/encoder_state.h"

namespace quiltbench::encoder {

// Forms a w x h block from the reference view `ref` (sample (0, 0), rows
// `refStride` apart) at (x, y) displaced by (dx, dy) half samples, into `dst`,
// or averages it into what `dst` holds when `average` is set (bidirectional).
void predictBlock(const std::uint8_t* ref, int refStride, int x, int y, int dx, int dy, int w,
                  int h, std::uint8_t* dst, int dstStride, bool average);

// The frame store that holds the reference for direction `s` (0 forward,
// 1 backward) and, in field pictures, reference field `fieldSelect`: the second
// field of a P frame may predict from the first field of its own frame.
const Frame& referenceFrame(const FrameStores& stores, const Frame& reconstruction,
                            const PictureState& picture, int s, int fieldSelect);

// Dual-prime: the opposite-parity vectors derived from the same-parity field
// vector `mv` and the differential `dmv`. Frame pictures give two (out[0] for
// the top field from the bottom reference field, out[1] for the bottom field
// from the top one), field pictures one (out[0]); `parity` is the current
// field's (field pictures only).
void dualPrimeVectors(const int mv[2], const int dmv[2], bool framePicture, bool topFieldFirst,
                      int parity, int out[2][2]);

}  // namespace quiltbench::encoder
