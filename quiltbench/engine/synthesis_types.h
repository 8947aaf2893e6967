// Work formats of the patch synthesis engine: pixel rows, per-pixel seam records and
// source coordinates, summed-area tables, and the fixed patch geometry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

// Patches are 32x32 on a 24-pixel grid, so neighbours overlap by 8 pixels.
inline constexpr int kPatchSize = 32;
inline constexpr int kGridStep = 24;
inline constexpr int kOverlap = kPatchSize - kGridStep;

using BYTE = std::uint8_t;

// Thrown out of a synthesis when no candidate patch can be found (every offset used,
// or an unknown search mode). The dialog reports it as "Operation error!".
class SynthesisError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A source offset or an output position, as the framework's point type holds it.
struct CPoint {
  int x = 0;
  int y = 0;
  friend bool operator==(const CPoint&, const CPoint&) = default;
};

// An image as rows of 3 bytes a pixel in the bitmap's byte order (blue, green, red);
// row 0 is the first row stored in the bitmap. Rows are contiguous, `width * 3` bytes each.
class PixelRows {
 public:
  PixelRows() = default;
  // Black rows; a non-positive size gives an empty image.
  PixelRows(int width, int height)
      : width_(width > 0 && height > 0 ? width : 0),
        height_(width > 0 && height > 0 ? height : 0),
        bytes_(static_cast<std::size_t>(width_) * 3 * static_cast<std::size_t>(height_)) {}

  int width() const { return width_; }
  int height() const { return height_; }
  bool empty() const { return bytes_.empty(); }
  std::size_t stride() const { return static_cast<std::size_t>(width_) * 3; }

  std::uint8_t* operator[](int y) { return bytes_.data() + stride() * static_cast<std::size_t>(y); }
  const std::uint8_t* operator[](int y) const {
    return bytes_.data() + stride() * static_cast<std::size_t>(y);
  }
  std::uint8_t* pixel(int x, int y) { return (*this)[y] + 3 * static_cast<std::size_t>(x); }
  const std::uint8_t* pixel(int x, int y) const {
    return (*this)[y] + 3 * static_cast<std::size_t>(x);
  }

  friend bool operator==(const PixelRows&, const PixelRows&) = default;

 private:
  int width_ = 0;
  int height_ = 0;
  std::vector<std::uint8_t> bytes_;
};

// Per output pixel: whether a cut seam runs to its right (next column) and down (next
// row) neighbour, and what the cut paid for it. A flag counts as set only when it is 1.
struct SeamRecord {
  BYTE right = 0;
  float rightCost = 0.0f;
  BYTE down = 0;
  float downCost = 0.0f;
};

// Per output pixel: the sample pixel it was copied from.
struct SourceCoord {
  int x = 0;
  int y = 0;
};

// A width x height array of T, addressed [row][column].
template <typename T>
class Grid {
 public:
  Grid() = default;
  Grid(int width, int height)
      : width_(width > 0 && height > 0 ? width : 0),
        height_(width > 0 && height > 0 ? height : 0),
        cells_(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_)) {}

  int width() const { return width_; }
  int height() const { return height_; }
  T* operator[](int y) { return cells_.data() + static_cast<std::size_t>(width_) * y; }
  const T* operator[](int y) const { return cells_.data() + static_cast<std::size_t>(width_) * y; }

 private:
  int width_ = 0;
  int height_ = 0;
  std::vector<T> cells_;
};

// Summed-area table with `Channels` sums a pixel: entry (y, x) holds the sums over all
// pixels (x' <= x, y' <= y). 64-bit entries: squares of a 256x256 sample already pass 2^31.
template <int Channels>
class SummedAreaTable {
 public:
  SummedAreaTable() = default;
  SummedAreaTable(int width, int height)
      : width_(width),
        height_(height),
        sums_(static_cast<std::size_t>(width) * height * Channels) {}

  int width() const { return width_; }
  int height() const { return height_; }
  std::int64_t* entry(int x, int y) {
    return sums_.data() + (static_cast<std::size_t>(y) * width_ + x) * Channels;
  }
  const std::int64_t* entry(int x, int y) const {
    return sums_.data() + (static_cast<std::size_t>(y) * width_ + x) * Channels;
  }

  // Sum of channel c over columns x .. x + w - 1 and rows y .. y + h - 1 (inside the table).
  std::int64_t windowSum(int x, int y, int w, int h, int c = 0) const {
    auto at = [&](int ex, int ey) -> std::int64_t {
      return ex < 0 || ey < 0 ? 0 : entry(ex, ey)[c];
    };
    return at(x + w - 1, y + h - 1) - at(x + w - 1, y - 1) - at(x - 1, y + h - 1) +
           at(x - 1, y - 1);
  }

  void clear() {
    width_ = height_ = 0;
    sums_.clear();
    sums_.shrink_to_fit();
  }

 private:
  int width_ = 0;
  int height_ = 0;
  std::vector<std::int64_t> sums_;
};
