// SSE2 and AVX2 versions of the coding kernels (x86-64). Each computes what
// the portable version in coding_kernels_portable.cpp computes, operation for
// operation where rounding matters (the inverse DCT runs the shared butterfly,
// without fused multiply-adds), so the output is the same bits.
#include "quiltbench/video/coding_kernels.h"
#include "quiltbench/video/inverse_dct_butterfly.h"
#include "quiltbench/video/sad.h"

#if defined(__x86_64__)
#include <immintrin.h>

#include <utility>

#define QB_SSE2 __attribute__((target("sse2")))
#define QB_AVX2 __attribute__((target("avx2")))

namespace quiltbench::encoder {
namespace {

// ---- Forward DCT: 16-bit products summed in pairs by pmaddwd ----------------------

// The butterfly's coefficient pairs: cos(k pi / 16) / 2 in fixed point (the
// forward table's first column, which holds every distinct magnitude) for the
// sums s_n = x_n + x_(7-n) and differences d_n = x_n - x_(7-n). Since
// c[u][7 - n] = +-c[u][n] exactly, each output is the very sum that the plain
// matrix product forms. lane[u][h]: the pair multiplying (s or d) 2h, 2h + 1
// for output u, in the low and high halves of every 32-bit lane.
struct ForwardPairs {
  alignas(16) std::int32_t lane[8][2][4];
  ForwardPairs() {
    const auto& c = detail::forwardDctTable();
    auto k = [&](int index) { return static_cast<int>(c[index][0]); };
    // Per output u: the weights of (s0, s1, s2, s3) or (d0, d1, d2, d3).
    const int weights[8][4] = {{k(4), k(4), k(4), k(4)},   {k(1), k(3), k(5), k(7)},
                               {k(2), k(6), -k(6), -k(2)}, {k(3), -k(7), -k(1), -k(5)},
                               {k(4), -k(4), -k(4), k(4)}, {k(5), -k(1), k(7), k(3)},
                               {k(6), -k(2), k(2), -k(6)}, {k(7), -k(5), k(3), -k(1)}};
    for (int u = 0; u < 8; ++u) {
      for (int h = 0; h < 2; ++h) {
        const std::uint32_t pair =
            static_cast<std::uint16_t>(weights[u][2 * h]) |
            (static_cast<std::uint32_t>(static_cast<std::uint16_t>(weights[u][2 * h + 1])) << 16);
        for (int i = 0; i < 4; ++i) lane[u][h][i] = static_cast<std::int32_t>(pair);
      }
    }
  }
};

const ForwardPairs& forwardPairs() {
  static const ForwardPairs pairs;
  return pairs;
}

QB_SSE2 inline void transpose8x8(__m128i r[8]) {
  const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
  const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
  const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
  const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
  const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
  const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
  const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
  const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
  r[0] = _mm_unpacklo_epi64(b0, b4), r[1] = _mm_unpackhi_epi64(b0, b4);
  r[2] = _mm_unpacklo_epi64(b1, b5), r[3] = _mm_unpackhi_epi64(b1, b5);
  r[4] = _mm_unpacklo_epi64(b2, b6), r[5] = _mm_unpackhi_epi64(b2, b6);
  r[6] = _mm_unpacklo_epi64(b3, b7), r[7] = _mm_unpackhi_epi64(b3, b7);
}

// out[u] = round(sum over n of c[u][n] * in[n] / 2^shift), lane by lane, as
// the butterfly above; sums and differences of two 16-bit inputs still fit.
template <int shift>
QB_SSE2 inline void forwardPass(const __m128i in[8], __m128i out[8]) {
  const ForwardPairs& pairs = forwardPairs();
  __m128i lo[4], hi[4];  // (s0, s1), (s2, s3), (d0, d1), (d2, d3) interleaved
  for (int h = 0; h < 2; ++h) {
    const int n = 2 * h;
    const __m128i s0 = _mm_add_epi16(in[n], in[7 - n]), s1 = _mm_add_epi16(in[n + 1], in[6 - n]);
    const __m128i d0 = _mm_sub_epi16(in[n], in[7 - n]), d1 = _mm_sub_epi16(in[n + 1], in[6 - n]);
    lo[h] = _mm_unpacklo_epi16(s0, s1), hi[h] = _mm_unpackhi_epi16(s0, s1);
    lo[2 + h] = _mm_unpacklo_epi16(d0, d1), hi[2 + h] = _mm_unpackhi_epi16(d0, d1);
  }
  const __m128i rounding = _mm_set1_epi32(1 << (shift - 1));
  for (int u = 0; u < 8; ++u) {
    const int base = (u & 1) ? 2 : 0;  // odd outputs from the differences
    const __m128i p0 = _mm_load_si128(reinterpret_cast<const __m128i*>(pairs.lane[u][0]));
    const __m128i p1 = _mm_load_si128(reinterpret_cast<const __m128i*>(pairs.lane[u][1]));
    const __m128i sumLo = _mm_add_epi32(
        rounding, _mm_add_epi32(_mm_madd_epi16(lo[base], p0), _mm_madd_epi16(lo[base + 1], p1)));
    const __m128i sumHi = _mm_add_epi32(
        rounding, _mm_add_epi32(_mm_madd_epi16(hi[base], p0), _mm_madd_epi16(hi[base + 1], p1)));
    out[u] = _mm_packs_epi32(_mm_srai_epi32(sumLo, shift), _mm_srai_epi32(sumHi, shift));
  }
}

QB_SSE2 void forwardDctSse2(std::array<std::int16_t, 64>& block) {
  __m128i rows[8], columns[8];
  for (int y = 0; y < 8; ++y) rows[y] = _mm_loadu_si128(reinterpret_cast<__m128i*>(&block[y * 8]));
  forwardPass<detail::kForwardFirstShift>(rows, columns);
  transpose8x8(columns);
  forwardPass<detail::kForwardSecondShift>(columns, rows);
  transpose8x8(rows);
  for (int v = 0; v < 8; ++v) _mm_storeu_si128(reinterpret_cast<__m128i*>(&block[v * 8]), rows[v]);
}

// Output row u of the 256-bit pass, in 32 bits.
template <int shift>
QB_AVX2 inline __m256i forwardOutputAvx2(const __m256i interleaved[4], const ForwardPairs& pairs,
                                         int u, __m256i rounding) {
  const int base = (u & 1) ? 2 : 0;  // odd outputs from the differences
  const __m256i p0 = _mm256_broadcastsi128_si256(
      _mm_load_si128(reinterpret_cast<const __m128i*>(pairs.lane[u][0])));
  const __m256i p1 = _mm256_broadcastsi128_si256(
      _mm_load_si128(reinterpret_cast<const __m128i*>(pairs.lane[u][1])));
  return _mm256_srai_epi32(
      _mm256_add_epi32(rounding, _mm256_add_epi32(_mm256_madd_epi16(interleaved[base], p0),
                                                  _mm256_madd_epi16(interleaved[base + 1], p1))),
      shift);
}

// The weights of the row pass as pairs for pmaddwd: pair[k][u] holds c[u][2k]
// (low half) and c[u][2k + 1] (high half), so that one pmaddwd gives for every
// output u the products of two neighbouring inputs of a row.
struct ForwardRowPairs {
  alignas(32) std::int32_t pair[4][8];
  ForwardRowPairs() {
    const auto& c = detail::forwardDctTable();
    for (int k = 0; k < 4; ++k) {
      for (int u = 0; u < 8; ++u) {
        pair[k][u] = static_cast<std::int32_t>(
            static_cast<std::uint16_t>(c[u][2 * k]) |
            (static_cast<std::uint32_t>(static_cast<std::uint16_t>(c[u][2 * k + 1])) << 16));
      }
    }
  }
};

const ForwardRowPairs& forwardRowPairs() {
  static const ForwardRowPairs pairs;
  return pairs;
}

// (s, t) lanes of 8 columns each to the pairs (s_x, t_x), columns 0-3 in the
// low lane and 4-7 in the high one.
QB_AVX2 inline __m256i interleaveLanes(__m256i v) {
  const __m256i order = _mm256_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15, 0, 1,
                                         8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15);
  return _mm256_shuffle_epi8(_mm256_permute4x64_epi64(v, _MM_SHUFFLE(3, 1, 2, 0)), order);
}

// The k-th pair of inputs of a row in `packed` (see forwardRowAvx2), in every lane.
QB_AVX2 inline __m256i rowPair(__m256i packed, int first, int k) {
  const int position = (k < 2 ? 0 : 4) + first + (k & 1);
  return _mm256_permutevar8x32_epi32(packed, _mm256_set1_epi32(position));
}

// Row v of the column pass (16 bits, in `packed` as packs_epi32 left it with
// the next row) transformed along the row: every output u in 32 bits.
// `first` is 0 for the row in the low halves of the lanes, 2 for the other.
template <int shift>
QB_AVX2 inline __m256i forwardRowAvx2(__m256i packed, int first, const ForwardRowPairs& pairs,
                                      __m256i rounding) {
  const auto* weights = reinterpret_cast<const __m256i*>(pairs.pair);
  const __m256i sum = _mm256_add_epi32(
      _mm256_add_epi32(
          _mm256_madd_epi16(rowPair(packed, first, 0), _mm256_load_si256(weights)),
          _mm256_madd_epi16(rowPair(packed, first, 1), _mm256_load_si256(weights + 1))),
      _mm256_add_epi32(
          _mm256_madd_epi16(rowPair(packed, first, 2), _mm256_load_si256(weights + 2)),
          _mm256_madd_epi16(rowPair(packed, first, 3), _mm256_load_si256(weights + 3))));
  return _mm256_srai_epi32(_mm256_add_epi32(sum, rounding), shift);
}

// The column pass as in the SSE2 version, two rows to a register; the row
// pass without a transposition: each row's input pairs are spread over the
// lanes and multiplied with the weights of all eight outputs at once. Both
// form the very sums of the plain version, exactly, in 32 bits.
QB_AVX2 void forwardDctAvx2(std::array<std::int16_t, 64>& block) {
  const ForwardPairs& columnPairs = forwardPairs();
  const ForwardRowPairs& rowPairs = forwardRowPairs();
  auto* rows = reinterpret_cast<__m256i*>(block.data());
  const __m256i r01 = _mm256_loadu_si256(rows), r23 = _mm256_loadu_si256(rows + 1);
  const __m256i r45 = _mm256_loadu_si256(rows + 2), r67 = _mm256_loadu_si256(rows + 3);
  const __m256i r76 = _mm256_permute2x128_si256(r67, r67, 0x01);
  const __m256i r54 = _mm256_permute2x128_si256(r45, r45, 0x01);
  // (s0, s1), (s2, s3), (d0, d1), (d2, d3) of the SSE2 version.
  const __m256i interleaved[4] = {
      interleaveLanes(_mm256_add_epi16(r01, r76)), interleaveLanes(_mm256_add_epi16(r23, r54)),
      interleaveLanes(_mm256_sub_epi16(r01, r76)), interleaveLanes(_mm256_sub_epi16(r23, r54))};
  const __m256i firstRounding = _mm256_set1_epi32(1 << (detail::kForwardFirstShift - 1));
  const __m256i secondRounding = _mm256_set1_epi32(1 << (detail::kForwardSecondShift - 1));
  for (int v = 0; v < 8; v += 2) {
    // Rows v and v + 1 of the column pass, saturated to 16 bits.
    const __m256i packed = _mm256_packs_epi32(
        forwardOutputAvx2<detail::kForwardFirstShift>(interleaved, columnPairs, v, firstRounding),
        forwardOutputAvx2<detail::kForwardFirstShift>(interleaved, columnPairs, v + 1,
                                                      firstRounding));
    const __m256i out = _mm256_packs_epi32(
        forwardRowAvx2<detail::kForwardSecondShift>(packed, 0, rowPairs, secondRounding),
        forwardRowAvx2<detail::kForwardSecondShift>(packed, 2, rowPairs, secondRounding));
    _mm256_storeu_si256(rows + v / 2, _mm256_permute4x64_epi64(out, _MM_SHUFFLE(3, 1, 2, 0)));
  }
}

// ---- Inverse DCT: float products summed in index order ---------------------------

// Halves away from zero, then limited to -256..255, eight results.
QB_SSE2 inline __m128i roundAndLimit(__m128 lo, __m128 hi) {
  const __m128 zero = _mm_setzero_ps();
  const __m128 half = _mm_set1_ps(0.5f), minusHalf = _mm_set1_ps(-0.5f);
  auto nearest = [&](__m128 v) {
    const __m128 positive = _mm_cmpge_ps(v, zero);
    const __m128 offset = _mm_or_ps(_mm_and_ps(positive, half), _mm_andnot_ps(positive, minusHalf));
    return _mm_cvttps_epi32(_mm_add_ps(v, offset));
  };
  const __m128i packed = _mm_packs_epi32(nearest(lo), nearest(hi));
  return _mm_min_epi16(_mm_max_epi16(packed, _mm_set1_epi16(-256)), _mm_set1_epi16(255));
}

QB_SSE2 inline void transpose4x4(__m128& a, __m128& b, __m128& c, __m128& d) {
  const __m128 t0 = _mm_unpacklo_ps(a, b), t1 = _mm_unpackhi_ps(a, b);
  const __m128 t2 = _mm_unpacklo_ps(c, d), t3 = _mm_unpackhi_ps(c, d);
  a = _mm_movelh_ps(t0, t2), b = _mm_movehl_ps(t2, t0);
  c = _mm_movelh_ps(t1, t3), d = _mm_movehl_ps(t3, t1);
}

// lo[k], hi[k]: columns 0-3 and 4-7 of row k; transposed in place.
QB_SSE2 inline void transpose8x8(__m128 lo[8], __m128 hi[8]) {
  transpose4x4(lo[0], lo[1], lo[2], lo[3]);
  transpose4x4(hi[4], hi[5], hi[6], hi[7]);
  transpose4x4(hi[0], hi[1], hi[2], hi[3]);
  transpose4x4(lo[4], lo[5], lo[6], lo[7]);
  for (int k = 0; k < 4; ++k) std::swap(hi[k], lo[k + 4]);
}

#define QB_K128(k) _mm_set1_ps(halfCos[k])
#define QB_K256(k) _mm256_set1_ps(halfCos[k])

QB_SSE2 void inverseDctSse2(std::array<std::int16_t, 64>& block) {
  const float* halfCos = detail::inverseDctHalfCosines();
  __m128 lo[8], hi[8];
  for (int k = 0; k < 8; ++k) {
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&block[k * 8]));
    lo[k] = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(w, w), 16));
    hi[k] = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpackhi_epi16(w, w), 16));
  }
  for (int pass = 0; pass < 2; ++pass) {
    QB_INVERSE_DCT8(lo, _mm_add_ps, _mm_sub_ps, _mm_mul_ps, QB_K128);
    QB_INVERSE_DCT8(hi, _mm_add_ps, _mm_sub_ps, _mm_mul_ps, QB_K128);
    transpose8x8(lo, hi);
  }
  for (int y = 0; y < 8; ++y) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&block[y * 8]), roundAndLimit(lo[y], hi[y]));
  }
}

