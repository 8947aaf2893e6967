// An off-screen device context: a 24-bit surface that bitmaps are drawn into with
// set-DIB-bits-to-device and stretch-DIB-bits semantics, logical palettes that can
// be selected and realised, and raster operations for masked drawing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
};

struct PaletteEntry {
  std::uint8_t red = 0, green = 0, blue = 0, flags = 0;
};

// A logical palette object; empty until created.
class Palette {
 public:
  // Creates the palette from `entries` (replacing an earlier one); false for none.
  bool create(const std::vector<PaletteEntry>& entries);
  void destroy() { entries_.clear(); }
  bool isCreated() const { return !entries_.empty(); }
  const std::vector<PaletteEntry>& entries() const { return entries_; }
  // Index of the entry closest to the colour (squared distance, lowest index on ties).
  int nearestIndex(std::uint8_t red, std::uint8_t green, std::uint8_t blue) const;

 private:
  std::vector<PaletteEntry> entries_;
};

// The desktop's stock default palette: the 20 static system colours.
const Palette& stockDefaultPalette();

// How a DIB's colour table is read: RGB entries, or 16-bit indices into the selected palette.
enum ColorUse { DIB_RGB_COLORS = 0, DIB_PAL_COLORS = 1 };

enum RasterOp : std::uint32_t {
  SRCCOPY = 0x00CC0020,
  SRCPAINT = 0x00EE0086,   // destination OR source
  SRCAND = 0x008800C6,     // destination AND source
  SRCINVERT = 0x00660046,  // destination XOR source
};

enum StretchMode { BLACKONWHITE = 1, WHITEONBLACK = 2, COLORONCOLOR = 3, HALFTONE = 4 };

class DeviceContext {
 public:
  DeviceContext(int width, int height, std::uint32_t background = 0xFFFFFF);

  int width() const { return width_; }
  int height() const { return height_; }
  // Pixel as 0x00RRGGBB; (0, 0) is the top-left corner. Outside the surface: 0.
  std::uint32_t pixel(int x, int y) const;
  void setPixel(int x, int y, std::uint32_t rgb);
  void fill(std::uint32_t rgb);

  // Selects a palette (null: the default palette) and returns the one selected before.
  Palette* selectPalette(Palette* palette, bool forceBackground);
  Palette* selectedPalette() const { return palette_; }
  // Number of entries of the selected palette mapped; 0 without one.
  unsigned realizePalette();
  // Returns the previous mode.
  int setStretchBltMode(int mode);
  int stretchBltMode() const { return stretchMode_; }

  // Draws `bits` described by `header` (an info or core header followed by its colour
  // table). Source y is counted from the bitmap's lower-left corner for bottom-up
  // bitmaps, like the desktop's. Returns the number of scan lines drawn, 0 on failure.
  int setDIBitsToDevice(int xDest, int yDest, int width, int height, int xSrc, int ySrc,
                        unsigned startScan, unsigned scanLines, const void* bits,
                        const void* header, ColorUse usage);
  // Stretches the source rectangle onto the destination rectangle with `rop`.
  // Returns the number of scan lines of the source, 0 on failure.
  int stretchDIBits(int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                    int srcWidth, int srcHeight, const void* bits, const void* header,
                    ColorUse usage, RasterOp rop);

  // Writes the surface as a binary PPM, for looking at what was drawn.
  bool writePpm(const std::string& path) const;

 private:
  void combine(int x, int y, std::uint32_t source, RasterOp rop);

  int width_, height_;
  std::vector<std::uint32_t> pixels_;
  Palette* palette_ = nullptr;
  int stretchMode_ = BLACKONWHITE;
};

}  // namespace platform
