#include "patchloom/image/image_palette.h"

#include <vector>

int CImagePalette::CreateFromRGB(int n, const std::uint8_t* red, const std::uint8_t* green,
                                 const std::uint8_t* blue) {
  if (isCreated() || n < 1 || n > 256 || !red || !green || !blue) return 0;
  std::vector<platform::PaletteEntry> entries(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) entries[i] = {red[i], green[i], blue[i], 0};
  return create(entries) ? 1 : 0;
}

int CImagePalette::GetNearestIndex(std::uint8_t r, std::uint8_t g, std::uint8_t b) const {
  return nearestIndex(r, g, b);
}

int CImagePalette::GetEntryRGB(int i, std::uint8_t* r, std::uint8_t* g, std::uint8_t* b) const {
  if (i < 0 || i > 255 || i >= GetEntryCount()) return 0;
  const platform::PaletteEntry& e = entries()[static_cast<std::size_t>(i)];
  if (r) *r = e.red;
  if (g) *g = e.green;
  if (b) *b = e.blue;
  return 1;
}