QB_AVX2 inline void transpose8x8(__m256 r[8]) {
  __m256 t[8], u[8];
  for (int k = 0; k < 8; k += 2) {
    t[k] = _mm256_unpacklo_ps(r[k], r[k + 1]);
    t[k + 1] = _mm256_unpackhi_ps(r[k], r[k + 1]);
  }
  for (int k = 0; k < 8; k += 4) {
    u[k] = _mm256_shuffle_ps(t[k], t[k + 2], 0x44);
    u[k + 1] = _mm256_shuffle_ps(t[k], t[k + 2], 0xee);
    u[k + 2] = _mm256_shuffle_ps(t[k + 1], t[k + 3], 0x44);
    u[k + 3] = _mm256_shuffle_ps(t[k + 1], t[k + 3], 0xee);
  }
  for (int k = 0; k < 4; ++k) {
    r[k] = _mm256_permute2f128_ps(u[k], u[k + 4], 0x20);
    r[k + 4] = _mm256_permute2f128_ps(u[k], u[k + 4], 0x31);
  }
}

QB_AVX2 void inverseDctAvx2(std::array<std::int16_t, 64>& block) {
  const float* halfCos = detail::inverseDctHalfCosines();
  __m256 r[8];
  for (int k = 0; k < 8; ++k) {
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&block[k * 8]));
    r[k] = _mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(w));
  }
  for (int pass = 0; pass < 2; ++pass) {
    QB_INVERSE_DCT8(r, _mm256_add_ps, _mm256_sub_ps, _mm256_mul_ps, QB_K256);
    transpose8x8(r);
  }
  const __m256 zero = _mm256_setzero_ps();
  const __m256 half = _mm256_set1_ps(0.5f), minusHalf = _mm256_set1_ps(-0.5f);
  const auto nearest = [&](__m256 v) QB_AVX2 {
    const __m256 offset = _mm256_blendv_ps(minusHalf, half, _mm256_cmp_ps(v, zero, _CMP_GE_OQ));
    return _mm256_cvttps_epi32(_mm256_add_ps(v, offset));
  };
  for (int y = 0; y < 8; y += 2) {
    // Rows y and y + 1 at once: packs works within lanes, the permutation
    // puts the rows back in order.
    __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(nearest(r[y]), nearest(r[y + 1])),
                                              _MM_SHUFFLE(3, 1, 2, 0));
    packed =
        _mm256_min_epi16(_mm256_max_epi16(packed, _mm256_set1_epi16(-256)), _mm256_set1_epi16(255));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(&block[y * 8]), packed);
  }
}

