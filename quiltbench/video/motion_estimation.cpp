// Motion estimation: per macroblock, full-pel search on the source pictures,
// half-pel refinement on the reconstructed references, then the choice between
// frame and field prediction, the prediction directions and intra coding.
#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>

#include "quiltbench/video/encoder_stages.h"
#include "quiltbench/video/motion_search.h"
#include "quiltbench/video/prediction.h"
#include "quiltbench/video/sad.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quiltbench::encoder {
namespace {

// A vector found for one block of 16 x h: half-pel vector, the reference field
// (field predictions) and its SAD against the reconstructed reference.
struct Match {
  int mv[2];
  int fieldSelect;
  int sad;
};

PlaneView frameView(const Frame& frame, const Sizes& sizes) {
  return {frame[0], sizes.width, sizes.width, sizes.height};
}

PlaneView fieldView(const Frame& frame, const Sizes& sizes, int parity) {
  return {frame[0] + parity * sizes.width, 2 * sizes.width, sizes.width, sizes.height / 2};
}

// Full-pel vectors found per macroblock for every kind of search (block,
// direction, reference field), in this picture and in the one coded before:
// the seeds of the predictive search. Block 0 is the 16 x 16 block of a frame
// or field picture, 1 and 2 the top and bottom field blocks of a frame
// picture's macroblock.
class VectorMemory {
 public:
  static constexpr int kKinds = 3 * 2 * 2;
  static int kind(int block, int s, int fieldSelect) { return (block * 2 + s) * 2 + fieldSelect; }

  // `forget` drops the previous picture's vectors (at the start of a sequence
  // they belong to another encode).
  void startPicture(int mbWidth, int mbHeight, bool forget) {
    const std::size_t count = static_cast<std::size_t>(mbWidth) * mbHeight;
    if (forget || mbWidth != width_ || mbHeight != height_) {
      for (auto& v : previous_) v.assign(count, kNone);
    } else {
      std::swap(previous_, current_);
    }
    for (auto& v : current_) v.assign(count, kNone);
    width_ = mbWidth, height_ = mbHeight;
  }

  void remember(int kind, int mbx, int mby, Displacement d) { current_[kind][at(mbx, mby)] = d; }

  // Neighbours coded before in this picture (left, above, above right and
  // their median), then the same place and its right and lower neighbours in
  // the previous picture. Appends to `seeds` (room for kMaxSeeds).
  void seeds(int kind, int mbx, int mby, Displacement* seeds, int& count) const {
    const auto& now = current_[kind];
    const auto& before = previous_[kind];
    auto add = [&](const std::vector<Displacement>& from, int x, int y) {
      if (x < 0 || x >= width_ || y < 0 || y >= height_) return;
      const Displacement d = from[at(x, y)];
      if (d.dx != kNone.dx) seeds[count++] = d;
    };
    const int first = count;
    add(now, mbx - 1, mby);
    add(now, mbx, mby - 1);
    add(now, mbx + 1, mby - 1);
    if (count - first == 3) {
      const Displacement* n = seeds + first;
      seeds[count++] = {median(n[0].dx, n[1].dx, n[2].dx), median(n[0].dy, n[1].dy, n[2].dy)};
    }
    add(before, mbx, mby);
    add(before, mbx + 1, mby);
    add(before, mbx, mby + 1);
  }

  static constexpr int kMaxSeeds = 8;

 private:
  static constexpr Displacement kNone{INT_MIN, INT_MIN};
  static int median(int a, int b, int c) {
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
  }
  std::size_t at(int mbx, int mby) const { return static_cast<std::size_t>(mby) * width_ + mbx; }

