#include "quiltbench/app/video_synthesis_dialog.h"

#include <cstdio>
#include <exception>
#include <optional>
#include <vector>

#include "platform/ui.h"
#include "quiltbench/app/resource.h"
#include "quiltbench/engine/graph_cut_synthesizer.h"
#include "quiltbench/video/video_synthesis.h"

using platform::ControlKind;
using platform::DialogTemplate;
using platform::IDC_STATIC;

namespace {

DialogTemplate videoSynthesisTemplate() {
  return {IDD_VIDEO_SYNTHESIS,
          "Video Synthesis",
          {
              {ControlKind::button, platform::IDOK, "OK"},
              {ControlKind::button, platform::IDCANCEL, "Cancel"},
              {ControlKind::label, IDC_STATIC, "Input Video:"},
              {ControlKind::edit, IDC_INPUT_PATH, ""},
              {ControlKind::button, IDC_BROWSE_INPUT, ">>"},
              {ControlKind::label, IDC_STATIC, "Output Video:"},
              {ControlKind::edit, IDC_OUTPUT_PATH, ""},
              {ControlKind::button, IDC_BROWSE_OUTPUT, ">>"},
          }};
}

std::optional<std::string> askForVideoPath(bool open) {
  platform::FileDialogRequest request;
  request.open = open;
  request.filter = kVideoFileFilter;
  request.overwritePrompt = true;
  request.hideReadOnly = true;
  return platform::ui().fileDialog(request);
}

}  // namespace

CVideoSynthesisDialog::CVideoSynthesisDialog() : Dialog(videoSynthesisTemplate()) {
  onCommand(IDC_BROWSE_INPUT, [this] { OnBrowseInput(); });
  onCommand(IDC_BROWSE_OUTPUT, [this] { OnBrowseOutput(); });
}

void CVideoSynthesisDialog::DoDataExchange(platform::DataExchange& dx) {
  platform::DDX_Text(dx, IDC_INPUT_PATH, m_strInputPath);
  platform::DDX_Text(dx, IDC_OUTPUT_PATH, m_strOutputPath);
}

void CVideoSynthesisDialog::OnBrowseInput() {
  if (auto path = askForVideoPath(true)) {
    m_strInputPath = *path;
    UpdateData(false);
  }
}

void CVideoSynthesisDialog::OnBrowseOutput() {
  if (auto path = askForVideoPath(false)) {
    m_strOutputPath = *path;
    UpdateData(false);
  }
}

void CVideoSynthesisDialog::OnOK() {
  UpdateData(true);
  platform::WaitCursor wait;
  platform::Ui& ui = platform::ui();
  try {
    CGraphCutSynthesizer synthesizer;
    if (!synthesizer.SynthesizeVideo(m_strInputPath, m_strOutputPath)) {
      ui.messageBox("Video Synthesis Operation Failed!");
      return;
    }
    std::vector<char> question(synthesizer.m_strMessage.size() + 128);
    std::snprintf(question.data(), question.size(),
                  "Operation success! %s\nWould you like to View the result?",
                  synthesizer.m_strMessage.c_str());
    // An empty output field means the video went to the default path: show that one.
    if (ui.askYesNo(question.data(), "System Message")) {
      ui.shellOpen(quiltbench::video::videoOutputPath(m_strOutputPath), "open");
    }
  } catch (const std::exception& e) {
    // The reason goes to the error stream; the message box stays the one it always was.
    ui.progress(e.what());
    ui.messageBox("Operation error!");
  } catch (...) {
    ui.messageBox("Operation error!");
  }
}
