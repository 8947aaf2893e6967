// The Single Image Synthesis dialog and its Options dialog, run from scripts with a
// recording user interface and a fixed clock: exact messages, the wait cursor always
// ended, the dialog open after every GO>>, files written where they should be.
#include "quiltbench/app/synthesis_dialogs.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/clock.h"
#include "platform/dialog.h"
#include "platform/recording_ui.h"
#include "quiltbench/app/resource.h"
#include "tests/quiltbench/app/app_test_support.h"

namespace {

using platform::dialogScript;
using platform::IDCANCEL;
using platform::IDOK;

const std::string kSuccess =
    "Operation success! Time Cost: 0.000000 seconds\n\nWould you like to View the result?";

class SingleImageDialogTest : public testing::Test {
 protected:
  void SetUp() override {
    dialogScript().clear();
    app_test::writeSampleBmp(dir.file("sample.bmp"), 64, 64);
  }
  void TearDown() override { dialogScript().clear(); }

  // Runs the dialog to its end (the script running dry closes it) and checks that the
  // run left no wait cursor behind and that GO>> never closed it.
  void run(CSingleImageDialog& dialog) {
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(ui.waitCursorDepth(), 0);
  }

  test_support::TempDir dir;
  platform::RecordingUi ui;
  platform::ScopedUi scopedUi{ui};
  platform::FixedClock fixedClock;
  platform::ScopedClock scopedClock{fixedClock};
};

TEST_F(SingleImageDialogTest, ControlsAndDefaults) {
  CSingleImageDialog dialog;
  run(dialog);
  const auto& t = dialog.dialogTemplate();
  EXPECT_EQ(t.resourceId, 130);
  EXPECT_EQ(t.caption, "Single Image Synthesis");
  EXPECT_EQ(dialog.GetDlgItemText(IDOK), "GO>>");
  EXPECT_EQ(dialog.GetDlgItemText(IDCANCEL), "Cancel");
  EXPECT_EQ(dialog.GetDlgItemText(IDC_BROWSE_INPUT), ">>");
  EXPECT_EQ(dialog.GetDlgItemText(IDC_BROWSE_OUTPUT), ">>");
  EXPECT_EQ(dialog.GetDlgItemText(IDC_OPTIONS), "Options...");
  EXPECT_EQ(dialog.GetDlgItemText(IDC_INPUT_PATH), "");
  EXPECT_EQ(dialog.GetDlgItemText(IDC_OUTPUT_PATH), "");
  EXPECT_EQ(dialog.m_synthesizer.m_bRandom, 0);
  EXPECT_EQ(dialog.m_synthesizer.m_nSearchMode, 1);
  EXPECT_EQ(dialog.m_synthesizer.m_bPostProcess, 1);
  EXPECT_EQ(dialog.m_fScaleX, 2.0f);
  EXPECT_EQ(dialog.m_fScaleY, 2.0f);
  EXPECT_TRUE(ui.messages().empty());
}

TEST_F(SingleImageDialogTest, EmptyInputAsksForOne) {
  CSingleImageDialog dialog;
  dialogScript().press(IDOK);
  run(dialog);
  EXPECT_EQ(ui.messages(), std::vector<std::string>{"Please First input a image for process!"});
  EXPECT_EQ(ui.waitCursorBegins(), 1);
}

TEST_F(SingleImageDialogTest, EmptyOutputGoesToDriveCResult) {
  app_test::ScopedDriveC drive(dir.path().string());
  ui.queueAnswer(true);
  CSingleImageDialog dialog;
  dialogScript().setText(IDC_INPUT_PATH, dir.file("sample.bmp"));
  dialogScript().press(IDOK);
  run(dialog);
  ASSERT_EQ(ui.messages(), std::vector<std::string>{kSuccess});
  const auto& events = ui.events();
  auto question = std::find_if(events.begin(), events.end(),
                               [](const auto& e) { return e.kind == platform::UiEvent::question; });
  ASSERT_NE(question, events.end());
  EXPECT_EQ(question->caption, "System Message");
  auto open = std::find_if(events.begin(), events.end(),
                           [](const auto& e) { return e.kind == platform::UiEvent::shellOpen; });
  ASSERT_NE(open, events.end());
  EXPECT_EQ(open->text, "C:\\result.bmp");
  EXPECT_EQ(open->caption, "open");
  EXPECT_EQ(dialog.m_strOutputPath, "C:\\result.bmp");
  EXPECT_EQ(dialog.GetDlgItemText(IDC_OUTPUT_PATH), "C:\\result.bmp");
  // A 64x64 sample at the default scales grows to 128x128.
  const auto bytes = test_support::readFileBytes(dir.file("result.bmp"));
  ASSERT_GE(bytes.size(), 54u);
  const auto info = platform::loadPacked<platform::BitmapInfoHeader>(bytes.data() + 14);
  EXPECT_EQ(app_test::field(info.width), 128);
  EXPECT_EQ(app_test::field(info.height), 128);
  EXPECT_EQ(app_test::field(info.bitCount), 24);
}

// Damaged and unusual inputs: each shows its message (twice: the dialog stays open for
// a second GO>>), prints its reason as progress, leaves no output and no temporary, and
// never changes the input.
TEST_F(SingleImageDialogTest, FailuresReportTheirReasonAndLeaveNoFileBehind) {
  app_test::writeSampleBmp(dir.file("palette16.bmp"), 32, 32, 4);
  app_test::writeSampleBmp(dir.file("tiny.bmp"), 32, 32);
  app_test::writeSampleBmp(dir.file("narrow.bmp"), 31, 40);
  app_test::writeSampleBmp(dir.file("cut.bmp"), 40, 40);
  auto cut = test_support::readFileBytes(dir.file("cut.bmp"));
  cut.resize(cut.size() - 100);
  test_support::writeFileBytes(dir.file("cut.bmp"), cut);
  app_test::writeSampleBmp(dir.file("rle.bmp"), 40, 40, 8);
  auto rle = test_support::readFileBytes(dir.file("rle.bmp"));
  rle[30] = 1;   // BI_RLE8
  rle[34] = 64;  // 64 bytes of runs
  test_support::writeFileBytes(dir.file("rle.bmp"), rle);
  test_support::writeFileBytes(dir.file("junk.bmp"), std::vector<unsigned char>(100, 'P'));
  std::filesystem::create_directory(dir.file("folder.bmp"));
  struct Case {
    const char* name;
    std::string input, output;
    bool random;
    const char* message;
    std::string reason;
  } cases[] = {
      {"output folder missing", dir.file("sample.bmp"), dir.file("no/such/out.bmp"), false,
       "Save image error!", "cannot save " + dir.file("no/such/out.bmp")},
      {"output is the input", dir.file("sample.bmp"), dir.file("sample.bmp"), false,
       "Operation error!", "is the input image itself"},
      {"input missing", dir.file("missing.bmp"), dir.file("out.bmp"), false, "Operation error!",
       "cannot open " + dir.file("missing.bmp") + ": no such file"},
      {"input is a folder", dir.file("folder.bmp"), dir.file("out.bmp"), false, "Operation error!",
       "cannot read " + dir.file("folder.bmp")},
      {"input not a BMP", dir.file("junk.bmp"), dir.file("out.bmp"), false, "Operation error!",
       "does not begin with \"BM\": not a BMP file"},
      {"input truncated", dir.file("cut.bmp"), dir.file("out.bmp"), false, "Operation error!",
       "pixel rows run past the end of the file"},
      {"input under one patch", dir.file("narrow.bmp"), dir.file("out.bmp"), false,
       "Operation error!", "31x40 pixels are less than one 32x32 patch"},
      {"16-colour sample", dir.file("palette16.bmp"), dir.file("out.bmp"), false,
       "Operation error!", "a 4-bit sample with 16 colours is not taken"},
      {"run-length sample", dir.file("rle.bmp"), dir.file("out.bmp"), false, "Operation error!",
       "run-length compressed samples are not taken"},
      // A 32x32 sample has one offset; the 2x2 grid needs four.
      {"too few offsets", dir.file("tiny.bmp"), dir.file("out.bmp"), true, "Operation error!",
       "needs 4 distinct 32x32 source offsets, and the 32x32 sample has 1 unused"},
  };
  const auto sample = test_support::readFileBytes(dir.file("sample.bmp"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ui.clear();
    CSingleImageDialog dialog;
    dialogScript().setText(IDC_INPUT_PATH, c.input);
    dialogScript().setText(IDC_OUTPUT_PATH, c.output);
    if (c.random) {
      dialogScript().press(IDC_OPTIONS);
      dialogScript().select(IDC_CANDIDATE_METHOD, 0);
      dialogScript().press(IDOK);
    }
    dialogScript().press(IDOK);
    // Still open: a second GO>> gets the same answer.
    dialogScript().press(IDOK);
    run(dialog);
    EXPECT_EQ(ui.messages(), (std::vector<std::string>{c.message, c.message}));
    int reasons = 0;
    for (const auto& e : ui.events())
      reasons +=
          e.kind == platform::UiEvent::progress && e.text.find(c.reason) != std::string::npos;
    EXPECT_EQ(reasons, 2) << (ui.events().empty() ? "" : ui.events()[1].text);
    EXPECT_EQ(ui.waitCursorBegins(), 2);
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.bmp")));
    EXPECT_EQ(test_support::readFileBytes(dir.file("sample.bmp")), sample);
    EXPECT_TRUE(test_support::hiddenFiles(dir.path()).empty());
  }
}

TEST_F(SingleImageDialogTest, TwoRunsReuseTheEngineAndReplaceItsImages) {
  const long liveBefore = platform::GlobalLiveBlockCount();
  {
    CSingleImageDialog dialog;
    dialogScript().setText(IDC_INPUT_PATH, dir.file("sample.bmp"));
    dialogScript().setText(IDC_OUTPUT_PATH, dir.file("a.bmp"));
    dialogScript().press(IDOK);
    dialogScript().setText(IDC_OUTPUT_PATH, dir.file("b.bmp"));
    dialogScript().press(IDOK);
    run(dialog);
    EXPECT_EQ(ui.messages(), (std::vector<std::string>{kSuccess, kSuccess}));
    // Every placed patch of both runs is remembered: 5 x 5 patches a run.
    EXPECT_EQ(dialog.m_synthesizer.m_usedOffsets.size(), 50u);
    EXPECT_NE(dialog.m_synthesizer.m_hSourceImage, nullptr);
    EXPECT_NE(dialog.m_synthesizer.m_hResultImage, nullptr);
    // Only this run's source and result are held.
    EXPECT_EQ(platform::GlobalLiveBlockCount(), liveBefore + 2);
    EXPECT_TRUE(std::filesystem::exists(dir.file("a.bmp")));
    EXPECT_TRUE(std::filesystem::exists(dir.file("b.bmp")));
  }
  EXPECT_EQ(platform::GlobalLiveBlockCount(), liveBefore);
}

TEST_F(SingleImageDialogTest, BrowseButtonsFillThePaths) {
  ui.queueFileDialogAnswer("in.bmp");
  ui.queueFileDialogAnswer("out.bmp");
  CSingleImageDialog dialog;
  dialogScript().press(IDC_BROWSE_INPUT);
  dialogScript().press(IDC_BROWSE_OUTPUT);
  dialogScript().press(IDC_BROWSE_OUTPUT);  // cancelled: the path stays
  run(dialog);
  EXPECT_EQ(dialog.GetDlgItemText(IDC_INPUT_PATH), "in.bmp");
  EXPECT_EQ(dialog.GetDlgItemText(IDC_OUTPUT_PATH), "out.bmp");
  std::vector<std::string> filters;
  for (const auto& e : ui.events())
    if (e.kind == platform::UiEvent::fileDialog) filters.push_back(e.text);
  EXPECT_EQ(filters,
            std::vector<std::string>(
                3, "BMP Files(*.bmp)|*.bmp|JPEG Files(*.jpg)|*.jpg|All Files (*.*)|*.*||"));
}

struct OptionsCase {
  const char* name;
  std::vector<platform::DialogAction> actions;  // inside the options dialog, before OK
  bool pressOk;
  BYTE random;
  int searchMode;
  BYTE postProcess;
  float scaleX, scaleY;
};

TEST_F(SingleImageDialogTest, OptionsStartFromDefaultsAndOnlyRandomSetsTheFlag) {
  using A = platform::DialogAction;
  const OptionsCase cases[] = {
      {"OK without changes", {}, true, 0, 1, 1, 2.0f, 2.0f},
      {"Random", {{A::select, IDC_CANDIDATE_METHOD, {}, 0}}, true, 1, 1, 1, 2.0f, 2.0f},
      {"Entire Patch", {{A::select, IDC_CANDIDATE_METHOD, {}, 1}}, true, 0, 1, 1, 2.0f, 2.0f},
      {"sub-patch", {{A::select, IDC_CANDIDATE_METHOD, {}, 2}}, true, 0, 1, 1, 2.0f, 2.0f},
      {"naive, no post-process, scales",
       {{A::check, IDC_NAIVE_SEARCH, {}, 1},
        {A::press, IDC_POST_PROCESS},
        {A::setText, IDC_SCALE_X, "1.5"},
        {A::setText, IDC_SCALE_Y, "3"}},
       true,
       0,
       2,
       0,
       1.5f,
       3.0f},
      {"naive then FFT again",
       {{A::check, IDC_NAIVE_SEARCH, {}, 1}, {A::check, IDC_FFT_SEARCH, {}, 1}},
       true,
       0,
       1,
       1,
       2.0f,
       2.0f},
      // Cancel leaves the engine as the first opening set it.
      {"Cancel",
       {{A::select, IDC_CANDIDATE_METHOD, {}, 0}, {A::check, IDC_NAIVE_SEARCH, {}, 1}},
       false,
       1,
       2,
       0,
       4.0f,
       5.0f},
  };
  for (const OptionsCase& c : cases) {
    SCOPED_TRACE(c.name);
    CSingleImageDialog dialog;
    // A first opening that changes everything, so each case shows the reset to defaults.
    dialogScript().press(IDC_OPTIONS);
    dialogScript().select(IDC_CANDIDATE_METHOD, 0);
    dialogScript().check(IDC_NAIVE_SEARCH);
    dialogScript().press(IDC_POST_PROCESS);
    dialogScript().setText(IDC_SCALE_X, "4");
    dialogScript().setText(IDC_SCALE_Y, "5");
    dialogScript().press(IDOK);
    dialogScript().press(IDC_OPTIONS);
    for (const auto& a : c.actions) dialogScript().push(a);
    dialogScript().press(c.pressOk ? IDOK : IDCANCEL);
    run(dialog);
    EXPECT_EQ(dialog.m_synthesizer.m_bRandom, c.random);
    EXPECT_EQ(dialog.m_synthesizer.m_nSearchMode, c.searchMode);
    EXPECT_EQ(dialog.m_synthesizer.m_bPostProcess, c.postProcess);
    EXPECT_EQ(dialog.m_fScaleX, c.scaleX);
    EXPECT_EQ(dialog.m_fScaleY, c.scaleY);
    EXPECT_TRUE(ui.messages().empty());
  }
}

TEST_F(SingleImageDialogTest, OptionsDialogControlsAndBadScale) {
  CSingleImageDialog dialog;
  dialogScript().press(IDC_OPTIONS);
  dialogScript().setText(IDC_SCALE_X, "two");
  dialogScript().press(IDOK);  // refused: the options dialog stays open
  dialogScript().setText(IDC_SCALE_X, "2.5");
  dialogScript().press(IDOK);
  run(dialog);
  EXPECT_EQ(ui.messages(), std::vector<std::string>{"Please enter a number."});
  EXPECT_EQ(dialog.m_fScaleX, 2.5f);

  CSynthesisOptionsDialog& options = dialog.m_optionsDialog;
  EXPECT_EQ(options.dialogTemplate().resourceId, 132);
  EXPECT_EQ(options.dialogTemplate().caption, "Single Image Synthesis Options");
  EXPECT_EQ(options.comboItems(IDC_CANDIDATE_METHOD),
            (std::vector<std::string>{"Random", "Entire Patch", "sub-patch"}));
  EXPECT_EQ(options.GetDlgItemText(IDC_FFT_SEARCH), "FFT Accerlation");
  EXPECT_EQ(options.GetDlgItemText(IDC_NAIVE_SEARCH), "Naive Search");
  EXPECT_EQ(options.GetDlgItemText(IDC_POST_PROCESS), "Post Process");
  EXPECT_EQ(options.GetDlgItemText(IDOK), "OK");

  // A fresh opening shows the defaults.
  dialogScript().press(IDCANCEL);
  options.DoModal();
  EXPECT_EQ(options.IsDlgButtonChecked(IDC_FFT_SEARCH), 1);
  EXPECT_EQ(options.IsDlgButtonChecked(IDC_NAIVE_SEARCH), 0);
  EXPECT_EQ(options.IsDlgButtonChecked(IDC_POST_PROCESS), 1);
  EXPECT_EQ(options.GetDlgItemText(IDC_SCALE_X), "2");
  EXPECT_EQ(options.GetDlgItemText(IDC_SCALE_Y), "2");
  EXPECT_EQ(options.comboSelection(IDC_CANDIDATE_METHOD), -1);
  EXPECT_EQ(options.m_nSearchMode, -1);
}

}  // namespace
