// Test Model 5 rate control: a bit target per picture from the remaining bits
// of the group and the complexity of each picture type, a virtual buffer per
// type whose fullness sets the macroblock quantiser, and modulation of the
// quantiser by the macroblock's spatial activity.
#include <algorithm>
#include <cmath>

#include "quiltbench/video/bit_writer.h"
#include "quiltbench/video/encoder_stages.h"
#include "quiltbench/video/quantisation.h"

namespace quiltbench::encoder {
namespace {

// Ratios of the quantisers of P and B pictures to that of I pictures.
constexpr double kKp = 1.0;
constexpr double kKb = 1.4;

struct RateControl {
  double bitRate = 0;
  double pictureRate = 0;  // pictures (fields when coding fields) per second
  bool fields = false;
  int r = 0;
  double Xi = 0, Xp = 0, Xb = 0;
  double d0i = 0, d0p = 0, d0b = 0;
  double avgAct = 400.0;
  double R = 0;  // bits left for the rest of the group
  int Np = 0, Nb = 0;
  // Per picture.
  double T = 0;
  double d = 0;
  std::int64_t S = 0;  // bit count at the picture's start
  double actSum = 0;
  int mbCount = 0;
  double qSum = 0;
  int q = 0;  // last quantiser_scale
  int qScaleType = 0;
  // Buffer model.
  std::int64_t picturesCoded = 0;
  double initialDelay = 0;  // seconds
};

RateControl g_rc;

double blockVariance(const std::uint8_t* p, int stride) {
  int sum = 0, squares = 0;
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      const int v = p[y * stride + x];
      sum += v;
      squares += v * v;
    }
  }
  return squares / 64.0 - (sum / 64.0) * (sum / 64.0);
}

}  // namespace

void initRateControlSequence(const EncoderParameters& params) {
  g_rc = RateControl{};
  g_rc.bitRate = params.bit_rate;
  g_rc.fields = params.field_pictures != 0;
  g_rc.pictureRate = params.frame_rate * (g_rc.fields ? 2 : 1);
  const double frameRate = params.frame_rate;
  g_rc.r = params.r != 0 ? params.r
                         : static_cast<int>(std::floor(2.0 * params.bit_rate / frameRate + 0.5));
  g_rc.avgAct = params.avg_act != 0 ? params.avg_act : 400.0;
  g_rc.Xi = params.Xi != 0 ? params.Xi : std::floor(160.0 * params.bit_rate / 115.0 + 0.5);
  g_rc.Xp = params.Xp != 0 ? params.Xp : std::floor(60.0 * params.bit_rate / 115.0 + 0.5);
  g_rc.Xb = params.Xb != 0 ? params.Xb : std::floor(42.0 * params.bit_rate / 115.0 + 0.5);
  // A reaction parameter below one (a rate of a few bits per second, or a
  // negative value in the file) would divide the buffer fullness by zero.
  if (g_rc.r < 1) g_rc.r = 1;
  if (!(g_rc.avgAct > 0)) g_rc.avgAct = 400.0;
  g_rc.d0i = params.d0i != 0 ? params.d0i : std::floor(10.0 * g_rc.r / 31.0 + 0.5);
  g_rc.d0p = params.d0p != 0 ? params.d0p : std::floor(10.0 * g_rc.r / 31.0 + 0.5);
  g_rc.d0b = params.d0b != 0 ? params.d0b : std::floor(14.0 * g_rc.r / 31.0 + 0.5);
  // The decoder starts once the buffer is seven eighths full.
  g_rc.initialDelay = params.vbv_buffer_size * 16384.0 * 7.0 / 8.0 / params.bit_rate;
}

void initRateControlGroup(int np, int nb) {
  const double frames = 1.0 + np + nb;
  g_rc.R += std::floor(frames * g_rc.bitRate / (g_rc.pictureRate / (g_rc.fields ? 2 : 1)) + 0.5);
  // In field coding the I frame's second field is a P picture.
  g_rc.Np = g_rc.fields ? 2 * np + 1 : np;
  g_rc.Nb = g_rc.fields ? 2 * nb : nb;
}

