// Runs the programs' dialogs as modal windows: widgets built from the dialog's template and
// laid out in rows, user input carried out through Dialog::perform so the dialog's own
// handlers run, and the dialog's changes to its controls shown in the widgets.
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Round_Button.H>

#include <map>
#include <memory>
#include <vector>

#include "platform/desktop/internal.h"
#include "platform/desktop/layout.h"
#include "platform/dialog.h"

namespace platform::desktop {

namespace {

std::map<const Fl_Widget*, int>& controlIds() {
  static std::map<const Fl_Widget*, int> ids;
  return ids;
}

// Menu texts treat '/', '&' and '\' specially; a list entry shows as written.
std::string escapedItem(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '/' || c == '\\' || c == '&' || c == '_') out += '\\';
    out += c;
  }
  return out;
}

class DialogWindow : public Fl_Double_Window {
 public:
  explicit DialogWindow(Dialog& dialog)
      : Fl_Double_Window(300, 200, dialog.dialogTemplate().caption.c_str()), dialog_(dialog) {
    buildControls();
    end();
    callback([](Fl_Widget*, void* self) { static_cast<DialogWindow*>(self)->cancel(); }, this);
    set_modal();
  }
  ~DialogWindow() override {
    for (const auto& [id, widget] : widgets_) controlIds().erase(widget);
  }

  Dialog& dialog() { return dialog_; }

  void syncAll() {
    for (const auto& [id, widget] : widgets_) sync(id);
  }

  // Shows control `id`'s state in its widget.
  void sync(int id) {
    auto found = widgets_.find(id);
    if (found == widgets_.end()) return;
    Fl_Widget* w = found->second;
    switch (kinds_[id]) {
      case ControlKind::edit: {
        auto* input = static_cast<Fl_Input*>(w);
        const std::string text = dialog_.GetDlgItemText(id);
        if (text != input->value()) input->value(text.c_str());
        break;
      }
      case ControlKind::checkBox:
      case ControlKind::radioButton:
        static_cast<Fl_Button*>(w)->value(dialog_.IsDlgButtonChecked(id) ? 1 : 0);
        break;
      case ControlKind::dropDownList: {
        auto* choice = static_cast<Fl_Choice*>(w);
        const int selection = dialog_.comboSelection(id);
        if (selection < 0)
          choice->value(static_cast<const Fl_Menu_Item*>(nullptr));
        else
          choice->value(selection);
        choice->redraw();
        break;
      }
      default:
        break;
    }
    if (dialog_.IsDlgItemEnabled(id))
      w->activate();
    else
      w->deactivate();
  }

 private:
  struct Binding {
    DialogWindow* window;
    int id;
  };

  void act(const DialogAction& action) {
    dialog_.perform(action);
    if (dialog_.running()) syncAll();
  }

  void cancel() {
    if (widgets_.count(IDCANCEL))
      act({DialogAction::press, IDCANCEL});
    else
      dialog_.OnCancel();
    if (dialog_.running()) dialog_.EndDialog(IDCANCEL);
  }

  static void onWidget(Fl_Widget* w, void* data) {
    auto* binding = static_cast<Binding*>(data);
    DialogWindow& self = *binding->window;
    const int id = binding->id;
    switch (self.kinds_[id]) {
      case ControlKind::edit:
        self.act({DialogAction::setText, id, static_cast<Fl_Input*>(w)->value()});
        break;
      case ControlKind::checkBox:
        self.act({DialogAction::check, id, {}, static_cast<Fl_Button*>(w)->value() ? 1 : 0});
        break;
      case ControlKind::radioButton:
        self.act({DialogAction::check, id, {}, 1});
        break;
      case ControlKind::dropDownList:
        self.act({DialogAction::select, id, {}, static_cast<Fl_Choice*>(w)->value()});
        break;
      default:
        self.act({DialogAction::press, id});
        break;
    }
  }

