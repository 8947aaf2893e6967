// Run-length decoding of BMP pixel data (BI_RLE8 and BI_RLE4) into the uncompressed,
// bottom-up rows the image classes keep.
#pragma once

#include <cstddef>
#include <cstdint>

namespace detail {

// How a run-length stream ended.
enum class RleEnd {
  endOfBitmap,  // the end-of-bitmap code
  dataEnded,    // the data ran out first; the pixels not reached stay index 0
  pastImage,    // a delta or end-of-line moved past the last row; the rest is ignored
};

// Decodes `size` bytes of RLE8 (bitCount 8) or RLE4 (bitCount 4) data into `bits`: rows
// of `stride` bytes, bottom row first, 8-bit indices or 4-bit ones high nibble first.
// `bits` must hold stride * height zeroed bytes. Every run is cut at the end of its row,
// so no code, however hostile, writes outside the rows.
RleEnd decodeBmpRle(const std::uint8_t* data, std::size_t size, int bitCount, int width, int height,
                    std::uint8_t* bits, std::size_t stride);

}  // namespace detail
