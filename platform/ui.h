// The user-interface services the programs call: message boxes, yes/no questions,
// the wait cursor, shell "open", file dialogs and progress lines. The programs talk
// to whichever backend is installed (console, recording for tests, later windowed)
// and never know which one runs.
#pragma once

#include <optional>
#include <string>

namespace platform {

struct FileDialogRequest {
  bool open = true;              // false: a save dialog
  std::string filter;            // "Name(*.x)|*.x|...||" as the programs write it
  std::string defaultExtension;  // without the dot; empty for none
  std::string initialPath;
  bool overwritePrompt = false;
  bool hideReadOnly = false;
  std::string title;  // the dialog's title; empty for the backend's own
  bool pathMustExist = false;
  int filterIndex = 0;  // the filter pair shown first, counted from 1; 0 for the first
};

class Ui {
 public:
  virtual ~Ui() = default;
  // An information box with an OK button. An empty caption means the program's name.
  virtual void messageBox(const std::string& text, const std::string& caption = "") = 0;
  // A question with Yes and No buttons; true for Yes.
  virtual bool askYesNo(const std::string& text, const std::string& caption = "") = 0;
  virtual void beginWaitCursor() = 0;
  virtual void endWaitCursor() = 0;
  // Hands `path` to the desktop with `verb` ("open"); false when nothing could take it.
  virtual bool shellOpen(const std::string& path, const std::string& verb = "open") = 0;
  // The chosen path, or nothing when the user cancelled.
  virtual std::optional<std::string> fileDialog(const FileDialogRequest& request) = 0;
  // A line of progress for a long command (the console shows it on the error stream).
  virtual void progress(const std::string& text) = 0;
};

// The backend in force (the console backend unless another was installed).
Ui& ui();

// Installs `backend` (not owned) for the whole process; null restores the console backend.
void setUi(Ui* backend);

// Installs a backend for the lifetime of the guard and restores the previous one.
class ScopedUi {
 public:
  explicit ScopedUi(Ui& backend);
  ~ScopedUi();
  ScopedUi(const ScopedUi&) = delete;
  ScopedUi& operator=(const ScopedUi&) = delete;

 private:
  Ui* previous_;
};

// The wait cursor for the lifetime of the guard, so that every path ends it.
class WaitCursor {
 public:
  WaitCursor() { ui().beginWaitCursor(); }
  ~WaitCursor() { ui().endWaitCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace platform
