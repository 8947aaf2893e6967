#include "platform/crt_random.h"

#include <gtest/gtest.h>

namespace {

TEST(CrtRandom, MatchesTheWindowsRuntimeSequences) {
  struct Case {
    unsigned seed;
    int expected[5];
  } cases[] = {
      {1, {41, 18467, 6334, 26500, 19169}},
      {0, {38, 7719, 21238, 2437, 8855}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.seed);
    platform::srand(c.seed);
    for (int want : c.expected) EXPECT_EQ(platform::rand(), want);
  }
}

TEST(CrtRandom, StaysWithinRandMax) {
  platform::srand(12345);
  for (int i = 0; i < 100000; ++i) {
    int r = platform::rand();
    ASSERT_GE(r, 0);
    ASSERT_LE(r, platform::kRandMax);
  }
}

}  // namespace
