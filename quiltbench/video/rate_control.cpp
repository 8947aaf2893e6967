// Test Model 5 rate control: a bit target per picture from the remaining bits
// of the group and the complexity of each picture type, a virtual buffer per
// type whose fullness sets the macroblock quantiser, and modulation of the
// quantiser by the macroblock's spatial activity. Around it the decoder's buffer
// model: pictures kept within the bits the buffer holds at their decoding time,
// stuffing where they cannot spend the rate, and the vbv_delay of each picture.
#include "quiltbench/video/rate_control.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

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
  bool variableDelay = false;    // vbv_delay 0xFFFF: the buffer fills until full
  double modelRate = 0;          // the bit rate as the sequence header codes it
  double modelSize = 0;          // bits the buffer may hold (see initBufferModel)
  double period = 0;             // seconds between decoding times
  double firstDecode = 0;        // decoding time of the first picture after the first bit
  double variableFullness = 0;   // variable delay: bits in the buffer at this picture's decoding
  double budget = 0;             // bits this picture may spend without underflow
  std::int64_t previousEnd = 0;  // bit count where the previous picture's data ended
  // The least an intra and an inter macroblock is expected to cost, and how many
  // intra macroblocks motion estimation left from each index on.
  int minimalIntraBits = 0;
  int minimalInterBits = 0;
  std::vector<int> intraFrom;
  int lastIndex = -1;  // the macroblock of the previous quantiser call, its kind and the bits then
  bool lastIntra = false;
  std::int64_t lastBitCount = 0;
  int rowCount = 0;
  bool starved = false;
  bool underflowReported = false;
};

RateControl g_rc;
bool g_activityMasking = true;

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

// A decoder may only start a picture once all of it has arrived, and never holds
// more than its buffer; a 16-bit vbv_delay also caps how long a bit may wait, so
// at low rates the usable buffer is what arrives in 65534 ticks.
constexpr double kMaxDelayTicks = 65534.0;
constexpr double kTicksPerSecond = 90000.0;
// Room kept for the slice headers of rows not yet started and the sequence end
// code, so the guard's estimate never lets the picture's last bits arrive late.
constexpr int kSliceHeaderBits = 48;
constexpr int kReserveBits = 256;
// Spare bits per macroblock below which the buffer, not Test Model 5, sets a
// lower bound on the quantiser (tuned on detailed QCIF pictures with a 49152-bit
// buffer: ordinary rates never come near it).
constexpr double kComfortableMacroblockBits = 300;

void initBufferModel(const EncoderParameters& params) {
  g_rc.modelRate = 400.0 * std::ceil(params.bit_rate / 400.0);
  const double frame = 1.0 / params.frame_rate;
  if (params.field_pictures) {
    g_rc.period = frame / 2;
  } else if (params.repeat_first_field) {
    g_rc.period =
        params.progressive_sequence ? frame * (params.top_field_first ? 3 : 2) : frame * 1.5;
  } else {
    g_rc.period = frame;
  }
  const double buffer = params.vbv_buffer_size * 16384.0;
  g_rc.modelSize = std::min(buffer, g_rc.modelRate * kMaxDelayTicks / kTicksPerSecond);
  // Stuffing after a picture must still arrive before it is decoded, so the
  // buffer has to hold a few pictures' worth of the rate; below that no delay can
  // be kept constant and the stream is coded with a variable one.
  g_rc.variableDelay = g_rc.modelSize < 4.0 * g_rc.modelRate * g_rc.period;
  if (g_rc.variableDelay) {
    std::fprintf(stderr,
                 "Warning: the VBV buffer cannot hold a constant bit rate of %.0f bit/s; "
                 "coding a variable delay (vbv_delay 0xffff)\n",
                 g_rc.modelRate);
    g_rc.modelSize = buffer;
    g_rc.variableFullness = buffer;
  }
  // The decoder starts once the buffer is seven eighths full.
  g_rc.firstDecode = g_rc.modelSize * 7.0 / 8.0 / g_rc.modelRate;
}

double decodingTime(std::int64_t picture) {
  return g_rc.firstDecode + static_cast<double>(picture) * g_rc.period;
}

// Bits this picture may spend from its start until its decoding time.
// The headers already written before the picture count against it too.
double pictureBudget(std::int64_t pictureStart, std::int64_t previousEnd) {
  if (g_rc.variableDelay) {
    return g_rc.variableFullness - static_cast<double>(pictureStart - previousEnd);
  }
  return g_rc.modelRate * decodingTime(g_rc.picturesCoded) - static_cast<double>(pictureStart);
}

