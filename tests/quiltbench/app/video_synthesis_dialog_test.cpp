// The Video Synthesis dialog run from scripts with a recording user interface: its
// controls, the browse buttons with the video filter, the success question opening the
// file actually written, and "Operation error!" for videos it cannot loop, with the wait
// cursor ended and the dialog left open every time.
#include "quiltbench/app/video_synthesis_dialog.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/dialog.h"
#include "platform/paths.h"
#include "platform/recording_ui.h"
#include "quiltbench/app/resource.h"
#include "tests/quiltbench/app/app_test_support.h"

namespace {

namespace fs = std::filesystem;
using platform::dialogScript;
using platform::IDCANCEL;
using platform::IDOK;
using platform::UiEvent;

const std::string kSuccess = "Operation success! \nWould you like to View the result?";

fs::path sourceRoot() {
  const std::string file = __FILE__;
  return file.substr(0, file.rfind("tests/quiltbench/app/"));
}

class VideoSynthesisDialogTest : public testing::Test {
 protected:
  // Drive C in the scratch folder and the working directory beside the template's folder,
  // as the program finds "..\Mpeg2Enc\_MPEG.par".
  void SetUp() override {
    dialogScript().clear();
    fs::create_directories(dir.path() / "c");
    fs::create_directories(dir.path() / "work");
    fs::create_directories(dir.path() / "Mpeg2Enc");
    fs::copy_file(sourceRoot() / "Mpeg2Enc" / "_MPEG.par", dir.path() / "Mpeg2Enc" / "_MPEG.par");
    drive.emplace((dir.path() / "c").string());
    cwd.emplace(dir.path() / "work");
  }
  void TearDown() override {
    dialogScript().clear();
    cwd.reset();
    drive.reset();
  }

  // A 24-frame clip made by ffmpeg on drive C.
  static void makeClip(const std::string& name, int frames) {
    const std::string command =
        "ffmpeg -nostdin -hide_banner -loglevel error -f lavfi -i testsrc=size=64x48:rate=25 "
        "-frames:v " +
        std::to_string(frames) + " -c:v mpeg2video -q:v 2 -f mpeg2video -y '" +
        platform::hostPath(name) + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }

  // Runs the dialog until the script runs dry: OK never closes it.
  void run(CVideoSynthesisDialog& dialog) {
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(ui.waitCursorDepth(), 0);
    EXPECT_FALSE(platform::pathExists("C:\\_MPEG.par"));
    EXPECT_FALSE(platform::pathExists("c:\\_FrameData"));
  }

  std::vector<UiEvent> eventsOf(UiEvent::Kind kind) const {
    std::vector<UiEvent> found;
    for (const UiEvent& e : ui.events())
      if (e.kind == kind) found.push_back(e);
    return found;
  }

