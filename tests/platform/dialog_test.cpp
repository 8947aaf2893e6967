// Dialogs run from a script: data exchange both ways, refused numbers keeping the dialog
// open, radio groups, drop-down lists, nested dialogs and the script running dry.
#include "platform/dialog.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <vector>

#include "platform/recording_ui.h"

namespace {

using platform::ControlKind;
using platform::dialogScript;
using platform::IDCANCEL;
using platform::IDOK;

constexpr int kName = 100, kRatio = 101, kCount = 102, kFlag = 103, kRadioA = 104, kRadioB = 105,
              kRadioC = 106, kRadioD = 107, kList = 108, kMore = 109;

class SampleDialog : public platform::Dialog {
 public:
  SampleDialog()
      : Dialog({7,
                "Sample",
                {
                    {ControlKind::button, IDOK, "OK"},
                    {ControlKind::button, IDCANCEL, "Cancel"},
                    {ControlKind::label, platform::IDC_STATIC, "Name:"},
                    {ControlKind::edit, kName, ""},
                    {ControlKind::edit, kRatio, ""},
                    {ControlKind::edit, kCount, ""},
                    {ControlKind::checkBox, kFlag, "Flag", true},
                    {ControlKind::radioButton, kRadioA, "A", true},
                    {ControlKind::radioButton, kRadioB, "B"},
                    {ControlKind::radioButton, kRadioC, "C", true},  // a second group
                    {ControlKind::radioButton, kRadioD, "D"},
                    {ControlKind::dropDownList, kList, "", false, {"one", "two", "three"}},
                    {ControlKind::button, kMore, "More..."},
                }}) {
    onCommand(kMore, [this] {
      ++morePressed;
      if (nested) nestedResult = nested->DoModal();
    });
  }

  std::string name = "start";
  float ratio = 2.0f;
  int count = 3;
  int flag = 1;
  platform::ComboBox list;
  int morePressed = 0;
  SampleDialog* nested = nullptr;
  int nestedResult = 0;

