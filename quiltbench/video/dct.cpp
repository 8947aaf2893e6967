// Forward and inverse DCT as two passes of 8-point products with the cosine
// table, in single precision; the inverse adds a shortcut for the all-zero rows
// that quantisation leaves behind.
#include "quiltbench/video/dct.h"

#include <cmath>
#include <numbers>

#include "quiltbench/video/encoder_stages.h"

namespace quiltbench::encoder {
namespace {

// kCosine[u][x] = c(u) / 2 * cos((2x + 1) u pi / 16), c(0) = 1 / sqrt(2).
float g_cosine[8][8];
// Limits the inverse transform's output to -256..255, addressed from -512.
std::int16_t g_idctClipStorage[1024];
const std::int16_t* g_idctClip = g_idctClipStorage + 512;
bool g_ready = false;

void buildCosine() {
  for (int u = 0; u < 8; ++u) {
    const double scale = (u == 0) ? std::sqrt(0.125) : 0.5;
    for (int x = 0; x < 8; ++x) {
      g_cosine[u][x] =
          static_cast<float>(scale * std::cos((2 * x + 1) * u * std::numbers::pi / 16.0));
    }
  }
  g_ready = true;
}

// Nearest integer, halves away from zero.
inline int roundToInt(float v) { return static_cast<int>(v + (v >= 0 ? 0.5f : -0.5f)); }

}  // namespace

void initForwardDct() { buildCosine(); }

void initInverseDct() {
  if (!g_ready) buildCosine();
  for (int i = -512; i < 512; ++i) {
    g_idctClipStorage[i + 512] = static_cast<std::int16_t>(i < -256 ? -256 : (i > 255 ? 255 : i));
  }
}

void forwardDct(std::array<std::int16_t, 64>& block) {
  float rows[8][8];  // rows[y][u]: horizontal transform of each row
  for (int y = 0; y < 8; ++y) {
    float in[8];
    for (int x = 0; x < 8; ++x) in[x] = block[y * 8 + x];
    for (int u = 0; u < 8; ++u) {
      float s = 0;
      for (int x = 0; x < 8; ++x) s += g_cosine[u][x] * in[x];
      rows[y][u] = s;
    }
  }
  for (int v = 0; v < 8; ++v) {
    float out[8] = {};
    for (int y = 0; y < 8; ++y) {
      const float c = g_cosine[v][y];
      for (int u = 0; u < 8; ++u) out[u] += c * rows[y][u];
    }
    for (int u = 0; u < 8; ++u) block[v * 8 + u] = static_cast<std::int16_t>(roundToInt(out[u]));
  }
}

void inverseDct(std::array<std::int16_t, 64>& block) {
  float rows[8][8];  // rows[v][x]: horizontal inverse of each coefficient row
  for (int v = 0; v < 8; ++v) {
    const std::int16_t* in = &block[v * 8];
    bool zero = true;
    for (int u = 0; u < 8; ++u) zero = zero && in[u] == 0;
    if (zero) {
      for (int x = 0; x < 8; ++x) rows[v][x] = 0;
      continue;
    }
    for (int x = 0; x < 8; ++x) rows[v][x] = 0;
    for (int u = 0; u < 8; ++u) {
      if (in[u] == 0) continue;
      const float f = in[u];
      for (int x = 0; x < 8; ++x) rows[v][x] += g_cosine[u][x] * f;
    }
  }
  for (int y = 0; y < 8; ++y) {
    float out[8] = {};
    for (int v = 0; v < 8; ++v) {
      const float c = g_cosine[v][y];
      for (int x = 0; x < 8; ++x) out[x] += c * rows[v][x];
    }
    for (int x = 0; x < 8; ++x) {
      int r = roundToInt(out[x]);
      r = r < -512 ? -512 : (r > 511 ? 511 : r);
      block[y * 8 + x] = g_idctClip[r];
    }
  }
}

}  // namespace quiltbench::encoder
