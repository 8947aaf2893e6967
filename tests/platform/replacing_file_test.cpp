#include "platform/replacing_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using platform::ReplacingFile;
using test_support::readFileBytes;

const std::vector<unsigned char> kOld = {'o', 'l', 'd'};

bool writeBytes(const std::string& path, std::size_t count) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::vector<char> bytes(count, 'n');
  bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && written;
}

TEST(ReplacingFile, CommitReplacesTheTargetAndKeepsItsPermissions) {
  test_support::TempDir dir;
  const auto target = dir.file("result.bmp");
  test_support::writeFileBytes(target, kOld);
  chmod(target.c_str(), 0640);
  {
    ReplacingFile file(target);
    ASSERT_TRUE(file.valid()) << file.error();
    EXPECT_EQ(readFileBytes(target), kOld) << "untouched until the commit";
    ASSERT_TRUE(writeBytes(file.temporaryPath(), 10));
    EXPECT_TRUE(file.commit()) << file.error();
  }
  EXPECT_EQ(readFileBytes(target).size(), 10u);
  struct stat info {};
  stat(target.c_str(), &info);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  EXPECT_TRUE(test_support::hiddenFiles(dir.path()).empty());
}

TEST(ReplacingFile, AnAbandonedOrFailedWriteLeavesTheOldFileAndNoTemporary) {
  test_support::TempDir dir;
  const auto target = dir.file("result.bmp");
  test_support::writeFileBytes(target, kOld);
  { ReplacingFile abandoned(target); }
  int status = test_support::runWithFileSizeLimit(4096, [&] {
    ReplacingFile file(target);
    if (writeBytes(file.temporaryPath(), 100000)) return 1;  // the limit must bite
    return 0;                                                // never committed
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(readFileBytes(target), kOld);
  EXPECT_TRUE(test_support::hiddenFiles(dir.path()).empty());
}

TEST(ReplacingFile, RefusesTargetsItCannotReplace) {
  test_support::TempDir dir;
  EXPECT_FALSE(ReplacingFile(dir.path().string()).valid()) << "a folder";
  EXPECT_FALSE(ReplacingFile(dir.file("missing/x.bmp")).valid()) << "no such folder";
  if (geteuid() != 0) {
    const auto readOnly = dir.file("ro.bmp");
    test_support::writeFileBytes(readOnly, kOld);
    chmod(readOnly.c_str(), 0444);
    EXPECT_FALSE(ReplacingFile(readOnly).valid());
  }
}

TEST(ReplacingFile, SameFileFollowsTheMappingAndLinks) {
  test_support::TempDir dir;
  const auto a = dir.file("a.bmp");
  test_support::writeFileBytes(a, kOld);
  EXPECT_TRUE(platform::sameFile(a, dir.path().string() + "/./a.bmp"));
  EXPECT_FALSE(platform::sameFile(a, dir.file("b.bmp")));
}

}  // namespace
