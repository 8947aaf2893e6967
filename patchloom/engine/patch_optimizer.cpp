// The engine object's small shared parts: the clustering termination record, the match
// grid and the Gaussian kernel.
#include "patchloom/engine/patch_optimizer.h"

const KMeansTermination g_clusterTermination = {100, 0, 0, 0, 0.10, 0.10, 3, 0.50, 10, 0.95};

CPatchOptimizer::~CPatchOptimizer() = default;

void PatchMatchGrid::Resize(int rows, int columns) {
  if (rows <= 0 || columns <= 0) rows = columns = 0;
  rows_ = rows;
  columns_ = columns;
  cells_.assign(static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns), PatchMatch{});
}

void GaussianKernel::Resize(int n) {
  if (n < 0) n = 0;
  n_ = n;
  weights_.assign(static_cast<std::size_t>(n) * static_cast<std::size_t>(n), 0.0);
}
