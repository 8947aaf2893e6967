#include "platform/forms/window/form_windows.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Scrollbar.H>
#include <FL/Fl_Text_Buffer.H>
#include <FL/Fl_Text_Display.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/timer.h"

namespace forms::window {
namespace {

Fl_Color flColor(TColor c) { return fl_rgb_color(redOf(c), greenOf(c), blueOf(c)); }

// The control's place in its form's window: FLTK places every widget in window coordinates.
void windowBounds(const TControl& control, int& x, int& y) {
  x = control.Left();
  y = control.Top();
  for (const TWinControl* p = control.Parent(); p != nullptr && p->Parent() != nullptr;
       p = p->Parent()) {
    x += p->Left();
    y += p->Top();
  }
}

// What a window keeps of one control: the widget and the way to bring it in step.
class ControlView : public TControlView {
 public:
  explicit ControlView(TControl* control) : control_(control) { control_->SetView(this); }
  ~ControlView() override { detach(); }
  virtual Fl_Widget* widget() = 0;

  // The window goes before the control: the control forgets this view.
  void detach() {
    if (control_) control_->SetView(nullptr);
    control_ = nullptr;
    forget();
  }

  void ControlChanged() override {
    if (control_ == nullptr) return;
    syncCommon();
    sync();
  }
  void ControlDestroyed() override {
    control_ = nullptr;
    forget();
    widget()->hide();
  }
  // Brings the widget in step with the control.
  void syncAll() {
    if (control_ == nullptr) return;
    syncCommon();
    sync();
  }

 protected:
  virtual void sync() {}
  // Drops what the widget knows of the control.
  virtual void forget() {}
  TControl* control_;

 private:
  void syncCommon() {
    Fl_Widget* w = widget();
    int x, y;
    windowBounds(*control_, x, y);
    if (x != w->x() || y != w->y() || control_->Width() != w->w() || control_->Height() != w->h()) {
      w->resize(x, y, control_->Width(), control_->Height());
      if (w->window()) w->window()->redraw();
    }
    if (control_->Visible() != (w->visible() != 0)) control_->Visible() ? w->show() : w->hide();
    if (control_->Enabled() != (w->active() != 0))
      control_->Enabled() ? w->activate() : w->deactivate();
  }
};

template <class Widget>
class WidgetView : public ControlView {
 public:
  template <class... Args>
  explicit WidgetView(TControl* control, Args&&... args)
      : ControlView(control), widget_(new Widget(std::forward<Args>(args)...)) {
    widget_->user_data(this);
  }
  Fl_Widget* widget() override { return widget_; }

 protected:
  Widget* widget_;  // owned by the window
};

// A custom control: its surface as the background, with its child controls over it.
class SurfaceGroup : public Fl_Group {
 public:
  SurfaceGroup(TCustomControl* control, int x, int y)
      : Fl_Group(x, y, control->Width(), control->Height()), control_(control) {
    box(FL_NO_BOX);
  }
  void detach() { control_ = nullptr; }
  // The surface changed: it is converted anew at the next drawing.
  void surfaceChanged() {
    stale_ = true;
    redraw();
  }

 protected:
  void draw() override {
    if (damage() & ~FL_DAMAGE_CHILD) drawSurface();
    draw_children();
  }

 private:
  void drawSurface() {
    if (control_ == nullptr) return;
    const TBitmap& surface = control_->Surface();
    if (stale_ || width_ != surface.Width() || height_ != surface.Height()) convert(surface);
    if (width_ > 0 && height_ > 0) fl_draw_image(rgb_.data(), x(), y(), width_, height_, 3);
  }
  // cairo keeps a pixel as one native 32-bit word 0x00RRGGBB; FLTK takes R, G, B bytes.
  void convert(const TBitmap& surface) {
    width_ = surface.Width();
    height_ = surface.Height();
    rgb_.resize(static_cast<std::size_t>(width_) * height_ * 3);
    if (width_ == 0 || height_ == 0) return;
    cairo_surface_t* s = surface.Surface();
    cairo_surface_flush(s);
    const unsigned char* data = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    unsigned char* out = rgb_.data();
    for (int row = 0; row < height_; ++row) {
      const auto* pixel = reinterpret_cast<const std::uint32_t*>(data + row * stride);
      for (int col = 0; col < width_; ++col) {
        const std::uint32_t p = pixel[col];
        *out++ = static_cast<unsigned char>(p >> 16);
        *out++ = static_cast<unsigned char>(p >> 8);
        *out++ = static_cast<unsigned char>(p);
      }
    }
    stale_ = false;
  }

