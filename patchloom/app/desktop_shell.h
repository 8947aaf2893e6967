// Patchloom on the desktop: the shell's windows as frame windows of the windowed backend.
#pragma once

#include <memory>

#include "patchloom/app/patchloom_app.h"
#include "patchloom/app/patchloom_shell.h"
#include "platform/desktop/desktop.h"

// The windowed program: the application object, the shell and its frame windows.
class PatchloomDesktop {
 public:
  // Installs the windowed backend and opens the main window.
  PatchloomDesktop();
  ~PatchloomDesktop();
  PatchloomDesktop(const PatchloomDesktop&) = delete;
  PatchloomDesktop& operator=(const PatchloomDesktop&) = delete;

  // Runs until the last window has closed; the program's exit status.
  int Run();

  CPatchloomApp& App() { return m_app; }
  PatchloomShell& Shell() { return *m_shell; }
  // The frame window behind a window of this program's shell.
  static platform::desktop::FrameWindow& Frame(ShellWindow& window);

 private:
  CPatchloomApp m_app;
  std::unique_ptr<ShellWindowFactory> m_factory;
  std::unique_ptr<PatchloomShell> m_shell;
};
