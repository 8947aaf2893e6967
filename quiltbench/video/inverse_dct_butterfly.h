// The 8-point inverse DCT as an even/odd butterfly, written once as a macro so
// that the portable version (scalar floats) and the SIMD versions (one column
// per lane) run the very same sequence of single-precision operations and so
// give the same bits. Internal to the coding kernels.
#pragma once

#include <cmath>
#include <numbers>

namespace quiltbench::encoder::detail {

// kHalfCosine[k] = cos(k pi / 16) / 2 in single precision; [4] is also
// c(0) / 2 of the DC term.
inline const float* inverseDctHalfCosines() {
  static const auto table = [] {
    struct Table {
      float c[8];
    } t{};
    for (int k = 0; k < 8; ++k)
      t.c[k] = static_cast<float>(0.5 * std::cos(k * std::numbers::pi / 16));
    return t;
  }();
  return table.c;
}

}  // namespace quiltbench::encoder::detail

// x: eight values (array elements or variables of one type) in frequency
// order, replaced by the eight samples. ADD, SUB and MUL are the type's
// operations; K(k) the constant cos(k pi / 16) / 2 in that type. With
//   x[n] = sum over u of c(u) / 2 X[u] cos((2n + 1) u pi / 16),
// the even terms give e0..e3 from p, q (X0, X4) and r, t (X2, X6), the odd
// ones o0..o3, and x[n] = e[n] + o[n], x[7 - n] = e[n] - o[n].
#define QB_INVERSE_DCT8(x, ADD, SUB, MUL, K)                                               \
  do {                                                                                     \
    const auto p_ = MUL(K(4), ADD(x[0], x[4]));                                            \
    const auto q_ = MUL(K(4), SUB(x[0], x[4]));                                            \
    const auto r_ = ADD(MUL(K(2), x[2]), MUL(K(6), x[6]));                                 \
    const auto t_ = SUB(MUL(K(6), x[2]), MUL(K(2), x[6]));                                 \
    const auto e0_ = ADD(p_, r_), e3_ = SUB(p_, r_), e1_ = ADD(q_, t_), e2_ = SUB(q_, t_); \
    const auto o0_ =                                                                       \
        ADD(ADD(ADD(MUL(K(1), x[1]), MUL(K(3), x[3])), MUL(K(5), x[5])), MUL(K(7), x[7])); \
    const auto o1_ =                                                                       \
        SUB(SUB(SUB(MUL(K(3), x[1]), MUL(K(7), x[3])), MUL(K(1), x[5])), MUL(K(5), x[7])); \
    const auto o2_ =                                                                       \
        ADD(ADD(SUB(MUL(K(5), x[1]), MUL(K(1), x[3])), MUL(K(7), x[5])), MUL(K(3), x[7])); \
    const auto o3_ =                                                                       \
        SUB(ADD(SUB(MUL(K(7), x[1]), MUL(K(5), x[3])), MUL(K(3), x[5])), MUL(K(1), x[7])); \
    x[0] = ADD(e0_, o0_), x[7] = SUB(e0_, o0_);                                            \
    x[1] = ADD(e1_, o1_), x[6] = SUB(e1_, o1_);                                            \
    x[2] = ADD(e2_, o2_), x[5] = SUB(e2_, o2_);                                            \
    x[3] = ADD(e3_, o3_), x[4] = SUB(e3_, o3_);                                            \
  } while (false)
