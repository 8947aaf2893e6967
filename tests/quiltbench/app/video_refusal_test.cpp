// `quiltbench video` refuses what it could not finish or would have to destroy before any
// work: "Operation error!", the reason on the error stream, exit status 1, nothing written.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/recording_ui.h"
#include "quiltbench/app/console_driver.h"
#include "tests/quiltbench/app/app_test_support.h"

namespace {

namespace fs = std::filesystem;

TEST(VideoRefusal, RefusalsComeBeforeTheWorkWithTheirReason) {
  test_support::TempDir dir;
  const fs::path drive = dir.path() / "c";
  fs::create_directories(drive / "_FrameData" / "mine");
  test_support::writeFileBytes((drive / "_FrameData" / "mine" / "a.txt").string(), {'a'});
  // The input is never read: each refusal comes first.
  test_support::writeFileBytes((drive / "clip.m2v").string(), {0, 0, 1, 0xB3});
  app_test::ScopedDriveC scopedDrive(drive.string());
  test_support::ScopedWorkingDirectory cwd(dir.path());

  const struct {
    const char* output;
    const char* reason;
  } cases[] = {
      {"C:\\missing\\loop.mpg", "the output C:\\missing\\loop.mpg cannot be written"},
      {"c:\\_FrameData\\loop.mpg", "lies in the run's temporary files"},
      {"C:\\loop.mpg", "already holds files; the run keeps its frames there"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output);
    platform::RecordingUi ui;
    platform::ScopedUi scoped(ui);
    std::ostringstream out, err;
    EXPECT_EQ(runQuiltbench({"video", "C:\\clip.m2v", "-o", c.output}, out, err), 1);
    EXPECT_EQ(ui.messages(), std::vector<std::string>{"Operation error!"});
    std::vector<std::string> progress;
    for (const auto& e : ui.events())
      if (e.kind == platform::UiEvent::progress) progress.push_back(e.text);
    ASSERT_EQ(progress.size(), 1u) << "refused before decoding";
    EXPECT_NE(progress[0].find(c.reason), std::string::npos) << progress[0];
    EXPECT_EQ(ui.waitCursorDepth(), 0);
  }
  std::vector<std::string> left;
  for (const auto& entry : fs::recursive_directory_iterator(drive))
    left.push_back(fs::relative(entry.path(), drive).string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"_FrameData", "_FrameData/mine",
                                            "_FrameData/mine/a.txt", "clip.m2v"}));
}

}  // namespace