  TCustomControl* control_;
  std::vector<unsigned char> rgb_;
  int width_ = 0, height_ = 0;
  bool stale_ = true;
};

class SurfaceView final : public ControlView {
 public:
  SurfaceView(TCustomControl* control, int x, int y)
      : ControlView(control), group_(new SurfaceGroup(control, x, y)) {
    group_->user_data(this);
  }
  Fl_Widget* widget() override { return group_; }
  SurfaceGroup* group() { return group_; }

 protected:
  void forget() override { group_->detach(); }
  void sync() override { group_->surfaceChanged(); }

 private:
  SurfaceGroup* group_;
};

class ButtonView final : public WidgetView<Fl_Button> {
 public:
  ButtonView(TButton* button, int x, int y)
      : WidgetView(button, x, y, button->Width(), button->Height()) {
    widget_->callback(&clicked, this);
  }

 protected:
  void sync() override {
    if (caption_ != control_->Caption()) {
      caption_ = control_->Caption();
      widget_->copy_label(caption_.c_str());
    }
  }

 private:
  static void clicked(Fl_Widget*, void* data) {
    auto* view = static_cast<ButtonView*>(data);
    if (auto* button = static_cast<TButton*>(view->control_)) button->Click();
  }
  std::string caption_;
};

// Typing reaches the edit's OnKeyPress first, as the toolkit defines it: a handler may
// swallow the key (0) or put another in its place; Enter never changes the text.
class EditInput final : public Fl_Input {
 public:
  EditInput(int x, int y, int w, int h) : Fl_Input(x, y, w, h) {}
  TEdit* edit = nullptr;

  int handle(int event) override {
    if (event != FL_KEYBOARD || edit == nullptr || !edit->OnKeyPress) {
      return Fl_Input::handle(event);
    }
    const int key = Fl::event_key();
    if (key == FL_Enter || key == FL_KP_Enter) {
      char k = '\r';
      edit->OnKeyPress(edit, k);
      return 1;
    }
    if (key == FL_BackSpace) {
      char k = '\b';
      edit->OnKeyPress(edit, k);
      return k == 0 ? 1 : Fl_Input::handle(event);
    }
    const bool plain = (Fl::event_state() & (FL_CTRL | FL_ALT | FL_META)) == 0;
    if (plain && Fl::event_length() == 1 && static_cast<unsigned char>(Fl::event_text()[0]) >= 32) {
      const char typed = Fl::event_text()[0];
      char k = typed;
      edit->OnKeyPress(edit, k);
      if (k == 0) return 1;
      if (k != typed) {
        replace(position(), mark(), &k, 1);
        do_callback();
        return 1;
      }
    }
    return Fl_Input::handle(event);
  }
};

class EditView final : public WidgetView<EditInput> {
 public:
  EditView(TEdit* edit, int x, int y) : WidgetView(edit, x, y, edit->Width(), edit->Height()) {
    widget_->edit = edit;
    widget_->when(FL_WHEN_CHANGED);
    widget_->callback(&changed, this);
  }

 protected:
  void forget() override { widget_->edit = nullptr; }
  void sync() override {
    const std::string& text = static_cast<TEdit*>(control_)->Text();
    if (text != widget_->value()) widget_->value(text.c_str());
  }

 private:
  static void changed(Fl_Widget*, void* data) {
    auto* view = static_cast<EditView*>(data);
    if (auto* edit = static_cast<TEdit*>(view->control_)) edit->SetText(view->widget_->value());
  }
};

class ChoiceView final : public WidgetView<Fl_Choice> {
 public:
  ChoiceView(TComboBox* box, int x, int y) : WidgetView(box, x, y, box->Width(), box->Height()) {
    widget_->callback(&chosen, this);
  }

 protected:
  void sync() override {
    auto* box = static_cast<TComboBox*>(control_);
    if (items_ != box->Items) {
      items_ = box->Items;
      widget_->clear();
      for (std::size_t i = 0; i < items_.size(); ++i) {
        // add() reads "/", "&" and "_" as menu syntax; replace() takes the text as it is.
        widget_->add("-");
        widget_->replace(static_cast<int>(i), items_[i].c_str());
      }
    }
    const int index = box->ItemIndex();
    if (index != widget_->value()) {
      if (index < 0) {
        widget_->value(static_cast<const Fl_Menu_Item*>(nullptr));
      } else {
        widget_->value(index);
      }
      widget_->redraw();
    }
  }