  int width_ = 0, height_ = 0;
  std::array<std::vector<Displacement>, kKinds> current_, previous_;
};

VectorMemory g_vectorMemory;

// Where a search's seeds come from and its result goes.
struct SeedPlace {
  int kind;
  int mbx, mby;
  const Displacement* extra = nullptr;  // one more seed (the frame vector for field blocks)
};

// Full-pel search on `sourceRef`, then the eight half-pel neighbours on
// `reconRef` (the same picture reconstructed).
Match searchBlock(const std::uint8_t* current, int currentStride, const PlaneView& sourceRef,
                  const PlaneView& reconRef, int x, int y, int h, int sx, int sy,
                  const SeedPlace& place) {
  const SearchWindow window = searchWindow(sourceRef, x, y, h, sx, sy);
  Displacement seeds[VectorMemory::kMaxSeeds + 1];
  int seedCount = 0;
  if (place.extra) seeds[seedCount++] = *place.extra;
  g_vectorMemory.seeds(place.kind, place.mbx, place.mby, seeds, seedCount);
  const SearchResult full =
      motionSearchMode() == MotionSearchMode::Full
          ? fullSearch(current, currentStride, sourceRef, x, y, h, window,
                       seedCount ? seeds[0].dx : 0, seedCount ? seeds[0].dy : 0)
          : predictiveSearch(current, currentStride, sourceRef, x, y, h, window, seeds, seedCount);
  g_vectorMemory.remember(place.kind, place.mbx, place.mby, {full.dx, full.dy});
  const int cx = 2 * full.dx, cy = 2 * full.dy;
  const std::uint8_t* origin = reconRef.data + y * reconRef.stride + x;
  // SAD at half-pel offset (ox, oy) from the full-pel vector, INT_MAX where
  // the interpolation would read outside the view or the vector leave the
  // search width; may stop above `limit`.
  auto measurable = [&](int ox, int oy) {
    const int hx = cx + ox, hy = cy + oy;
    return x + (hx >> 1) >= 0 && x + (hx >> 1) + 16 + (hx & 1) <= reconRef.width &&
           y + (hy >> 1) >= 0 && y + (hy >> 1) + h + (hy & 1) <= reconRef.rows &&
           std::abs(hx) <= 2 * sx && std::abs(hy) <= 2 * sy;
  };
  auto measure = [&](int ox, int oy, int limit) {
    if (!measurable(ox, oy)) return INT_MAX;
    return halfPelSad16(current, currentStride, origin, reconRef.stride, cx + ox, cy + oy, h,
                        limit);
  };
  // The full-pel position and its four half-pel neighbours on the axes,
  // measured in one pass where all are inside; then, in the predictive mode,
  // only the diagonal between the better horizontal and the better vertical
  // one: six of the nine positions, nearly always including the best.
  constexpr int kCrossOffsets[5][2] = {{0, 0}, {-1, 0}, {1, 0}, {0, -1}, {0, 1}};
  int cross[5];
  // All five measurable: the full-pel block one sample and one row away from
  // the edges of the view, and the vector short of the search width.
  const bool crossInside = x + full.dx >= 1 && x + full.dx + 17 <= reconRef.width &&
                           y + full.dy >= 1 && y + full.dy + h + 1 <= reconRef.rows &&
                           std::abs(full.dx) < sx && std::abs(full.dy) < sy;
  if (crossInside) {
    crossHalfPelSads16(current, currentStride, origin + full.dy * reconRef.stride + full.dx,
                       reconRef.stride, h, cross);
  } else {
    for (int k = 0; k < 5; ++k)
      cross[k] = measure(kCrossOffsets[k][0], kCrossOffsets[k][1], INT_MAX);
  }
  Match best{{cx, cy}, 0, cross[0]};
  auto consider = [&](int ox, int oy) {
    const int sad = measure(ox, oy, best.sad);
    if (sad < best.sad) best = {{cx + ox, cy + oy}, 0, sad};
  };
  if (motionSearchMode() == MotionSearchMode::Full) {
    for (int oy = -1; oy <= 1; ++oy) {
      for (int ox = -1; ox <= 1; ++ox) {
        if (ox != 0 || oy != 0) consider(ox, oy);
      }
    }
    return best;
  }
  const int centre = best.sad;
  int bestOffset[2] = {0, 0};
  for (int axis = 0; axis < 2; ++axis) {
    int axisSad = centre;
    for (int side = 0; side < 2; ++side) {
      const int sad = cross[1 + 2 * axis + side];
      if (sad < axisSad) axisSad = sad, bestOffset[axis] = side ? 1 : -1;
    }
    if (axisSad < best.sad) {
      best = {
          {cx + (axis == 0 ? bestOffset[0] : 0), cy + (axis == 1 ? bestOffset[1] : 0)}, 0, axisSad};
    }
  }
  if (bestOffset[0] != 0 && bestOffset[1] != 0) consider(bestOffset[0], bestOffset[1]);
  return best;
}

// Luma prediction of a 16 x h block for one match.
void predictMatch(const PlaneView& reconRef, int x, int y, int h, const Match& m, std::uint8_t* out,
                  bool average) {
  predictBlock(reconRef.data, reconRef.stride, x, y, m.mv[0], m.mv[1], 16, h, out, 16, average);
}

struct Candidate {
  int mbType = 0;  // kMbForward / kMbBackward flags
  int motionType = kMotionFrame;
  Match m[2][2]{};  // [r][s]
  int dmv[2]{};
  int sad = INT_MAX;
  std::uint8_t prediction[256];
};

// out = (a + b + 1) >> 1 over two 16 x 16 predictions.
void averagePredictions(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* out) {
#if defined(__SSE2__)
  for (int i = 0; i < 256; i += 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                     _mm_avg_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i)),
                                  _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i))));
  }
