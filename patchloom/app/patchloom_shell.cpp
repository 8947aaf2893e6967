#include "patchloom/app/patchloom_shell.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "patchloom/app/patchloom_app.h"
#include "patchloom/app/patchloom_doc.h"
#include "patchloom/app/resource.h"
#include "patchloom/image/image.h"
#include "platform/ui.h"

namespace {

// Commands the application handles whether or not a document is shown.
bool IsApplicationCommand(int id) {
  return id == ID_FILE_NEW || id == ID_FILE_OPEN || id == ID_APP_EXIT;
}

constexpr int kMainWidth = 640;
constexpr int kMainHeight = 400;
constexpr int kMinWidth = 850;  // room for the tool bar
constexpr int kMinHeight = 240;
constexpr int kMaxWidth = 1024;
constexpr int kMaxHeight = 768;

}  // namespace

const std::vector<ShellCommandSpec>& MainWindowMenu() {
  static const std::vector<ShellCommandSpec> menu = {
      {"&File/&New", ID_FILE_NEW, "Ctrl+N", false, "New"},
      {"&File/&Open...", ID_FILE_OPEN, "Ctrl+O", false, "Open"},
      {"&File/E&xit", ID_APP_EXIT, "", false, ""},
  };
  return menu;
}

const std::vector<ShellCommandSpec>& DocumentWindowMenu() {
  static const std::vector<ShellCommandSpec> menu = {
      {"&File/&New", ID_FILE_NEW, "Ctrl+N", false, "New"},
      {"&File/&Open...", ID_FILE_OPEN, "Ctrl+O", false, "Open"},
      {"&File/&Close", ID_FILE_CLOSE, "", false, ""},
      {"&File/&Save", ID_FILE_SAVE, "Ctrl+S", false, "Save"},
      {"&File/Save &As...", ID_FILE_SAVE_AS, "", false, ""},
      {"&File/E&xit", ID_APP_EXIT, "", false, ""},
      {"&View/Str&etch mode", ID_STRETCH_MODE, "", true, ""},
      {"EMSyntesis/Interpolation", ID_INTERPOLATION, "", false, "Interp."},
      {"EMSyntesis/Simple Img Syn", ID_SIMPLE_IMG_SYN, "", false, "Simple"},
      {"EMSyntesis/Multi_level Syn", ID_MULTI_LEVEL_SYN, "", false, "Multi"},
      {"EMSyntesis/Flow-guided Syn", ID_FLOW_GUIDED_SYN, "", false, "Flow"},
      {"ControllableSyn/Generate Init Img", ID_GENERATE_INIT_IMG, "", false, "Init"},
      {"ControllableSyn/New Contrain Area", ID_NEW_CONSTRAIN_AREA, "", false, "New Area"},
      {"ControllableSyn/Add Constrain Area", ID_ADD_CONSTRAIN_AREA, "", false, "Add Area"},
      {"ControllableSyn/Run and Result", ID_RUN_AND_RESULT, "", false, "Run"},
      {"ControllableSyn/Show Compare Result", ID_SHOW_COMPARE_RESULT, "", false, "Compare"},
  };
  return menu;
}

CommandUiState CommandState(CPatchloomDoc* document, int id) {
  if (IsApplicationCommand(id)) return {true, false};
  if (document == nullptr) return {false, false};
  if (id == ID_FILE_CLOSE) return {true, false};
  CCmdUI cmdUI(id);
  // A command without an update handler is enabled wherever its handler is reached.
  document->OnUpdateCommand(cmdUI);
  return {cmdUI.m_bEnabled, cmdUI.m_nCheck != 0};
}

struct PatchloomShell::DocumentWindow {
  CPatchloomDoc* document;
  std::unique_ptr<ShellWindow> window;
  std::unique_ptr<CPatchloomView> view;
};

PatchloomShell::PatchloomShell(CPatchloomApp& app, ShellWindowFactory& factory)
    : m_app(app), m_factory(factory) {
  m_app.SetDocumentAddedHandler([this](CPatchloomDoc& document) { AddDocumentWindow(document); });
}

PatchloomShell::~PatchloomShell() {
  m_app.SetDocumentAddedHandler(nullptr);
  // Views go before the documents they watch.
  for (auto& entry : m_windows) entry->view.reset();
}

void PatchloomShell::OpenMainWindow() {
  if (m_main) return;
  m_main = m_factory.MakeWindow(kMainTitle, kMainWidth, kMainHeight);
  m_main->SetCommands(Commands(nullptr));
  m_main->SetStatus(kIdleStatus);
  m_main->onClose = [this] { return CloseMainWindow(); };
  m_main->Show();
}

int PatchloomShell::WindowCount() const {
  return static_cast<int>(m_windows.size()) + (m_main ? 1 : 0);
}

ShellWindow* PatchloomShell::WindowOf(const CPatchloomDoc* document) const {
  for (const auto& entry : m_windows)
    if (entry->document == document) return entry->window.get();
  return nullptr;
}

