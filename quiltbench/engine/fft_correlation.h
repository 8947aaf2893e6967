// Cross-correlation of a small overlap pattern with every window of a sample image by
// real 2-D FFTs (FFTW 3, double precision). The sample's spectra are computed once and
// the plans reused, so each pattern costs three forward transforms and one inverse.
#pragma once

#include <fftw3.h>

#include "quiltbench/engine/synthesis_types.h"

class FftCorrelator {
 public:
  // Prepares the spectra of the three channels of `source`, which must be at least
  // 32x32. The correlator keeps no reference to `source`.
  explicit FftCorrelator(const PixelRows& source);
  ~FftCorrelator();
  FftCorrelator(const FftCorrelator&) = delete;
  FftCorrelator& operator=(const FftCorrelator&) = delete;

  // The cross term sum(source(x + u, y + v) . pattern(u, v)) over the three bytes and
  // all (u, v) of `pattern` (at most 32x32; zero bytes where it has no overlap), for
  // every window inside the source: element y * rowWidth() + x, for x <= w - pattern
  // width and y <= h - pattern height. The surface stays valid until the next call.
  const double* FftSsd(const PixelRows& pattern);

  int rowWidth() const { return columns_; }

  // The transform length used for a source side of `size` pixels: the smallest length
  // at least `size` with no prime factor above 7. A circular correlation of that period
  // never wraps for windows that lie inside the source.
  static int TransformLength(int size);

 private:
  void release();

  int columns_;        // transform width, >= source width
  int rows_;           // transform height, >= source height
  int spectrumWidth_;  // columns_ / 2 + 1 complex values a row
  double* real_ = nullptr;
  double* surface_ = nullptr;
  fftw_complex* spectrum_ = nullptr;
  fftw_complex* product_ = nullptr;
  fftw_complex* sourceSpectra_[3] = {nullptr, nullptr, nullptr};
  fftw_plan forward_ = nullptr;
  fftw_plan backward_ = nullptr;
};
