#include "quiltbench/app/main_frame.h"

#include "platform/global_memory.h"
#include "platform/paths.h"
#include "platform/ui.h"
#include "quiltbench/app/dib_picture.h"
#include "quiltbench/app/synthesis_dialogs.h"
#include "quiltbench/app/video_synthesis_dialog.h"
#include "quiltbench/engine/dib.h"

namespace {

constexpr const char* kReady = "Ready";

std::optional<RgbPicture> loadPicture(const std::string& path) {
  CDib reader;
  platform::HGLOBAL dib = reader.Load(path);
  std::optional<RgbPicture> picture = dibToRgb(dib);
  platform::GlobalFree(dib);
  return picture;
}

}  // namespace

CMainFrame::CMainFrame() : frame_("Quiltbench", 900, 620) {
  using platform::desktop::MenuCommand;
  frame_.setCommands({
      {"&File/E&xit", 1, "Ctrl+Q", [this] { OnAppExit(); }, nullptr, false, ""},
      {"&Operation/&Single Image Synthesis...", 2, "Ctrl+I", [this] { OnSingleImageSynthesis(); },
       nullptr, false, "Single Image"},
      {"&Operation/&Video Synthesis...", 3, "Ctrl+M", [this] { OnVideoSynthesis(); }, nullptr,
       false, "Video"},
      {"&Help/&About Quiltbench...", 4, "", [this] { OnAppAbout(); }, nullptr, false, ""},
  });
  frame_.setStatus(kReady);
  // "View the result" shows a result image here; other files go to the desktop's viewer.
  platform::desktop::setDocumentOpener(
      [this](const std::string& path) { return ShowResult(path); });
}

CMainFrame::~CMainFrame() { platform::desktop::setDocumentOpener(nullptr); }

void CMainFrame::OnSingleImageSynthesis() {
  CSingleImageDialog dialog;
  runningDialog_ = &dialog;
  dialog.DoModal();
  runningDialog_ = nullptr;
  frame_.setStatus(kReady);
}

void CMainFrame::OnVideoSynthesis() {
  CVideoSynthesisDialog dialog;
  dialog.DoModal();
  frame_.setStatus(kReady);
}

void CMainFrame::OnAppAbout() {
  platform::ui().messageBox(
      "Quiltbench\nGrows textures from a sample with graph-cut patches and makes videos loop.",
      "About Quiltbench");
}

void CMainFrame::OnAppExit() { frame_.close(); }

bool CMainFrame::ShowResult(const std::string& path) {
  std::optional<RgbPicture> result = loadPicture(path);
  if (!result) return false;
  std::optional<RgbPicture> sample;
  if (runningDialog_ && !runningDialog_->m_strInputPath.empty())
    sample = loadPicture(runningDialog_->m_strInputPath);
  const RgbPicture shown = sample ? sideBySide(*sample, *result) : *result;
  frame_.view().setImage(shown.width, shown.height, shown.rgb);
  resultPath_ = path;
  frame_.setTitle("Quiltbench - " + path);
  return true;
}

int runQuiltbenchDesktop() {
  platform::desktop::startDesktop("Quiltbench");
  CMainFrame mainFrame;
  mainFrame.frame().show();
  return platform::desktop::runDesktop();
}
