// The forms toolkit in FLTK windows: widgets in step with their controls both ways, custom
// controls' surfaces on screen, timers on FLTK timeouts and modal forms.
#include "platform/forms/window/form_windows.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/forms/window/testing.h"
#include "platform/timer.h"

namespace forms::window {
namespace {

using namespace testing;

class FormWindowsTest : public ::testing::Test {
 protected:
  FormWindowsTest() {
    form.SetCaption("Forms host test");
    edit = place(new TEdit(&form), 10, 10, 150, 26);
    list = place(new TComboBox(&form), 10, 46, 150, 26);
    bar = place(new TScrollBar(&form), 10, 82, 150, 18);
    button = place(new TButton(&form), 10, 110, 100, 28);
    panel = place(new TPanel(&form), 200, 10, 80, 80);
    list->Items = {"first", "a/b & c", "third"};
    bar->SetMin(107);
    bar->SetMax(400);
    bar->SetPosition(400);
    panel->SetColor(clRed);
    form.SetBounds(0, 0, 300, 150);
  }
  template <class T>
  T* place(T* control, int left, int top, int width, int height) {
    control->SetParent(&form);
    control->SetBounds(left, top, width, height);
    return control;
  }

  FormWindows windows;
  TForm form{nullptr};
  TEdit* edit;
  TComboBox* list;
  TScrollBar* bar;
  TButton* button;
  TPanel* panel;
};

TEST_F(FormWindowsTest, WidgetsFollowTheirControls) {
  edit->SetText("x+y");
  form.Show();
  ASSERT_TRUE(PumpUntil([&] { return Shown(windows, form); }));
  EXPECT_EQ(WidgetText(windows, *edit), "x+y");
  EXPECT_EQ(WidgetValue(windows, *list), -1);

  edit->SetText("sin(x)");
  list->SetItemIndex(1);
  bar->SetPosition(220);
  button->SetCaption("Go");
  button->SetEnabled(false);
  EXPECT_EQ(WidgetText(windows, *edit), "sin(x)");
  EXPECT_EQ(WidgetValue(windows, *list), 1);
  EXPECT_EQ(WidgetText(windows, *list), "a/b & c");  // taken as it is, not as menu syntax
  EXPECT_EQ(WidgetValue(windows, *bar), 220);
  EXPECT_EQ(WidgetText(windows, *button), "Go");
  EXPECT_FALSE(WidgetActive(windows, *button));

  list->SetItems({"one", "two"});
  EXPECT_EQ(WidgetValue(windows, *list), 1);
  EXPECT_EQ(WidgetText(windows, *list), "two");
  bar->SetMin(300);  // the position follows the new range
  EXPECT_EQ(WidgetValue(windows, *bar), 300);
}

TEST_F(FormWindowsTest, ControlsFollowTheUsersWidgets) {
  std::vector<std::string> events;
  edit->OnKeyPress = [&](TComponent*, char& key) {
    events.push_back(std::string("key ") + (key == '\r' ? "Enter" : std::string(1, key)));
    if (key == '!') key = 0;  // swallowed
    if (key == 'q') key = 'Q';
  };
  edit->OnChange = [&](TComponent*) { events.push_back("change " + edit->Text()); };
  list->OnChange = [&](TComponent*) {
    events.push_back("list " + std::to_string(list->ItemIndex()));
  };
  bar->OnChange = [&](TComponent*) { events.push_back("bar " + std::to_string(bar->Position())); };
  button->OnClick = [&](TComponent*) { events.push_back("click"); };
  edit->SetText("old");
  events.clear();
  form.Show();
  ASSERT_TRUE(PumpUntil([&] { return Shown(windows, form); }));

  Type(windows, *edit, "x!q\r");
  Choose(windows, *list, 2);
  ScrollTo(windows, *bar, 250);
  Click(windows, *button);
  button->SetEnabled(false);
  Click(windows, *button);  // a disabled button does nothing
  const std::vector<std::string> expected = {"key x",  "change x",  "key !",
                                             "key q",  "change xQ", "key Enter",
                                             "list 2", "bar 250",   "click"};
  EXPECT_EQ(events, expected);
  EXPECT_EQ(edit->Text(), "xQ");
  EXPECT_EQ(list->ItemIndex(), 2);
  EXPECT_EQ(bar->Position(), 250);
}

TEST_F(FormWindowsTest, ScrollBarStepsAreSmallAndLargeChange) {
  bar->SetSmallChange(3);
  bar->SetLargeChange(20);
  form.Show();
  ASSERT_TRUE(PumpUntil([&] { return Shown(windows, form); }));
  Click(windows, *bar, 5, 9);  // the left arrow
  EXPECT_EQ(bar->Position(), 397);
  Click(windows, *bar, 30, 9);  // the track left of the thumb
  EXPECT_EQ(bar->Position(), 377);
  EXPECT_EQ(WidgetValue(windows, *bar), 377);
}

TEST_F(FormWindowsTest, CustomControlsShowTheirSurfaceAndRepaintWhenItChanges) {
  form.Show();
  ASSERT_TRUE(PumpUntil([&] { return Shown(windows, form); }));
  Pump(50);
  EXPECT_EQ(ScreenPixel(windows, form, 240, 50), clRed);
  panel->SetColor(clBlue);
  Pump(50);
  EXPECT_EQ(ScreenPixel(windows, form, 240, 50), clBlue);
  const std::string path = ScreenshotPath("forms_host.png");
  ASSERT_TRUE(Screenshot(windows, form, path));
  EXPECT_FALSE(PngLooksBlank(path));
}

TEST_F(FormWindowsTest, TimersTickOnTimeouts) {
  form.Show();
  platform::Timer timer;
  int ticks = 0;
  timer.onTimer = [&] { ++ticks; };
  timer.setInterval(100);
  timer.setEnabled(true);
  auto* component = new TTimer(&form);  // enabled from the start
  component->SetInterval(100);
  int componentTicks = 0;
  component->OnTimer = [&](TComponent*) { ++componentTicks; };
  Pump(550);
  EXPECT_GE(ticks, 3);
  EXPECT_LE(ticks, 6);
  EXPECT_GE(componentTicks, 3);
  timer.setEnabled(false);
  component->SetEnabled(false);
  const int stoppedAt = ticks;
  Pump(250);
  EXPECT_EQ(ticks, stoppedAt);
  EXPECT_LE(componentTicks, 6);
}

TEST_F(FormWindowsTest, ShowModalWaitsUntilTheFormCloses) {
  TForm dialog(nullptr);
  dialog.SetCaption("Dialog");
  dialog.SetBounds(0, 0, 200, 100);
  auto* ok = new TButton(&dialog);
  ok->SetParent(&dialog);
  ok->SetBounds(10, 10, 80, 28);
  ok->OnClick = [&](TComponent*) {
    dialog.ModalResult = mrOk;
    dialog.Close();
  };
  bool shownWhileModal = false;
  After(100, [&] {
    shownWhileModal = Shown(windows, dialog);
    Click(windows, *ok);
  });
  form.Show();
  EXPECT_EQ(dialog.ShowModal(), mrOk);
  EXPECT_TRUE(shownWhileModal);
  EXPECT_FALSE(Shown(windows, dialog));
  EXPECT_TRUE(Shown(windows, form));
}

}  // namespace
}  // namespace forms::window
