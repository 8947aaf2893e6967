// What the windowed backend's parts share among themselves and with the window tests.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

class Fl_Widget;
class Fl_Window;

namespace platform {
class DialogPresenter;
namespace desktop {
class FrameWindow;
}
}  // namespace platform

namespace platform::desktop::detail {

// The presenter that shows dialogs as modal windows.
DialogPresenter& windowedPresenter();

const std::string& programName();

// Draws `window` off screen and writes what it shows as an 8-bit RGB PNG.
bool saveWindowPng(Fl_Window* window, const std::string& pngPath);
bool writePng(const std::string& path, int width, int height, const unsigned char* rgb);
// The pixels of an RGB or RGBA PNG as RGB; false when it cannot be read.
bool readPng(const std::string& path, int& width, int& height, std::vector<unsigned char>& rgb);

// The file-dialog filter the programs write ("Name(*.x)|*.x|...||") as the toolkit's
// ("Name\t*.x\n..."); "*.*" becomes "*" and "a;b" becomes "{a,b}".
std::string toolkitFilter(const std::string& programFilter);

Fl_Window* frameWindowWidget(FrameWindow& frame);
// The wait cursor's nesting depth in the windowed Ui.
int waitCursorDepth();
// True while a progress line repaints the windows inside a running command.
bool repaintOnly();

// The status bar of the frame window used last; progress lines go there.
void showProgress(const std::string& text);

// The control id a dialog widget stands for; false for widgets of no dialog.
bool dialogControlId(const Fl_Widget* widget, int& id);

struct ShownMessage {
  bool question;
  std::string text;
  std::string caption;
};

// Planned answers and a record of the boxes shown, for window tests.
struct TestHooks {
  std::deque<bool> answers;  // a message box takes any entry as OK
  std::deque<std::optional<std::string>> fileAnswers;
  std::vector<ShownMessage> shown;
  bool recording = false;
};
TestHooks& testHooks();

}  // namespace platform::desktop::detail
