#include "patchloom/image/bmp_rle.h"

namespace detail {
namespace {

class RleRows {
 public:
  RleRows(int bitCount, int width, int height, std::uint8_t* bits, std::size_t stride)
      : fourBits_(bitCount == 4), width_(width), height_(height), bits_(bits), stride_(stride) {}

  bool insideImage() const { return y_ < height_; }
  // Pixels still free in the current row.
  int roomInRow() const { return insideImage() ? width_ - x_ : 0; }

  void put(int index) {
    std::uint8_t* row = bits_ + static_cast<std::size_t>(y_) * stride_;
    if (fourBits_) {
      std::uint8_t& byte = row[x_ >> 1];
      byte = static_cast<std::uint8_t>((x_ & 1) ? (byte & 0xF0) | (index & 0x0F)
                                                : (byte & 0x0F) | (index << 4));
    } else {
      row[x_] = static_cast<std::uint8_t>(index);
    }
    ++x_;
  }

  void nextRow() {
    x_ = 0;
    ++y_;
  }

  // Moves right and up (rows are stored bottom-up); false when that leaves the image.
  bool move(int right, int up) {
    x_ += right;
    y_ += up;
    return x_ <= width_ && y_ < height_;
  }

 private:
  bool fourBits_;
  int width_, height_;
  std::uint8_t* bits_;
  std::size_t stride_;
  int x_ = 0, y_ = 0;
};

}  // namespace

RleEnd decodeBmpRle(const std::uint8_t* data, std::size_t size, int bitCount, int width, int height,
                    std::uint8_t* bits, std::size_t stride) {
  RleRows rows(bitCount, width, height, bits, stride);
  const bool fourBits = bitCount == 4;
  // The colour of pixel i of a run: RLE4 runs alternate the byte's two nibbles.
  const auto runColour = [fourBits](std::uint8_t byte, int i) {
    if (!fourBits) return static_cast<int>(byte);
    return (i & 1) ? byte & 0x0F : byte >> 4;
  };
  std::size_t pos = 0;
  while (pos + 2 <= size) {
    const int count = data[pos];
    const std::uint8_t value = data[pos + 1];
    pos += 2;
    if (count > 0) {
      const int n = count < rows.roomInRow() ? count : rows.roomInRow();
      for (int i = 0; i < n; ++i) rows.put(runColour(value, i));
      continue;
    }
    switch (value) {
      case 0:  // end of line
        rows.nextRow();
        if (!rows.insideImage()) return RleEnd::pastImage;
        break;
      case 1:
        return RleEnd::endOfBitmap;
      case 2:  // delta
        if (pos + 2 > size) return RleEnd::dataEnded;
        if (!rows.move(data[pos], data[pos + 1])) return RleEnd::pastImage;
        pos += 2;
        break;
      default: {  // absolute run of `value` pixels, padded to a 16-bit boundary
        const std::size_t bytes = fourBits ? (value + 1u) / 2 : value;
        const std::size_t padded = (bytes + 1) & ~std::size_t{1};
        const std::size_t available = size - pos < bytes ? size - pos : bytes;
        const int pixels = fourBits ? static_cast<int>(available * 2) : static_cast<int>(available);
        const int wanted = value < pixels ? value : pixels;
        const int n = wanted < rows.roomInRow() ? wanted : rows.roomInRow();
        for (int i = 0; i < n; ++i)
          rows.put(runColour(data[pos + (fourBits ? i / 2 : i)], fourBits ? i : 0));
        if (available < bytes) return RleEnd::dataEnded;
        pos += padded;
        break;
      }
    }
  }
  return RleEnd::dataEnded;
}

}  // namespace detail