// Zero bytes before the next start code, so that the bits arriving until the
// next decoding time fit the buffer.
void stuffAgainstOverflow() {
  alignBits();
  const double nextDecode = decodingTime(g_rc.picturesCoded);
  const double thisDecode = decodingTime(g_rc.picturesCoded - 1);
  const double arrivedByNext = g_rc.modelRate * nextDecode;
  // One tick of margin for the rounding of vbv_delay.
  const double needed = arrivedByNext - g_rc.modelSize + g_rc.modelRate / kTicksPerSecond -
                        static_cast<double>(bitCount());
  const double room = g_rc.modelRate * thisDecode - static_cast<double>(bitCount());
  const double bits = std::min(needed, room - kReserveBits);
  if (bits <= 0) return;
  const auto bytes = static_cast<std::int64_t>(std::ceil(bits / 8.0));
  for (std::int64_t k = 0; k < bytes; ++k) putBits(0, 8);
  g_rc.R -= 8.0 * static_cast<double>(bytes);
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
  initBufferModel(params);
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
  g_rc.budget = pictureBudget(g_rc.S, g_rc.previousEnd);
  g_rc.rowCount = sizes.mb_height2;
  // An intra macroblock cannot leave out its DC terms (a size code, the
  // difference and an end of block each, in the worst case near 12 bits plus the
  // extra precision); others can be coded with their motion alone. What such
  // macroblocks took before is kept: the content goes on being what it was.
  g_rc.minimalIntraBits =
      std::max(g_rc.minimalIntraBits, (12 + picture.intra_dc_precision) * sizes.block_count + 16);
  g_rc.minimalInterBits = std::max(g_rc.minimalInterBits, 24);
  // Test Model 5's target kept where the buffer allows: below what the picture
  // may spend before its decoding time, above what it must spend so that the
  // buffer does not overflow before the next one.
  if (!g_rc.variableDelay) {
    const double floorBits = g_rc.modelRate * decodingTime(g_rc.picturesCoded + 1) -
                             g_rc.modelSize - static_cast<double>(g_rc.S);
    g_rc.T = std::max(g_rc.T, floorBits);
  }
  g_rc.T = std::min(g_rc.T, 0.9 * g_rc.budget);
  g_rc.starved = false;
  g_rc.lastIndex = -1;
  g_rc.qSum = 0;
  g_rc.qScaleType = picture.q_scale_type;
  g_rc.mbCount = sizes.mb_width * sizes.mb_height2;
  g_rc.intraFrom.assign(static_cast<std::size_t>(g_rc.mbCount) + 1, 0);
  for (int k = g_rc.mbCount - 1; k >= 0; --k) {
    g_rc.intraFrom[k] = g_rc.intraFrom[k + 1] + ((macroblocks[k].mb_type & kMbIntra) ? 1 : 0);
  }

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

namespace {

// How hard the decoder's buffer presses on the quantiser of macroblock `index`:
// 0 leaves it to Test Model 5, 1 asks for the coarsest. Sets `starved` once what
// is left of the picture's budget only just covers the macroblocks still to come
// at their smallest: they then get nothing more than the syntax demands.
double bufferPressure(int index, const MacroblockInfo& macroblock, double used) {
  // What a macroblock coded that way actually took raises the estimate of its
  // kind: large DC steps and long vectors cost more than the shortest codes.
  if (g_rc.starved && index > g_rc.lastIndex && g_rc.lastIndex >= 0) {
    const auto taken = static_cast<int>(bitCount() - g_rc.lastBitCount);
    int& estimate = g_rc.lastIntra ? g_rc.minimalIntraBits : g_rc.minimalInterBits;
    estimate = std::max(estimate, taken);
  }
  g_rc.lastIndex = index;
  g_rc.lastIntra = (macroblock.mb_type & kMbIntra) != 0;
  g_rc.lastBitCount = bitCount();

  const int rowsLeft = g_rc.rowCount - index * g_rc.rowCount / std::max(1, g_rc.mbCount);
  const bool inRange = index >= 0 && index < g_rc.mbCount;
  const int intraLeft = inRange ? g_rc.intraFrom[index] : 0;
  const int interLeft = inRange ? g_rc.mbCount - index - intraLeft : 0;
  const double leastToCome = static_cast<double>(intraLeft) * g_rc.minimalIntraBits +
                             static_cast<double>(interLeft) * g_rc.minimalInterBits +
                             static_cast<double>(rowsLeft) * kSliceHeaderBits + kReserveBits;
  if (used + leastToCome > g_rc.budget) g_rc.starved = true;
  if (g_rc.starved) return 1.0;
  // Where the bits each macroblock may still take beyond its smallest coding are
  // few, a coarse quantiser keeps one detailed macroblock from spending what the
  // rest of the picture needs.
  const double perMacroblock =
      (g_rc.budget - used - leastToCome) / std::max(1, g_rc.mbCount - index);
  return std::clamp(1.0 - perMacroblock / kComfortableMacroblockBits, 0.0, 1.0);
}

// The quantiser_scale_code whose quantiser_scale lies nearest to `scale`
// (halves up on the linear scale, to the smaller on the non-linear one).
int nearestScaleCode(double scale, int qScaleType) {
  if (!qScaleType) return std::clamp(static_cast<int>(std::floor(scale / 2 + 0.5)), 1, 31);
  int best = 1;
  for (int code = 2; code < 32; ++code) {
    if (std::abs(quantiserScale(code, qScaleType) - scale) <
        std::abs(quantiserScale(best, qScaleType) - scale)) {
      best = code;
    }
  }
  return best;
}

}  // namespace

void setActivityMasking(bool enabled) { g_activityMasking = enabled; }
bool activityMasking() { return g_activityMasking; }

int macroblockQuantiser(const PictureState& picture, int index, const MacroblockInfo& macroblock) {
  const double used = static_cast<double>(bitCount() - g_rc.S);
  const double pressure = bufferPressure(index, macroblock, used);
  const double fullness = g_rc.d + used - g_rc.T * index / g_rc.mbCount;
  const double q = fullness * 31.0 / g_rc.r;
  const double act = macroblock.act;
  const double normalised =
      g_activityMasking ? (2.0 * act + g_rc.avgAct) / (act + 2.0 * g_rc.avgAct) : 1.0;
  // mquant, in steps of the linear scale (quantiser_scale / 2), is clipped only
  // once modulated: a busy macroblock of a picture under its target still gets
  // a coarser step than a flat one.
  const double largest = picture.q_scale_type ? 112.0 : 62.0;
  double scale = 2.0 * q * normalised;
  // Complexities read from the file may be anything; never let the
  // quantiser go beyond its range or become undefined.
  scale = std::isfinite(scale) ? std::clamp(scale, 1.0, largest) : largest;
  scale = std::max(scale, pressure * largest);
  g_rc.q = quantiserScale(nearestScaleCode(scale, picture.q_scale_type), picture.q_scale_type);
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

  if (!g_rc.variableDelay) stuffAgainstOverflow();
  alignBits();
  const std::int64_t end = bitCount();
  const double spent = static_cast<double>(end - g_rc.previousEnd);
  if (static_cast<double>(end - g_rc.S) > g_rc.budget && !g_rc.underflowReported) {
    std::fprintf(stderr, "Warning: picture %lld does not fit the VBV buffer (underflow)\n",
                 static_cast<long long>(g_rc.picturesCoded - 1));
    g_rc.underflowReported = true;
  }
  if (g_rc.variableDelay) {
    g_rc.variableFullness =
        std::min(g_rc.modelSize, g_rc.variableFullness - spent + g_rc.modelRate * g_rc.period);
  }
  g_rc.previousEnd = end;
}

bool macroblockStarved() { return g_rc.starved; }

int vbvDelay(const EncoderParameters& params, const PictureState& picture) {
  (void)params;
  (void)picture;
  if (g_rc.variableDelay) return 0xffff;
  // Measured from the last byte of the picture start code, which follows the
  // byte alignment.
  const double startCodeEnd = static_cast<double>((bitCount() + 7) / 8 * 8 + 32);
  const double delay =
      kTicksPerSecond * (decodingTime(g_rc.picturesCoded) - startCodeEnd / g_rc.modelRate);
  // The model keeps the delay inside the field; only a picture that already
  // failed to fit could push it out.
  return static_cast<int>(std::clamp(std::floor(delay + 0.5), 0.0, kMaxDelayTicks));
}

}  // namespace quiltbench::encoder
