// Settings of the encoder's rate control that callers (and the benchmark) may
// change between encodes.
#pragma once

namespace quiltbench::encoder {

// Whether the macroblock quantiser follows the spatial activity of the source
// (Test Model 5's adaptive quantisation: coarser in busy areas, where errors
// are less visible, finer in flat ones). Switched off, every macroblock takes
// the quantiser its virtual buffer asks for, which raises PSNR at the cost of
// visible noise in flat areas. Process-wide, like the rest of the encoder's
// state; on by default.
void setActivityMasking(bool enabled);
bool activityMasking();

}  // namespace quiltbench::encoder