#else
  for (int i = 0; i < 256; ++i) out[i] = static_cast<std::uint8_t>((a[i] + b[i] + 1) >> 1);
#endif
}

long squaredError(const std::uint8_t* current, int stride, const std::uint8_t* prediction) {
  return squaredError16(current, stride, prediction);
}

long variance(const std::uint8_t* current, int stride) { return variance16(current, stride); }

// The luma prediction of a dual-prime macroblock and its SAD, or INT_MAX when
// one of its references would leave the picture. Frame pictures: `mv` is the
// same-parity field vector of both fields; field pictures: of the one field.
struct DualPrimeContext {
  const std::uint8_t* current;
  int currentStride;
  bool framePicture;
  bool topFieldFirst;
  int parity;           // field pictures
  PlaneView same;       // field pictures: the same-parity reference field
  PlaneView opposite;   // field pictures: the opposite-parity reference field
  PlaneView fields[2];  // frame pictures: top and bottom reference fields
  int x, y;             // macroblock position in the field (field pictures) or frame
};

bool inside(const PlaneView& view, int x, int y, int h, const int v[2]) {
  return x + (v[0] >> 1) >= 0 && x + (v[0] >> 1) + 16 + (v[0] & 1) <= view.width &&
         y + (v[1] >> 1) >= 0 && y + (v[1] >> 1) + h + (v[1] & 1) <= view.rows;
}

int dualPrimeSad(const DualPrimeContext& c, const int mv[2], const int dmv[2], int fCodeH,
                 int fCodeV, std::uint8_t* out) {
  int derived[2][2];
  dualPrimeVectors(mv, dmv, c.framePicture, c.topFieldFirst, c.parity, derived);
  // Derived vectors must stay codable ranges as well.
  const int hLimit = 16 << (fCodeH - 1), vLimit = 16 << (fCodeV - 1);
  const int used = c.framePicture ? 2 : 1;
  for (int k = 0; k < used; ++k) {
    if (derived[k][0] < -hLimit || derived[k][0] >= hLimit) return INT_MAX;
    if (derived[k][1] < -vLimit || derived[k][1] >= vLimit) return INT_MAX;
  }
  if (!c.framePicture) {
    if (!inside(c.same, c.x, c.y, 16, mv) || !inside(c.opposite, c.x, c.y, 16, derived[0]))
      return INT_MAX;
    predictBlock(c.same.data, c.same.stride, c.x, c.y, mv[0], mv[1], 16, 16, out, 16, false);
    predictBlock(c.opposite.data, c.opposite.stride, c.x, c.y, derived[0][0], derived[0][1], 16, 16,
                 out, 16, true);
    return sad16(c.current, c.currentStride, out, 16, 16, INT_MAX);
  }
  const int fy = c.y / 2;
  for (int r = 0; r < 2; ++r) {
    if (!inside(c.fields[r], c.x, fy, 8, mv) || !inside(c.fields[1 - r], c.x, fy, 8, derived[r])) {
      return INT_MAX;
    }
    predictBlock(c.fields[r].data, c.fields[r].stride, c.x, fy, mv[0], mv[1], 16, 8, out + r * 16,
                 32, false);
    predictBlock(c.fields[1 - r].data, c.fields[1 - r].stride, c.x, fy, derived[r][0],
                 derived[r][1], 16, 8, out + r * 16, 32, true);
  }
  return sad16(c.current, c.currentStride, out, 16, 16, INT_MAX);
}

// Best dual-prime choice around the candidate same-parity vectors.
struct DualPrimeMatch {
  int mv[2];
  int dmv[2];
  int sad;
  std::uint8_t prediction[256];
};

