// The windowed shell of Patchloom: a main window, one window per document with a view of
// its image, the menus and tool bar of every command with their enable and check rules,
// and the rules for closing. It knows windows only through ShellWindow, so that any
// toolkit (or a test) can stand behind it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "patchloom/app/patchloom_view.h"

class CPatchloomApp;
class CPatchloomDoc;

struct CommandUiState {
  bool enabled = true;
  bool checked = false;
};

// One menu entry (and tool-bar button when toolbarText is set).
struct ShellCommandSpec {
  const char* menuPath;  // "&File/&Open...": menu captions joined by "/"
  int id;                // command identifier of the resources
  const char* shortcut;  // "Ctrl+O", or "" for none
  bool checkable;
  const char* toolbarText;  // "" for no button
};

// The menus of the main window, which shows no document.
const std::vector<ShellCommandSpec>& MainWindowMenu();
// The menus of a document's window.
const std::vector<ShellCommandSpec>& DocumentWindowMenu();

// The enable and check state of command `id` in a window that shows `document` (null:
// the main window): what the document's update handler says, enabled for the other
// commands the document handles, disabled for them without a document.
CommandUiState CommandState(CPatchloomDoc* document, int id);

struct ShellCommand {
  ShellCommandSpec spec;
  std::function<void()> run;
  std::function<CommandUiState()> update;
};

// A top-level window as the shell uses it.
class ShellWindow {
 public:
  virtual ~ShellWindow() = default;
  virtual void SetTitle(const std::string& title) = 0;
  // The status bar's text (progress lines of a running command also go there).
  virtual void SetStatus(const std::string& text) = 0;
  virtual void SetCommands(std::vector<ShellCommand> commands) = 0;
  // Asks every command's update rule again.
  virtual void RefreshCommands() = 0;
  // The image area.
  virtual ViewSurface& Surface() = 0;
  virtual void Show() = 0;
  // Takes the window off the screen for good; it takes no more events.
  virtual void Close() = 0;

  // Set by the shell: the user's close box (true lets the window go), and mouse events
  // over the image.
  std::function<bool()> onClose;
  std::function<void(const ViewPointer&)> onMouse;
};

class ShellWindowFactory {
 public:
  virtual ~ShellWindowFactory() = default;
  // width x height: the image area wanted.
  virtual std::unique_ptr<ShellWindow> MakeWindow(const std::string& title, int width,
                                                  int height) = 0;
};

class PatchloomShell {
 public:
  static constexpr const char* kMainTitle = "Patchloom";
  static constexpr const char* kIdleStatus = "Ready";

  // Every document that joins `app` from now on gets a window of `factory`.
  PatchloomShell(CPatchloomApp& app, ShellWindowFactory& factory);
  ~PatchloomShell();
  PatchloomShell(const PatchloomShell&) = delete;
  PatchloomShell& operator=(const PatchloomShell&) = delete;

  void OpenMainWindow();
  // Windows on the screen (the main window included).
  int WindowCount() const;
  // The window of `document`, or null.
  ShellWindow* WindowOf(const CPatchloomDoc* document) const;
  ShellWindow* MainWindow() const { return m_main.get(); }

  void OnFileNew();
  // The file dialog with the formats the application can open.
  void OnFileOpen();
  // Closes every window, asking to save each modified document; stops at a refusal.
  void OnAppExit();
  // Closes the window of `document` and then the document; false when the user kept it
  // (a failed save of a modified document) or a command is still running.
  bool CloseDocumentWindow(CPatchloomDoc* document);
  // Runs command `id` of `document` as its menu does, then refreshes every window.
  // While a command runs no other one starts and the views take no strokes.
  void RunCommand(CPatchloomDoc* document, int id);

  // Called once the last window has closed.
  std::function<void()> onLastWindowClosed;

 private:
  struct DocumentWindow;

  void AddDocumentWindow(CPatchloomDoc& document);
  std::vector<ShellCommand> Commands(CPatchloomDoc* document);
  bool CloseMainWindow();
  void RefreshWindows();
  void ShowIdle();
  void Retire(std::unique_ptr<ShellWindow> window);
  void CheckLastWindow();

  CPatchloomApp& m_app;
  ShellWindowFactory& m_factory;
  std::unique_ptr<ShellWindow> m_main;
  std::vector<std::unique_ptr<DocumentWindow>> m_windows;
  // Closed windows are destroyed later: a window may close from its own menu.
  std::vector<std::unique_ptr<ShellWindow>> m_retired;
  int m_nBusy = 0;
};