#undef QB_K128
#undef QB_K256

// ---- Half-pel prediction ------------------------------------------------------------

template <int w>
QB_SSE2 inline __m128i loadRow(const std::uint8_t* p) {
  if constexpr (w == 16) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  } else {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
  }
}

template <int w>
QB_SSE2 inline void storeRow(std::uint8_t* p, __m128i v) {
  if constexpr (w == 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
  } else {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
  }
}

template <int w>
QB_SSE2 void predictRows(const std::uint8_t* s, int refStride, int xh, int yh, int h,
                         std::uint8_t* dst, int dstStride, bool average) {
  for (int j = 0; j < h; ++j) {
    const std::uint8_t* a = s + j * refStride;
    __m128i v;
    if (!xh && !yh) {
      v = loadRow<w>(a);
    } else if (xh && !yh) {
      v = _mm_avg_epu8(loadRow<w>(a), loadRow<w>(a + 1));
    } else if (!xh) {
      v = _mm_avg_epu8(loadRow<w>(a), loadRow<w>(a + refStride));
    } else {
      v = averageOfFour(loadRow<w>(a), loadRow<w>(a + 1), loadRow<w>(a + refStride),
                        loadRow<w>(a + refStride + 1));
    }
    std::uint8_t* d = dst + j * dstStride;
    if (average) v = _mm_avg_epu8(loadRow<w>(d), v);
    storeRow<w>(d, v);
  }
}