 private:
  static void chosen(Fl_Widget*, void* data) {
    auto* view = static_cast<ChoiceView*>(data);
    if (auto* box = static_cast<TComboBox*>(view->control_)) box->Select(view->widget_->value());
  }
  std::vector<std::string> items_;
};

class ScrollBarView final : public WidgetView<Fl_Scrollbar> {
 public:
  ScrollBarView(TScrollBar* bar, int x, int y)
      : WidgetView(bar, x, y, bar->Width(), bar->Height()) {
    widget_->type(bar->Width() >= bar->Height() ? FL_HORIZONTAL : FL_VERTICAL);
    widget_->callback(&scrolled, this);
  }

 protected:
  void sync() override {
    auto* bar = static_cast<TScrollBar*>(control_);
    widget_->linesize(bar->SmallChange());
    // A thumb LargeChange long in a track of (Max - Min + LargeChange) makes a click beside
    // the thumb move by LargeChange.
    const int large = bar->LargeChange();
    widget_->value(bar->Position(), large, bar->Min(), bar->Max() - bar->Min() + large);
  }

 private:
  static void scrolled(Fl_Widget*, void* data) {
    auto* view = static_cast<ScrollBarView*>(data);
    if (auto* bar = static_cast<TScrollBar*>(view->control_)) {
      bar->Scroll(static_cast<int>(view->widget_->value()));
      view->sync();  // OnScroll may have put the position elsewhere
    }
  }
};

class LabelView final : public WidgetView<Fl_Box> {
 public:
  LabelView(TControl* label, int x, int y)
      : WidgetView(label, x, y, label->Width(), label->Height()) {
    widget_->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
  }

 protected:
  void sync() override {
    if (caption_ != control_->Caption()) {
      caption_ = control_->Caption();
      widget_->copy_label(caption_.c_str());
      widget_->redraw_label();
    }
  }

 private:
  std::string caption_;
};

class MemoView final : public WidgetView<Fl_Text_Display> {
 public:
  MemoView(TMemo* memo, int x, int y) : WidgetView(memo, x, y, memo->Width(), memo->Height()) {
    widget_->buffer(&buffer_);
    widget_->wrap_mode(Fl_Text_Display::WRAP_AT_BOUNDS, 0);
    widget_->textsize(12);
  }
  // The window deletes the display, which lets go of the buffer, before this view goes.

 protected:
  void sync() override {
    std::string text;
    for (const std::string& line : static_cast<TMemo*>(control_)->Lines) {
      if (!text.empty()) text += '\n';
      text += line;
    }
    if (text != text_) {
      text_ = text;
      buffer_.text(text_.c_str());
    }
  }

 private:
  Fl_Text_Buffer buffer_;
  std::string text_;
};

}  // namespace

// One form's window with a view of every control on it.
class FormWindow final : public TControlView {
 public:
  explicit FormWindow(TForm& form)
      : form_(form), window_(new Fl_Double_Window(form.Width(), form.Height())) {
    window_->copy_label(form.Caption().c_str());
    window_->color(flColor(form.Color()));
    window_->callback(&closing, this);
    window_->begin();
    addChildren(form, 0, 0);
    window_->end();
    form.SetView(this);
    for (auto& view : views_) view->syncAll();
  }
  ~FormWindow() override {
    form_.SetView(nullptr);
    // Widgets go with the window, before the views that own their buffers.
    for (auto& view : views_) view->detach();
    delete window_;
    views_.clear();
  }

  Fl_Double_Window& window() { return *window_; }

  void ControlChanged() override {
    if (form_.Caption() != window_->label()) window_->copy_label(form_.Caption().c_str());
    if (form_.Width() != window_->w() || form_.Height() != window_->h())
      window_->size(form_.Width(), form_.Height());
  }
  void ControlDestroyed() override {}

 private:
  static void closing(Fl_Widget*, void* data) {
    auto* self = static_cast<FormWindow*>(data);
    // Escape closes a modal window, as a dialog's Cancel would, but not a main window.
    if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape && !self->window_->modal())
      return;
    self->form_.Close();
  }

  void addChildren(TWinControl& parent, int originX, int originY) {
    for (int i = 0; i < parent.ControlCount(); ++i) add(*parent.Controls(i), originX, originY);
  }