DualPrimeMatch searchDualPrime(const DualPrimeContext& c,
                               const std::vector<std::array<int, 2>>& candidates, int fCodeH,
                               int fCodeV) {
  DualPrimeMatch best{};
  best.sad = INT_MAX;
  std::uint8_t trial[256];
  for (const auto& candidate : candidates) {
    for (int dy = -1; dy <= 1; ++dy) {
      for (int dx = -1; dx <= 1; ++dx) {
        const int dmv[2] = {dx, dy};
        const int mv[2] = {candidate[0], candidate[1]};
        const int sad = dualPrimeSad(c, mv, dmv, fCodeH, fCodeV, trial);
        if (sad < best.sad) {
          best.sad = sad;
          best.mv[0] = mv[0], best.mv[1] = mv[1];
          best.dmv[0] = dx, best.dmv[1] = dy;
          std::copy(trial, trial + 256, best.prediction);
        }
      }
    }
  }
  return best;
}

// Prefers the zero vector when it is nearly as good: it costs fewer bits and
// lets P macroblocks be skipped.
constexpr int kZeroVectorBias = 64;

// The SAD of a 16 x 16 match within half a level per sample on average; on the
// benchmark clips skipping the backward search below it cost 0.02-0.05 dB and
// saved 4% of the time, twice that threshold 0.06 dB for 5.5%.
constexpr int kCloseMatchSad = 128;

// Averaging two predictions halves the noise of each, which SAD undervalues:
// the interpolated prediction is taken when its SAD is within this many
// sixteenths of the best single direction's (+0.08 dB on the zoom clip of the
// encoder benchmark at 4 Mbit/s, nothing lost on the others; a quarter cost the
// panning clip 0.03 dB, and adding an estimate of the vector bits to the SAD
// only lost at these rates).
constexpr int kInterpolationAllowance = 2;

// The B picture's choice between forward, backward and interpolated
// prediction (`both`, null where the two directions differ in kind).
const Candidate* chosenBPrediction(const Candidate single[2], const Candidate* both) {
  const Candidate* chosen = single[1].sad < single[0].sad ? &single[1] : &single[0];
  if (both && 16L * both->sad < (16L + kInterpolationAllowance) * chosen->sad) chosen = both;
  return chosen;
}

}  // namespace

