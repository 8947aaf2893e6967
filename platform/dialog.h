// Modal dialogs without a window system: controls addressed by id, built afresh from the
// dialog's template on every run, two-way data exchange between controls and fields,
// command handlers by id, and a modal loop that takes the user's actions (type a text,
// check, select, press) from a process-wide script that the console front end or a test
// fills. Nested dialogs take their actions from the same script while they run.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace platform {

enum DialogResult { IDOK = 1, IDCANCEL = 2 };
inline constexpr int IDC_STATIC = -1;

enum class ControlKind { label, button, edit, checkBox, radioButton, dropDownList };

// One control of a dialog template. `group` starts a new group (a radio group runs from
// a radio button with `group` set up to the next control with it set).
struct ControlTemplate {
  ControlKind kind;
  int id;
  std::string text;
  bool group = false;
  std::vector<std::string> items = {};  // initial list of a drop-down list
};

struct DialogTemplate {
  int resourceId = 0;
  std::string caption;
  std::vector<ControlTemplate> controls;
};

// A user action on the running dialog.
struct DialogAction {
  enum Kind { setText, check, select, press };
  Kind kind;
  int id;
  std::string text = {};  // setText
  int value = 0;          // check: 0 or 1; select: item index (-1 clears)
};

// The actions still to come, taken by whichever dialog is running on top. When the
// script runs dry the running dialog is closed as by its close box (Cancel).
class DialogScript {
 public:
  void setText(int id, std::string text) {
    actions_.push_back({DialogAction::setText, id, std::move(text)});
  }
  void check(int id, bool on = true) {
    actions_.push_back({DialogAction::check, id, {}, on ? 1 : 0});
  }
  void select(int id, int index) { actions_.push_back({DialogAction::select, id, {}, index}); }
  void press(int id) { actions_.push_back({DialogAction::press, id, {}}); }
  void push(DialogAction action) { actions_.push_back(std::move(action)); }
  std::optional<DialogAction> next();
  bool empty() const { return actions_.empty(); }
  void clear() { actions_.clear(); }

 private:
  std::deque<DialogAction> actions_;
};

// The process's script.
DialogScript& dialogScript();

class Dialog;

// Shows running dialogs as real windows. With a presenter installed, DoModal hands the
// initialised dialog to it instead of taking actions from the script; the presenter's
// widgets carry out the user's actions through Dialog::perform, and it hears of every
// change the dialog's own code makes to a control.
class DialogPresenter {
 public:
  virtual ~DialogPresenter() = default;
  // Returns once the dialog has ended (the close box counts as Cancel).
  virtual void runModal(Dialog& dialog) = 0;
  virtual void controlChanged(Dialog&, int /*id*/) {}
};

// Installs `presenter` (not owned); null restores the scripted modal loop.
void setDialogPresenter(DialogPresenter* presenter);
DialogPresenter* dialogPresenter();

// Direction and state of one UpdateData pass.
class DataExchange {
 public:
  DataExchange(Dialog& dialog, bool saveAndValidate) : dialog_(dialog), save_(saveAndValidate) {}
  Dialog& dialog() const { return dialog_; }
  // True: controls to fields (with validation); false: fields to controls.
  bool saving() const { return save_; }
  bool failed() const { return failed_; }
  void fail() { failed_ = true; }

 private:
  Dialog& dialog_;
  bool save_;
  bool failed_ = false;
};

// Exchange functions; after a failed one the later ones of the same pass do nothing.
void DDX_Text(DataExchange& dx, int id, std::string& value);
// Numbers: a text that is not a (finite) number is refused with "Please enter a number."
// or "Please enter an integer." and the pass fails.
void DDX_Text(DataExchange& dx, int id, float& value);
void DDX_Text(DataExchange& dx, int id, int& value);
void DDX_Check(DataExchange& dx, int id, int& value);

// A drop-down list bound as a control: reads and sets the live control's state.
class ComboBox {
 public:
  int GetCurSel() const;
  void SetCurSel(int index);
  int GetCount() const;
  std::string GetLBText(int index) const;
  bool attached() const { return dialog_ != nullptr; }

 private:
  friend void DDX_Control(DataExchange& dx, int id, ComboBox& box);
  Dialog* dialog_ = nullptr;
  int id_ = 0;
};
void DDX_Control(DataExchange& dx, int id, ComboBox& box);

class Dialog {
 public:
  explicit Dialog(DialogTemplate dialogTemplate);
  virtual ~Dialog() = default;
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  // Builds the controls from the template, calls OnInitDialog and takes actions from
  // the script until the dialog ends; returns the result (IDOK, IDCANCEL or EndDialog's).
  // The controls keep their last state after the run until the next one starts.
  int DoModal();
  void EndDialog(int result);
  bool running() const { return running_; }

  // Fields to controls (false) or controls to fields with validation (true); false
  // when a field refused its control's text.
  bool UpdateData(bool saveAndValidate = true);

  virtual bool OnInitDialog();  // fills the controls from the fields
  virtual void OnOK();          // saves the controls; ends with IDOK when they are valid
  virtual void OnCancel();      // ends with IDCANCEL

  const DialogTemplate& dialogTemplate() const { return template_; }

  // Control state. Every id must name a control of the template (std::invalid_argument).
  std::string GetDlgItemText(int id) const;
  void SetDlgItemText(int id, const std::string& text);
  int IsDlgButtonChecked(int id) const;
  void CheckDlgButton(int id, int check);
  // Checks `id` and clears every other radio button from `first` to `last`.
  void CheckRadioButton(int first, int last, int id);
  int comboSelection(int id) const;
  void setComboSelection(int id, int index);
  const std::vector<std::string>& comboItems(int id) const;
  // A disabled control takes no user action; every control starts enabled on each run.
  void EnableDlgItem(int id, bool enable);
  bool IsDlgItemEnabled(int id) const;

  // Carries out one user action as if done with the mouse or keyboard.
  void perform(const DialogAction& action);

 protected:
  virtual void DoDataExchange(DataExchange&) {}
  // Registers the handler of a button (the dialog's message map). IDOK and IDCANCEL
  // go to OnOK and OnCancel unless registered.
  void onCommand(int id, std::function<void()> handler);

 private:
  struct Control {
    ControlTemplate spec;
    std::string text;
    int check = 0;
    int selection = -1;
    std::vector<std::string> items;
    bool enabled = true;
  };
  Control& control(int id);
  const Control& control(int id) const;
  void clickRadio(int id);
  void command(int id);
  void changed(int id);

  DialogTemplate template_;
  std::vector<Control> controls_;
  std::map<int, std::function<void()>> handlers_;
  bool running_ = false;
  int result_ = IDCANCEL;
};

}  // namespace platform
