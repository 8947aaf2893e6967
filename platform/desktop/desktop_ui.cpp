// The windowed Ui backend: modal message boxes and questions, the wait cursor, file dialogs,
// progress in the status bar, and the choice between the windowed and the console backend.
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Native_File_Chooser.H>
#include <FL/Fl_Return_Button.H>
#include <FL/fl_draw.H>
#include <X11/Xlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iostream>

#include "platform/console_ui.h"
#include "platform/desktop/desktop.h"
#include "platform/desktop/internal.h"
#include "platform/desktop/layout.h"
#include "platform/dialog.h"
#include "platform/paths.h"
#include "platform/ui.h"

namespace platform::desktop {

namespace detail {

namespace {
std::string g_programName = "Workbench";
}

const std::string& programName() { return g_programName; }

TestHooks& testHooks() {
  static TestHooks hooks;
  return hooks;
}

std::string toolkitFilter(const std::string& programFilter) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= programFilter.size()) {
    std::size_t bar = programFilter.find('|', start);
    if (bar == std::string::npos) bar = programFilter.size();
    parts.push_back(programFilter.substr(start, bar - start));
    start = bar + 1;
  }
  std::string result;
  for (std::size_t k = 0; k + 1 < parts.size(); k += 2) {
    if (parts[k].empty()) break;  // the closing "||"
    std::vector<std::string> patterns;
    std::size_t from = 0;
    const std::string& list = parts[k + 1];
    while (from <= list.size()) {
      std::size_t semi = list.find(';', from);
      if (semi == std::string::npos) semi = list.size();
      std::string pattern = list.substr(from, semi - from);
      if (pattern == "*.*") pattern = "*";  // every file, also those without an extension
      if (!pattern.empty()) patterns.push_back(pattern);
      from = semi + 1;
    }
    if (patterns.empty()) continue;
    std::string joined = patterns[0];
    if (patterns.size() > 1) {
      joined = "{";
      for (std::size_t p = 0; p < patterns.size(); ++p) joined += (p ? "," : "") + patterns[p];
      joined += "}";
    }
    if (!result.empty()) result += "\n";
    result += parts[k] + "\t" + joined;
  }
  return result;
}

}  // namespace detail

namespace {

using detail::testHooks;

// True while a synchronous command lets the windows repaint: the user's input then goes
// unanswered, so that no second command starts inside the running one.
bool g_repaintOnly = false;

bool isUserInput(int event) {
  switch (event) {
    case FL_PUSH:
    case FL_RELEASE:
    case FL_DRAG:
    case FL_KEYDOWN:
    case FL_KEYUP:
    case FL_SHORTCUT:
    case FL_MOUSEWHEEL:
    case FL_CLOSE:
    case FL_PASTE:
    case FL_DND_ENTER:
    case FL_DND_DRAG:
    case FL_DND_RELEASE:
      return true;
    default:
      return false;
  }
}

int dispatch(int event, Fl_Window* window) {
  if (g_repaintOnly && isUserInput(event)) return 1;
  return Fl::handle_(event, window);
}

bool isExecutableFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

// A modal box with the text and OK, or Yes and No; true for OK or Yes.
bool showBox(const std::string& text, const std::string& caption, bool question) {
  const std::string title = caption.empty() ? detail::programName() : caption;
  if (testHooks().recording) testHooks().shown.push_back({question, text, title});

  fl_font(FL_HELVETICA, FL_NORMAL_SIZE);
  int textW = 0, textH = 0;
  fl_measure(text.c_str(), textW, textH, 0);
  textW = std::clamp(textW + 8, 240, 640);
  textH = 0;
  int wrapW = textW;
  fl_measure(text.c_str(), wrapW, textH, 0);

  Fl_Double_Window window(textW + 20, 100, title.c_str());
  Fl_Box message(0, 0, textW, textH + 8);
  message.copy_label(text.c_str());
  message.align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_WRAP | FL_ALIGN_TOP);
  bool answer = !question;
  struct Choice {
    bool* answer;
    bool value;
    Fl_Window* window;
  };
  Fl_Return_Button first(0, 0, 80, 25, question ? "Yes" : "OK");
  Choice firstChoice{&answer, true, &window};
  Fl_Button second(0, 0, 80, 25, "No");
  Choice secondChoice{&answer, false, &window};
  const auto choose = [](Fl_Widget*, void* data) {
    auto* choice = static_cast<Choice*>(data);
    *choice->answer = choice->value;
    choice->window->hide();
  };
  first.callback(choose, &firstChoice);
  second.callback(choose, &secondChoice);
  window.end();

