// The windowed backend on a real (or virtual) display: dialogs built from templates and
// driven through their widgets, frame windows with commands, the image view, message boxes.
#include "platform/desktop/desktop.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Window.H>
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/desktop/layout.h"
#include "platform/desktop/testing.h"
#include "platform/dialog.h"
#include "platform/ui.h"

namespace desk = platform::desktop;
namespace t = platform::desktop::testing;
using platform::ControlKind;

namespace {

constexpr int kName = 100, kApply = 101, kLoud = 102, kFast = 103, kSlow = 104, kKind = 105;

class SampleDialog : public platform::Dialog {
 public:
  SampleDialog()
      : Dialog({7,
                "Sample Settings",
                {
                    {ControlKind::button, platform::IDOK, "OK"},
                    {ControlKind::button, platform::IDCANCEL, "Cancel"},
                    {ControlKind::label, platform::IDC_STATIC, "Name:"},
                    {ControlKind::edit, kName, ""},
                    {ControlKind::button, kApply, "Apply"},
                    {ControlKind::checkBox, kLoud, "Loud", true},
                    {ControlKind::radioButton, kFast, "Fast", true},
                    {ControlKind::radioButton, kSlow, "Slow"},
                    {ControlKind::label, platform::IDC_STATIC, "Kind:"},
                    {ControlKind::dropDownList, kKind, "", false, {"one", "two/three"}},
                }}) {
    onCommand(kApply, [this] {
      UpdateData(true);
      SetDlgItemText(kName, name + "!");
      EnableDlgItem(kLoud, false);
      platform::ui().messageBox("Applied " + name);
    });
  }
  bool OnInitDialog() override {
    CheckRadioButton(kFast, kSlow, kFast);
    return Dialog::OnInitDialog();
  }
  void OnOK() override {
    if (!UpdateData(true)) return;
    slow = IsDlgButtonChecked(kSlow);
    kind = comboSelection(kKind);
    EndDialog(platform::IDOK);
  }

  std::string name = "Ada";
  int loud = 0;
  int slow = 0;
  int kind = -1;

 protected:
  void DoDataExchange(platform::DataExchange& dx) override {
    platform::DDX_Text(dx, kName, name);
    platform::DDX_Check(dx, kLoud, loud);
  }
};

class DesktopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    desk::startDesktop("Desktop Test");
    t::recordMessages();
  }
  void TearDown() override {
    platform::setUi(nullptr);
    platform::setDialogPresenter(nullptr);
  }
};

TEST(DesktopFilter, ProgramFiltersBecomeToolkitFilters) {
  struct Case {
    const char* program;
    const char* toolkit;
  } cases[] = {
      {"BMP Files(*.bmp)|*.bmp|JPEG Files(*.jpg)|*.jpg|All Files (*.*)|*.*||",
       "BMP Files(*.bmp)\t*.bmp\nJPEG Files(*.jpg)\t*.jpg\nAll Files (*.*)\t*"},
      {"Images|*.bmp;*.png||", "Images\t{*.bmp,*.png}"},
      {"", ""},
      {"Broken|", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program);
    EXPECT_EQ(t::toolkitFilter(c.program), c.toolkit);
  }
}

TEST_F(DesktopTest, RowsTakeNaturalWidthsAndStretchTheEdit) {
  Fl_Window window(400, 200);
  Fl_Button label(0, 0, 10, 10, "Label:");
  Fl_Input edit(0, 0, 10, 10);
  Fl_Button ok(0, 0, 10, 10, "OK");
  window.end();
  desk::ColumnLayout layout(10, 6);
  layout.newRow();
  layout.add(&label);
  layout.add(&edit, 100, true);
  layout.newRow(true);
  layout.add(&ok, 80);
  EXPECT_EQ(layout.naturalHeight(), 10 + 25 + 6 + 25 + 10);
  layout.apply(0, 0, 400, 200);
  EXPECT_EQ(label.x(), 10);
  EXPECT_EQ(edit.x(), label.x() + label.w() + 6);
  EXPECT_EQ(edit.x() + edit.w(), 390);  // stretched to the right margin
  EXPECT_EQ(ok.x() + ok.w(), 390);      // packed against the right edge
  EXPECT_EQ(ok.y(), 10 + 25 + 6);
}

