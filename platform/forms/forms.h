// The component model of the forms toolkit: components owned by other components,
// controls with position and size inside a parent, custom controls that paint into
// their own off-screen surface, and the standard controls a form is made of. Without a
// screen a control's picture is its surface bitmap, and a form composes its children's
// surfaces when it is asked for one; a screen (TFormHost) shows forms as windows and
// keeps a view of each control (TControlView).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/forms/graphics.h"
#include "platform/timer.h"

namespace forms {

class TComponent;
using TNotifyEvent = std::function<void(TComponent* Sender)>;
// Key is the typed character; a handler may change it (0 swallows the key).
using TKeyPressEvent = std::function<void(TComponent* Sender, char& Key)>;
// ScrollPos is the position the user scrolled to; a handler may change it.
using TScrollEvent = std::function<void(TComponent* Sender, int& ScrollPos)>;

class TControl;

// What a screen keeps of one control (a widget). The control tells it after its state or
// picture changed, and once when the control goes. Console runs attach no view.
class TControlView {
 public:
  virtual ~TControlView() = default;
  virtual void ControlChanged() = 0;
  virtual void ControlDestroyed() = 0;
};

// A component belongs to its owner, which frees it (owned components are freed
// in the reverse order of their creation). Freeing a component first removes it
// from its owner.
class TComponent {
 public:
  explicit TComponent(TComponent* AOwner);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const { return components_.at(index); }

  std::string Name;

  // Loading: properties are being streamed in; setters store without repainting.
  bool Loading() const { return loading_; }
  void BeginLoading() { loading_ = true; }
  // Ends loading and calls Loaded() on this component and every owned one.
  void EndLoading();
  bool Designing() const { return designing_; }
  void SetDesigning(bool on) { designing_ = on; }

 protected:
  // Called once after loading ended, owned components first.
  virtual void Loaded() {}

 private:
  TComponent* owner_ = nullptr;
  std::vector<TComponent*> components_;
  bool loading_ = false;
  bool designing_ = false;
};

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };

class TWinControl;

// A control has a place inside its parent (Left, Top, Width, Height) and can be
// hidden. Setters that change the picture repaint.
class TControl : public TComponent {
 public:
  explicit TControl(TComponent* AOwner);
  ~TControl() override;

  TWinControl* Parent() const { return parent_; }
  void SetParent(TWinControl* parent);

  int Left() const { return left_; }
  int Top() const { return top_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  void SetLeft(int v) { SetBounds(v, top_, width_, height_); }
  void SetTop(int v) { SetBounds(left_, v, width_, height_); }
  void SetWidth(int v) { SetBounds(left_, top_, v, height_); }
  void SetHeight(int v) { SetBounds(left_, top_, width_, v); }
  // Negative sizes count as 0.
  void SetBounds(int left, int top, int width, int height);

  bool Visible() const { return visible_; }
  void SetVisible(bool v);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v);
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& text);
  TAlign Align() const { return align_; }
  void SetAlign(TAlign a);

  // Repaints now, unless hidden or loading. (There is no message queue to defer to.)
  void Invalidate();
  void Repaint() { Invalidate(); }

  // The screen's view of this control (not owned); null detaches it.
  void SetView(TControlView* view) { view_ = view; }
  TControlView* View() const { return view_; }

 protected:
  virtual void Paint() {}
  // Tells the view that the state or the picture changed (not while loading).
  void Changed();
  // After the size changed (not while loading), and once after loading.
  virtual void Resize() {}
  void Loaded() override {
    Resize();
    Invalidate();
  }

 private:
  friend class TWinControl;
  TWinControl* parent_ = nullptr;
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  bool visible_ = true;
  bool enabled_ = true;
  std::string caption_;
  TAlign align_ = alNone;
  TControlView* view_ = nullptr;
};

// A control that holds other controls and lays out the aligned ones.
class TWinControl : public TControl {
 public:
  explicit TWinControl(TComponent* AOwner);
  ~TWinControl() override;

  int ControlCount() const { return static_cast<int>(controls_.size()); }
  TControl* Controls(int index) const { return controls_.at(index); }
  // Places the aligned children: top, bottom, left and right ones at the edges in
  // their order, a client-aligned one in what is left.
  void Realign();
  // Draws every visible custom-control child (and their children) onto `target`
  // with this control's top-left corner at (x, y).
  void PaintTo(TCanvas& target, int x, int y);

 protected:
  void Resize() override { Realign(); }

 private:
  friend class TControl;
  std::vector<TControl*> controls_;
};

// A windowed control that paints itself: Canvas draws onto its surface, which is
// what the screen shows of it.
class TCustomControl : public TWinControl {
 public:
  explicit TCustomControl(TComponent* AOwner);

  TCanvas& Canvas() { return surface_.Canvas(); }
  // What the screen shows of this control (Width x Height).
  const TBitmap& Surface() const { return surface_; }
  TColor Color() const { return color_; }
  void SetColor(TColor c);
  // A picture of the control with every visible custom control inside it in place.
  void Snapshot(TBitmap& target);

 protected:
  void Resize() override;
  // For controls that draw onto their surface outside Paint: the screen shows it anew.
  void SurfaceChanged() { Changed(); }

