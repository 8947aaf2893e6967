#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/console_ui.h"
#include "platform/recording_ui.h"
#include "tests/support/test_support.h"

namespace {

using namespace platform;

TEST(Ui, ConsolePrintsTextsExactlyAndAnswersFromItsOption) {
  std::ostringstream out, err;
  ConsoleUi console(out, err);
  ScopedUi scoped(console);
  ui().messageBox("Operation error!");
  console.setYesNoAnswer(true);
  EXPECT_TRUE(
      ui().askYesNo("Operation success! x\nWould you like to View the result?", "System Message"));
  ui().progress("row 1 of 5");
  EXPECT_EQ(out.str(),
            "Operation error!\nOperation success! x\nWould you like to View the result?\n[Yes]\n");
  EXPECT_EQ(err.str(), "row 1 of 5\n");
}

TEST(Ui, RecordingBackendScriptsAnswersAndTracksTheWaitCursor) {
  RecordingUi recording;
  ScopedUi scoped(recording);
  recording.queueAnswer(true);
  {
    WaitCursor wait;
    EXPECT_EQ(recording.waitCursorDepth(), 1);
    EXPECT_TRUE(ui().askYesNo("first?"));
    EXPECT_FALSE(ui().askYesNo("second?"));
  }
  EXPECT_EQ(recording.waitCursorDepth(), 0);
  EXPECT_FALSE(ui().fileDialog({}).has_value());
  EXPECT_EQ(recording.messages(), (std::vector<std::string>{"first?", "second?"}));
}

}  // namespace

namespace {

TEST(Ui, ConsoleOpenRunsProgramsAndPrintsDocumentsWithoutADisplay) {
  test_support::TempDir dir;
  const std::string program = dir.file("viewer.sh");
  const std::string marker = dir.file("ran");
  {
    std::ofstream script(program);
    script << "#!/bin/sh\necho ran > '" << marker << "'\n";
  }
  std::filesystem::permissions(program, std::filesystem::perms::owner_all);
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  std::ostringstream out, err;
  ConsoleUi console(out, err);
  EXPECT_TRUE(console.shellOpen(program, "open"));
  // The program runs detached; give it a bounded while to leave its mark.
  for (int i = 0; i < 500 && !std::filesystem::exists(marker); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(std::filesystem::exists(marker));
  EXPECT_EQ(out.str(), "");
  EXPECT_TRUE(console.shellOpen(dir.file("result.bmp"), "open"));
  EXPECT_EQ(out.str(), "open: " + dir.file("result.bmp") + "\n");
}

}  // namespace