 protected:
  void DoDataExchange(platform::DataExchange& dx) override {
    platform::DDX_Control(dx, kList, list);
    platform::DDX_Text(dx, kName, name);
    platform::DDX_Text(dx, kRatio, ratio);
    platform::DDX_Text(dx, kCount, count);
    platform::DDX_Check(dx, kFlag, flag);
  }
};

class DialogTest : public testing::Test {
 protected:
  void SetUp() override { dialogScript().clear(); }
  void TearDown() override { dialogScript().clear(); }
  platform::RecordingUi ui;
  platform::ScopedUi scoped{ui};
};

TEST_F(DialogTest, ExchangesFieldsBothWays) {
  SampleDialog d;
  dialogScript().setText(kName, "typed");
  dialogScript().setText(kRatio, " 0.25 ");
  dialogScript().setText(kCount, "-12");
  dialogScript().press(kFlag);  // a click toggles the check box
  dialogScript().select(kList, 2);
  dialogScript().press(IDOK);
  EXPECT_EQ(d.DoModal(), IDOK);
  EXPECT_EQ(d.name, "typed");
  EXPECT_EQ(d.ratio, 0.25f);
  EXPECT_EQ(d.count, -12);
  EXPECT_EQ(d.flag, 0);
  EXPECT_EQ(d.list.GetCurSel(), 2);
  EXPECT_EQ(d.list.GetLBText(2), "three");
  EXPECT_EQ(d.list.GetCount(), 3);
  EXPECT_TRUE(ui.messages().empty());

  // The next run starts from fresh controls filled from the fields.
  dialogScript().press(IDCANCEL);
  EXPECT_EQ(d.DoModal(), IDCANCEL);
  EXPECT_EQ(d.GetDlgItemText(kName), "typed");
  EXPECT_EQ(d.GetDlgItemText(kRatio), "0.25");
  EXPECT_EQ(d.GetDlgItemText(kCount), "-12");
  EXPECT_EQ(d.list.GetCurSel(), -1);
  EXPECT_EQ(d.GetDlgItemText(IDOK), "OK");
}

TEST_F(DialogTest, RefusedNumbersKeepTheDialogOpen) {
  struct Case {
    int id;
    const char* text;
    const char* message;
  } cases[] = {
      {kRatio, "abc", "Please enter a number."},
      {kRatio, "", "Please enter a number."},
      {kRatio, "1.5x", "Please enter a number."},
      {kRatio, "nan", "Please enter a number."},
      {kRatio, "1e300", "Please enter a number."},
      {kCount, "2.5", "Please enter an integer."},
      {kCount, "99999999999", "Please enter an integer."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ui.clear();
    SampleDialog d;
    dialogScript().setText(c.id, c.text);
    dialogScript().press(IDOK);
    dialogScript().setText(c.id, "4");
    dialogScript().press(IDOK);
    EXPECT_EQ(d.DoModal(), IDOK);
    EXPECT_EQ(ui.messages(), std::vector<std::string>{c.message});
    EXPECT_EQ(c.id == kRatio ? d.ratio : static_cast<float>(d.count), 4.0f);
  }
}

TEST_F(DialogTest, RadioClicksStayInsideTheirGroup) {
  SampleDialog d;
  dialogScript().check(kRadioB);
  dialogScript().press(kRadioD);
  dialogScript().press(kMore);
  dialogScript().press(IDOK);
  d.CheckRadioButton(kRadioA, kRadioB, kRadioA);  // before the run: no controls yet, no effect
  EXPECT_EQ(d.DoModal(), IDOK);
  EXPECT_EQ(d.IsDlgButtonChecked(kRadioA), 0);
  EXPECT_EQ(d.IsDlgButtonChecked(kRadioB), 1);
  EXPECT_EQ(d.IsDlgButtonChecked(kRadioC), 0);
  EXPECT_EQ(d.IsDlgButtonChecked(kRadioD), 1);
  EXPECT_EQ(d.morePressed, 1);
  d.CheckRadioButton(kRadioA, kRadioD, kRadioC);
  EXPECT_EQ(d.IsDlgButtonChecked(kRadioB), 0);
  EXPECT_EQ(d.IsDlgButtonChecked(kRadioC), 1);
}

TEST_F(DialogTest, NestedDialogTakesTheActionsWhileItRuns) {
  SampleDialog outer, inner;
  outer.nested = &inner;
  dialogScript().press(kMore);
  dialogScript().setText(kName, "inner");
  dialogScript().press(IDOK);  // closes the inner dialog
  dialogScript().setText(kName, "outer");
  dialogScript().press(IDOK);
  EXPECT_EQ(outer.DoModal(), IDOK);
  EXPECT_EQ(outer.nestedResult, IDOK);
  EXPECT_EQ(inner.name, "inner");
  EXPECT_EQ(outer.name, "outer");
}

TEST_F(DialogTest, ADryScriptClosesAsCancelAndBadIdsAreRefused) {
  SampleDialog d;
  dialogScript().setText(kName, "lost");
  EXPECT_EQ(d.DoModal(), IDCANCEL);
  EXPECT_EQ(d.name, "start");  // Cancel saves nothing

  dialogScript().press(4242);
  EXPECT_THROW(d.DoModal(), std::invalid_argument);
  dialogScript().clear();
  EXPECT_THROW(d.comboItems(kName), std::invalid_argument);
}

}  // namespace

namespace {

// Stands in for a window system: takes the user's part and notes which controls the
// dialog's own code changed while it ran.
class FakePresenter final : public platform::DialogPresenter {
 public:
  std::function<void(platform::Dialog&)> user;
  std::vector<int> changed;
  int runs = 0;
  void runModal(platform::Dialog& dialog) override {
    ++runs;
    if (user) user(dialog);
  }
  void controlChanged(platform::Dialog&, int id) override { changed.push_back(id); }
};

class PresenterTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    platform::setDialogPresenter(&presenter);
  }
  void TearDown() override {
    platform::setDialogPresenter(nullptr);
    DialogTest::TearDown();
  }
  FakePresenter presenter;
};

TEST_F(PresenterTest, PresenterRunsTheDialogAndHearsOfItsChanges) {
  SampleDialog d;
  dialogScript().press(IDCANCEL);  // a presenter leaves the script alone
  presenter.user = [&](platform::Dialog& dialog) {
    presenter.changed.clear();  // the changes OnInitDialog made came before any window
    dialog.perform({platform::DialogAction::setText, kName, "typed"});
    dialog.SetDlgItemText(kRatio, "0.5");
    dialog.EnableDlgItem(kFlag, false);
    dialog.setComboSelection(kList, 1);
    dialog.CheckRadioButton(kRadioA, kRadioB, kRadioB);
    dialog.perform({platform::DialogAction::press, IDOK});
  };
  EXPECT_EQ(d.DoModal(), IDOK);
  EXPECT_EQ(presenter.runs, 1);
  EXPECT_EQ(d.name, "typed");
  EXPECT_EQ(d.ratio, 0.5f);
  EXPECT_EQ(presenter.changed, (std::vector<int>{kRatio, kFlag, kList, kRadioA, kRadioB}));
  EXPECT_FALSE(dialogScript().empty());
  // Changes after the run reach no presenter: there is no window any more.
  presenter.changed.clear();
  d.SetDlgItemText(kName, "later");
  EXPECT_TRUE(presenter.changed.empty());
}

TEST_F(PresenterTest, APresenterThatReturnsEarlyClosesAsCancel) {
  SampleDialog d;
  EXPECT_EQ(d.DoModal(), IDCANCEL);
  EXPECT_EQ(presenter.runs, 1);
  EXPECT_FALSE(d.running());
}

}  // namespace
