// Window tests drive the real widgets from inside the process: pump the event loop, find
// widgets by label or control id, press, click and type, plan the answers of message boxes
// and file dialogs, run steps from inside modal loops, and take screenshots.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/desktop/desktop.h"
#include "platform/desktop/internal.h"

class Fl_Widget;
class Fl_Window;

namespace platform::desktop::testing {

using detail::ShownMessage;

// Runs the event loop for `milliseconds`.
void pump(int milliseconds);
// Pumps until `condition` holds or `milliseconds` pass; returns the condition's last value.
bool pumpUntil(const std::function<bool()>& condition, int milliseconds = 2000);

// The shown window that got the last event or was shown last (a modal dialog while one runs).
Fl_Window* frontWindow();
// The shown top-level window with this title, or null.
Fl_Window* windowTitled(const std::string& title);
Fl_Window* frameWindowOf(FrameWindow& frame);
// A widget whose label is `label`, searched through `window`'s groups (the front window by
// default); null when there is none.
Fl_Widget* findWidget(const std::string& label, Fl_Window* window = nullptr);
// The widget of dialog control `id` in the front window, or null.
Fl_Widget* findControl(int id, Fl_Window* window = nullptr);
// The canvas of an image view, which takes the mouse.
Fl_Widget* canvasOf(ImageView& view);

// Runs the widget's callback, as a keyboard activation would; false without a widget.
bool press(const std::string& label, Fl_Window* window = nullptr);
// A left click (or `button` 3 for the right) at the widget's centre, or at (dx, dy) inside
// it, as push and release events to the widget's handler (nothing for an inactive widget);
// `clicks` 1 makes it a double click's second.
void click(Fl_Widget* widget, int dx = -1, int dy = -1, int button = 1, int clicks = 0);
// Focuses `input`, selects its text and types `text` through keyboard events.
void typeText(Fl_Widget* input, const std::string& text);

// Answers for the next message boxes and questions, in order (a message box takes any).
void planAnswer(bool yes);
// The next file dialogs return these paths (nothing: Cancel) without showing the chooser.
void planFileDialogAnswer(std::optional<std::string> path);
// Starts recording the boxes shown (texts and captions) and forgets earlier ones.
void recordMessages();
const std::vector<ShownMessage>& shownMessages();
// Nesting depth of the wait cursor.
int waitCursorDepth();

// Steps run one after another from the event loop, also while a modal dialog or box runs
// one of its own: a step returns false to be tried again a little later. `runSteps` pumps
// until every step has run or `milliseconds` pass; false when steps were left.
using Step = std::function<bool()>;
void addStep(Step step);
bool runSteps(int milliseconds = 20000);

// Screenshots of the front window (or `window`) as PNG; and whether a PNG is all one colour
// (or cannot be read).
bool screenshot(const std::string& pngPath, Fl_Window* window = nullptr);
bool pngLooksBlank(const std::string& pngPath);
bool pngSize(const std::string& pngPath, int& width, int& height);
// Where screenshots go: $WORKBENCH_SCREENSHOT_DIR, else ./screenshots; created on demand.
std::string screenshotPath(const std::string& name);

// The file-dialog filter as the toolkit receives it.
inline std::string toolkitFilter(const std::string& programFilter) {
  return detail::toolkitFilter(programFilter);
}

}  // namespace platform::desktop::testing