TEST_F(DesktopTest, DialogRunsThroughItsWidgets) {
  SampleDialog dialog;
  int result = 0;
  // The first step opens the dialog; the later ones run inside its modal loop.
  t::addStep([&] {
    result = dialog.DoModal();
    return true;
  });
  t::addStep([] { return t::windowTitled("Sample Settings") != nullptr; });
  t::addStep([&] {
    EXPECT_EQ(t::frontWindow(), t::windowTitled("Sample Settings"));
    EXPECT_STREQ(static_cast<Fl_Input*>(t::findControl(kName))->value(), "Ada");
    EXPECT_EQ(static_cast<Fl_Button*>(t::findControl(kFast))->value(), 1);
    EXPECT_TRUE(t::screenshot(t::screenshotPath("sample_dialog.png")));
    t::typeText(t::findControl(kName), "Bob");
    EXPECT_EQ(dialog.GetDlgItemText(kName), "Bob");
    t::click(t::findControl(kSlow));
    EXPECT_EQ(dialog.IsDlgButtonChecked(kSlow), 1);
    EXPECT_EQ(static_cast<Fl_Button*>(t::findControl(kFast))->value(), 0);
    auto* kind = static_cast<Fl_Choice*>(t::findControl(kKind));
    EXPECT_EQ(kind->size(), 3);  // two items and the end marker
    kind->value(1);
    kind->do_callback();
    t::click(t::findControl(kLoud));
    EXPECT_EQ(dialog.IsDlgButtonChecked(kLoud), 1);
    t::planAnswer(true);
    t::click(t::findWidget("Apply"));  // the handler's changes reach the widgets
    EXPECT_STREQ(static_cast<Fl_Input*>(t::findControl(kName))->value(), "Bob!");
    EXPECT_FALSE(t::findControl(kLoud)->active());
    t::click(t::findWidget("OK"));
    return true;
  });
  ASSERT_TRUE(t::runSteps());
  EXPECT_EQ(result, platform::IDOK);
  EXPECT_EQ(dialog.name, "Bob!");
  EXPECT_EQ(dialog.loud, 1);
  EXPECT_EQ(dialog.slow, 1);
  EXPECT_EQ(dialog.kind, 1);
  EXPECT_EQ(dialog.comboItems(kKind)[1], "two/three");
  ASSERT_EQ(t::shownMessages().size(), 1u);
  EXPECT_EQ(t::shownMessages()[0].text, "Applied Bob");
  EXPECT_EQ(t::shownMessages()[0].caption, "Desktop Test");
  EXPECT_EQ(t::windowTitled("Sample Settings"), nullptr);
}

TEST_F(DesktopTest, TheCloseBoxIsCancel) {
  SampleDialog dialog;
  int result = 0;
  t::addStep([&] {
    result = dialog.DoModal();
    return true;
  });
  t::addStep([] { return t::windowTitled("Sample Settings") != nullptr; });
  t::addStep([&] {
    t::frontWindow()->do_callback();  // the close box
    return true;
  });
  ASSERT_TRUE(t::runSteps());
  EXPECT_EQ(result, platform::IDCANCEL);
  EXPECT_EQ(dialog.name, "Ada");
}