QB_SSE2 void predictBlockSse2(const std::uint8_t* ref, int refStride, int x, int y, int dx, int dy,
                              int w, int h, std::uint8_t* dst, int dstStride, bool average) {
  const std::uint8_t* s = ref + (y + (dy >> 1)) * refStride + x + (dx >> 1);
  if (w == 16) {
    predictRows<16>(s, refStride, dx & 1, dy & 1, h, dst, dstStride, average);
  } else if (w == 8) {
    predictRows<8>(s, refStride, dx & 1, dy & 1, h, dst, dstStride, average);
  } else {
    portableKernels().predictBlock(ref, refStride, x, y, dx, dy, w, h, dst, dstStride, average);
  }
}

// ---- Quantisation: exact division through single precision -------------------------
//
// floor((n + 0.5) / d) equals n / d in integers for 0 <= n < 2^22 and
// 1 <= d < 2^15: the quotient is at least 0.5 / d from an integer, and one
// rounded division errs by less than that.

QB_SSE2 bool quantiseSse2(std::array<std::int16_t, 64>& block, int first, int mquant,
                          const std::array<std::uint8_t, 64>& matrix, bool intra, int maxLevel) {
  const std::int16_t dc = block[0];
  const __m128i zero = _mm_setzero_si128();
  const __m128i scale = _mm_set1_epi16(static_cast<std::int16_t>(mquant));
  const __m128i limit = _mm_set1_epi16(static_cast<std::int16_t>(maxLevel));
  const __m128 half = _mm_set1_ps(0.5f);
  __m128i any = zero;
  for (int i = 0; i < 64; i += 8) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&block[i]));
    const __m128i sign = _mm_srai_epi16(c, 15);
    const __m128i magnitude = _mm_sub_epi16(_mm_xor_si128(c, sign), sign);
    const __m128i weights =
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(&matrix[i])), zero);
    const __m128i den = _mm_mullo_epi16(weights, scale);
    auto quotient = [&](__m128i m, __m128i d) {
      __m128i n = _mm_slli_epi32(m, 4);
      if (intra) n = _mm_add_epi32(n, _mm_srli_epi32(d, 1));
      const __m128 q = _mm_div_ps(_mm_add_ps(_mm_cvtepi32_ps(n), half), _mm_cvtepi32_ps(d));
      return _mm_cvttps_epi32(q);
    };
    const __m128i lo = quotient(_mm_unpacklo_epi16(magnitude, zero), _mm_unpacklo_epi16(den, zero));
    const __m128i hi = quotient(_mm_unpackhi_epi16(magnitude, zero), _mm_unpackhi_epi16(den, zero));
    __m128i level = _mm_min_epi16(_mm_packs_epi32(lo, hi), limit);
    if (i == 0 && first == 1)
      level = _mm_and_si128(level, _mm_set_epi16(-1, -1, -1, -1, -1, -1, -1, 0));
    any = _mm_or_si128(any, level);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&block[i]),
                     _mm_sub_epi16(_mm_xor_si128(level, sign), sign));
  }
  if (first == 1) block[0] = dc;
  return _mm_movemask_epi8(_mm_cmpeq_epi16(any, zero)) != 0xffff;
}

