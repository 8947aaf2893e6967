#include "platform/desktop/testing.h"

#include <FL/Fl.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Input_.H>
#include <FL/Fl_Window.H>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>

#include "platform/desktop/image_view_impl.h"

namespace platform::desktop::testing {

namespace {

using Clock = std::chrono::steady_clock;

std::deque<Step>& steps() {
  static std::deque<Step> queue;
  return queue;
}

// Set while runSteps waits for the queue to empty.
bool g_stepping = false;

// Takes the next step from whichever event loop is running; the timer is set again before
// the step runs, since a step may open a modal window and run its loop for a long time.
// With the queue empty it keeps ticking while runSteps waits: a step that ends a modal
// loop from this callback sends no event, and a late timer set again can fall due within
// the same wait, so without a tick that loop would sleep on with nothing to wake it.
void onStepTimer(void*) {
  if (steps().empty()) {
    if (g_stepping) Fl::add_timeout(0.02, onStepTimer);
    return;
  }
  if (detail::repaintOnly()) {  // a running command takes no user input
    Fl::add_timeout(0.02, onStepTimer);
    return;
  }
  Step step = std::move(steps().front());
  steps().pop_front();
  Fl::add_timeout(0.02, onStepTimer);
  if (!step()) steps().push_front(std::move(step));
}

Fl_Widget* search(Fl_Widget* w, const std::function<bool(Fl_Widget*)>& match) {
  if (match(w)) return w;
  if (Fl_Group* g = w->as_group())
    for (int k = 0; k < g->children(); ++k)
      if (Fl_Widget* found = search(g->child(k), match)) return found;
  return nullptr;
}

void sendKey(Fl_Window* window, int key, const char* text) {
  static char buffer[8];
  std::strncpy(buffer, text, sizeof buffer - 1);
  Fl::e_keysym = key;
  Fl::e_text = buffer;
  Fl::e_length = static_cast<int>(std::strlen(buffer));
  Fl::e_state = 0;
  Fl::handle(FL_KEYDOWN, window);
  Fl::handle(FL_KEYUP, window);
  Fl::e_length = 0;
}

}  // namespace

void pump(int milliseconds) {
  const auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
  while (Clock::now() < end) Fl::wait(0.01);
}

bool pumpUntil(const std::function<bool()>& condition, int milliseconds) {
  const auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
  while (!condition()) {
    if (Clock::now() >= end) return condition();
    Fl::wait(0.01);
  }
  return true;
}

Fl_Window* frontWindow() {
  if (Fl::modal()) return Fl::modal();
  return Fl::first_window();
}

Fl_Window* windowTitled(const std::string& title) {
  for (Fl_Window* w = Fl::first_window(); w; w = Fl::next_window(w))
    if (w->label() && title == w->label()) return w;
  return nullptr;
}

Fl_Window* frameWindowOf(FrameWindow& frame) { return detail::frameWindowWidget(frame); }

Fl_Widget* findWidget(const std::string& label, Fl_Window* window) {
  if (!window) window = frontWindow();
  if (!window) return nullptr;
  return search(window,
                [&](Fl_Widget* w) { return w != window && w->label() && label == w->label(); });
}

Fl_Widget* findControl(int id, Fl_Window* window) {
  if (!window) window = frontWindow();
  if (!window) return nullptr;
  return search(window, [&](Fl_Widget* w) {
    int found = 0;
    return detail::dialogControlId(w, found) && found == id;
  });
}

Fl_Widget* canvasOf(ImageView& view) { return detail::imageViewCanvas(view); }

bool press(const std::string& label, Fl_Window* window) {
  Fl_Widget* w = findWidget(label, window);
  if (!w) return false;
  w->do_callback();
  return true;
}

void click(Fl_Widget* widget, int dx, int dy, int button, int clicks) {
  Fl_Window* window = widget->window();
  if (!window) window = widget->as_window();
  // Event coordinates are relative to the window the widget sits in. The events go to the
  // widget's own handler, as the toolkit's dispatch hands them on once it has found it.
  const int x = widget->x() + (dx < 0 ? widget->w() / 2 : dx);
  const int y = widget->y() + (dy < 0 ? widget->h() / 2 : dy);
  Fl::e_x = x;
  Fl::e_y = y;
  Fl::e_x_root = window->x() + x;
  Fl::e_y_root = window->y() + y;
  Fl::e_keysym = FL_Button + button;
  Fl::e_clicks = clicks;
  Fl::e_is_click = 1;
  Fl::e_state = button == 3 ? FL_BUTTON3 : FL_BUTTON1;
  Fl::e_number = FL_PUSH;
  if (!widget->active_r() || !widget->handle(FL_PUSH)) return;
  Fl::pushed(widget);
  Fl::e_state = 0;
  Fl::e_number = FL_RELEASE;
  Fl::pushed(nullptr);
  widget->handle(FL_RELEASE);
}

void typeText(Fl_Widget* input, const std::string& text) {
  Fl_Window* window = input->window();
  Fl::focus(input);
  if (auto* field = dynamic_cast<Fl_Input_*>(input)) field->position(field->size(), 0);
  sendKey(window, FL_BackSpace, "");  // the selected old text goes
  for (char c : text) {
    const char one[2] = {c, '\0'};
    sendKey(window, static_cast<unsigned char>(c), one);
  }
}

void planAnswer(bool yes) { detail::testHooks().answers.push_back(yes); }

void planFileDialogAnswer(std::optional<std::string> path) {
  detail::testHooks().fileAnswers.push_back(std::move(path));
}

void recordMessages() {
  detail::testHooks().recording = true;
  detail::testHooks().shown.clear();
}

const std::vector<ShownMessage>& shownMessages() { return detail::testHooks().shown; }

int waitCursorDepth() { return detail::waitCursorDepth(); }

void addStep(Step step) {
  const bool idle = steps().empty();
  steps().push_back(std::move(step));
  if (idle && !Fl::has_timeout(onStepTimer)) Fl::add_timeout(0.02, onStepTimer);
}

bool runSteps(int milliseconds) {
  g_stepping = true;
  if (!Fl::has_timeout(onStepTimer)) Fl::add_timeout(0.02, onStepTimer);
  const bool done = pumpUntil([] { return steps().empty(); }, milliseconds);
  g_stepping = false;
  Fl::remove_timeout(onStepTimer);
  return done;
}

bool screenshot(const std::string& pngPath, Fl_Window* window) {
  if (!window) window = frontWindow();
  return window && detail::saveWindowPng(window, pngPath);
}

bool pngLooksBlank(const std::string& pngPath) {
  int w = 0, h = 0;
  std::vector<unsigned char> rgb;
  if (!detail::readPng(pngPath, w, h, rgb) || rgb.size() < 3) return true;
  for (std::size_t k = 3; k < rgb.size(); ++k)
    if (rgb[k] != rgb[k % 3]) return false;
  return true;
}

bool pngSize(const std::string& pngPath, int& width, int& height) {
  std::vector<unsigned char> rgb;
  return detail::readPng(pngPath, width, height, rgb);
}

std::string screenshotPath(const std::string& name) {
  const char* dir = std::getenv("WORKBENCH_SCREENSHOT_DIR");
  std::filesystem::path folder = dir && *dir ? dir : "screenshots";
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  return (folder / name).string();
}

}  // namespace platform::desktop::testing