TEST_F(DesktopTest, QuestionsAndMessagesAreModalBoxes) {
  bool yes = false, no = true;
  t::addStep([&] {
    yes = platform::ui().askYesNo("Keep going?", "System Message");
    return true;
  });
  t::addStep([] { return t::windowTitled("System Message") != nullptr; });
  t::addStep([] {
    EXPECT_TRUE(t::screenshot(t::screenshotPath("question_box.png")));
    EXPECT_FALSE(t::pngLooksBlank(t::screenshotPath("question_box.png")));
    t::click(t::findWidget("Yes"));
    return true;
  });
  t::addStep([&] {
    t::planAnswer(false);
    no = platform::ui().askYesNo("Stop?");
    return true;
  });
  ASSERT_TRUE(t::runSteps());
  EXPECT_TRUE(yes);
  EXPECT_FALSE(no);
  ASSERT_EQ(t::shownMessages().size(), 2u);
  EXPECT_EQ(t::shownMessages()[0].caption, "System Message");
  EXPECT_EQ(t::shownMessages()[1].caption, "Desktop Test");
  EXPECT_TRUE(t::shownMessages()[1].question);
}

TEST_F(DesktopTest, FrameWindowCommandsFollowTheirUpdateRules) {
  desk::FrameWindow frame("Sample Frame", 500, 400);
  bool canRun = false;
  bool on = false;
  int runs = 0;
  frame.setCommands({
      {"&Tools/&Run", 1, "Ctrl+R", [&] { ++runs; },
       [&] {
         return desk::CommandState{canRun, false};
       },
       false, "Run"},
      {"&Tools/&Toggle", 2, "", [&] { on = !on; },
       [&] {
         return desk::CommandState{true, on};
       },
       true, "Toggle"},
  });
  frame.show();
  ASSERT_TRUE(t::pumpUntil([&] { return frame.shown(); }, 1000));
  Fl_Window* window = t::frameWindowOf(frame);
  Fl_Widget* run = t::findWidget("Run", window);
  auto* toggle = static_cast<Fl_Button*>(t::findWidget("Toggle", window));
  ASSERT_TRUE(run && toggle);
  EXPECT_FALSE(run->active());
  t::click(run);
  EXPECT_EQ(runs, 0);
  canRun = true;
  frame.refreshCommands();
  t::click(run);
  EXPECT_EQ(runs, 1);
  t::click(toggle);
  EXPECT_TRUE(on);
  EXPECT_EQ(toggle->value(), 1);

  platform::ui().progress("Halfway there");
  EXPECT_EQ(frame.status(), "Halfway there");

  {
    platform::WaitCursor outer;
    {
      platform::WaitCursor inner;
      EXPECT_EQ(t::waitCursorDepth(), 2);
    }
    EXPECT_EQ(t::waitCursorDepth(), 1);
  }
  EXPECT_EQ(t::waitCursorDepth(), 0);

  std::vector<std::uint8_t> rgb(300 * 200 * 3);
  for (std::size_t k = 0; k < rgb.size(); ++k) rgb[k] = static_cast<std::uint8_t>(k * 7);
  frame.view().setImage(300, 200, rgb);
  frame.view().setOverlays({{{{10, 10}, {100, 10}, {50, 80}}, true, 0x00FF00}});
  std::vector<desk::MouseEvent> events;
  frame.view().onMouse = [&](const desk::MouseEvent& e) { events.push_back(e); };
  t::click(t::canvasOf(frame.view()), 5, 7);
  t::click(t::canvasOf(frame.view()), 20, 30, 3);
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[0].kind, desk::MouseEvent::press);
  EXPECT_EQ(events[0].x, 5);
  EXPECT_EQ(events[0].y, 7);
  EXPECT_EQ(events[1].kind, desk::MouseEvent::release);
  EXPECT_EQ(events[2].kind, desk::MouseEvent::rightPress);

  t::pump(50);
  const std::string shot = t::screenshotPath("sample_frame.png");
  ASSERT_TRUE(frame.saveScreenshot(shot));
  EXPECT_FALSE(t::pngLooksBlank(shot));
  int w = 0, h = 0;
  ASSERT_TRUE(t::pngSize(shot, w, h));
  EXPECT_EQ(w, 500);
  EXPECT_EQ(h, 400);

  bool refuse = true;
  frame.onClose = [&] { return !refuse; };
  frame.close();
  EXPECT_TRUE(frame.shown());
  refuse = false;
  window->do_callback();  // the close box
  EXPECT_FALSE(frame.shown());
}

}  // namespace
