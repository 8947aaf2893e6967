// Quiltbench's main window and its dialogs on a display, driven through the real widgets:
// showing and closing, a whole single-image session with Options and the offer to view the
// result, the video dialog, and screenshots of each window for people to look at.
#include "quiltbench/app/main_frame.h"

#include <FL/Fl_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Window.H>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "platform/clock.h"
#include "platform/desktop/testing.h"
#include "platform/dialog.h"
#include "platform/ui.h"
#include "quiltbench/app/resource.h"
#include "tests/support/test_support.h"

namespace {

namespace t = platform::desktop::testing;
namespace fs = std::filesystem;

const char* inputText(int id) { return static_cast<Fl_Input*>(t::findControl(id))->value(); }
int buttonValue(int id) { return static_cast<Fl_Button*>(t::findControl(id))->value(); }

// The dialog titled `title` is in front (a step to retry until it is).
t::Step waitForWindow(const std::string& title) {
  return [title] { return t::frontWindow() == t::windowTitled(title) && t::frontWindow(); };
}

void screenshotNotBlank(const std::string& name, Fl_Window* window = nullptr) {
  const std::string path = t::screenshotPath(name);
  ASSERT_TRUE(t::screenshot(path, window)) << path;
  EXPECT_FALSE(t::pngLooksBlank(path)) << path;
}

class MainFrameTest : public testing::Test {
 protected:
  void SetUp() override {
    platform::desktop::startDesktop("Quiltbench");
    t::recordMessages();
    ASSERT_EQ(std::system(
                  (std::string(MAKE_SAMPLES) + " " + dir.path().string() + " >/dev/null").c_str()),
              0);
  }
  void TearDown() override {
    platform::setUi(nullptr);
    platform::setDialogPresenter(nullptr);
  }

  // Shows the main window and waits until it is on the display.
  Fl_Window* showMainWindow() {
    mainFrame.frame().show();
    EXPECT_TRUE(t::pumpUntil([&] { return mainFrame.frame().shown(); }, 1000));
    return t::frameWindowOf(mainFrame.frame());
  }