void initRateControlPicture(const EncoderParameters& params, const PictureState& picture,
                            const Sizes& sizes, const Frame& source,
                            std::vector<MacroblockInfo>& macroblocks) {
  const double minimum = g_rc.bitRate / (8.0 * g_rc.pictureRate);
  switch (picture.pict_type) {
    case kPictureI:
      g_rc.T = g_rc.R /
               (1.0 + g_rc.Np * g_rc.Xp / (g_rc.Xi * kKp) + g_rc.Nb * g_rc.Xb / (g_rc.Xi * kKb));
      g_rc.d = g_rc.d0i;
      break;
    case kPictureP:
      g_rc.T = g_rc.R / (g_rc.Np + g_rc.Nb * kKp * g_rc.Xb / (kKb * g_rc.Xp));
      g_rc.d = g_rc.d0p;
      break;
    default:
      g_rc.T = g_rc.R / (g_rc.Nb + g_rc.Np * kKb * g_rc.Xp / (kKp * g_rc.Xb));
      g_rc.d = g_rc.d0b;
      break;
  }
  if (!(g_rc.T > minimum)) g_rc.T = minimum;
  g_rc.S = bitCount();
  g_rc.qSum = 0;
  g_rc.qScaleType = picture.q_scale_type;
  g_rc.mbCount = sizes.mb_width * sizes.mb_height2;

  // Spatial activity: 1 + the smallest variance of the macroblock's four luma
  // blocks, and in interlaced frames also of its four field blocks.
  const bool field = picture.pict_struct != kFramePicture;
  const int parity = picture.pict_struct == kBottomField ? 1 : 0;
  const int W = sizes.width;
  const int stride = field ? 2 * W : W;
  const bool fieldBlocks = !field && !params.progressive_frame;
  g_rc.actSum = 0;
  for (int mby = 0; mby < sizes.mb_height2; ++mby) {
    for (int mbx = 0; mbx < sizes.mb_width; ++mbx) {
      const std::uint8_t* p = source[0] + parity * W + mby * 16 * stride + mbx * 16;
      double smallest = blockVariance(p, stride);
      smallest = std::min(smallest, blockVariance(p + 8, stride));
      smallest = std::min(smallest, blockVariance(p + 8 * stride, stride));
      smallest = std::min(smallest, blockVariance(p + 8 * stride + 8, stride));
      if (fieldBlocks) {
        smallest = std::min(smallest, blockVariance(p, 2 * stride));
        smallest = std::min(smallest, blockVariance(p + 8, 2 * stride));
        smallest = std::min(smallest, blockVariance(p + stride, 2 * stride));
        smallest = std::min(smallest, blockVariance(p + stride + 8, 2 * stride));
      }
      MacroblockInfo& mb = macroblocks[mby * sizes.mb_width + mbx];
      mb.act = 1.0 + smallest;
      g_rc.actSum += mb.act;
    }
  }
}

int macroblockQuantiser(const PictureState& picture, int index, const MacroblockInfo& macroblock) {
  const double used = static_cast<double>(bitCount() - g_rc.S);
  const double fullness = g_rc.d + used - g_rc.T * index / g_rc.mbCount;
  double q = fullness * 31.0 / g_rc.r;
  if (q < 1.0) q = 1.0;
  const double act = macroblock.act;
  const double normalised = (2.0 * act + g_rc.avgAct) / (act + 2.0 * g_rc.avgAct);
  const double largest = picture.q_scale_type ? 112.0 : 62.0;
  double scale = 2.0 * q * normalised;
  // Complexities read from the file may be anything; never let the
  // quantiser go beyond its range or become undefined.
  scale = std::isfinite(scale) ? std::clamp(scale, 1.0, largest) : largest;
  const int code = quantiserScaleCode(static_cast<int>(scale + 0.5), picture.q_scale_type);
  g_rc.q = quantiserScale(code, picture.q_scale_type);
  g_rc.qSum += g_rc.q / 2.0;
  return g_rc.q;
}

void updateRateControlPicture(const PictureState& picture, const Sizes& sizes,
                              const std::vector<MacroblockInfo>& macroblocks) {
  (void)sizes;
  (void)macroblocks;
  const double bits = static_cast<double>(bitCount() - g_rc.S);
  g_rc.R -= bits;
  const double averageQ = g_rc.mbCount > 0 ? g_rc.qSum / g_rc.mbCount : 1.0;
  const double complexity = bits * averageQ;
  const double fullness = g_rc.d + bits - g_rc.T;
  switch (picture.pict_type) {
    case kPictureI:
      g_rc.Xi = complexity;
      g_rc.d0i = fullness;
      break;
    case kPictureP:
      g_rc.Xp = complexity;
      g_rc.d0p = fullness;
      --g_rc.Np;
      break;
    default:
      g_rc.Xb = complexity;
      g_rc.d0b = fullness;
      --g_rc.Nb;
      break;
  }
  if (g_rc.mbCount > 0) g_rc.avgAct = g_rc.actSum / g_rc.mbCount;
  ++g_rc.picturesCoded;
}

int vbvDelay(const EncoderParameters& params, const PictureState& picture) {
  (void)picture;
  if (params.bit_rate <= 0 || g_rc.pictureRate <= 0) return 0xffff;
  const double decodeTime = g_rc.initialDelay + g_rc.picturesCoded / g_rc.pictureRate;
  const double arrival = static_cast<double>(bitCount()) / params.bit_rate;
  const double delay = 90000.0 * (decodeTime - arrival);
  if (delay < 0) return 0;
  if (delay > 65534) return 65534;
  return static_cast<int>(delay);
}

}  // namespace quiltbench::encoder
