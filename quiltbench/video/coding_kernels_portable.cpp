// Portable versions of the coding kernels, the definition that the SIMD
// versions reproduce bit for bit, and the choice of the set to run.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>

#include "quiltbench/video/coding_kernels.h"
#include "quiltbench/video/inverse_dct_butterfly.h"

namespace quiltbench::encoder {
namespace detail {

const std::array<std::array<std::int16_t, 8>, 8>& forwardDctTable() {
  static const auto table = [] {
    std::array<std::array<std::int16_t, 8>, 8> t{};
    for (int u = 0; u < 8; ++u) {
      const double scale = u == 0 ? std::sqrt(0.125) : 0.5;
      for (int x = 0; x < 8; ++x) {
        t[u][x] = static_cast<std::int16_t>(
            std::lround(32768 * scale * std::cos((2 * x + 1) * u * std::numbers::pi / 16)));
      }
    }
    return t;
  }();
  return table;
}

const std::array<std::array<float, 8>, 8>& inverseDctTable() {
  static const auto table = [] {
    std::array<std::array<float, 8>, 8> t{};
    for (int u = 0; u < 8; ++u) {
      const double scale = u == 0 ? std::sqrt(0.125) : 0.5;
      for (int x = 0; x < 8; ++x) {
        t[u][x] = static_cast<float>(scale * std::cos((2 * x + 1) * u * std::numbers::pi / 16));
      }
    }
    return t;
  }();
  return table;
}

}  // namespace detail

namespace {

inline std::int16_t saturate16(int v) {
  return static_cast<std::int16_t>(std::clamp(v, -32768, 32767));
}

void forwardDctPortable(std::array<std::int16_t, 64>& block) {
  const auto& c = detail::forwardDctTable();
  // Columns first, then rows, each a sum of exact products in 32 bits.
  std::int16_t columns[64];
  for (int v = 0; v < 8; ++v) {
    for (int x = 0; x < 8; ++x) {
      int sum = 0;
      for (int y = 0; y < 8; ++y) sum += c[v][y] * block[y * 8 + x];
      columns[v * 8 + x] =
          saturate16((sum + (1 << (detail::kForwardFirstShift - 1))) >> detail::kForwardFirstShift);
    }
  }
  for (int v = 0; v < 8; ++v) {
    for (int u = 0; u < 8; ++u) {
      int sum = 0;
      for (int x = 0; x < 8; ++x) sum += c[u][x] * columns[v * 8 + x];
      block[v * 8 + u] = saturate16((sum + (1 << (detail::kForwardSecondShift - 1))) >>
                                    detail::kForwardSecondShift);
    }
  }
}

// Nearest integer, halves away from zero.
inline int roundToInt(float v) { return static_cast<int>(v + (v >= 0 ? 0.5f : -0.5f)); }

void inverseDctPortable(std::array<std::int16_t, 64>& block) {
  const float* halfCos = detail::inverseDctHalfCosines();
#define QB_ADD(a, b) ((a) + (b))
#define QB_SUB(a, b) ((a) - (b))
#define QB_MUL(a, b) ((a) * (b))
#define QB_K(k) halfCos[k]
  // Columns first, then rows, as the SIMD versions do with one column per lane.
  float f[8][8];
  for (int x = 0; x < 8; ++x) {
    float v[8];
    for (int k = 0; k < 8; ++k) v[k] = static_cast<float>(block[k * 8 + x]);
    QB_INVERSE_DCT8(v, QB_ADD, QB_SUB, QB_MUL, QB_K);
    for (int y = 0; y < 8; ++y) f[y][x] = v[y];
  }
  for (int y = 0; y < 8; ++y) {
    float v[8];
    for (int k = 0; k < 8; ++k) v[k] = f[y][k];
    QB_INVERSE_DCT8(v, QB_ADD, QB_SUB, QB_MUL, QB_K);
    for (int x = 0; x < 8; ++x) {
      block[y * 8 + x] = static_cast<std::int16_t>(std::clamp(roundToInt(v[x]), -256, 255));
    }
  }
#undef QB_ADD
#undef QB_SUB
#undef QB_MUL
#undef QB_K
}

void predictBlockPortable(const std::uint8_t* ref, int refStride, int x, int y, int dx, int dy,
                          int w, int h, std::uint8_t* dst, int dstStride, bool average) {
  const int xh = dx & 1;
  const int yh = dy & 1;
  const std::uint8_t* s = ref + (y + (dy >> 1)) * refStride + x + (dx >> 1);
  for (int j = 0; j < h; ++j) {
    const std::uint8_t* a = s + j * refStride;
    const std::uint8_t* b = a + refStride;
    std::uint8_t* d = dst + j * dstStride;
    for (int i = 0; i < w; ++i) {
      int v;
      if (!xh && !yh) {
        v = a[i];
      } else if (xh && !yh) {
        v = (a[i] + a[i + 1] + 1) >> 1;
      } else if (!xh) {
        v = (a[i] + b[i] + 1) >> 1;
      } else {
        v = (a[i] + a[i + 1] + b[i] + b[i + 1] + 2) >> 2;
      }
      d[i] = static_cast<std::uint8_t>(average ? (d[i] + v + 1) >> 1 : v);
    }
  }
}

bool quantisePortable(std::array<std::int16_t, 64>& block, int first, int mquant,
                      const std::array<std::uint8_t, 64>& matrix, bool intra, int maxLevel) {
  bool any = false;
  for (int i = first; i < 64; ++i) {
    const int c = block[i];
    if (c == 0) continue;
    const int den = matrix[i] * mquant;
    const int numerator = 16 * std::abs(c) + (intra ? den / 2 : 0);
    const int level = std::min(numerator / den, maxLevel);
    block[i] = static_cast<std::int16_t>(c < 0 ? -level : level);
    any = any || level != 0;
  }
  return any;
}

int inverseQuantisePortable(std::array<std::int16_t, 64>& block, int first, int mquant,
                            const std::array<std::uint8_t, 64>& matrix, bool intra, bool mpeg1,
                            bool& anyLevel) {
  int sum = 0;
  anyLevel = false;
  for (int i = first; i < 64; ++i) {
    const int level = block[i];
    if (level == 0) continue;
    anyLevel = true;
    const int step = matrix[i] * mquant;
    int v = intra ? level * step / 16 : (2 * level + (level > 0 ? 1 : -1)) * step / 32;
    // MPEG-1 makes even values odd, toward zero.
    if (mpeg1 && (v & 1) == 0 && v != 0) v += v > 0 ? -1 : 1;
    v = std::clamp(v, -2048, 2047);
    block[i] = static_cast<std::int16_t>(v);
    sum += v;
  }
  return sum;
}

constexpr CodingKernels kPortable{"portable",         forwardDctPortable,
                                  inverseDctPortable, predictBlockPortable,
                                  quantisePortable,   inverseQuantisePortable};

}  // namespace

const CodingKernels& portableKernels() { return kPortable; }

std::vector<const CodingKernels*> availableKernels() {
  std::vector<const CodingKernels*> sets{&kPortable};
  for (const CodingKernels* k : {detail::sse2Kernels(), detail::avx2Kernels()}) {
    if (k) sets.push_back(k);
  }
  return sets;
}

const CodingKernels& activeKernels() {
  static const CodingKernels& chosen = *availableKernels().back();
  return chosen;
}

}  // namespace quiltbench::encoder
