#include "platform/file.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace {

using platform::File;
using platform::FileException;

TEST(File, WritesReadsAndReportsLength) {
  test_support::TempDir dir;
  const auto path = dir.file("a.bin");
  {
    File f;
    ASSERT_TRUE(f.Open(path, File::modeCreate | File::modeReadWrite | File::shareExclusive));
    f.Write("hello", 5);
    f.Close();
  }
  File f;
  ASSERT_TRUE(f.Open(path, File::modeRead | File::shareDenyWrite));
  EXPECT_EQ(f.GetLength(), 5u);
  char buf[8] = {};
  EXPECT_EQ(f.Read(buf, 8), 5u);
  EXPECT_STREQ(buf, "hello");
}

TEST(File, MissingFileFailsWithItsCause) {
  test_support::TempDir dir;
  File f;
  FileException::Cause cause{};
  EXPECT_FALSE(f.Open(dir.file("missing.bmp"), File::modeRead, &cause));
  EXPECT_EQ(cause, FileException::fileNotFound);
  EXPECT_THROW(f.Read(nullptr, 0), FileException);
}

TEST(File, SharingFlagsAreHonouredWithinTheProcess) {
  test_support::TempDir dir;
  const auto path = dir.file("shared.bin");
  File writer;
  ASSERT_TRUE(writer.Open(path, File::modeCreate | File::modeReadWrite | File::shareExclusive));
  File reader;
  FileException::Cause cause{};
  EXPECT_FALSE(reader.Open(path, File::modeRead | File::shareDenyWrite, &cause));
  EXPECT_EQ(cause, FileException::sharingViolation);
  writer.Close();
  ASSERT_TRUE(reader.Open(path, File::modeRead | File::shareDenyWrite));
  File second;
  EXPECT_TRUE(second.Open(path, File::modeRead | File::shareDenyWrite));
  EXPECT_FALSE(File().Open(path, File::modeReadWrite));
}

}  // namespace
