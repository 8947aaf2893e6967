// Top-level program windows: a menu bar and a tool bar built from the program's commands
// (greyed and checked by their update rules), an image view and a status bar.
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Menu_Bar.H>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>

#include "platform/desktop/desktop.h"
#include "platform/desktop/image_view_impl.h"
#include "platform/desktop/internal.h"
#include "platform/desktop/layout.h"

namespace platform::desktop {

namespace {

std::vector<FrameWindow::Impl*>& frames() {
  static std::vector<FrameWindow::Impl*> all;
  return all;
}
FrameWindow::Impl* g_lastActive = nullptr;

// "Ctrl+Shift+S", "F5", "Del" as the toolkit's shortcut; 0 for none or an unknown key.
int parseShortcut(const std::string& text) {
  if (text.empty()) return 0;
  int modifiers = 0;
  std::string rest = text;
  for (;;) {
    const std::size_t plus = rest.find('+');
    if (plus == std::string::npos || plus + 1 == rest.size()) break;
    const std::string mod = rest.substr(0, plus);
    if (mod == "Ctrl")
      modifiers |= FL_CTRL;
    else if (mod == "Shift")
      modifiers |= FL_SHIFT;
    else if (mod == "Alt")
      modifiers |= FL_ALT;
    else
      return 0;
    rest = rest.substr(plus + 1);
  }
  int key = 0;
  if (rest.size() == 1)
    key = std::tolower(static_cast<unsigned char>(rest[0]));
  else if (rest.size() >= 2 && rest[0] == 'F' && std::isdigit(static_cast<unsigned char>(rest[1])))
    key = FL_F + std::atoi(rest.c_str() + 1);
  else if (rest == "Del" || rest == "Delete")
    key = FL_Delete;
  else if (rest == "Ins" || rest == "Insert")
    key = FL_Insert;
  else if (rest == "Enter")
    key = FL_Enter;
  else
    return 0;
  return modifiers | key;
}

}  // namespace

struct FrameWindow::Impl {
  class Window : public Fl_Double_Window {
   public:
    Window(Impl& owner, int w, int h, const char* title)
        : Fl_Double_Window(w, h, title), owner_(owner) {}
    void resize(int x, int y, int w, int h) override {
      Fl_Double_Window::resize(x, y, w, h);
      owner_.layout.apply(0, 0, w, h);
    }
    int handle(int event) override {
      if (event == FL_FOCUS || event == FL_PUSH || event == FL_SHOW) g_lastActive = &owner_;
      return Fl_Double_Window::handle(event);
    }

   private:
    Impl& owner_;
  };

  // Brings the items up to date just before the menu opens or a shortcut is looked up.
  class MenuBar : public Fl_Menu_Bar {
   public:
    MenuBar(Impl& owner) : Fl_Menu_Bar(0, 0, 100, 25), owner_(owner) {}
    int handle(int event) override {
      if (event == FL_PUSH || event == FL_SHORTCUT) owner_.refresh();
      return Fl_Menu_Bar::handle(event);
    }

   private:
    Impl& owner_;
  };

  struct ToolBinding {
    Impl* owner;
    std::size_t index;
  };

  Impl(FrameWindow& frame, const std::string& title, int width, int height)
      : owner(frame), titleText(title) {
    window = std::make_unique<Window>(*this, width, height, titleText.c_str());
    menu = new MenuBar(*this);
    menu->box(FL_FLAT_BOX);
    toolbar = new Fl_Group(0, 25, width, 30);
    toolbar->box(FL_FLAT_BOX);
    toolbar->end();
    view = std::make_unique<ImageView>();
    status = new Fl_Box(0, 0, width, 22);
    status->box(FL_THIN_DOWN_BOX);
    status->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
    window->end();
    window->resizable(detail::imageViewWidget(*view));
    window->callback(
        [](Fl_Widget*, void* self) {
          // Escape does not close a program's window; the close box does.
          if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
          static_cast<Impl*>(self)->owner.close();
        },
        this);
    buildLayout();
    frames().push_back(this);
  }

  ~Impl() {
    *alive = false;
    frames().erase(std::find(frames().begin(), frames().end(), this));
    if (g_lastActive == this) g_lastActive = frames().empty() ? nullptr : frames().back();
    view.reset();  // its scroll area leaves the window before the window goes
  }

  void buildLayout() {
    layout = ColumnLayout(0, 0);
    layout.newRow(false, false, 25);
    layout.setRowFlush();
    layout.add(menu, 100, true);
    if (toolbar->children() > 0) {
      layout.newRow(false, false, 30);
      layout.setRowFlush();
      layout.add(toolbar, 100, true);
      toolbar->show();
    } else {
      toolbar->hide();
    }
    layout.newRow(false, true, 50);
    layout.setRowFlush();
    layout.add(detail::imageViewWidget(*view), 100, true);
    layout.newRow(false, false, 22);
    layout.setRowFlush();
    layout.add(status, 100, true);
    layout.apply(0, 0, window->w(), window->h());
    placeToolButtons();
  }

