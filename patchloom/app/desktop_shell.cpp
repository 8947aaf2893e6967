#include "patchloom/app/desktop_shell.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace desktop = platform::desktop;

// The rows around the image area: menu bar, tool bar, status bar, and a scroll bar.
constexpr int kChromeHeight = 25 + 30 + 22 + 16;
constexpr int kChromeWidth = 16;

class ImageViewSurface final : public ViewSurface {
 public:
  explicit ImageViewSurface(desktop::ImageView& view) : view_(view) {}
  void ShowImage(int width, int height, std::vector<std::uint8_t> rgb) override {
    view_.setImage(width, height, std::move(rgb));
  }
  void ShowNoImage() override { view_.clearImage(); }
  void ShowOutlines(std::vector<ViewOutline> outlines) override {
    std::vector<desktop::Overlay> overlays;
    for (const ViewOutline& outline : outlines) {
      desktop::Overlay overlay;
      for (const CPoint& p : outline.points) overlay.points.emplace_back(p.x, p.y);
      overlay.closed = outline.closed;
      overlay.rgb = outline.rgb;
      overlays.push_back(std::move(overlay));
    }
    view_.setOverlays(std::move(overlays));
  }

 private:
  desktop::ImageView& view_;
};

ViewPointer::Kind PointerKind(desktop::MouseEvent::Kind kind) {
  switch (kind) {
    case desktop::MouseEvent::press:
      return ViewPointer::press;
    case desktop::MouseEvent::doubleClick:
      return ViewPointer::doubleClick;
    case desktop::MouseEvent::rightPress:
      return ViewPointer::rightPress;
    case desktop::MouseEvent::move:
      return ViewPointer::move;
    case desktop::MouseEvent::release:
      break;
  }
  return ViewPointer::release;
}

class FrameShellWindow final : public ShellWindow {
 public:
  FrameShellWindow(const std::string& title, int width, int height)
      : frame_(title, width + kChromeWidth, height + kChromeHeight), surface_(frame_.view()) {
    // Once the shell has let the window go, the frame closes without asking again.
    frame_.onClose = [this] { return closing_ || !onClose || onClose(); };
    frame_.view().onMouse = [this](const desktop::MouseEvent& e) {
      if (onMouse) onMouse({PointerKind(e.kind), e.x, e.y});
    };
  }

  void SetTitle(const std::string& title) override { frame_.setTitle(title); }
  void SetStatus(const std::string& text) override { frame_.setStatus(text); }
  void SetCommands(std::vector<ShellCommand> commands) override {
    std::vector<desktop::MenuCommand> menu;
    for (ShellCommand& c : commands) {
      desktop::MenuCommand item;
      item.menuPath = c.spec.menuPath;
      item.id = c.spec.id;
      item.shortcut = c.spec.shortcut;
      item.run = std::move(c.run);
      item.update = [update = std::move(c.update)] {
        const CommandUiState state = update();
        return desktop::CommandState{state.enabled, state.checked};
      };
      item.checkable = c.spec.checkable;
      item.toolbarText = c.spec.toolbarText;
      menu.push_back(std::move(item));
    }
    frame_.setCommands(std::move(menu));
  }
  void RefreshCommands() override { frame_.refreshCommands(); }
  ViewSurface& Surface() override { return surface_; }
  void Show() override { frame_.show(); }
  void Close() override {
    closing_ = true;
    frame_.close();
  }
  desktop::FrameWindow& Frame() { return frame_; }

 private:
  desktop::FrameWindow frame_;
  ImageViewSurface surface_;
  bool closing_ = false;
};

class FrameWindowFactory final : public ShellWindowFactory {
 public:
  std::unique_ptr<ShellWindow> MakeWindow(const std::string& title, int width,
                                          int height) override {
    return std::make_unique<FrameShellWindow>(title, width, height);
  }
};

}  // namespace

PatchloomDesktop::PatchloomDesktop() {
  desktop::startDesktop("Patchloom");
  m_app.InitInstance();
  m_factory = std::make_unique<FrameWindowFactory>();
  m_shell = std::make_unique<PatchloomShell>(m_app, *m_factory);
  m_shell->OpenMainWindow();
}

// The shell's windows go before the documents they show.
PatchloomDesktop::~PatchloomDesktop() { m_shell.reset(); }

int PatchloomDesktop::Run() { return desktop::runDesktop(); }

desktop::FrameWindow& PatchloomDesktop::Frame(ShellWindow& window) {
  return static_cast<FrameShellWindow&>(window).Frame();
}