  test_support::TempDir dir;
  platform::FixedClock fixedClock;
  platform::ScopedClock scopedClock{fixedClock};
  CMainFrame mainFrame;
};

TEST_F(MainFrameTest, MainWindowShowsWithinASecondAndClosesCleanly) {
  const auto start = std::chrono::steady_clock::now();
  Fl_Window* window = showMainWindow();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  ASSERT_NE(window, nullptr);
  EXPECT_STREQ(window->label(), "Quiltbench");
  EXPECT_EQ(mainFrame.frame().status(), "Ready");
  ASSERT_NE(t::findWidget("Single Image", window), nullptr);
  ASSERT_NE(t::findWidget("Video", window), nullptr);
  t::pump(50);
  screenshotNotBlank("quiltbench_main_window.png", window);

  mainFrame.OnAppExit();  // File/Exit
  EXPECT_FALSE(mainFrame.frame().shown());
  EXPECT_TRUE(t::shownMessages().empty());
}

TEST_F(MainFrameTest, SingleImageSessionThroughTheWidgets) {
  Fl_Window* window = showMainWindow();
  const std::string input = dir.file("bricks.bmp");
  const std::string output = dir.file("grown.bmp");

  t::addStep([&] {
    t::click(t::findWidget("Single Image", window));  // runs the dialog to its end
    return true;
  });
  t::addStep(waitForWindow("Single Image Synthesis"));
  t::addStep([&] {
    EXPECT_STREQ(inputText(IDC_INPUT_PATH), "");
    EXPECT_STREQ(inputText(IDC_OUTPUT_PATH), "");
    screenshotNotBlank("quiltbench_single_image_dialog.png");
    t::typeText(t::findControl(IDC_INPUT_PATH), input);
    t::typeText(t::findControl(IDC_OUTPUT_PATH), output);
    t::click(t::findWidget("Options..."));  // runs the options dialog to its end
    return true;
  });
  t::addStep(waitForWindow("Single Image Synthesis Options"));
  t::addStep([&] {
    // Every opening starts from the defaults.
    EXPECT_STREQ(inputText(IDC_SCALE_X), "2");
    EXPECT_STREQ(inputText(IDC_SCALE_Y), "2");
    EXPECT_EQ(buttonValue(IDC_FFT_SEARCH), 1);
    EXPECT_EQ(buttonValue(IDC_NAIVE_SEARCH), 0);
    EXPECT_EQ(buttonValue(IDC_POST_PROCESS), 1);
    EXPECT_EQ(static_cast<Fl_Choice*>(t::findControl(IDC_CANDIDATE_METHOD))->size(), 4);
    screenshotNotBlank("quiltbench_options_dialog.png");
    t::typeText(t::findControl(IDC_SCALE_X), "1.5");
    t::typeText(t::findControl(IDC_SCALE_Y), "1,5");
    t::click(t::findControl(IDC_NAIVE_SEARCH));
    t::planAnswer(true);  // OK on the refusal
    t::click(t::findWidget("OK"));
    return true;
  });
  t::addStep(waitForWindow("Single Image Synthesis Options"));  // still open after the refusal
  t::addStep([&] {
    t::typeText(t::findControl(IDC_SCALE_Y), "1.5");
    t::click(t::findWidget("OK"));
    return true;
  });
  t::addStep(waitForWindow("Single Image Synthesis"));
  t::addStep([&] {
    t::planAnswer(true);  // Yes, view the result
    t::click(t::findWidget("GO>>"));
    return true;
  });
  t::addStep([&] {
    // The dialog stays open after GO>>; the result is in the main window's view.
    EXPECT_EQ(t::frontWindow(), t::windowTitled("Single Image Synthesis"));
    EXPECT_EQ(mainFrame.frame().status().rfind("Patch row ", 0), 0u) << mainFrame.frame().status();
    EXPECT_EQ(t::waitCursorDepth(), 0);
    t::click(t::findWidget("Cancel"));
    return true;
  });
  ASSERT_TRUE(t::runSteps(60000));

  ASSERT_TRUE(fs::exists(output));
  EXPECT_EQ(mainFrame.shownResult(), output);
  const auto& view = mainFrame.frame().view();
  // bricks.bmp beside its result grown by 1.5 both ways.
  EXPECT_GT(view.imageWidth(), 0);
  EXPECT_GT(view.imageHeight(), 0);
  ASSERT_EQ(t::shownMessages().size(), 2u);
  EXPECT_EQ(t::shownMessages()[0].text, "Please enter a number.");
  EXPECT_EQ(t::shownMessages()[0].caption, "Quiltbench");
  EXPECT_EQ(t::shownMessages()[1].text,
            "Operation success! Time Cost: 0.000000 seconds\n\nWould you like to View the result?");
  EXPECT_EQ(t::shownMessages()[1].caption, "System Message");
  EXPECT_TRUE(t::shownMessages()[1].question);
  EXPECT_EQ(mainFrame.frame().status(), "Ready");

  t::pump(50);
  const std::string shot = t::screenshotPath("quiltbench_main_window_result.png");
  ASSERT_TRUE(mainFrame.frame().saveScreenshot(shot));
  EXPECT_FALSE(t::pngLooksBlank(shot));
}

TEST_F(MainFrameTest, VideoDialogShowsItsControlsAndReportsFailures) {
  Fl_Window* window = showMainWindow();
  t::addStep([&] {
    t::click(t::findWidget("Video", window));
    return true;
  });
  t::addStep(waitForWindow("Video Synthesis"));
  t::addStep([&] {
    for (const char* label : {"Input Video:", "Output Video:", "OK", "Cancel"})
      EXPECT_NE(t::findWidget(label), nullptr) << label;
    screenshotNotBlank("quiltbench_video_dialog.png");
    // The first ">>" browses for the input; the chosen path shows in its edit.
    t::planFileDialogAnswer(dir.file("chosen.mpg"));
    t::click(t::findWidget(">>"));
    EXPECT_EQ(inputText(IDC_INPUT_PATH), dir.file("chosen.mpg"));
    t::planFileDialogAnswer(std::nullopt);  // a cancelled chooser changes nothing
    t::click(t::findWidget(">>"));
    EXPECT_EQ(inputText(IDC_INPUT_PATH), dir.file("chosen.mpg"));
    t::typeText(t::findControl(IDC_INPUT_PATH), dir.file("missing.mpg"));
    t::planAnswer(true);
    t::click(t::findWidget("OK"));
    return true;
  });
  t::addStep(waitForWindow("Video Synthesis"));  // the dialog stays open
  t::addStep([&] {
    t::frontWindow()->do_callback();  // the close box
    return true;
  });
  ASSERT_TRUE(t::runSteps());
  EXPECT_EQ(t::windowTitled("Video Synthesis"), nullptr);
  ASSERT_EQ(t::shownMessages().size(), 1u);
  EXPECT_EQ(t::shownMessages()[0].text, "Operation error!");
  EXPECT_EQ(t::waitCursorDepth(), 0);
}

}  // namespace
