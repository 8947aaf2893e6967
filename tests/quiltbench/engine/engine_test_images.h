// Sample images for the engine's tests: noise, a smooth structured texture, and DIB
// handles built byte by byte.
#pragma once

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "platform/bitmap_format.h"
#include "platform/global_memory.h"
#include "quiltbench/engine/synthesis_types.h"

namespace engine_test {

inline PixelRows NoiseImage(int width, int height, unsigned seed) {
  std::mt19937 random(seed);
  PixelRows rows(width, height);
  for (int y = 0; y < height; ++y)
    for (std::size_t i = 0; i < rows.stride(); ++i)
      rows[y][i] = static_cast<std::uint8_t>(random() & 0xFF);
  return rows;
}

// Bricks of slightly varying colour with dark mortar and a little grain: it has
// structure, so seams show, and no two windows are alike.
inline PixelRows BrickImage(int width, int height, unsigned seed) {
  std::mt19937 random(seed);
  PixelRows rows(width, height);
  std::vector<int> tint(64);
  for (int& t : tint) t = static_cast<int>(random() % 60);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int course = y / 10;
      const int shifted = x + (course % 2) * 11;
      const bool mortar = y % 10 == 0 || shifted % 22 == 0;
      const int brick = (course * 7 + shifted / 22) % 64;
      const int grain = static_cast<int>(random() % 24);
      std::uint8_t* p = rows.pixel(x, y);
      if (mortar) {
        p[0] = p[1] = p[2] = static_cast<std::uint8_t>(60 + grain);
      } else {
        p[0] = static_cast<std::uint8_t>(40 + tint[brick] / 2 + grain);
        p[1] = static_cast<std::uint8_t>(60 + tint[brick] + grain);
        p[2] = static_cast<std::uint8_t>(140 + tint[brick] + grain);
      }
    }
  }
  return rows;
}

// A bottom-up DIB with a 40-byte info header. `palette` holds blue, green, red triples
// (the colour table gets one entry per triple); `pixel(x, y)` gives the stored bytes of
// row y (bitCount / 8 bytes, or the index for 8 bits; rows of 1 and 4 bits stay zero).
template <typename PixelFn>
platform::HGLOBAL MakeDib(int width, int height, int bitCount,
                          const std::vector<std::uint8_t>& palette, PixelFn pixel,
                          std::uint32_t clrUsed = 0) {
  const std::uint64_t stride = platform::dibStride(width, bitCount);
  const std::size_t tableBytes = palette.size() / 3 * 4;
  const std::size_t bytes = 40 + tableBytes + stride * height;
  platform::HGLOBAL dib = platform::GlobalAlloc(platform::GHND, bytes);
  platform::GlobalLockGuard lock(dib);
  auto* out = lock.as<std::uint8_t>();
  platform::BitmapInfoHeader header{};
  header.size = 40;
  header.width = width;
  header.height = height;
  header.planes = 1;
  header.bitCount = static_cast<std::uint16_t>(bitCount);
  header.clrUsed = clrUsed;
  platform::storePacked(out, header);
  for (std::size_t i = 0; i < palette.size() / 3; ++i)
    std::memcpy(out + 40 + 4 * i, &palette[3 * i], 3);
  std::uint8_t* bits = out + 40 + tableBytes;
  if (bitCount >= 8) {
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) pixel(x, y, bits + stride * y + x * (bitCount / 8));
  }
  return dib;
}

inline platform::HGLOBAL MakeDib24(const PixelRows& rows) {
  return MakeDib(rows.width(), rows.height(), 24, {},
                 [&](int x, int y, std::uint8_t* p) { std::memcpy(p, rows.pixel(x, y), 3); });
}

}  // namespace engine_test