  Fl_Widget* makeWidget(const ControlTemplate& spec) {
    const char* text = spec.text.c_str();
    switch (spec.kind) {
      case ControlKind::label: {
        auto* box = new Fl_Box(0, 0, 10, 10);
        box->copy_label(text);
        box->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
        return box;
      }
      case ControlKind::button: {
        Fl_Button* button =
            spec.id == IDOK ? new Fl_Return_Button(0, 0, 10, 10) : new Fl_Button(0, 0, 10, 10);
        button->copy_label(text);
        return button;
      }
      case ControlKind::edit: {
        auto* input = new Fl_Input(0, 0, 10, 10);
        input->when(FL_WHEN_CHANGED);
        return input;
      }
      case ControlKind::checkBox: {
        auto* check = new Fl_Check_Button(0, 0, 10, 10);
        check->copy_label(text);
        return check;
      }
      case ControlKind::radioButton: {
        auto* radio = new Fl_Round_Button(0, 0, 10, 10);
        radio->copy_label(text);
        return radio;
      }
      case ControlKind::dropDownList: {
        auto* choice = new Fl_Choice(0, 0, 10, 10);
        for (const std::string& item : dialog_.comboItems(spec.id))
          choice->add(escapedItem(item).c_str());
        return choice;
      }
    }
    return nullptr;
  }

  // A label starts a row, and the edits, lists and labels after an edit join it; a button
  // joins the row of the edit before it; check boxes and radio buttons each take a row;
  // OK and Cancel sit on a bottom row at the right.
  void buildControls() {
    std::vector<Fl_Widget*> bottom;
    ControlKind previous = ControlKind::checkBox;
    bool rowOpen = false;
    for (const ControlTemplate& spec : dialog_.dialogTemplate().controls) {
      Fl_Widget* w = makeWidget(spec);
      if (spec.id != IDC_STATIC) {
        widgets_[spec.id] = w;
        kinds_[spec.id] = spec.kind;
        controlIds()[w] = spec.id;
        bindings_.push_back(std::make_unique<Binding>(Binding{this, spec.id}));
        w->callback(onWidget, bindings_.back().get());
      }
      if (spec.id == IDOK || spec.id == IDCANCEL) {
        bottom.push_back(w);
        continue;
      }
      const bool joins =
          rowOpen && (spec.kind == ControlKind::edit || spec.kind == ControlKind::dropDownList ||
                      (previous == ControlKind::edit &&
                       (spec.kind == ControlKind::label || spec.kind == ControlKind::button)));
      if (!joins) layout_.newRow();
      const bool stretch = spec.kind == ControlKind::edit || spec.kind == ControlKind::dropDownList;
      const int width =
          spec.kind == ControlKind::edit           ? 200
          : spec.kind == ControlKind::dropDownList ? 150
          : spec.kind == ControlKind::checkBox || spec.kind == ControlKind::radioButton
              ? naturalWidth(w) + 16
              : -1;
      layout_.add(w, width, stretch);
      rowOpen = spec.kind == ControlKind::label || spec.kind == ControlKind::edit ||
                spec.kind == ControlKind::dropDownList;
      previous = spec.kind;
    }
    layout_.newRow(true);
    // OK first, then Cancel, whatever the template's order.
    std::stable_partition(bottom.begin(), bottom.end(),
                          [](Fl_Widget* w) { return controlIds()[w] == IDOK; });
    for (Fl_Widget* w : bottom) layout_.add(w, std::max(80, naturalWidth(w)));
    size(std::max(320, layout_.naturalWidth()), layout_.naturalHeight());
    layout_.apply(0, 0, w(), h());
    syncAll();
  }

  Dialog& dialog_;
  ColumnLayout layout_;
  std::map<int, Fl_Widget*> widgets_;
  std::map<int, ControlKind> kinds_;
  std::vector<std::unique_ptr<Binding>> bindings_;
};

class WindowedPresenter final : public DialogPresenter {
 public:
  void runModal(Dialog& dialog) override {
    DialogWindow window(dialog);
    open_.push_back(&window);
    window.show();
    while (dialog.running()) Fl::wait();
    open_.pop_back();
  }

  void controlChanged(Dialog& dialog, int id) override {
    for (DialogWindow* window : open_)
      if (&window->dialog() == &dialog) window->sync(id);
  }

 private:
  std::vector<DialogWindow*> open_;
};

}  // namespace

namespace detail {

DialogPresenter& windowedPresenter() {
  static WindowedPresenter presenter;
  return presenter;
}

bool dialogControlId(const Fl_Widget* widget, int& id) {
  auto found = controlIds().find(widget);
  if (found == controlIds().end()) return false;
  id = found->second;
  return true;
}

}  // namespace detail

}  // namespace platform::desktop
