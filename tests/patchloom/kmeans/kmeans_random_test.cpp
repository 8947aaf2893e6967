// The library's random source and its framed reports.
#include "patchloom/kmeans/kmeans_random.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/crt_random.h"
#include "tests/support/test_support.h"

namespace {

// The shuffled table as the library draws it: seed 0, 97 draws dropped, 97 into the
// table, one more as the first index source.
std::vector<double> expectedDraws(int count) {
  platform::srand(0);
  for (int i = 0; i < 97; ++i) platform::rand();
  double table[98];
  for (int j = 1; j <= 97; ++j) table[j] = platform::rand();
  double y = platform::rand();
  std::vector<double> out;
  for (int i = 0; i < count; ++i) {
    int j = 1 + static_cast<int>(97 * y / 32767);
    if (j > 97) j = 97;
    y = table[j];
    table[j] = platform::rand();
    out.push_back(y / 32767);
  }
  return out;
}

TEST(KMeansRandomTest, DrawsTheShuffledTableFromSeedZero) {
  const std::vector<double> expected = expectedDraws(500);
  KMeansRandomRestart();
  for (int i = 0; i < 500; ++i) ASSERT_EQ(KMeansRandomUniform(), expected[i]) << "draw " << i;
  // Starting over repeats the numbers whatever the runtime generator did meanwhile.
  platform::srand(12345);
  platform::rand();
  KMeansRandomRestart();
  for (int i = 0; i < 500; ++i) ASSERT_EQ(KMeansRandomUniform(), expected[i]) << "draw " << i;
}

TEST(KMeansRandomTest, IndicesAndIntervalsStayInRange) {
  KMeansRandomRestart();
  std::vector<int> hits(7, 0);
  for (int i = 0; i < 7000; ++i) {
    const int r = KMeansRandomIndex(7);
    ASSERT_GE(r, 0);
    ASSERT_LT(r, 7);
    ++hits[r];
    const double u = KMeansRandomUniform(-3.0, 5.0);
    ASSERT_GE(u, -3.0);
    ASSERT_LE(u, 5.0);
  }
  for (int h : hits) EXPECT_GT(h, 700);
  EXPECT_EQ(KMeansRandomIndex(1), 0);
}

TEST(KMeansReportTest, WarningGoesToBothStreamsAndReturns) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  KMeansReportError("Building kc-tree", false);
  const std::string err = testing::internal::GetCapturedStderr();
  const std::string out = testing::internal::GetCapturedStdout();
  const std::string framed = "kmeans: WARNING----->Building kc-tree<-------------WARNING\n";
  EXPECT_EQ(err, framed);
  EXPECT_EQ(out, framed);
}

TEST(KMeansReportDeathTest, FatalErrorIsFramedOnBothStreamsAndExitsWithOne) {
  test_support::TempDir dir;
  const std::string outFile = dir.file("stdout.txt");
  EXPECT_EXIT(
      {
        if (!std::freopen(outFile.c_str(), "w", stdout)) std::abort();
        KMeansReportError("no points", true);
      },
      testing::ExitedWithCode(1), "^kmeans: ERROR------->no points<-------------ERROR\n$");
  const std::vector<unsigned char> bytes = test_support::readFileBytes(outFile);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
            "kmeans: ERROR------->no points<-------------ERROR\n");
}

}  // namespace