 private:
  TBitmap surface_;
  TColor color_ = clBtnFace;
};

// ---- standard controls (state and events only; nothing draws them) ----

class TButton : public TControl {
 public:
  using TControl::TControl;
  TNotifyEvent OnClick;
  // What a mouse click does: the handler runs when the button is enabled.
  void Click();
};

class TLabel : public TControl {
 public:
  using TControl::TControl;
};

class TEdit : public TControl {
 public:
  using TControl::TControl;
  const std::string& Text() const { return text_; }
  void SetText(const std::string& text);
  // What typing one character does: OnKeyPress first, then the text changes
  // unless the handler swallowed the key (character 13, Enter, never changes it).
  void KeyPress(char key);
  TNotifyEvent OnChange;
  TKeyPressEvent OnKeyPress;

 private:
  std::string text_;
};

class TMemo : public TControl {
 public:
  using TControl::TControl;
  // Lines may be written directly; SetLines also shows them on a screen.
  std::vector<std::string> Lines;
  void SetLines(std::vector<std::string> lines);
  bool ReadOnly = false;
};

class TComboBox : public TControl {
 public:
  using TControl::TControl;
  // Items may be written directly; SetItems also shows them on a screen.
  std::vector<std::string> Items;
  void SetItems(std::vector<std::string> items);
  int ItemIndex() const { return itemIndex_; }
  // Selects without the change event, as a program does; -1 for none.
  void SetItemIndex(int index);
  // What the user's choice does: selects and runs OnChange.
  void Select(int index);
  TNotifyEvent OnChange;

 private:
  int itemIndex_ = -1;
};

class TScrollBar : public TControl {
 public:
  using TControl::TControl;
  int Min() const { return min_; }
  int Max() const { return max_; }
  int Position() const { return position_; }
  // Keeps Min <= Position <= Max; changing the position runs OnChange.
  void SetMin(int v);
  void SetMax(int v);
  void SetPosition(int v);
  // The steps of the arrows and of a click beside the thumb (at least 1).
  int SmallChange() const { return smallChange_; }
  int LargeChange() const { return largeChange_; }
  void SetSmallChange(int v);
  void SetLargeChange(int v);
  // What the user's scrolling does: OnScroll may change the new position, then it is set.
  void Scroll(int position);
  TNotifyEvent OnChange;
  TScrollEvent OnScroll;

 private:
  int min_ = 0, max_ = 100, position_ = 0;
  int smallChange_ = 1, largeChange_ = 1;
};

// A timer fires OnTimer every Interval milliseconds while enabled, driven by the
// process's timer loop (platform/timer.h) or by the scheduler plugged into that loop.
class TTimer : public TComponent {
 public:
  explicit TTimer(TComponent* AOwner);
  bool Enabled() const { return timer_.enabled(); }
  void SetEnabled(bool v) { timer_.setEnabled(v); }
  int Interval() const { return static_cast<int>(timer_.interval()); }
  // Negative intervals count as 0 (never fires).
  void SetInterval(int ms) { timer_.setInterval(ms < 0 ? 0u : static_cast<unsigned>(ms)); }
  // One tick: runs OnTimer when enabled.
  void Fire();
  TNotifyEvent OnTimer;

 private:
  platform::Timer timer_;
};

class TPanel : public TCustomControl {
 public:
  using TCustomControl::TCustomControl;

 protected:
  void Paint() override;
};

enum TModalResult { mrNone = 0, mrOk = 1, mrCancel = 2 };

class TForm;

// A screen that shows forms as windows. Without one (console runs) forms have no
// window: Show runs OnShow, and ShowModal returns at once with ModalResult.
class TFormHost {
 public:
  virtual ~TFormHost() = default;
  // Makes the form's window visible.
  virtual void ShowForm(TForm& form) = 0;
  // Shows the form's window modally and returns once the form was closed.
  virtual void RunModal(TForm& form) = 0;
  // Runs the events until the form was closed.
  virtual void RunUntilClosed(TForm& form) = 0;
  // The form was closed, or is going: its window goes.
  virtual void HideForm(TForm& form) = 0;
  virtual void FormDestroyed(TForm& form) = 0;
};

// Installs `host` (not owned) for the whole process; null returns to no screen.
void SetFormHost(TFormHost* host);
TFormHost* FormHost();

// A top-level form. Show makes its window visible and runs OnShow; ShowModal waits for
// the form to be closed where there is a screen.
class TForm : public TCustomControl {
 public:
  using TCustomControl::TCustomControl;
  ~TForm() override;
  void Show();
  TModalResult ShowModal();
  void Close();
  bool Closed() const { return closed_; }
  TModalResult ModalResult = mrNone;
  TNotifyEvent OnShow;
  TNotifyEvent OnClose;

 protected:
  void Paint() override;
  // What ShowModal does in place of a window when there is no screen.
  virtual void ShowWithoutScreen() {}

 private:
  bool closed_ = false;
};

// Runs the events of the screen until `mainForm` was closed; at once without a screen.
void RunMessageLoop(TForm& mainForm);

// Lets pending events run in the middle of long work. The driver of the program
// installs the hook; without one nothing happens.
void ProcessMessages();
void SetProcessMessagesHook(std::function<void()> hook);

}  // namespace forms
