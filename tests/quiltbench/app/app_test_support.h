// Sample BMP files and a scoped drive mapping for the dialog and command-line tests.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/bitmap_format.h"
#include "tests/support/test_support.h"

namespace app_test {

// A copy of a packed header field, which must not be bound to a reference.
template <typename T>
T field(T value) {
  return value;
}

// A w x h BMP with a smooth colour pattern (24-bit), or a 4-bit one that the engine refuses.
inline void writeSampleBmp(const std::string& path, int w, int h, int bitCount = 24) {
  const std::uint32_t colors = bitCount <= 8 ? 1u << bitCount : 0;
  const std::uint32_t stride = static_cast<std::uint32_t>(platform::dibStride(w, bitCount));
  const std::uint32_t image = stride * h;
  const std::uint32_t offset = 14 + 40 + 4 * colors;
  std::vector<unsigned char> bytes(offset + image, 0);
  platform::BitmapFileHeader file{platform::kBitmapFileType, offset + image, 0, 0, offset};
  platform::BitmapInfoHeader info{};
  info.size = 40;
  info.width = w;
  info.height = h;
  info.planes = 1;
  info.bitCount = static_cast<std::uint16_t>(bitCount);
  std::memcpy(bytes.data(), &file, 14);
  std::memcpy(bytes.data() + 14, &info, 40);
  for (std::uint32_t i = 0; i < 4 * colors; ++i) bytes[54 + i] = static_cast<unsigned char>(i * 5);
  for (int y = 0; y < h; ++y)
    for (std::uint32_t k = 0; k < stride; ++k)
      bytes[offset + y * stride + k] = static_cast<unsigned char>((k * 5 + y * 3) ^ (k * y));
  test_support::writeFileBytes(path, bytes);
}

using test_support::ScopedDriveC;

}  // namespace app_test