  ColumnLayout layout;
  layout.newRow(false, false, textH + 8);
  layout.add(&message, textW, true);
  layout.newRow(true);
  layout.add(&first, 80);
  if (question)
    layout.add(&second, 80);
  else
    second.hide();
  window.size(std::max(layout.naturalWidth(), textW + 20), layout.naturalHeight());
  layout.apply(0, 0, window.w(), window.h());
  window.set_modal();
  window.show();

  if (!testHooks().answers.empty()) {
    // A planned answer: let the box appear, then press the button a user would.
    const bool outer = g_repaintOnly;
    g_repaintOnly = true;
    Fl::flush();
    Fl::check();
    g_repaintOnly = outer;
    const bool yes = testHooks().answers.front();
    testHooks().answers.pop_front();
    (yes || !question ? static_cast<Fl_Widget&>(first) : second).do_callback();
  }
  while (window.shown()) Fl::wait();
  return answer;
}

std::optional<std::string> chooseFile(const FileDialogRequest& request) {
  Fl_Native_File_Chooser chooser(request.open ? Fl_Native_File_Chooser::BROWSE_FILE
                                              : Fl_Native_File_Chooser::BROWSE_SAVE_FILE);
  const std::string filter = detail::toolkitFilter(request.filter);
  if (!filter.empty()) chooser.filter(filter.c_str());
  if (request.filterIndex > 0) chooser.filter_value(request.filterIndex - 1);
  if (!request.title.empty()) chooser.title(request.title.c_str());
  if (!request.initialPath.empty()) chooser.preset_file(hostPath(request.initialPath).c_str());
  int options = Fl_Native_File_Chooser::NEW_FOLDER;
  if (!request.open && request.overwritePrompt) options |= Fl_Native_File_Chooser::SAVEAS_CONFIRM;
  chooser.options(options);
  if (chooser.show() != 0 || !chooser.filename()) return std::nullopt;
  std::string path = chooser.filename();
  if (!request.defaultExtension.empty() && std::filesystem::path(path).extension().empty())
    path += "." + request.defaultExtension;
  if (request.open && request.pathMustExist && !std::filesystem::exists(path)) return std::nullopt;
  return path;
}

class DesktopUi final : public Ui {
 public:
  void messageBox(const std::string& text, const std::string& caption) override {
    showBox(text, caption, false);
  }
  bool askYesNo(const std::string& text, const std::string& caption) override {
    return showBox(text, caption, true);
  }
  void beginWaitCursor() override {
    if (waitDepth_++ == 0) setCursor(FL_CURSOR_WAIT);
  }
  void endWaitCursor() override {
    if (waitDepth_ > 0 && --waitDepth_ == 0) setCursor(FL_CURSOR_DEFAULT);
  }
  bool shellOpen(const std::string& path, const std::string& verb) override {
    const std::string mapped = hostPath(path);
    if (opener_ && !isExecutableFile(mapped) && opener_(mapped)) return true;
    return consoleUi().shellOpen(path, verb);
  }
  std::optional<std::string> fileDialog(const FileDialogRequest& request) override {
    if (!testHooks().fileAnswers.empty()) {
      std::optional<std::string> answer = testHooks().fileAnswers.front();
      testHooks().fileAnswers.pop_front();
      return answer;
    }
    return chooseFile(request);
  }
  void progress(const std::string& text) override {
    std::cerr << text << std::endl;
    detail::showProgress(text);
    // Repaint during a long synchronous command, and nothing more.
    const bool outer = g_repaintOnly;
    g_repaintOnly = true;
    Fl::check();
    g_repaintOnly = outer;
  }

  void setOpener(std::function<bool(const std::string&)> opener) { opener_ = std::move(opener); }
  int waitDepth() const { return waitDepth_; }

 private:
  static void setCursor(Fl_Cursor cursor) {
    for (Fl_Window* w = Fl::first_window(); w; w = Fl::next_window(w)) w->cursor(cursor);
    Fl::flush();  // show it before the synchronous command starts
  }

  int waitDepth_ = 0;
  std::function<bool(const std::string&)> opener_;
};

DesktopUi& desktopUi() {
  static DesktopUi ui;
  return ui;
}

}  // namespace

int detail::waitCursorDepth() { return desktopUi().waitDepth(); }
bool detail::repaintOnly() { return g_repaintOnly; }

bool desktopWanted(int argc) {
  if (argc > 1) return false;
  Display* display = XOpenDisplay(nullptr);
  if (!display) return false;
  XCloseDisplay(display);
  return true;
}

void startDesktop(const std::string& programName) {
  detail::g_programName = programName;
  Fl::scheme("gtk+");
  Fl::event_dispatch(dispatch);
  setUi(&desktopUi());
  setDialogPresenter(&detail::windowedPresenter());
}

int runDesktop() {
  Fl::run();
  return 0;
}

void setDocumentOpener(std::function<bool(const std::string& path)> opener) {
  desktopUi().setOpener(std::move(opener));
}

}  // namespace platform::desktop
