#include "platform/ui.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <string>

#include "platform/console_ui.h"
#include "platform/paths.h"
#include "platform/recording_ui.h"

namespace platform {
namespace {

Ui* g_ui = nullptr;

bool haveDisplay() {
  const char* x = std::getenv("DISPLAY");
  const char* w = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (w && *w);
}

bool isExecutableFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

// Starts `program` with `argument` (none when empty) without waiting for it; the
// intermediate child exits at once so the started process never becomes our zombie.
bool launchDetached(const std::string& program, const std::string& argument) {
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    if (fork() == 0) {
      if (argument.empty())
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
      else
        execlp(program.c_str(), program.c_str(), argument.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return true;
}

}  // namespace

Ui& ui() { return g_ui ? *g_ui : consoleUi(); }

void setUi(Ui* backend) { g_ui = backend; }

ScopedUi::ScopedUi(Ui& backend) : previous_(g_ui) { g_ui = &backend; }
ScopedUi::~ScopedUi() { g_ui = previous_; }

// ---- console backend ----

ConsoleUi::ConsoleUi(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

ConsoleUi& consoleUi() {
  static ConsoleUi console(std::cout, std::cerr);
  return console;
}

void ConsoleUi::messageBox(const std::string& text, const std::string&) {
  out_ << text << std::endl;
}

bool ConsoleUi::askYesNo(const std::string& text, const std::string&) {
  out_ << text << std::endl << (answerYes_ ? "[Yes]" : "[No]") << std::endl;
  return answerYes_;
}

void ConsoleUi::beginWaitCursor() { ++waitDepth_; }

void ConsoleUi::endWaitCursor() {
  if (waitDepth_ > 0) --waitDepth_;
}

bool ConsoleUi::shellOpen(const std::string& path, const std::string& verb) {
  const std::string mapped = hostPath(path);
  // "open" on a program runs it, as the desktop does; documents go to the desktop's viewer.
  if (isExecutableFile(mapped)) return launchDetached(mapped, "");
  if (haveDisplay() && launchDetached("xdg-open", mapped)) return true;
  out_ << verb << ": " << mapped << std::endl;
  return true;
}

std::optional<std::string> ConsoleUi::fileDialog(const FileDialogRequest&) {
  if (fileAnswers_.empty()) return std::nullopt;
  std::string path = fileAnswers_.front();
  fileAnswers_.pop_front();
  return path;
}

void ConsoleUi::progress(const std::string& text) { err_ << text << std::endl; }

// ---- recording backend ----

std::vector<std::string> RecordingUi::messages() const {
  std::vector<std::string> texts;
  for (const auto& e : events_)
    if (e.kind == UiEvent::message || e.kind == UiEvent::question) texts.push_back(e.text);
  return texts;
}

void RecordingUi::clear() {
  events_.clear();
  waitBegins_ = 0;
}

void RecordingUi::messageBox(const std::string& text, const std::string& caption) {
  events_.push_back({UiEvent::message, text, caption});
}

bool RecordingUi::askYesNo(const std::string& text, const std::string& caption) {
  events_.push_back({UiEvent::question, text, caption});
  if (answers_.empty()) return defaultAnswer_;
  bool yes = answers_.front();
  answers_.pop_front();
  return yes;
}

void RecordingUi::beginWaitCursor() {
  ++waitDepth_;
  ++waitBegins_;
  events_.push_back({UiEvent::waitBegin, "", ""});
}

void RecordingUi::endWaitCursor() {
  --waitDepth_;
  events_.push_back({UiEvent::waitEnd, "", ""});
}

bool RecordingUi::shellOpen(const std::string& path, const std::string& verb) {
  events_.push_back({UiEvent::shellOpen, path, verb});
  return shellOpenResult_;
}

std::optional<std::string> RecordingUi::fileDialog(const FileDialogRequest& request) {
  events_.push_back({UiEvent::fileDialog, request.filter, request.defaultExtension});
  if (fileAnswers_.empty()) return std::nullopt;
  std::string path = fileAnswers_.front();
  fileAnswers_.pop_front();
  return path;
}

void RecordingUi::progress(const std::string& text) {
  events_.push_back({UiEvent::progress, text, ""});
}

}  // namespace platform
