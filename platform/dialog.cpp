#include "platform/dialog.h"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "platform/ui.h"

namespace platform {

std::optional<DialogAction> DialogScript::next() {
  if (actions_.empty()) return std::nullopt;
  DialogAction action = std::move(actions_.front());
  actions_.pop_front();
  return action;
}

DialogScript& dialogScript() {
  static DialogScript script;
  return script;
}

namespace {
DialogPresenter* g_presenter = nullptr;
}  // namespace

void setDialogPresenter(DialogPresenter* presenter) { g_presenter = presenter; }
DialogPresenter* dialogPresenter() { return g_presenter; }

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t'; }

// The whole text, give or take surrounding blanks, must be one number.
bool parseDouble(const std::string& text, double& value) {
  const char* begin = text.c_str();
  while (isSpace(*begin)) ++begin;
  if (*begin == '\0') return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtod(begin, &end);
  if (end == begin || errno == ERANGE || !std::isfinite(value)) return false;
  while (isSpace(*end)) ++end;
  return *end == '\0';
}

bool parseInt(const std::string& text, int& value) {
  const char* begin = text.c_str();
  while (isSpace(*begin)) ++begin;
  if (*begin == '\0') return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(begin, &end, 10);
  if (end == begin || errno == ERANGE || v < INT32_MIN || v > INT32_MAX) return false;
  while (isSpace(*end)) ++end;
  if (*end != '\0') return false;
  value = static_cast<int>(v);
  return true;
}

}  // namespace

void DDX_Text(DataExchange& dx, int id, std::string& value) {
  if (dx.failed()) return;
  if (dx.saving())
    value = dx.dialog().GetDlgItemText(id);
  else
    dx.dialog().SetDlgItemText(id, value);
}

void DDX_Text(DataExchange& dx, int id, float& value) {
  if (dx.failed()) return;
  if (dx.saving()) {
    double parsed = 0;
    if (!parseDouble(dx.dialog().GetDlgItemText(id), parsed) || std::fabs(parsed) > FLT_MAX) {
      ui().messageBox("Please enter a number.");
      dx.fail();
      return;
    }
    value = static_cast<float>(parsed);
  } else {
    char text[64];
    std::snprintf(text, sizeof text, "%.*g", FLT_DIG, static_cast<double>(value));
    dx.dialog().SetDlgItemText(id, text);
  }
}

void DDX_Text(DataExchange& dx, int id, int& value) {
  if (dx.failed()) return;
  if (dx.saving()) {
    if (!parseInt(dx.dialog().GetDlgItemText(id), value)) {
      ui().messageBox("Please enter an integer.");
      dx.fail();
    }
  } else {
    dx.dialog().SetDlgItemText(id, std::to_string(value));
  }
}

void DDX_Check(DataExchange& dx, int id, int& value) {
  if (dx.failed()) return;
  if (dx.saving())
    value = dx.dialog().IsDlgButtonChecked(id);
  else
    dx.dialog().CheckDlgButton(id, value);
}

void DDX_Control(DataExchange& dx, int id, ComboBox& box) {
  dx.dialog().comboItems(id);  // the id must name a drop-down list
  box.dialog_ = &dx.dialog();
  box.id_ = id;
}

int ComboBox::GetCurSel() const { return dialog_ ? dialog_->comboSelection(id_) : -1; }
void ComboBox::SetCurSel(int index) {
  if (dialog_) dialog_->setComboSelection(id_, index);
}
int ComboBox::GetCount() const {
  return dialog_ ? static_cast<int>(dialog_->comboItems(id_).size()) : 0;
}
std::string ComboBox::GetLBText(int index) const {
  if (!dialog_ || index < 0 || index >= GetCount()) return {};
  return dialog_->comboItems(id_)[index];
}

Dialog::Dialog(DialogTemplate dialogTemplate) : template_(std::move(dialogTemplate)) {}

int Dialog::DoModal() {
  controls_.clear();
  for (const ControlTemplate& spec : template_.controls) {
    Control c{spec, spec.kind == ControlKind::edit ? std::string() : spec.text, 0, -1, spec.items};
    controls_.push_back(std::move(c));
  }
  running_ = true;
  result_ = IDCANCEL;
  OnInitDialog();
  if (g_presenter && running_) {
    g_presenter->runModal(*this);
    if (running_) EndDialog(IDCANCEL);
    return result_;
  }
  while (running_) {
    std::optional<DialogAction> action = dialogScript().next();
    if (!action) {
      // Nobody is left to answer: the window is closed.
      OnCancel();
      if (running_) EndDialog(IDCANCEL);
      break;
    }
    perform(*action);
  }
  return result_;
}