  void add(TControl& control, int originX, int originY) {
    const int x = originX + control.Left();
    const int y = originY + control.Top();
    if (auto* custom = dynamic_cast<TCustomControl*>(&control)) {
      auto view = std::make_unique<SurfaceView>(custom, x, y);
      SurfaceGroup* group = view->group();
      views_.push_back(std::move(view));
      addChildren(*custom, x, y);
      group->end();
      return;
    }
    if (auto* button = dynamic_cast<TButton*>(&control)) {
      views_.push_back(std::make_unique<ButtonView>(button, x, y));
    } else if (auto* edit = dynamic_cast<TEdit*>(&control)) {
      views_.push_back(std::make_unique<EditView>(edit, x, y));
    } else if (auto* box = dynamic_cast<TComboBox*>(&control)) {
      views_.push_back(std::make_unique<ChoiceView>(box, x, y));
    } else if (auto* bar = dynamic_cast<TScrollBar*>(&control)) {
      views_.push_back(std::make_unique<ScrollBarView>(bar, x, y));
    } else if (auto* memo = dynamic_cast<TMemo*>(&control)) {
      views_.push_back(std::make_unique<MemoView>(memo, x, y));
    } else {
      views_.push_back(std::make_unique<LabelView>(&control, x, y));
    }
  }

  TForm& form_;
  Fl_Double_Window* window_;
  std::vector<std::unique_ptr<ControlView>> views_;
};

namespace {

// Timers on FLTK timeouts: each tick is due one interval after the last was due.
class TimeoutScheduler final : public platform::TimerScheduler {
 public:
  void start(platform::Timer& t) override { Fl::add_timeout(seconds(t), &tick, &t); }
  void stop(platform::Timer& t) override { Fl::remove_timeout(&tick, &t); }

 private:
  static double seconds(const platform::Timer& t) { return t.interval() / 1000.0; }
  static void tick(void* data) {
    auto* t = static_cast<platform::Timer*>(data);
    Fl::repeat_timeout(seconds(*t), &tick, t);
    platform::timerLoop().fire(*t);
  }
};

// Long work calls ProcessMessages often (a timer tick once per particle). Asking the display
// costs a few microseconds each time, so events are taken at most every 2 ms: no user can
// tell the wait, and a tick of 1000 particles spends its time on the particles.
void processMessages() {
  using Clock = std::chrono::steady_clock;
  static Clock::time_point last;
  const Clock::time_point now = Clock::now();
  if (now - last < std::chrono::milliseconds(2)) return;
  Fl::check();
  last = Clock::now();
}

TimeoutScheduler& timeoutScheduler() {
  static TimeoutScheduler scheduler;
  return scheduler;
}

}  // namespace

FormWindows::FormWindows() {
  // FLTK draws its text through Xft, which keeps fontconfig's caches until after exit.
  KeepFontCachesAtExit();
  SetFormHost(this);
  platform::timerLoop().setScheduler(&timeoutScheduler());
  SetProcessMessagesHook(&processMessages);
}

FormWindows::~FormWindows() {
  SetProcessMessagesHook(nullptr);
  platform::timerLoop().setScheduler(nullptr);
  SetFormHost(nullptr);
  windows_.clear();
}

FormWindow& FormWindows::windowFor(TForm& form) {
  auto& slot = windows_[&form];
  if (!slot) slot = std::make_unique<FormWindow>(form);
  return *slot;
}

void FormWindows::ShowForm(TForm& form) { windowFor(form).window().show(); }

void FormWindows::RunModal(TForm& form) {
  Fl_Double_Window& window = windowFor(form).window();
  window.set_modal();
  window.show();
  while (!form.Closed() && window.shown()) Fl::wait();
  window.hide();
}

void FormWindows::RunUntilClosed(TForm& form) {
  while (!form.Closed()) {
    if (Fl::wait() == 0 && Fl::first_window() == nullptr) return;
  }
}

void FormWindows::HideForm(TForm& form) {
  const auto found = windows_.find(&form);
  if (found != windows_.end()) found->second->window().hide();
}

void FormWindows::FormDestroyed(TForm& form) { windows_.erase(&form); }

Fl_Double_Window* FormWindows::WindowOf(const TForm& form) const {
  const auto found = windows_.find(&form);
  return found == windows_.end() ? nullptr : &found->second->window();
}

Fl_Widget* FormWindows::WidgetOf(const TControl& control) const {
  auto* view = dynamic_cast<ControlView*>(control.View());
  return view == nullptr ? nullptr : view->widget();
}

}  // namespace forms::window

namespace forms::window {

void FormWindows::FlushToScreen() {
  Fl::flush();
  if (fl_display != nullptr) XSync(fl_display, False);
}

bool FormWindows::DisplayAvailable() {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return false;
  XCloseDisplay(display);
  return true;
}

}  // namespace forms::window
