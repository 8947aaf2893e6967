// Components, controls and the standard controls of the forms toolkit.
#include "platform/forms/forms.h"

#include <algorithm>

namespace forms {

// ---- TComponent ----

TComponent::TComponent(TComponent* AOwner) : owner_(AOwner) {
  if (owner_) owner_->components_.push_back(this);
}

TComponent::~TComponent() {
  // Owned components may free others they own; take them one at a time from the end.
  while (!components_.empty()) {
    TComponent* last = components_.back();
    components_.pop_back();
    last->owner_ = nullptr;
    delete last;
  }
  if (owner_) {
    auto& siblings = owner_->components_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
}

void TComponent::EndLoading() {
  for (TComponent* c : components_) c->EndLoading();
  if (loading_) {
    loading_ = false;
    Loaded();
  }
}

// ---- TControl ----

TControl::TControl(TComponent* AOwner) : TComponent(AOwner) {}

TControl::~TControl() {
  if (view_) view_->ControlDestroyed();
  SetParent(nullptr);
}

void TControl::Changed() {
  if (view_ && !Loading()) view_->ControlChanged();
}

void TControl::SetEnabled(bool v) {
  if (v == enabled_) return;
  enabled_ = v;
  Changed();
}

void TControl::SetParent(TWinControl* parent) {
  if (parent == parent_) return;
  if (parent_) {
    auto& list = parent_->controls_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    if (align_ != alNone) parent_->Realign();
  }
  parent_ = parent;
  if (parent_) {
    parent_->controls_.push_back(this);
    if (align_ != alNone) parent_->Realign();
  }
}

void TControl::SetBounds(int left, int top, int width, int height) {
  width = std::max(0, width);
  height = std::max(0, height);
  const bool resized = width != width_ || height != height_;
  if (!resized && left == left_ && top == top_) return;
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  if (resized && !Loading()) Resize();
  if (resized) {
    Invalidate();
  } else {
    Changed();
  }
}

void TControl::SetVisible(bool v) {
  if (v == visible_) return;
  visible_ = v;
  if (parent_ && align_ != alNone) parent_->Realign();
  Invalidate();
}

void TControl::SetCaption(const std::string& text) {
  if (text == caption_) return;
  caption_ = text;
  Invalidate();
}

void TControl::SetAlign(TAlign a) {
  if (a == align_) return;
  align_ = a;
  if (parent_) parent_->Realign();
}

void TControl::Invalidate() {
  if (visible_ && !Loading()) Paint();
  Changed();
}

// ---- TWinControl ----

TWinControl::TWinControl(TComponent* AOwner) : TControl(AOwner) {}

TWinControl::~TWinControl() {
  // Children owned elsewhere outlive us only as orphans.
  for (TControl* c : controls_) c->parent_ = nullptr;
  controls_.clear();
}

void TWinControl::Realign() {
  int left = 0, top = 0, right = Width(), bottom = Height();
  auto place = [&](TAlign which) {
    for (TControl* c : controls_) {
      if (c->Align() != which || !c->Visible()) continue;
      switch (which) {
        case alTop:
          c->SetBounds(left, top, right - left, c->Height());
          top += c->Height();
          break;
        case alBottom:
          c->SetBounds(left, bottom - c->Height(), right - left, c->Height());
          bottom -= c->Height();
          break;
        case alLeft:
          c->SetBounds(left, top, c->Width(), bottom - top);
          left += c->Width();
          break;
        case alRight:
          c->SetBounds(right - c->Width(), top, c->Width(), bottom - top);
          right -= c->Width();
          break;
        case alClient:
          c->SetBounds(left, top, right - left, bottom - top);
          break;
        case alNone:
          break;
      }
    }
  };
  place(alTop);
  place(alBottom);
  place(alLeft);
  place(alRight);
  place(alClient);
}

void TWinControl::PaintTo(TCanvas& target, int x, int y) {
  for (TControl* c : controls_) {
    if (!c->Visible()) continue;
    if (auto* custom = dynamic_cast<TCustomControl*>(c)) {
      target.Draw(x + c->Left(), y + c->Top(), custom->Surface());
    }
    if (auto* win = dynamic_cast<TWinControl*>(c))
      win->PaintTo(target, x + c->Left(), y + c->Top());
  }
}

// ---- TCustomControl ----

TCustomControl::TCustomControl(TComponent* AOwner) : TWinControl(AOwner) {}

void TCustomControl::SetColor(TColor c) {
  if (c == color_) return;
  color_ = c;
  Invalidate();
}

void TCustomControl::Snapshot(TBitmap& target) {
  target.SetSize(Width(), Height());
  Paint();
  target.Canvas().Draw(0, 0, Surface());
  PaintTo(target.Canvas(), 0, 0);
}

void TCustomControl::Resize() {
  surface_.SetSize(Width(), Height());
  TWinControl::Resize();
}

// ---- standard controls ----

void TButton::Click() {
  if (Enabled() && OnClick) OnClick(this);
}

void TEdit::SetText(const std::string& text) {
  if (text == text_) return;
  text_ = text;
  Changed();
  if (OnChange) OnChange(this);
}

void TEdit::KeyPress(char key) {
  if (OnKeyPress) OnKeyPress(this, key);
  if (key == 0 || key == '\r') return;
  if (key == '\b') {
    if (!text_.empty()) SetText(text_.substr(0, text_.size() - 1));
  } else {
    SetText(text_ + key);
  }
}

void TMemo::SetLines(std::vector<std::string> lines) {
  Lines = std::move(lines);
  Changed();
}

void TComboBox::SetItems(std::vector<std::string> items) {
  Items = std::move(items);
  SetItemIndex(itemIndex_);
  Changed();
}

void TComboBox::SetItemIndex(int index) {
  itemIndex_ = (index >= 0 && index < static_cast<int>(Items.size())) ? index : -1;
  Changed();
}

void TComboBox::Select(int index) {
  SetItemIndex(index);
  if (OnChange) OnChange(this);
}

void TScrollBar::SetMin(int v) {
  min_ = v;
  if (max_ < min_) max_ = min_;
  SetPosition(position_);
  Changed();
}

void TScrollBar::SetMax(int v) {
  max_ = v;
  if (min_ > max_) min_ = max_;
  SetPosition(position_);
  Changed();
}

void TScrollBar::SetPosition(int v) {
  v = std::clamp(v, min_, max_);
  if (v == position_) return;
  position_ = v;
  Changed();
  if (OnChange && !Loading()) OnChange(this);
}

void TScrollBar::SetSmallChange(int v) {
  smallChange_ = std::max(1, v);
  Changed();
}

void TScrollBar::SetLargeChange(int v) {
  largeChange_ = std::max(1, v);
  Changed();
}

void TScrollBar::Scroll(int position) {
  if (OnScroll) OnScroll(this, position);
  SetPosition(position);
}

TTimer::TTimer(TComponent* AOwner) : TComponent(AOwner) {
  timer_.setEnabled(true);
  timer_.onTimer = [this] { Fire(); };
}

void TTimer::Fire() {
  if (Enabled() && OnTimer) OnTimer(this);
}

void TPanel::Paint() {
  Canvas().Brush.Color = Color();
  Canvas().Brush.Style = bsSolid;
  Canvas().FillRect({0, 0, Width(), Height()});
}

// ---- TForm ----

namespace {
TFormHost*& formHost() {
  static TFormHost* host = nullptr;
  return host;
}
}  // namespace

void SetFormHost(TFormHost* host) { formHost() = host; }

TFormHost* FormHost() { return formHost(); }

TForm::~TForm() {
  if (TFormHost* host = FormHost()) host->FormDestroyed(*this);
}

void TForm::Show() {
  closed_ = false;
  if (TFormHost* host = FormHost()) host->ShowForm(*this);
  if (OnShow) OnShow(this);
}

TModalResult TForm::ShowModal() {
  TFormHost* host = FormHost();
  if (host == nullptr) {
    Show();
    ShowWithoutScreen();
    return ModalResult;
  }
  closed_ = false;
  ModalResult = mrNone;
  if (OnShow) OnShow(this);
  host->RunModal(*this);
  return ModalResult;
}

void TForm::Close() {
  if (closed_) return;
  closed_ = true;
  if (OnClose) OnClose(this);
  if (TFormHost* host = FormHost()) host->HideForm(*this);
}

void RunMessageLoop(TForm& mainForm) {
  if (TFormHost* host = FormHost()) host->RunUntilClosed(mainForm);
}

void TForm::Paint() {
  Canvas().Brush.Color = Color();
  Canvas().Brush.Style = bsSolid;
  Canvas().FillRect({0, 0, Width(), Height()});
}

// ---- events in long work ----

namespace {
std::function<void()>& processMessagesHook() {
  static std::function<void()> hook;
  return hook;
}
}  // namespace

void ProcessMessages() {
  if (auto& hook = processMessagesHook()) hook();
}

void SetProcessMessagesHook(std::function<void()> hook) { processMessagesHook() = std::move(hook); }

}  // namespace forms
