// The cost of separating two neighbouring pixels s and t by a seam between an old and
// a new picture; shared by every graph cut of the engine and the video pipeline.
#pragma once

#include <cmath>
#include <cstdint>

// A pixel's three bytes packed as byte 0 | byte 1 << 8 | byte 2 << 16.
inline std::uint32_t PackPixel(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16;
}

// ||b - d|| + ||a - c|| over the three low bytes (a fourth byte is ignored). Called with
// a = old(s), b = old(t), c = new(s), d = new(t).
inline float SeamCost(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  auto distance = [](std::uint32_t p, std::uint32_t q) {
    int sum = 0;
    for (int shift = 0; shift < 24; shift += 8) {
      const int diff =
          static_cast<int>((p >> shift) & 0xFF) - static_cast<int>((q >> shift) & 0xFF);
      sum += diff * diff;
    }
    return std::sqrt(static_cast<float>(sum));
  };
  return distance(b, d) + distance(a, c);
}