  test_support::TempDir dir;
  std::optional<app_test::ScopedDriveC> drive;
  std::optional<test_support::ScopedWorkingDirectory> cwd;
  platform::RecordingUi ui;
  platform::ScopedUi scopedUi{ui};
};

TEST_F(VideoSynthesisDialogTest, ControlsAndBrowseButtons) {
  ui.queueFileDialogAnswer("C:\\clips\\in.mpg");
  ui.queueFileDialogAnswer("C:\\clips\\out.mpg");
  CVideoSynthesisDialog dialog;
  dialogScript().press(IDC_BROWSE_INPUT);
  dialogScript().press(IDC_BROWSE_OUTPUT);
  dialogScript().press(IDC_BROWSE_INPUT);  // cancelled: the field keeps its path
  run(dialog);

  const auto& t = dialog.dialogTemplate();
  EXPECT_EQ(t.resourceId, 134);
  EXPECT_EQ(t.caption, "Video Synthesis");
  std::vector<std::pair<int, std::string>> controls;
  for (const auto& c : t.controls) controls.emplace_back(c.id, c.text);
  const std::vector<std::pair<int, std::string>> expected = {
      {IDOK, "OK"}, {IDCANCEL, "Cancel"},  {-1, "Input Video:"}, {1000, ""},
      {1001, ">>"}, {-1, "Output Video:"}, {1002, ""},           {1003, ">>"}};
  EXPECT_EQ(controls, expected);

  EXPECT_EQ(dialog.GetDlgItemText(IDC_INPUT_PATH), "C:\\clips\\in.mpg");
  EXPECT_EQ(dialog.GetDlgItemText(IDC_OUTPUT_PATH), "C:\\clips\\out.mpg");
  const std::vector<UiEvent> dialogs = eventsOf(UiEvent::fileDialog);
  ASSERT_EQ(dialogs.size(), 3u);
  for (const UiEvent& e : dialogs) EXPECT_EQ(e.text, kVideoFileFilter);
  EXPECT_TRUE(ui.messages().empty());
}

TEST_F(VideoSynthesisDialogTest, SuccessOffersTheFileActuallyWritten) {
  makeClip("C:\\clip.m2v", 24);
  ASSERT_FALSE(HasFatalFailure());
  struct Case {
    const char* name;
    const char* output;
    bool view;
    const char* written;  // where the result must be, as the program names it
  } cases[] = {
      {"typed output, not viewed", "C:\\loop.mpg", false, "C:\\loop.mpg"},
      {"empty output: the default file is shown", "", true, ".\\MPEG_Result.mpg"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ui.clear();
    ui.queueAnswer(c.view);
    CVideoSynthesisDialog dialog;
    dialogScript().setText(IDC_INPUT_PATH, "C:\\clip.m2v");
    dialogScript().setText(IDC_OUTPUT_PATH, c.output);
    dialogScript().press(IDOK);
    run(dialog);
    EXPECT_EQ(ui.messages(), std::vector<std::string>{kSuccess});
    const std::vector<UiEvent> questions = eventsOf(UiEvent::question);
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0].caption, "System Message");
    EXPECT_TRUE(platform::pathExists(c.written));
    const std::vector<UiEvent> opened = eventsOf(UiEvent::shellOpen);
    if (c.view) {
      ASSERT_EQ(opened.size(), 1u);
      EXPECT_EQ(opened[0].text, c.written);
      EXPECT_EQ(opened[0].caption, "open");
    } else {
      EXPECT_TRUE(opened.empty());
    }
    EXPECT_EQ(dialog.GetDlgItemText(IDC_OUTPUT_PATH), c.output);
    EXPECT_EQ(ui.waitCursorBegins(), 1);
  }
}

TEST_F(VideoSynthesisDialogTest, VideosThatCannotLoopAreAnOperationErrorAndTheDialogGoesOn) {
  makeClip("C:\\short.m2v", 10);
  makeClip("C:\\clip.m2v", 24);
  ASSERT_FALSE(HasFatalFailure());
  CVideoSynthesisDialog dialog;
  dialogScript().press(IDOK);  // no input at all
  dialogScript().setText(IDC_INPUT_PATH, "C:\\missing.mpg");
  dialogScript().press(IDOK);
  dialogScript().setText(IDC_INPUT_PATH, "C:\\short.m2v");
  dialogScript().press(IDOK);
  dialogScript().setText(IDC_INPUT_PATH, "C:\\clip.m2v");
  dialogScript().press(IDOK);
  run(dialog);
  EXPECT_EQ(ui.messages(), (std::vector<std::string>{"Operation error!", "Operation error!",
                                                     "Operation error!", kSuccess}));
  EXPECT_EQ(ui.waitCursorBegins(), 4);
  EXPECT_TRUE(platform::pathExists(".\\MPEG_Result.mpg"));
}

}  // namespace

namespace {

TEST_F(VideoSynthesisDialogTest, AnOutputThatIsTheInputIsRefusedAndTheSourceKept) {
  makeClip("C:\\clip.m2v", 24);
  ASSERT_FALSE(HasFatalFailure());
  const auto clip = test_support::readFileBytes(platform::hostPath("C:\\clip.m2v"));
  CVideoSynthesisDialog dialog;
  dialogScript().setText(IDC_INPUT_PATH, "C:\\clip.m2v");
  dialogScript().setText(IDC_OUTPUT_PATH, platform::hostPath("C:\\clip.m2v"));
  dialogScript().press(IDOK);
  run(dialog);
  EXPECT_EQ(ui.messages(), std::vector<std::string>{"Operation error!"});
  const auto progress = eventsOf(UiEvent::progress);
  ASSERT_EQ(progress.size(), 1u) << "refused before decoding";
  EXPECT_NE(progress[0].text.find("is the input video itself"), std::string::npos);
  EXPECT_EQ(test_support::readFileBytes(platform::hostPath("C:\\clip.m2v")), clip);
}

}  // namespace
