#include "platform/global_memory.h"

#include <gtest/gtest.h>

namespace {

using namespace platform;

TEST(GlobalMemory, ZeroInitialisedBlocksLockAndFree) {
  const long before = GlobalLiveBlockCount();
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 100);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GlobalSize(h), 100u);
  auto* p = static_cast<unsigned char*>(GlobalLock(h));
  for (int i = 0; i < 100; ++i) ASSERT_EQ(p[i], 0);
  EXPECT_EQ(GlobalLockCount(h), 1);
  EXPECT_FALSE(GlobalUnlock(h));
  EXPECT_EQ(GlobalLockCount(h), 0);
  EXPECT_EQ(GlobalFree(h), nullptr);
  EXPECT_EQ(GlobalLiveBlockCount(), before);
}

TEST(GlobalMemory, ImpossibleSizesAndNullHandlesAreRefused) {
  EXPECT_EQ(GlobalAlloc(GHND, kMaxGlobalBlockBytes + 1), nullptr);
  EXPECT_EQ(GlobalLock(nullptr), nullptr);
  EXPECT_EQ(GlobalSize(nullptr), 0u);
  EXPECT_EQ(GlobalFree(nullptr), nullptr);
}

}  // namespace
