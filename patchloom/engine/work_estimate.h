// What a synthesis will take, worked out from the sizes before any work starts, so that
// work this machine cannot hold is refused at once instead of failing after minutes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Peak memory and a rough running time.
struct WorkEstimate {
  std::uint64_t bytes = 0;
  double seconds = 0.0;
};

// One size of neighbourhood the synthesis works at: its patch tree over the exemplar and
// `iterations` search and blend steps over a width x height output.
struct WorkLevel {
  int size = 32;
  int iterations = 5;
  int width = 0;
  int height = 0;
};

// The estimate for patch trees of every level's size over a exemplarWidth x
// exemplarHeight exemplar, all held at once, and each level's iterations.
WorkEstimate EstimateWork(int exemplarWidth, int exemplarHeight,
                          const std::vector<WorkLevel>& levels);

// The estimate of CPatchOptimizer::Synthesize with neighbourhood e into width x height.
WorkEstimate EstimateSynthesis(int exemplarWidth, int exemplarHeight, int width, int height,
                               int iterations, int e);

// The memory this machine can give now: MemAvailable of /proc/meminfo, else the free
// physical pages; 0 when neither can be read.
std::uint64_t AvailableMemoryBytes();

// Why the work cannot run with `budgetBytes` of memory, or nothing when it fits (a
// budget of 0, unknown, lets everything run).
std::optional<std::string> WorkRefusal(const WorkEstimate& estimate, std::uint64_t budgetBytes);

// "about 1.2 GB of memory and 3 min" for progress lines.
std::string DescribeWork(const WorkEstimate& estimate);