  void placeToolButtons() {
    int left = toolbar->x() + 3;
    for (int k = 0; k < toolbar->children(); ++k) {
      Fl_Widget* b = toolbar->child(k);
      const int w = std::max(60, naturalWidth(b));
      b->resize(left, toolbar->y() + 3, w, toolbar->h() - 6);
      left += w + 3;
    }
  }

  void setCommands(std::vector<MenuCommand> list) {
    commands = std::move(list);
    menu->clear();
    toolbar->clear();
    bindings.clear();
    toolbar->begin();
    for (std::size_t k = 0; k < commands.size(); ++k) {
      const MenuCommand& c = commands[k];
      bindings.push_back(std::make_unique<ToolBinding>(ToolBinding{this, k}));
      if (!c.menuPath.empty())
        menu->add(c.menuPath.c_str(), parseShortcut(c.shortcut), onMenu, bindings.back().get(),
                  c.checkable ? FL_MENU_TOGGLE : 0);
      if (!c.toolbarText.empty()) {
        auto* button = new Fl_Button(0, 0, 60, 24);
        button->copy_label(c.toolbarText.c_str());
        if (c.checkable) button->type(FL_TOGGLE_BUTTON);
        button->callback(onTool, bindings.back().get());
      }
    }
    toolbar->end();
    buildLayout();
    refresh();
    window->redraw();
  }

  static void onMenu(Fl_Widget*, void* data) {
    auto* b = static_cast<ToolBinding*>(data);
    b->owner->run(b->index);
  }
  static void onTool(Fl_Widget*, void* data) {
    auto* b = static_cast<ToolBinding*>(data);
    b->owner->run(b->index);
  }

  void run(std::size_t index) {
    const std::shared_ptr<bool> stillAlive = alive;
    const auto command = commands[index].run;  // the command may replace the list
    if (command) command();
    if (*stillAlive) refresh();
  }

  CommandState stateOf(const MenuCommand& c) const {
    return c.update ? c.update() : CommandState{};
  }

  void refresh() {
    std::vector<CommandState> states;
    for (const MenuCommand& c : commands) states.push_back(stateOf(c));
    for (int i = 0; i < menu->size(); ++i) {
      Fl_Menu_Item& item = const_cast<Fl_Menu_Item&>(menu->menu()[i]);
      if (!item.label() || item.callback() != onMenu) continue;
      const std::size_t k = static_cast<ToolBinding*>(item.user_data())->index;
      if (states[k].enabled)
        item.activate();
      else
        item.deactivate();
      if (commands[k].checkable) {
        if (states[k].checked)
          item.set();
        else
          item.clear();
      }
    }
    int button = 0;
    for (std::size_t k = 0; k < commands.size(); ++k) {
      if (commands[k].toolbarText.empty()) continue;
      auto* b = static_cast<Fl_Button*>(toolbar->child(button++));
      if (states[k].enabled)
        b->activate();
      else
        b->deactivate();
      if (commands[k].checkable) b->value(states[k].checked ? 1 : 0);
    }
    menu->redraw();
  }

  FrameWindow& owner;
  std::string titleText;
  std::string statusText;
  std::unique_ptr<Window> window;
  MenuBar* menu = nullptr;
  Fl_Group* toolbar = nullptr;
  Fl_Box* status = nullptr;
  std::unique_ptr<ImageView> view;
  std::vector<MenuCommand> commands;
  std::vector<std::unique_ptr<ToolBinding>> bindings;
  ColumnLayout layout{0, 0};
  std::shared_ptr<bool> alive = std::make_shared<bool>(true);
};

FrameWindow::FrameWindow(std::string title, int width, int height)
    : impl_(std::make_unique<Impl>(*this, title, width, height)) {}

FrameWindow::~FrameWindow() = default;

void FrameWindow::setCommands(std::vector<MenuCommand> commands) {
  impl_->setCommands(std::move(commands));
}
void FrameWindow::refreshCommands() { impl_->refresh(); }

void FrameWindow::setStatus(const std::string& text) {
  impl_->statusText = text;
  impl_->status->copy_label(text.c_str());
  impl_->status->redraw();
}
std::string FrameWindow::status() const { return impl_->statusText; }

ImageView& FrameWindow::view() { return *impl_->view; }

void FrameWindow::setTitle(const std::string& title) {
  impl_->titleText = title;
  impl_->window->copy_label(title.c_str());
}

void FrameWindow::show() {
  impl_->window->show();
  g_lastActive = impl_.get();
}

void FrameWindow::close() {
  if (onClose && !onClose()) return;
  impl_->window->hide();
}

bool FrameWindow::shown() const { return impl_->window->shown(); }

bool FrameWindow::saveScreenshot(const std::string& pngPath) {
  return detail::saveWindowPng(impl_->window.get(), pngPath);
}

namespace detail {

void showProgress(const std::string& text) {
  if (g_lastActive) g_lastActive->owner.setStatus(text);
}

Fl_Window* frameWindowWidget(FrameWindow& frame) { return frame.impl().window.get(); }

}  // namespace detail

}  // namespace platform::desktop
