#include "patchloom/app/display_image.h"

#include <array>
#include <cstddef>

#include "patchloom/image/image.h"
#include "patchloom/image/image_dib.h"

namespace {

using Rgb = std::array<std::uint8_t, 3>;

// The colour of every index an indexed image can hold: its palette's entries, or the
// DIB's own colour table when no palette is attached; black past the end of either.
std::vector<Rgb> IndexColours(const CImage& image) {
  std::vector<Rgb> colours(std::size_t{1} << image.GetBitCount(), Rgb{0, 0, 0});
  const CImagePalette* palette = image.GetPalette();
  const auto* dib = static_cast<const std::uint8_t*>(image.GetImpl()->GetDib());
  const std::size_t tableEntries = ImageDibColorTableEntries(dib);
  for (std::size_t i = 0; i < colours.size(); ++i) {
    Rgb& c = colours[i];
    if (palette != nullptr) {
      if (!palette->GetEntryRGB(static_cast<int>(i), &c[0], &c[1], &c[2])) c = {0, 0, 0};
    } else if (i < tableEntries) {
      const std::uint8_t* quad = dib + 40 + 4 * i;
      c = {quad[2], quad[1], quad[0]};
    }
  }
  return colours;
}

}  // namespace

std::vector<std::uint8_t> DisplayRgb(const CImage& image) {
  if (!image.IsValid() || image.GetWidth() <= 0 || image.GetHeight() <= 0) return {};
  const int width = image.GetWidth(), height = image.GetHeight(), bits = image.GetBitCount();
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
  const std::vector<Rgb> colours = bits <= 8 ? IndexColours(image) : std::vector<Rgb>{};
  for (int row = 0; row < height; ++row) {
    const int y = height - 1 - row;  // DIB rows run from the bottom
    std::uint8_t* out = rgb.data() + static_cast<std::size_t>(row) * width * 3;
    const std::uint8_t* in = image.GetBits() + static_cast<std::size_t>(y) * image.GetLineBytes();
    for (int x = 0; x < width; ++x, out += 3) {
      if (bits == 24 || bits == 32) {
        const std::uint8_t* p = in + static_cast<std::size_t>(x) * (bits / 8);
        out[0] = p[2];
        out[1] = p[1];
        out[2] = p[0];
      } else if (bits <= 8) {
        const int index = image.GetPixelIndex(x, y);
        const Rgb& c = index >= 0 ? colours[static_cast<std::size_t>(index)] : Rgb{0, 0, 0};
        out[0] = c[0];
        out[1] = c[1];
        out[2] = c[2];
      } else {
        image.GetPixelRGB(x, y, &out[0], &out[1], &out[2]);
      }
    }
  }
  return rgb;
}
