// Pictures for the main window's view: a DIB handle as tightly packed RGB rows, top row
// first, and two pictures side by side.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/global_memory.h"

struct RgbPicture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;  // width * height * 3 bytes
};

// Uncompressed 8-, 24- and 32-bit bitmaps with an info header; nothing for any other
// handle, or one whose rows do not all lie inside the block.
std::optional<RgbPicture> dibToRgb(platform::HGLOBAL dib);

// `left` and `right` on one background, `gap` pixels apart, tops aligned.
RgbPicture sideBySide(const RgbPicture& left, const RgbPicture& right, int gap = 8);