void estimateMotion(const FrameStores& stores, const Frame& source, const Frame& reconstruction,
                    const PictureState& picture, const Sizes& sizes,
                    std::vector<MacroblockInfo>& macroblocks) {
  const bool framePicture = picture.pict_struct == kFramePicture;
  const int parity = picture.pict_struct == kBottomField ? 1 : 0;
  const bool mpeg1 = g_encoder.params.mpeg1 != 0;

  // Search widths, limited so that every vector stays codable.
  auto limit = [&](int width, int fCode) {
    if (fCode < 1 || fCode > 9) return 0;
    return std::max(0, std::min(width, (4 << fCode) - 1));
  };
  int sx[2] = {limit(picture.sxf, picture.forw_hor_f_code),
               limit(picture.sxb, picture.back_hor_f_code)};
  int sy[2] = {limit(picture.syf, mpeg1 ? picture.forw_hor_f_code : picture.forw_vert_f_code),
               limit(picture.syb, mpeg1 ? picture.back_hor_f_code : picture.back_vert_f_code)};

  // Dual-prime prediction serves P pictures of interlaced video with no B
  // pictures between a picture and its reference.
  const bool dualPrime =
      !mpeg1 && picture.pict_type == kPictureP && g_encoder.params.M == 1 &&
      (framePicture ? !picture.frame_pred_frame_dct : !picture.predict_from_first);

  if (picture.pict_type != kPictureI) {
    g_vectorMemory.startPicture(sizes.mb_width, sizes.mb_height2, false);
  } else if (!picture.second_field) {
    g_vectorMemory.startPicture(sizes.mb_width, sizes.mb_height2, true);
  }

  for (int mby = 0; mby < sizes.mb_height2; ++mby) {
    for (int mbx = 0; mbx < sizes.mb_width; ++mbx) {
      MacroblockInfo& mb = macroblocks[mby * sizes.mb_width + mbx];
      mb = MacroblockInfo{};
      mb.mb_type = kMbIntra;
      mb.motion_type = framePicture ? kMotionFrame : kMotionField;
      if (picture.pict_type == kPictureI) continue;

      const int x = mbx * 16;
      const PlaneView currentView =
          framePicture ? frameView(source, sizes) : fieldView(source, sizes, parity);
      const int y = mby * 16;
      const std::uint8_t* current = currentView.data + y * currentView.stride + x;
      const int currentStride = currentView.stride;

      const int directions = picture.pict_type == kPictureB ? 2 : 1;
      Candidate single[2];  // best per direction
      int searched = 0;     // directions searched
      for (int s = 0; s < directions; ++s) {
        // A forward match within half a level per sample leaves the backward and
        // interpolated predictions little to gain; their search is skipped.
        if (s == 1 && motionSearchMode() == MotionSearchMode::Predictive &&
            single[0].sad <= kCloseMatchSad) {
          break;
        }
        ++searched;
        const Frame& oldSource = s == 0 ? stores.oldSource : stores.newSource;
        Candidate& c = single[s];
        c.mbType = s == 0 ? kMbForward : kMbBackward;
        if (framePicture) {
          const Frame& ref = s == 0 ? stores.oldReference : stores.newReference;
          const PlaneView src = frameView(oldSource, sizes);
          const PlaneView rec = frameView(ref, sizes);
          Match m;
          const int sad0 = s == 0 && picture.pict_type == kPictureP
                               ? sad16(current, currentStride, rec.data + y * rec.stride + x,
                                       rec.stride, 16, INT_MAX)
                               : INT_MAX;
          if (sad0 <= kZeroVectorBias) {
            // No search can beat the zero vector by its bias: keep it unsearched.
            m = {{0, 0}, 0, sad0};
            g_vectorMemory.remember(VectorMemory::kind(0, s, 0), mbx, mby, {0, 0});
          } else {
            m = searchBlock(current, currentStride, src, rec, x, y, 16, sx[s], sy[s],
                            {VectorMemory::kind(0, s, 0), mbx, mby});
            if (sad0 <= m.sad + kZeroVectorBias) m = {{0, 0}, 0, sad0};
          }
          const Displacement frameVector{m.mv[0] >> 1, m.mv[1] >> 2};
          c.motionType = kMotionFrame;
          c.m[0][s] = m;
          c.sad = m.sad;
          predictMatch(rec, x, y, 16, m, c.prediction, false);
          if (!picture.frame_pred_frame_dct) {
            // Field prediction: each field of the macroblock from either field.
            Match fm[2];
            int total = 0;
            for (int r = 0; r < 2; ++r) {
              const std::uint8_t* cur = source[0] + (y + r) * sizes.width + x;
              fm[r].sad = INT_MAX;
              for (int sel = 0; sel < 2; ++sel) {
                Match f = searchBlock(cur, 2 * sizes.width, fieldView(oldSource, sizes, sel),
                                      fieldView(ref, sizes, sel), x, y / 2, 8, sx[s], sy[s] / 2,
                                      {VectorMemory::kind(1 + r, s, sel), mbx, mby, &frameVector});
                f.fieldSelect = sel;
                if (f.sad < fm[r].sad) fm[r] = f;
              }
              total += fm[r].sad;
            }
            if (total < c.sad) {
              c.motionType = kMotionField;
              c.m[0][s] = fm[0];
              c.m[1][s] = fm[1];
              c.sad = total;
              for (int r = 0; r < 2; ++r) {
                std::uint8_t half[16 * 8];
                predictMatch(fieldView(ref, sizes, fm[r].fieldSelect), x, y / 2, 8, fm[r], half,
                             false);
                for (int j = 0; j < 8; ++j) {
                  std::copy(half + j * 16, half + j * 16 + 16, c.prediction + (2 * j + r) * 16);
                }
              }
            }
            if (dualPrime) {
              DualPrimeContext dp{current, currentStride,
                                  true,    picture.top_field_first != 0,
                                  0,       {},
                                  {},      {fieldView(ref, sizes, 0), fieldView(ref, sizes, 1)},
                                  x,       y};
              std::vector<std::array<int, 2>> candidates{{m.mv[0], m.mv[1] / 2}};
              for (int r = 0; r < 2; ++r) {
                if (fm[r].fieldSelect == r) candidates.push_back({fm[r].mv[0], fm[r].mv[1]});
              }
              const DualPrimeMatch d = searchDualPrime(dp, candidates, picture.forw_hor_f_code,
                                                       picture.forw_vert_f_code);
              if (d.sad < c.sad) {
                c.motionType = kMotionDualPrime;
                c.m[0][0] = {{d.mv[0], d.mv[1]}, 0, d.sad};
                c.dmv[0] = d.dmv[0], c.dmv[1] = d.dmv[1];
                c.sad = d.sad;
                std::copy(d.prediction, d.prediction + 256, c.prediction);
              }
            }
          }
        } else {
          // Field picture: 16 x 16 field blocks from one of the reference fields.
          c.motionType = kMotionField;
          c.sad = INT_MAX;
          Match sameParity{{0, 0}, 0, INT_MAX};
          for (int sel = 0; sel < 2; ++sel) {
            const bool ownFrame =
                s == 0 && picture.second_field && picture.pict_type == kPictureP && sel != parity;
            if (picture.predict_from_first && !ownFrame) continue;
            const Frame& rec = referenceFrame(stores, reconstruction, picture, s, sel);
            const Frame& src = ownFrame ? source : oldSource;
            const PlaneView srcView = fieldView(src, sizes, sel);
            const PlaneView recView = fieldView(rec, sizes, sel);
            Match m = searchBlock(current, currentStride, srcView, recView, x, y, 16, sx[s], sy[s],
                                  {VectorMemory::kind(0, s, sel), mbx, mby});
            if (s == 0 && picture.pict_type == kPictureP && sel == parity) {
              const int sad0 = sad16(current, currentStride, recView.data + y * recView.stride + x,
                                     recView.stride, 16, INT_MAX);
              if (sad0 <= m.sad + kZeroVectorBias) m = {{0, 0}, 0, sad0};
            }
            m.fieldSelect = sel;
            if (m.sad < c.sad) {
              c.m[0][s] = m;
              c.sad = m.sad;
              predictMatch(recView, x, y, 16, m, c.prediction, false);
            }
            if (sel == parity) sameParity = m;
          }
          if (dualPrime && sameParity.sad != INT_MAX) {
            DualPrimeContext dp{
                current,
                currentStride,
                false,
                false,
                parity,
                fieldView(referenceFrame(stores, reconstruction, picture, 0, parity), sizes,
                          parity),
                fieldView(referenceFrame(stores, reconstruction, picture, 0, 1 - parity), sizes,
                          1 - parity),
                {},
                x,
                y};
            const DualPrimeMatch d =
                searchDualPrime(dp, {{sameParity.mv[0], sameParity.mv[1]}}, picture.forw_hor_f_code,
                                picture.forw_vert_f_code);
            if (d.sad < c.sad) {
              c.motionType = kMotionDualPrime;
              c.m[0][0] = {{d.mv[0], d.mv[1]}, parity, d.sad};
              c.dmv[0] = d.dmv[0], c.dmv[1] = d.dmv[1];
              c.sad = d.sad;
              std::copy(d.prediction, d.prediction + 256, c.prediction);
            }
          }
        }
      }

      const Candidate* chosen = &single[0];
      Candidate both;
      if (searched == 2) {
        // Interpolated prediction from the two best single-direction ones,
        // when both use the same kind of prediction.
        const bool interpolate = single[0].motionType == single[1].motionType;
        if (interpolate) {
          both.mbType = kMbForward | kMbBackward;
          both.motionType = single[0].motionType;
          for (int r = 0; r < 2; ++r) {
            both.m[r][0] = single[0].m[r][0];
            both.m[r][1] = single[1].m[r][1];
          }
          averagePredictions(single[0].prediction, single[1].prediction, both.prediction);
          both.sad = sad16(current, currentStride, both.prediction, 16, 16, INT_MAX);
        }
        chosen = chosenBPrediction(single, interpolate ? &both : nullptr);
      }
      const Candidate& best = *chosen;

      // Intra when the prediction error carries more energy than the
      // macroblock itself.
      const long error = squaredError(current, currentStride, best.prediction);
      if (error > variance(current, currentStride)) continue;

      mb.mb_type = best.mbType;
      mb.motion_type = best.motionType;
      mb.dmvector[0] = best.dmv[0];
      mb.dmvector[1] = best.dmv[1];
      for (int r = 0; r < 2; ++r) {
        for (int s = 0; s < 2; ++s) {
          mb.MV[r][s][0] = best.m[r][s].mv[0];
          mb.MV[r][s][1] = best.m[r][s].mv[1];
          mb.mv_field_sel[r][s] = best.m[r][s].fieldSelect;
        }
      }
    }
  }
}

}  // namespace quiltbench::encoder
