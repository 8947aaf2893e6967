#include "platform/paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/support/test_support.h"

namespace {

TEST(Paths, MapsWindowsPathsOntoTheDriveRoot) {
  setenv("WORKBENCH_DRIVE_C", "/srv/drive-c", 1);
  struct Case {
    const char* windows;
    const char* host;
  } cases[] = {
      {"C:\\result.bmp", "/srv/drive-c/result.bmp"},
      {"c:\\_FrameData\\", "/srv/drive-c/_FrameData/"},
      {"C:_MPEG.par", "/srv/drive-c/_MPEG.par"},
      {"..\\Mpeg2Enc\\_MPEG.par", "../Mpeg2Enc/_MPEG.par"},
      {".\\MPEG_Result.mpg", "./MPEG_Result.mpg"},
      {"/tmp/plain.bmp", "/tmp/plain.bmp"},
      {"C:", "/srv/drive-c"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.windows);
    EXPECT_EQ(platform::hostPath(c.windows), c.host);
  }
  unsetenv("WORKBENCH_DRIVE_C");
}

TEST(Paths, DriveDefaultsToTheWorkingDirectory) {
  test_support::TempDir dir;
  test_support::ScopedWorkingDirectory cwd(dir.path());
  unsetenv("WORKBENCH_DRIVE_C");
  EXPECT_EQ(platform::hostPath("C:\\result.bmp"),
            (std::filesystem::current_path() / "result.bmp").string());
}

TEST(Paths, BesideProgramFallsBackToTheExecutablesFolder) {
  test_support::TempDir dir;
  test_support::ScopedWorkingDirectory cwd(dir.path());
  const std::string name = "beside-program-probe.txt";
  const auto besideExe = std::filesystem::path(platform::programDirectory()) / name;
  std::ofstream(besideExe) << "x";
  EXPECT_EQ(platform::besideProgram(name), besideExe.lexically_normal().string());
  std::ofstream(dir.file(name)) << "y";
  EXPECT_EQ(platform::besideProgram(name), name);
  std::filesystem::remove(besideExe);
}

TEST(Paths, MakesAndRemovesFolderTrees) {
  test_support::TempDir dir;
  const std::string frames = dir.file("frames/deeper/");
  ASSERT_TRUE(platform::makeSureDirectoryPathExists(frames));
  std::ofstream(frames + "0.ppm") << "P6";
  EXPECT_TRUE(platform::removeTree(dir.file("frames")));
  EXPECT_FALSE(platform::pathExists(dir.file("frames")));
}

}  // namespace
