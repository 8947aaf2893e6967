#include <sstream>

#include <gtest/gtest.h>

#include "platform/console_ui.h"
#include "platform/recording_ui.h"

namespace {

using namespace platform;

TEST(Ui, ConsolePrintsTextsExactlyAndAnswersFromItsOption) {
  std::ostringstream out, err;
  ConsoleUi console(out, err);
  ScopedUi scoped(console);
  ui().messageBox("Operation error!");
  console.setYesNoAnswer(true);
  EXPECT_TRUE(ui().askYesNo("Operation success! x\nWould you like to View the result?", "System Message"));
  ui().progress("row 1 of 5");
  EXPECT_EQ(out.str(), "Operation error!\nOperation success! x\nWould you like to View the result?\n[Yes]\n");
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
