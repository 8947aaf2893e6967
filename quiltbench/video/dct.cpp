// Forward and inverse DCT: the kernels of the processor, and the precise
// single-precision forward transform.
#include "quiltbench/video/dct.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "quiltbench/video/coding_kernels.h"
#include "quiltbench/video/encoder_stages.h"
#include "quiltbench/video/inverse_dct_butterfly.h"

namespace quiltbench::encoder {
namespace {

// Nearest integer, halves away from zero.
inline int roundToInt(float v) { return static_cast<int>(v + (v >= 0 ? 0.5f : -0.5f)); }

// Whether every term but the DC term is zero. Read in vectors straight from the
// block: a copy through narrower words stalls on the kernel's wide stores.
bool onlyDcTerm(const std::array<std::int16_t, 64>& block) {
#if defined(__SSE2__)
  const auto* rows = reinterpret_cast<const __m128i*>(block.data());
  __m128i any = _mm_and_si128(_mm_loadu_si128(rows), _mm_set_epi16(-1, -1, -1, -1, -1, -1, -1, 0));
  for (int i = 1; i < 8; ++i) any = _mm_or_si128(any, _mm_loadu_si128(rows + i));
  return _mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) == 0xffff;
#else
  for (int i = 1; i < 64; ++i) {
    if (block[i] != 0) return false;
  }
  return true;
#endif
}

}  // namespace

// Both build the kernels' tables now rather than inside the first picture.
void initForwardDct() { detail::forwardDctTable(); }
void initInverseDct() { detail::inverseDctHalfCosines(); }

void forwardDct(std::array<std::int16_t, 64>& block) {
  static const auto kernel = activeKernels().forwardDct;
  kernel(block);
}

void inverseDct(std::array<std::int16_t, 64>& block) {
  // Blocks with a DC level alone are common at low rates. In every kernel the
  // zero terms leave the DC term's value unchanged, so k * (k * DC) with
  // k = cos(pi / 4) / 2 is exactly what the full transform gives.
  if (onlyDcTerm(block)) {
    const float k = detail::inverseDctHalfCosines()[4];
    const float v = k * (k * static_cast<float>(block[0]));
    const int r = static_cast<int>(v + (v >= 0 ? 0.5f : -0.5f));
    block.fill(static_cast<std::int16_t>(r < -256 ? -256 : (r > 255 ? 255 : r)));
    return;
  }
  static const auto kernel = activeKernels().inverseDct;
  kernel(block);
}

void forwardDctPrecise(std::array<std::int16_t, 64>& block) {
  const auto& cosine = detail::inverseDctTable();
  float rows[8][8];  // rows[y][u]: horizontal transform of each row
  for (int y = 0; y < 8; ++y) {
    for (int u = 0; u < 8; ++u) {
      float s = 0;
      for (int x = 0; x < 8; ++x) s += cosine[u][x] * static_cast<float>(block[y * 8 + x]);
      rows[y][u] = s;
    }
  }
  for (int v = 0; v < 8; ++v) {
    float out[8] = {};
    for (int y = 0; y < 8; ++y) {
      for (int u = 0; u < 8; ++u) out[u] += cosine[v][y] * rows[y][u];
    }
    for (int u = 0; u < 8; ++u) block[v * 8 + u] = static_cast<std::int16_t>(roundToInt(out[u]));
  }
}

}  // namespace quiltbench::encoder
