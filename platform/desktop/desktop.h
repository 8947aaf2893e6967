// The windowed backend of the programs: backend choice, the event loop, top-level windows
// with menus, a tool bar, a status bar and a scrolling image view. Nothing here names the
// toolkit, so the programs' own code includes it freely.
//
// Added to the first agreed interface: ImageView::imageWidth/imageHeight, FrameWindow::status(),
// and impl() accessors for the backend's own code and window tests (their types are only
// defined inside platform/desktop). Changed in detail: the document opener gets the host path
// and a false answer passes the file on to the desktop's viewer; FrameWindow::close() asks
// onClose like the close box; progress lines take no user input while they repaint.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace platform::desktop {

// True when the program got no command (argc <= 1) and a display can be opened; the one
// place that chooses the windowed backend over the console.
bool desktopWanted(int argc);

// Installs the windowed Ui as platform::ui() and the windowed dialog presenter;
// `programName` is the caption of message boxes that name none. A progress line
// (ui().progress) goes to the status bar of the frame window used last and to the error
// stream, and lets every window repaint; the user's input meanwhile goes unanswered, so no
// command can start inside a running one.
void startDesktop(const std::string& programName);

// Runs the event loop until the last window has closed; returns 0.
int runDesktop();

// What ui().shellOpen(path) does with a document (not a program) while the windowed backend
// runs; it gets the host path (platform::hostPath) and returns false when it cannot show the
// file, which then goes to the desktop's viewer as on the console. Null: always the viewer.
void setDocumentOpener(std::function<bool(const std::string& path)> opener);

struct CommandState {
  bool enabled = true;
  bool checked = false;
};

struct MenuCommand {
  std::string menuPath;  // "&File/&Open..."
  int id = 0;
  std::string shortcut;  // "Ctrl+O", "Ctrl+Shift+S", "F5", "Del" or empty
  std::function<void()> run;
  std::function<CommandState()> update;  // null: always enabled, never checked
  bool checkable = false;
  std::string toolbarText;  // non-empty: also a tool-bar button with this text
};

struct MouseEvent {
  enum Kind { press, doubleClick, rightPress, move, release };
  Kind kind;
  int x, y;  // image pixel coordinates, top row 0 (may lie outside the image while dragging)
};

struct Overlay {
  std::vector<std::pair<int, int>> points;  // image pixel coordinates
  bool closed = false;
  unsigned rgb = 0xFF0000;
};

// A scrolling 1:1 view of one RGB image, with polylines drawn over it.
class ImageView {
 public:
  ImageView();
  ~ImageView();
  ImageView(const ImageView&) = delete;
  ImageView& operator=(const ImageView&) = delete;

  // 3 bytes a pixel (R, G, B), rows top-down, tightly packed: width * height * 3 bytes.
  void setImage(int width, int height, std::vector<std::uint8_t> rgbTopDown);
  void clearImage();
  int imageWidth() const;
  int imageHeight() const;
  void setOverlays(std::vector<Overlay> overlays);
  void redraw();

  std::function<void(const MouseEvent&)> onMouse;

  struct Impl;
  Impl& impl() { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

// A top-level window: menu bar, tool bar, an image view as its client and a status bar.
class FrameWindow {
 public:
  FrameWindow(std::string title, int width, int height);
  ~FrameWindow();
  FrameWindow(const FrameWindow&) = delete;
  FrameWindow& operator=(const FrameWindow&) = delete;

  // Builds the menu bar from the paths and the tool bar from the commands with a toolbarText.
  void setCommands(std::vector<MenuCommand> commands);
  // Runs every update function and greys/checks menu items and tool-bar buttons; done by
  // itself before a menu opens and after every command.
  void refreshCommands();
  void setStatus(const std::string& text);
  std::string status() const;
  ImageView& view();
  void setTitle(const std::string& title);
  void show();
  void close();  // asks onClose first
  bool shown() const;
  std::function<bool()> onClose;  // false refuses the closing

  // What the window shows, as a PNG file; false when it could not be written.
  bool saveScreenshot(const std::string& pngPath);

  struct Impl;
  Impl& impl() { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform::desktop
