// The logical palette attached to an indexed image: built from separate red, green and
// blue arrays, searched for the nearest colour, read back entry by entry.
#pragma once

#include <cstdint>

#include "platform/canvas.h"

class CImagePalette : public platform::Palette {
 public:
  // Creates the palette from `n` (1 ... 256) entries; 0 when this palette already holds
  // entries, for a count out of range or missing arrays, 1 otherwise.
  int CreateFromRGB(int n, const std::uint8_t* red, const std::uint8_t* green,
                    const std::uint8_t* blue);
  // Index of the entry nearest to (r, g, b).
  int GetNearestIndex(std::uint8_t r, std::uint8_t g, std::uint8_t b) const;
  // Entry i's colour; 0 for i outside 0 ... 255 or past the palette's end.
  int GetEntryRGB(int i, std::uint8_t* r, std::uint8_t* g, std::uint8_t* b) const;
  int GetEntryCount() const { return static_cast<int>(entries().size()); }
};