// The AVX2 version multiplies by the rounded reciprocal of the step instead:
// with n < 2^20 the product errs by less than 2^-3 / d, still short of the
// 0.5 / d that separates (n + 0.5) / d from an integer. This was checked for
// every step up to 255 * 112 and every numerator of a 16-bit magnitude.
struct StepReciprocals {
  bool filled = false;
  int mquant = 0;
  alignas(32) std::uint8_t matrix[64];
  alignas(32) float reciprocal[64];
  // What is added to 16 * magnitude before the division, and the 0.5 that
  // makes the quotient safe to truncate: exact sums below 2^24.
  alignas(32) float offset[64];
};

// The reciprocals of matrix[i] * mquant and the offsets, kept for the next
// call: a macroblock's blocks share their quantiser, and intra and non-intra
// blocks keep one set each.
QB_AVX2 const StepReciprocals& stepReciprocals(const std::array<std::uint8_t, 64>& matrix,
                                               int mquant, bool intra) {
  static thread_local StepReciprocals kept[2];
  StepReciprocals& k = kept[intra ? 1 : 0];
  const auto* wanted = reinterpret_cast<const __m256i*>(matrix.data());
  const auto* held = reinterpret_cast<const __m256i*>(k.matrix);
  const __m256i same = _mm256_and_si256(
      _mm256_cmpeq_epi8(_mm256_loadu_si256(wanted), _mm256_load_si256(held)),
      _mm256_cmpeq_epi8(_mm256_loadu_si256(wanted + 1), _mm256_load_si256(held + 1)));
  if (k.filled && k.mquant == mquant && _mm256_movemask_epi8(same) == -1) return k;
  const __m256 one = _mm256_set1_ps(1.0f);
  const __m256i scale = _mm256_set1_epi32(mquant);
  for (int i = 0; i < 64; i += 8) {
    const __m256i step = _mm256_mullo_epi32(
        _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(&matrix[i]))), scale);
    _mm256_store_ps(&k.reciprocal[i], _mm256_div_ps(one, _mm256_cvtepi32_ps(step)));
    const __m256i rounding = intra ? _mm256_srli_epi32(step, 1) : _mm256_setzero_si256();
    _mm256_store_ps(&k.offset[i],
                    _mm256_add_ps(_mm256_cvtepi32_ps(rounding), _mm256_set1_ps(0.5f)));
  }
  _mm256_store_si256(reinterpret_cast<__m256i*>(k.matrix), _mm256_loadu_si256(wanted));
  _mm256_store_si256(reinterpret_cast<__m256i*>(k.matrix) + 1, _mm256_loadu_si256(wanted + 1));
  k.mquant = mquant;
  k.filled = true;
  return k;
}