std::vector<ShellCommand> PatchloomShell::Commands(CPatchloomDoc* document) {
  std::vector<ShellCommand> commands;
  const auto& menu = document != nullptr ? DocumentWindowMenu() : MainWindowMenu();
  for (const ShellCommandSpec& spec : menu) {
    const int id = spec.id;
    commands.push_back({spec, [this, document, id] { RunCommand(document, id); },
                        [this, document, id] {
                          CommandUiState state = CommandState(document, id);
                          state.enabled = state.enabled && m_nBusy == 0;
                          return state;
                        }});
  }
  return commands;
}

void PatchloomShell::AddDocumentWindow(CPatchloomDoc& document) {
  const CImage* image = document.GetImage();
  const int width = image != nullptr ? image->GetWidth() : 0;
  const int height = image != nullptr ? image->GetHeight() : 0;
  auto entry = std::make_unique<DocumentWindow>();
  entry->document = &document;
  entry->window = m_factory.MakeWindow(document.GetTitle(), std::clamp(width, kMinWidth, kMaxWidth),
                                       std::clamp(height, kMinHeight, kMaxHeight));
  entry->view = std::make_unique<CPatchloomView>(document, entry->window->Surface());
  entry->window->SetCommands(Commands(&document));
  entry->window->SetStatus(kIdleStatus);
  CPatchloomView* view = entry->view.get();
  entry->window->onMouse = [this, view](const ViewPointer& pointer) {
    if (m_nBusy == 0) view->OnMouse(pointer);
  };
  entry->window->onClose = [this, doc = &document] { return CloseDocumentWindow(doc); };
  ShellWindow* window = entry->window.get();
  m_windows.push_back(std::move(entry));
  window->Show();
}

void PatchloomShell::RunCommand(CPatchloomDoc* document, int id) {
  // Progress lets events through while a command runs: another command then could
  // replace or delete what the running one works on.
  if (m_nBusy > 0 || !CommandState(document, id).enabled) return;
  m_retired.clear();
  if (id == ID_APP_EXIT) return OnAppExit();
  if (id == ID_FILE_CLOSE) {
    CloseDocumentWindow(document);
    return;
  }
  ++m_nBusy;
  if (id == ID_FILE_NEW)
    OnFileNew();
  else if (id == ID_FILE_OPEN)
    OnFileOpen();
  else
    document->OnCmdMsg(id);
  --m_nBusy;
  RefreshWindows();
}

void PatchloomShell::ShowIdle() {
  // The last progress line of the command that ended is no longer news.
  if (m_main) m_main->SetStatus(kIdleStatus);
  for (const auto& entry : m_windows) entry->window->SetStatus(kIdleStatus);
}

void PatchloomShell::OnFileNew() { m_app.OnFileNew(); }

void PatchloomShell::OnFileOpen() {
  platform::FileDialogRequest request;
  request.open = true;
  request.title = "Open";
  request.filter = m_app.GetFilter(false);
  request.hideReadOnly = true;
  request.pathMustExist = true;
  const std::optional<std::string> path = platform::ui().fileDialog(request);
  if (path) m_app.OpenDocumentFile(*path);
}

void PatchloomShell::OnAppExit() {
  while (!m_windows.empty())
    if (!CloseDocumentWindow(m_windows.back()->document)) return;
  CloseMainWindow();
}

bool PatchloomShell::CloseDocumentWindow(CPatchloomDoc* document) {
  // A command's message box lets events through; its document must outlive it.
  if (m_nBusy > 0) return false;
  auto it = std::find_if(m_windows.begin(), m_windows.end(),
                         [document](const auto& entry) { return entry->document == document; });
  if (it == m_windows.end()) return false;
  if (document->IsModified() && document->GetImage() != nullptr &&
      platform::ui().askYesNo("Save changes to " + document->GetTitle() + "?")) {
    if (!document->DoSave(document->GetPathName(), true)) return false;
  }
  std::unique_ptr<DocumentWindow> entry = std::move(*it);
  m_windows.erase(it);
  entry->view.reset();
  entry->window->Close();
  Retire(std::move(entry->window));
  m_app.CloseDocument(document);
  CheckLastWindow();
  return true;
}

bool PatchloomShell::CloseMainWindow() {
  if (m_nBusy > 0 || !m_main) return false;
  m_main->Close();
  Retire(std::move(m_main));
  CheckLastWindow();
  return true;
}

void PatchloomShell::Retire(std::unique_ptr<ShellWindow> window) {
  // onClose stays: it may be the very function running now.
  window->onMouse = nullptr;
  m_retired.push_back(std::move(window));
}

void PatchloomShell::CheckLastWindow() {
  if (WindowCount() == 0 && onLastWindowClosed) onLastWindowClosed();
}

void PatchloomShell::RefreshWindows() {
  ShowIdle();
  if (m_main) m_main->RefreshCommands();
  for (const auto& entry : m_windows) {
    // Save As may have given the document another name.
    entry->window->SetTitle(entry->document->GetTitle());
    entry->window->RefreshCommands();
  }
}
