// Forward transform of the prediction error and inverse transform into the
// reconstruction, block by block in the layout of picture_layout.h.
#include "quiltbench/video/transform.h"

#include <cstring>

#include "quiltbench/video/dct.h"
#include "quiltbench/video/encoder_stages.h"
#include "quiltbench/video/picture_layout.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quiltbench::encoder {
namespace {

// block = src - pred (pred null: src itself), 8 x 8 samples rows `stride` apart.
// Returns whether any difference is not zero.
bool formResidual(const std::uint8_t* src, const std::uint8_t* pred, int stride, Block& block) {
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  __m128i any = zero;
  for (int y = 0; y < 8; ++y) {
    const __m128i s = _mm_unpacklo_epi8(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + y * stride)), zero);
    const __m128i p =
        pred ? _mm_unpacklo_epi8(
                   _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pred + y * stride)), zero)
             : zero;
    const __m128i difference = _mm_sub_epi16(s, p);
    any = _mm_or_si128(any, difference);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&block[y * 8]), difference);
  }
  return _mm_movemask_epi8(_mm_cmpeq_epi8(any, zero)) != 0xffff;
#else
  bool any = false;
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      const int p = pred ? pred[y * stride + x] : 0;
      block[y * 8 + x] = static_cast<std::int16_t>(src[y * stride + x] - p);
      any = any || block[y * 8 + x] != 0;
    }
  }
  return any;
#endif
}

// out = pred + block (pred null: block itself) limited to 0..255; block holds
// -256..255.
void addResidual(const std::uint8_t* pred, const Block& block, int stride, std::uint8_t* out) {
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (int y = 0; y < 8; ++y) {
    const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&block[y * 8]));
    const __m128i p =
        pred ? _mm_unpacklo_epi8(
                   _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pred + y * stride)), zero)
             : zero;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + y * stride),
                     _mm_packus_epi16(_mm_add_epi16(p, r), zero));
  }
#else
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      const int p = pred ? pred[y * stride + x] : 0;
      const int v = p + block[y * 8 + x];
      out[y * stride + x] = static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
    }
  }
#endif
}

// Calls visit(macroblock, block number, place, block) for every block of the
// picture in coding order. A block's place is linear in the macroblock's
// position, so it is the place in the first macroblock moved by per-block steps.
template <typename Visit>
void forEachBlock(const PictureState& picture, const Sizes& sizes,
                  const std::vector<MacroblockInfo>& macroblocks, std::vector<Block>& blocks,
                  Visit visit) {
  const PictureGeometry geometry = pictureGeometry(sizes, picture);
  const int chromaFormat = sizes.block_count == 6   ? kChroma420
                           : sizes.block_count == 8 ? kChroma422
                                                    : kChroma444;
  struct Steps {
    BlockPlace first;
    int right, down;  // offset steps per macroblock column and row
  };
  Steps steps[2][12];  // [field DCT][block]
  for (int field = 0; field < 2; ++field) {
    for (int b = 0; b < sizes.block_count; ++b) {
      const BlockPlace first = blockPlace(sizes, geometry, chromaFormat, 0, 0, b, field != 0);
      steps[field][b] = {
          first,
          blockPlace(sizes, geometry, chromaFormat, 1, 0, b, field != 0).offset - first.offset,
          blockPlace(sizes, geometry, chromaFormat, 0, 1, b, field != 0).offset - first.offset};
    }
  }
  for (int mby = 0; mby < sizes.mb_height2; ++mby) {
    for (int mbx = 0; mbx < sizes.mb_width; ++mbx) {
      const int index = mby * sizes.mb_width + mbx;
      const MacroblockInfo& mb = macroblocks[index];
      const Steps* blockSteps = steps[mb.dct_type != 0 ? 1 : 0];
      for (int b = 0; b < sizes.block_count; ++b) {
        BlockPlace place = blockSteps[b].first;
        place.offset += mbx * blockSteps[b].right + mby * blockSteps[b].down;
        visit(mb, b, place, blocks[static_cast<std::size_t>(index) * sizes.block_count + b]);
      }
    }
  }
}

// The reconstruction of one block from its inverse quantised coefficients:
// blocks that are not coded take the prediction as it is.
void reconstructBlock(const Frame& prediction, const MacroblockInfo& mb, int b, int blockCount,
                      const BlockPlace& place, Block& block, Frame& reconstruction) {
  const bool intra = (mb.mb_type & kMbIntra) != 0;
  const std::uint8_t* pred = prediction[place.component] + place.offset;
  std::uint8_t* out = reconstruction[place.component] + place.offset;
  const bool coded = intra || (mb.cbp & cbpBit(b, blockCount)) != 0;
  if (!coded) {
    for (int y = 0; y < 8; ++y) std::memcpy(out + y * place.stride, pred + y * place.stride, 8);
    return;
  }
  inverseDct(block);
  addResidual(intra ? nullptr : pred, block, place.stride, out);
}

}  // namespace

void transformPicture(const Frame& source, const Frame& prediction, const PictureState& picture,
                      const Sizes& sizes, const std::vector<MacroblockInfo>& macroblocks,
                      std::vector<Block>& blocks) {
  forEachBlock(picture, sizes, macroblocks, blocks,
               [&](const MacroblockInfo& mb, int, const BlockPlace& place, Block& block) {
                 const bool intra = (mb.mb_type & kMbIntra) != 0;
                 const std::uint8_t* src = source[place.component] + place.offset;
                 // Intra blocks code the samples themselves.
                 const std::uint8_t* pred =
                     intra ? nullptr : prediction[place.component] + place.offset;
                 // A zero difference (a still area) transforms to zero.
                 if (formResidual(src, pred, place.stride, block)) forwardDct(block);
               });
}

void inverseTransformPicture(const Frame& prediction, const PictureState& picture,
                             const Sizes& sizes, const std::vector<MacroblockInfo>& macroblocks,
                             std::vector<Block>& blocks, Frame& reconstruction) {
  forEachBlock(picture, sizes, macroblocks, blocks,
               [&](const MacroblockInfo& mb, int b, const BlockPlace& place, Block& block) {
                 reconstructBlock(prediction, mb, b, sizes.block_count, place, block,
                                  reconstruction);
               });
}

void reconstructPicture(const Frame& prediction, const PictureState& picture, const Sizes& sizes,
                        const QuantMatrices& matrices, bool mpeg1,
                        const std::vector<MacroblockInfo>& macroblocks, std::vector<Block>& blocks,
                        Frame& reconstruction) {
  forEachBlock(
      picture, sizes, macroblocks, blocks,
      [&](const MacroblockInfo& mb, int b, const BlockPlace& place, Block& block) {
        if (mb.mb_type & kMbIntra) {
          inverseQuantiseIntra(block, mb.mquant, picture.intra_dc_precision, matrices.intra, mpeg1);
        } else if (mb.cbp & cbpBit(b, sizes.block_count)) {
          inverseQuantiseNonIntra(block, mb.mquant, matrices.non_intra, mpeg1);
        }
        reconstructBlock(prediction, mb, b, sizes.block_count, place, block, reconstruction);
      });
}

}  // namespace quiltbench::encoder
