// The colours of a document's image as the view puts them on screen: 8-bit red, green,
// blue per pixel, top row first, made once whenever the image changes so that a repaint
// is a plain copy.
#pragma once

#include <cstdint>
#include <vector>

class CImage;

// width x height x 3 bytes (r, g, b), rows from the top of the picture. Every bit depth
// gives the colours CImage::GetPixelRGB gives (palette entries for indexed images, the
// 5-5-5 or 5-6-5 fields of 16-bit ones). Empty for an invalid or empty image.
std::vector<std::uint8_t> DisplayRgb(const CImage& image);
