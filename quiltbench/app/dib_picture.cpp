#include "quiltbench/app/dib_picture.h"

#include <algorithm>
#include <cstring>

#include "quiltbench/engine/dib.h"

namespace {

constexpr std::uint8_t kBackground = 0x80;

std::uint32_t readU32(const unsigned char* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

}  // namespace

std::optional<RgbPicture> dibToRgb(platform::HGLOBAL dib) {
  if (!dib) return std::nullopt;
  const std::size_t available = platform::GlobalSize(dib);
  platform::GlobalLockGuard lock(dib);
  const auto* header = static_cast<const unsigned char*>(lock.data());
  if (!header || available < 40) return std::nullopt;
  const std::uint32_t headerSize = readU32(header);
  const std::uint32_t compression = readU32(header + 16);
  const std::uint16_t bits = DibBitCount(header);
  const std::uint32_t width = DibWidth(header), height = DibHeight(header);
  if (headerSize < 40 || headerSize > available || compression != 0) return std::nullopt;
  if (bits != 8 && bits != 24 && bits != 32) return std::nullopt;
  if (width == 0 || height == 0 || width > 65535 || height > 65535) return std::nullopt;

  const std::uint64_t paletteEnd = std::uint64_t{headerSize} + DibPaletteSize(header);
  const std::uint64_t stride = (std::uint64_t{width} * bits + 31) / 32 * 4;
  if (paletteEnd + stride * height > available) return std::nullopt;
  const unsigned char* table = header + headerSize;
  const std::uint16_t colours = DibColorCount(header);
  const unsigned char* rows = DibBits(header);

  RgbPicture picture{static_cast<int>(width), static_cast<int>(height), {}};
  picture.rgb.resize(std::size_t{width} * height * 3);
  for (std::uint32_t y = 0; y < height; ++y) {
    const unsigned char* row = rows + (height - 1 - y) * stride;  // stored bottom-up
    std::uint8_t* out = picture.rgb.data() + std::size_t{y} * width * 3;
    for (std::uint32_t x = 0; x < width; ++x, out += 3) {
      if (bits == 8) {
        const unsigned index = row[x];
        if (index < colours) {
          const unsigned char* q = table + index * 4;
          out[0] = q[2], out[1] = q[1], out[2] = q[0];
        } else {
          out[0] = out[1] = out[2] = 0;
        }
      } else {
        const unsigned char* p = row + x * (bits / 8);
        out[0] = p[2], out[1] = p[1], out[2] = p[0];
      }
    }
  }
  return picture;
}

RgbPicture sideBySide(const RgbPicture& left, const RgbPicture& right, int gap) {
  RgbPicture both;
  both.width = left.width + gap + right.width;
  both.height = std::max(left.height, right.height);
  both.rgb.assign(std::size_t(both.width) * both.height * 3, kBackground);
  const auto paste = [&both](const RgbPicture& p, int atX) {
    for (int y = 0; y < p.height; ++y)
      std::copy_n(p.rgb.data() + std::size_t(y) * p.width * 3, std::size_t(p.width) * 3,
                  both.rgb.data() + (std::size_t(y) * both.width + atX) * 3);
  };
  paste(left, 0);
  paste(right, left.width + gap);
  return both;
}
