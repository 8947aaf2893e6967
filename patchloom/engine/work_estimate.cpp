#include "patchloom/engine/work_estimate.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

// Fitted to the peak resident size and the time of simple syntheses of 128, 256 and 512
// pixel exemplars at scale 2 on the team's machine (8 vCPU Xeon): a process holds about
// this much before any work, and the search and the clustering run at about this many
// byte operations a second.
constexpr double kBaseBytes = 8.0 * 1024 * 1024;
constexpr double kByteOperationsPerSecond = 1.4e9;
// Lloyd steps of one clustering, over all levels of one tree (100 steps at most a run,
// about four tree levels deep).
constexpr double kClusteringPasses = 60.0;

struct TreeCost {
  double patches = 0;
  double dimension = 0;
};

TreeCost treeCost(int width, int height, int n) {
  const int step = std::max(n / 4, 1);
  if (width < n || height < n) return {};
  return {static_cast<double>((width - n) / step + 1) * ((height - n) / step + 1), 3.0 * n * n};
}

}  // namespace

WorkEstimate EstimateWork(int exemplarWidth, int exemplarHeight,
                          const std::vector<WorkLevel>& levels) {
  double resident = kBaseBytes + 6.0 * exemplarWidth * exemplarHeight;
  double peakBuild = 0;
  double operations = 0;
  for (const WorkLevel& level : levels) {
    const TreeCost tree = treeCost(exemplarWidth, exemplarHeight, level.size);
    const double vectorBytes = tree.patches * (tree.dimension + 4);
    // While a tree is built: its patch vectors, their copy as doubles for the k-means
    // library and the library's cell sums (about as many again), then the leaves' copy.
    peakBuild =
        std::max(peakBuild, resident + vectorBytes * 2 + 16.0 * tree.patches * tree.dimension);
    resident += vectorBytes + 8.0 * tree.dimension * 64;
    const double outputPixels = static_cast<double>(level.width) * level.height;
    const int step = std::max(level.size / 4, 1);
    const double cells = outputPixels / (static_cast<double>(step) * step);
    resident += outputPixels * 3 * 3 + cells * 24;
    operations += kClusteringPasses * 4 * tree.patches * tree.dimension;
    // A search descends the tree and scans a leaf of at most 1% of the patches; the
    // blend visits 16 windows a pixel.
    operations += level.iterations *
                  (cells * (0.01 * tree.patches + 16) * tree.dimension + outputPixels * 16 * 3);
  }
  WorkEstimate estimate;
  estimate.bytes = static_cast<std::uint64_t>(std::max(peakBuild, resident));
  estimate.seconds = operations / kByteOperationsPerSecond;
  return estimate;
}

WorkEstimate EstimateSynthesis(int exemplarWidth, int exemplarHeight, int width, int height,
                               int iterations, int e) {
  return EstimateWork(exemplarWidth, exemplarHeight,
                      {{e, 5, width, height}, {e / 2, std::max(iterations, 0), width, height}});
}

std::uint64_t AvailableMemoryBytes() {
  std::ifstream meminfo("/proc/meminfo");
  std::string line;
  while (std::getline(meminfo, line)) {
    unsigned long long kib = 0;
    if (std::sscanf(line.c_str(), "MemAvailable: %llu kB", &kib) == 1) return kib * 1024;
  }
  const long pages = sysconf(_SC_AVPHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return 0;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

namespace {

std::string bytesText(double bytes) {
  char text[32];
  if (bytes >= 1e9)
    std::snprintf(text, sizeof text, "%.1f GB", bytes / 1e9);
  else
    std::snprintf(text, sizeof text, "%.0f MB", std::max(bytes / 1e6, 1.0));
  return text;
}

std::string secondsText(double seconds) {
  char text[32];
  if (seconds >= 3600)
    std::snprintf(text, sizeof text, "%.1f h", seconds / 3600);
  else if (seconds >= 120)
    std::snprintf(text, sizeof text, "%.0f min", seconds / 60);
  else
    std::snprintf(text, sizeof text, "%.0f s", std::max(seconds, 1.0));
  return text;
}

}  // namespace

std::optional<std::string> WorkRefusal(const WorkEstimate& estimate, std::uint64_t budgetBytes) {
  if (budgetBytes == 0 || estimate.bytes <= budgetBytes) return std::nullopt;
  return "the work needs about " + bytesText(static_cast<double>(estimate.bytes)) +
         " of memory (and " + secondsText(estimate.seconds) + "), but only " +
         bytesText(static_cast<double>(budgetBytes)) +
         " are available; use a smaller image or scale";
}

std::string DescribeWork(const WorkEstimate& estimate) {
  return "about " + bytesText(static_cast<double>(estimate.bytes)) + " of memory and " +
         secondsText(estimate.seconds);
}
