// Real-to-complex FFT correlation of overlap patterns against the sample image.
#include "quiltbench/engine/fft_correlation.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

template <typename T>
T* allocateFftw(std::size_t count) {
  void* p = fftw_malloc(sizeof(T) * count);
  if (!p) throw std::bad_alloc();
  return static_cast<T*>(p);
}

}  // namespace

int FftCorrelator::TransformLength(int size) {
  for (int n = std::max(size, 1);; ++n) {
    int m = n;
    for (int p : {2, 3, 5, 7})
      while (m % p == 0) m /= p;
    if (m == 1) return n;
  }
}

FftCorrelator::FftCorrelator(const PixelRows& source)
    : columns_(TransformLength(source.width())),
      rows_(TransformLength(source.height())),
      spectrumWidth_(columns_ / 2 + 1) {
  const std::size_t realCount = static_cast<std::size_t>(rows_) * columns_;
  const std::size_t complexCount = static_cast<std::size_t>(rows_) * spectrumWidth_;
  try {
    real_ = allocateFftw<double>(realCount);
    surface_ = allocateFftw<double>(realCount);
    spectrum_ = allocateFftw<fftw_complex>(complexCount);
    product_ = allocateFftw<fftw_complex>(complexCount);
    for (auto*& s : sourceSpectra_) s = allocateFftw<fftw_complex>(complexCount);
  } catch (...) {
    release();
    throw;
  }
  // Estimate planning leaves the arrays alone and costs next to nothing; the plans then
  // serve every pattern of the run through the new-array execute calls.
  forward_ = fftw_plan_dft_r2c_2d(rows_, columns_, real_, spectrum_, FFTW_ESTIMATE);
  backward_ = fftw_plan_dft_c2r_2d(rows_, columns_, product_, surface_, FFTW_ESTIMATE);

  for (int c = 0; c < 3; ++c) {
    std::fill(real_, real_ + realCount, 0.0);
    for (int y = 0; y < source.height(); ++y) {
      const std::uint8_t* row = source[y];
      double* out = real_ + static_cast<std::size_t>(y) * columns_;
      for (int x = 0; x < source.width(); ++x) out[x] = row[3 * x + c];
    }
    fftw_execute_dft_r2c(forward_, real_, sourceSpectra_[c]);
  }
  std::fill(real_, real_ + realCount, 0.0);
}

FftCorrelator::~FftCorrelator() { release(); }

void FftCorrelator::release() {
  if (forward_) fftw_destroy_plan(forward_);
  if (backward_) fftw_destroy_plan(backward_);
  forward_ = backward_ = nullptr;
  for (auto*& s : sourceSpectra_) {
    fftw_free(s);
    s = nullptr;
  }
  fftw_free(product_);
  fftw_free(spectrum_);
  fftw_free(surface_);
  fftw_free(real_);
  product_ = spectrum_ = nullptr;
  surface_ = real_ = nullptr;
}

const double* FftCorrelator::FftSsd(const PixelRows& pattern) {
  const int pw = std::min(pattern.width(), std::min(columns_, kPatchSize));
  const int ph = std::min(pattern.height(), std::min(rows_, kPatchSize));
  const std::size_t complexCount = static_cast<std::size_t>(rows_) * spectrumWidth_;
  // Correlation theorem for a real pattern: the spectrum of sum_n s(n + x) t(n) is
  // S * conj(T). The three channels' products are summed so one inverse transform does.
  std::memset(product_, 0, sizeof(fftw_complex) * complexCount);
  const double scale = 1.0 / (static_cast<double>(rows_) * columns_);
  for (int c = 0; c < 3; ++c) {
    // Only the top-left corner ever holds pattern values; the rest stays zero.
    for (int v = 0; v < std::min(rows_, kPatchSize); ++v) {
      double* out = real_ + static_cast<std::size_t>(v) * columns_;
      std::fill(out, out + std::min(columns_, kPatchSize), 0.0);
      if (v < ph) {
        const std::uint8_t* row = pattern[v];
        for (int u = 0; u < pw; ++u) out[u] = row[3 * u + c];
      }
    }
    fftw_execute_dft_r2c(forward_, real_, spectrum_);
    const fftw_complex* s = sourceSpectra_[c];
    for (std::size_t i = 0; i < complexCount; ++i) {
      const double sr = s[i][0], si = s[i][1];
      const double tr = spectrum_[i][0], ti = spectrum_[i][1];
      product_[i][0] += (sr * tr + si * ti) * scale;
      product_[i][1] += (si * tr - sr * ti) * scale;
    }
  }
  fftw_execute_dft_c2r(backward_, product_, surface_);
  return surface_;
}