QB_AVX2 inline __m256i quotientAvx2(__m128i magnitude, const StepReciprocals& steps, int i) {
  const __m256i n = _mm256_slli_epi32(_mm256_cvtepu16_epi32(magnitude), 4);
  const __m256 q =
      _mm256_mul_ps(_mm256_add_ps(_mm256_cvtepi32_ps(n), _mm256_load_ps(&steps.offset[i])),
                    _mm256_load_ps(&steps.reciprocal[i]));
  return _mm256_cvttps_epi32(q);
}

QB_AVX2 bool quantiseAvx2(std::array<std::int16_t, 64>& block, int first, int mquant,
                          const std::array<std::uint8_t, 64>& matrix, bool intra, int maxLevel) {
  const auto* rows = reinterpret_cast<const __m256i*>(block.data());
  const __m256i all =
      _mm256_or_si256(_mm256_or_si256(_mm256_loadu_si256(rows), _mm256_loadu_si256(rows + 1)),
                      _mm256_or_si256(_mm256_loadu_si256(rows + 2), _mm256_loadu_si256(rows + 3)));
  // A zero block (a still area's prediction error) stays zero.
  if (_mm256_testz_si256(all, all)) return false;
  const StepReciprocals& steps = stepReciprocals(matrix, mquant, intra);
  const std::int16_t dc = block[0];
  const __m256i limit = _mm256_set1_epi16(static_cast<std::int16_t>(maxLevel));
  __m256i any = _mm256_setzero_si256();
  for (int i = 0; i < 64; i += 16) {
    const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(&block[i]));
    const __m256i magnitude = _mm256_abs_epi16(c);
    const __m256i lo = quotientAvx2(_mm256_castsi256_si128(magnitude), steps, i);
    const __m256i hi = quotientAvx2(_mm256_extracti128_si256(magnitude, 1), steps, i + 8);
    __m256i level = _mm256_min_epi16(
        _mm256_permute4x64_epi64(_mm256_packs_epi32(lo, hi), _MM_SHUFFLE(3, 1, 2, 0)), limit);
    if (i == 0 && first == 1) {
      level = _mm256_and_si256(
          level, _mm256_setr_epi16(0, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1));
    }
    any = _mm256_or_si256(any, level);
    // The sign of the coefficient; where it is zero the level is zero too.
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(&block[i]), _mm256_sign_epi16(level, c));
  }
  if (first == 1) block[0] = dc;
  return !_mm256_testz_si256(any, any);
}

