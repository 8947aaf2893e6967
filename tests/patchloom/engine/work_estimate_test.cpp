// The estimate of a synthesis's memory and the refusal of work that cannot fit.
#include "patchloom/engine/work_estimate.h"

#include <gtest/gtest.h>

namespace {

TEST(WorkEstimate, GrowsWithTheExemplarAndIsRefusedBeyondTheBudget) {
  const WorkEstimate small = EstimateSynthesis(128, 128, 256, 256, 5, 32);
  const WorkEstimate large = EstimateSynthesis(4096, 4096, 8192, 8192, 5, 32);
  // Measured peaks: 22 MB for the small run, 14.7 GB for the large one (a flat image).
  EXPECT_GT(small.bytes, 15'000'000u);
  EXPECT_LT(small.bytes, 60'000'000u);
  EXPECT_GT(large.bytes, 12'000'000'000u);
  EXPECT_GT(large.seconds, 3600.0);

  const std::uint64_t gib = std::uint64_t{1} << 30;
  EXPECT_FALSE(WorkRefusal(large, 64 * gib));
  EXPECT_FALSE(WorkRefusal(large, 0));  // unknown budget: nothing refused
  const auto refusal = WorkRefusal(large, 8 * gib);
  ASSERT_TRUE(refusal);
  EXPECT_NE(refusal->find("of memory"), std::string::npos) << *refusal;
  EXPECT_NE(refusal->find("8.6 GB are available"), std::string::npos) << *refusal;
  EXPECT_FALSE(WorkRefusal(small, 8 * gib));
  EXPECT_NE(DescribeWork(small).find("MB of memory"), std::string::npos);
}

TEST(WorkEstimate, MachineMemoryIsRead) { EXPECT_GT(AvailableMemoryBytes(), 0u); }

}  // namespace