void Dialog::EndDialog(int result) {
  result_ = result;
  running_ = false;
}

bool Dialog::UpdateData(bool saveAndValidate) {
  DataExchange dx(*this, saveAndValidate);
  DoDataExchange(dx);
  return !dx.failed();
}

bool Dialog::OnInitDialog() {
  UpdateData(false);
  return true;
}

void Dialog::OnOK() {
  if (!UpdateData(true)) return;
  EndDialog(IDOK);
}

void Dialog::OnCancel() { EndDialog(IDCANCEL); }

Dialog::Control& Dialog::control(int id) {
  return const_cast<Control&>(static_cast<const Dialog&>(*this).control(id));
}

const Dialog::Control& Dialog::control(int id) const {
  if (id != IDC_STATIC)
    for (const Control& c : controls_)
      if (c.spec.id == id) return c;
  throw std::invalid_argument("dialog " + std::to_string(template_.resourceId) +
                              " has no control " + std::to_string(id));
}

std::string Dialog::GetDlgItemText(int id) const { return control(id).text; }
void Dialog::SetDlgItemText(int id, const std::string& text) {
  control(id).text = text;
  changed(id);
}
int Dialog::IsDlgButtonChecked(int id) const { return control(id).check; }
void Dialog::CheckDlgButton(int id, int check) {
  control(id).check = check;
  changed(id);
}

void Dialog::CheckRadioButton(int first, int last, int id) {
  for (Control& c : controls_)
    if (c.spec.kind == ControlKind::radioButton && c.spec.id >= first && c.spec.id <= last) {
      c.check = c.spec.id == id ? 1 : 0;
      changed(c.spec.id);
    }
}

// Only a shown dialog has widgets to bring up to date.
void Dialog::changed(int id) {
  if (g_presenter && running_) g_presenter->controlChanged(*this, id);
}

int Dialog::comboSelection(int id) const { return control(id).selection; }

void Dialog::setComboSelection(int id, int index) {
  Control& c = control(id);
  c.selection = index >= 0 && index < static_cast<int>(c.items.size()) ? index : -1;
  changed(id);
}

const std::vector<std::string>& Dialog::comboItems(int id) const {
  const Control& c = control(id);
  if (c.spec.kind != ControlKind::dropDownList)
    throw std::invalid_argument("control " + std::to_string(id) + " is not a drop-down list");
  return c.items;
}

void Dialog::EnableDlgItem(int id, bool enable) {
  control(id).enabled = enable;
  changed(id);
}
bool Dialog::IsDlgItemEnabled(int id) const { return control(id).enabled; }

void Dialog::onCommand(int id, std::function<void()> handler) {
  handlers_[id] = std::move(handler);
}

// A click on a radio button checks it and clears the rest of its group.
void Dialog::clickRadio(int id) {
  std::size_t at = 0;
  while (controls_[at].spec.id != id) ++at;
  std::size_t first = at;
  while (first > 0 && !controls_[first].spec.group &&
         controls_[first - 1].spec.kind == ControlKind::radioButton)
    --first;
  for (std::size_t k = first; k < controls_.size(); ++k) {
    Control& c = controls_[k];
    if (k > first && (c.spec.group || c.spec.kind != ControlKind::radioButton)) break;
    c.check = k == at ? 1 : 0;
  }
}

void Dialog::command(int id) {
  auto handler = handlers_.find(id);
  if (handler != handlers_.end())
    handler->second();
  else if (id == IDOK)
    OnOK();
  else if (id == IDCANCEL)
    OnCancel();
}

void Dialog::perform(const DialogAction& action) {
  Control& c = control(action.id);
  if (!c.enabled) return;
  switch (action.kind) {
    case DialogAction::setText:
      c.text = action.text;
      break;
    case DialogAction::check:
      if (c.spec.kind == ControlKind::radioButton && action.value)
        clickRadio(action.id);
      else
        c.check = action.value;
      break;
    case DialogAction::select:
      setComboSelection(action.id, action.value);
      break;
    case DialogAction::press:
      if (c.spec.kind == ControlKind::checkBox)
        c.check = c.check ? 0 : 1;
      else if (c.spec.kind == ControlKind::radioButton)
        clickRadio(action.id);
      else if (c.spec.kind == ControlKind::button)
        command(action.id);
      break;
  }
}

}  // namespace platform