// Products of 16-bit magnitudes and steps through pmaddwd (the high halves are
// zero), so they are exact in 32 bits.
QB_SSE2 int inverseQuantiseSse2(std::array<std::int16_t, 64>& block, int first, int mquant,
                                const std::array<std::uint8_t, 64>& matrix, bool intra, bool mpeg1,
                                bool& anyLevel) {
  const std::int16_t dc = block[0];
  const __m128i zero = _mm_setzero_si128(), one = _mm_set1_epi16(1);
  const __m128i scale = _mm_set1_epi16(static_cast<std::int16_t>(mquant));
  const __m128i shift = _mm_cvtsi32_si128(intra ? 4 : 5);
  __m128i sum = zero, levels = zero;
  for (int i = 0; i < 64; i += 8) {
    __m128i level = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&block[i]));
    if (i == 0 && first == 1)
      level = _mm_and_si128(level, _mm_set_epi16(-1, -1, -1, -1, -1, -1, -1, 0));
    const __m128i sign = _mm_srai_epi16(level, 15);
    const __m128i isZero = _mm_cmpeq_epi16(level, zero);
    levels = _mm_or_si128(levels, level);
    __m128i magnitude = _mm_sub_epi16(_mm_xor_si128(level, sign), sign);
    if (!intra) magnitude = _mm_add_epi16(_mm_add_epi16(magnitude, magnitude), one);
    const __m128i step = _mm_mullo_epi16(
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(&matrix[i])), zero),
        scale);
    auto product = [&](__m128i m, __m128i s) {
      __m128i v = _mm_srl_epi32(_mm_madd_epi16(m, s), shift);
      if (mpeg1) {
        const __m128i odd = _mm_or_si128(_mm_sub_epi32(v, _mm_set1_epi32(1)), _mm_set1_epi32(1));
        v = _mm_andnot_si128(_mm_cmpeq_epi32(v, zero), odd);
      }
      return v;
    };
    const __m128i lo = product(_mm_unpacklo_epi16(magnitude, zero), _mm_unpacklo_epi16(step, zero));
    const __m128i hi = product(_mm_unpackhi_epi16(magnitude, zero), _mm_unpackhi_epi16(step, zero));
    __m128i v = _mm_packs_epi32(lo, hi);
    v = _mm_andnot_si128(isZero, _mm_sub_epi16(_mm_xor_si128(v, sign), sign));
    v = _mm_min_epi16(_mm_max_epi16(v, _mm_set1_epi16(-2048)), _mm_set1_epi16(2047));
    sum = _mm_add_epi32(sum, _mm_madd_epi16(v, one));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&block[i]), v);
  }
  if (first == 1) block[0] = dc;
  anyLevel = _mm_movemask_epi8(_mm_cmpeq_epi16(levels, zero)) != 0xffff;
  sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, _MM_SHUFFLE(1, 0, 3, 2)));
  sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, _MM_SHUFFLE(2, 3, 0, 1)));
  return _mm_cvtsi128_si32(sum);
}

