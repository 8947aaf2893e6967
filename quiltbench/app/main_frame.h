// Quiltbench's main window: the Operation menu and tool bar run the synthesis dialogs, the
// status bar shows a run's progress, and the view shows the sample beside the last result.
#pragma once

#include <string>

#include "platform/desktop/desktop.h"

class CSingleImageDialog;

// While it exists, documents the programs open (ui().shellOpen) come to ShowResult.
class CMainFrame {
 public:
  CMainFrame();
  ~CMainFrame();
  CMainFrame(const CMainFrame&) = delete;
  CMainFrame& operator=(const CMainFrame&) = delete;

  void OnSingleImageSynthesis();
  void OnVideoSynthesis();
  void OnAppAbout();
  void OnAppExit();

  // Shows the BMP at `path` (a host path) in the view, beside the sample of the running
  // single-image dialog; false when it is no picture the view can show.
  bool ShowResult(const std::string& path);

  platform::desktop::FrameWindow& frame() { return frame_; }
  const std::string& shownResult() const { return resultPath_; }

 private:
  platform::desktop::FrameWindow frame_;
  const CSingleImageDialog* runningDialog_ = nullptr;
  std::string resultPath_;
};

// The windowed program: installs the windowed backend, shows the main window and runs
// until it closes. Returns the exit status.
int runQuiltbenchDesktop();
