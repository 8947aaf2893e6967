// The option dialogs: defaults, range checks that keep the dialog open, the start-image
// choice only where it is enabled, and the button that starts Arrowmap.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "patchloom/app/option_dialogs.h"
#include "patchloom/app/resource.h"
#include "platform/recording_ui.h"
#include "tests/support/test_support.h"

namespace {

class DialogsTest : public ::testing::Test {
 protected:
  DialogsTest() : guard_(ui_) { platform::dialogScript().clear(); }
  ~DialogsTest() override { platform::dialogScript().clear(); }
  platform::DialogScript& script() { return platform::dialogScript(); }
  platform::RecordingUi ui_;
  platform::ScopedUi guard_;
};

TEST_F(DialogsTest, ResultOptionsRefuseValuesOutOfRange) {
  const struct {
    int id;
    const char* text;
    const char* message;
  } cases[] = {
      {IDC_SCALE_X, "0.05", "Please enter a number between 0.1 and 10."},
      {IDC_SCALE_Y, "10.5", "Please enter a number between 0.1 and 10."},
      {IDC_SCALE_X, "two", "Please enter a number."},
      {IDC_ITERATIONS, "-1", "Please enter an integer between 0 and 100."},
      {IDC_ITERATIONS, "101", "Please enter an integer between 0 and 100."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ui_.clear();
    CResultOptionsDlg dialog;
    script().setText(c.id, c.text);
    script().press(platform::IDOK);
    // Still open after the refusal: the script runs dry and the box is closed.
    EXPECT_EQ(dialog.DoModal(), platform::IDCANCEL);
    EXPECT_EQ(ui_.messages(), std::vector<std::string>{c.message});
  }
}

TEST_F(DialogsTest, InitMethodIsChosenOnlyWhereEnabled) {
  for (const bool enabled : {false, true}) {
    SCOPED_TRACE(enabled);
    CResultOptionsDlg dialog;
    dialog.m_bEnableInitMethod = enabled;
    script().setText(IDC_SCALE_X, "1.5");
    script().select(IDC_INIT_METHOD, 1);
    script().press(platform::IDOK);
    ASSERT_EQ(dialog.DoModal(), platform::IDOK);
    EXPECT_EQ(dialog.m_nInitMethod, enabled ? 1 : 0);
    EXPECT_EQ(dialog.IsDlgItemEnabled(IDC_INIT_METHOD), enabled);
    EXPECT_FLOAT_EQ(dialog.m_fScaleX, 1.5f);
    EXPECT_FLOAT_EQ(dialog.m_fScaleY, 2.0f);
    EXPECT_EQ(dialog.m_nIterations, 5);
  }
}

TEST_F(DialogsTest, FlowParametersHaveDefaultsAndRanges) {
  {
    CFlowParamDlg dialog;
    script().press(platform::IDOK);
    ASSERT_EQ(dialog.DoModal(), platform::IDOK);
    EXPECT_EQ(dialog.m_strFormulaX, "x+2");
    EXPECT_EQ(dialog.m_strFormulaY, "y");
    EXPECT_EQ(dialog.m_nFrames, 10);
    EXPECT_FLOAT_EQ(dialog.m_fScaleX, 1.0f);
  }
  const struct {
    int id;
    const char* text;
    const char* message;
  } cases[] = {
      {IDC_FLOW_FRAMES, "0", "Please enter an integer between 1 and 500."},
      {IDC_FLOW_ITERATIONS, "51", "Please enter an integer between 0 and 50."},
      {IDC_FLOW_WEIGHT, "-0.5", "Please enter a number between 0 and 100."},
      {IDC_FLOW_SCALE_Y, "0", "Please enter a number between 0.1 and 10."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ui_.clear();
    CFlowParamDlg dialog;
    script().setText(c.id, c.text);
    script().press(platform::IDOK);
    EXPECT_EQ(dialog.DoModal(), platform::IDCANCEL);
    EXPECT_EQ(ui_.messages(), std::vector<std::string>{c.message});
  }
}

TEST_F(DialogsTest, ViewFlowFieldOpensArrowmapBesideTheProgram) {
  test_support::TempDir dir;
  std::filesystem::create_directory(dir.path() / "Patchloom");
  test_support::writeFileBytes(dir.file("Arrowmap.exe"), {0});
  test_support::ScopedWorkingDirectory cwd(dir.path() / "Patchloom");
  CFlowParamDlg dialog;
  script().press(IDC_VIEW_FLOW_FIELD);
  script().press(platform::IDCANCEL);
  EXPECT_EQ(dialog.DoModal(), platform::IDCANCEL);
  ASSERT_EQ(ui_.events().size(), 1u);
  EXPECT_EQ(ui_.events()[0].kind, platform::UiEvent::shellOpen);
  EXPECT_EQ(ui_.events()[0].text, "../Arrowmap.exe");
  EXPECT_EQ(ui_.events()[0].caption, "open");
}

}  // namespace