// The AVX2 version stays in 16 bits: the result (product >> 4 or >> 5) is put
// together from the product's halves (pmullw, pmulhuw) where it fits, and
// saturated where it does not, which ends at the limit whatever MPEG-1 makes
// of it. Levels are -2048..2047 and steps below 2^15.
QB_AVX2 int inverseQuantiseAvx2(std::array<std::int16_t, 64>& block, int first, int mquant,
                                const std::array<std::uint8_t, 64>& matrix, bool intra, bool mpeg1,
                                bool& anyLevel) {
  const auto* rows = reinterpret_cast<const __m256i*>(block.data());
  const __m256i all =
      _mm256_or_si256(_mm256_or_si256(_mm256_loadu_si256(rows), _mm256_loadu_si256(rows + 1)),
                      _mm256_or_si256(_mm256_loadu_si256(rows + 2), _mm256_loadu_si256(rows + 3)));
  // Most non-intra blocks are not coded at all; they stay zero.
  if (_mm256_testz_si256(all, all)) {
    anyLevel = false;
    return 0;
  }
  const std::int16_t dc = block[0];
  const __m256i zero = _mm256_setzero_si256(), one = _mm256_set1_epi16(1);
  const __m256i limit = _mm256_set1_epi16(2047);
  const __m256i scale = _mm256_set1_epi16(static_cast<std::int16_t>(mquant));
  const int shiftBits = intra ? 4 : 5;
  const __m128i shift = _mm_cvtsi32_si128(shiftBits), upShift = _mm_cvtsi32_si128(16 - shiftBits);
  // A high half above this makes the result 2^16 or more: saturated.
  const __m256i highLimit = _mm256_set1_epi16(static_cast<std::int16_t>((1 << shiftBits) - 1));
  __m256i sum = zero, levels = zero;
  for (int i = 0; i < 64; i += 16) {
    __m256i level = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(&block[i]));
    if (i == 0 && first == 1) {
      level = _mm256_and_si256(
          level, _mm256_setr_epi16(0, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1));
    }
    const __m256i sign = _mm256_srai_epi16(level, 15);
    levels = _mm256_or_si256(levels, level);
    __m256i magnitude = _mm256_abs_epi16(level);
    if (!intra) magnitude = _mm256_add_epi16(_mm256_add_epi16(magnitude, magnitude), one);
    const __m256i step = _mm256_mullo_epi16(
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&matrix[i]))), scale);
    const __m256i high = _mm256_mulhi_epu16(magnitude, step);
    __m256i v = _mm256_or_si256(_mm256_srl_epi16(_mm256_mullo_epi16(magnitude, step), shift),
                                _mm256_sll_epi16(high, upShift));
    v = _mm256_or_si256(v, _mm256_cmpgt_epi16(high, highLimit));
    if (mpeg1) {
      // Even results become odd toward zero.
      const __m256i odd = _mm256_or_si256(_mm256_sub_epi16(v, one), one);
      v = _mm256_andnot_si256(_mm256_cmpeq_epi16(v, zero), odd);
    }
    // Negative results may reach -2048, positive ones 2047.
    v = _mm256_min_epu16(v, _mm256_sub_epi16(limit, sign));
    // The level's sign, and zero where the level is zero.
    v = _mm256_sign_epi16(v, level);
    sum = _mm256_add_epi32(sum, _mm256_madd_epi16(v, one));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(&block[i]), v);
  }
  if (first == 1) block[0] = dc;
  anyLevel = !_mm256_testz_si256(levels, levels);
  __m128i total = _mm_add_epi32(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
  total = _mm_add_epi32(total, _mm_shuffle_epi32(total, _MM_SHUFFLE(1, 0, 3, 2)));
  total = _mm_add_epi32(total, _mm_shuffle_epi32(total, _MM_SHUFFLE(2, 3, 0, 1)));
  return _mm_cvtsi128_si32(total);
}

constexpr CodingKernels kSse2{"sse2",           forwardDctSse2, inverseDctSse2,
                              predictBlockSse2, quantiseSse2,   inverseQuantiseSse2};
constexpr CodingKernels kAvx2{"avx2",           forwardDctAvx2, inverseDctAvx2,
                              predictBlockSse2, quantiseAvx2,   inverseQuantiseAvx2};

}  // namespace

namespace detail {

const CodingKernels* sse2Kernels() { return __builtin_cpu_supports("sse2") ? &kSse2 : nullptr; }
const CodingKernels* avx2Kernels() { return __builtin_cpu_supports("avx2") ? &kAvx2 : nullptr; }

}  // namespace detail
}  // namespace quiltbench::encoder

#else

namespace quiltbench::encoder::detail {

const CodingKernels* sse2Kernels() { return nullptr; }
const CodingKernels* avx2Kernels() { return nullptr; }

}  // namespace quiltbench::encoder::detail

#endif
