#include "quiltbench/app/synthesis_dialogs.h"

#include <cstdio>
#include <new>
#include <optional>
#include <stdexcept>
#include <vector>

#include "platform/global_memory.h"
#include "platform/replacing_file.h"
#include "platform/ui.h"
#include "quiltbench/app/resource.h"

using platform::ControlKind;
using platform::ControlTemplate;
using platform::DialogTemplate;
using platform::IDC_STATIC;

namespace {

DialogTemplate optionsTemplate() {
  return {IDD_SYNTHESIS_OPTIONS,
          "Single Image Synthesis Options",
          {
              {ControlKind::button, platform::IDOK, "OK"},
              {ControlKind::button, platform::IDCANCEL, "Cancel"},
              {ControlKind::label, IDC_STATIC, "Methods for picking candidate patches:"},
              {ControlKind::dropDownList,
               IDC_CANDIDATE_METHOD,
               "",
               false,
               {"Random", "Entire Patch", "sub-patch"}},
              {ControlKind::radioButton, IDC_FFT_SEARCH, "FFT Accerlation", true},
              {ControlKind::radioButton, IDC_NAIVE_SEARCH, "Naive Search"},
              {ControlKind::checkBox, IDC_POST_PROCESS, "Post Process", true},
              {ControlKind::label, IDC_STATIC, "Scale:"},
              {ControlKind::edit, IDC_SCALE_X, ""},
              {ControlKind::label, IDC_STATIC, "*X"},
              {ControlKind::edit, IDC_SCALE_Y, ""},
              {ControlKind::label, IDC_STATIC, "*Y"},
          }};
}

DialogTemplate singleImageTemplate() {
  return {IDD_SINGLE_IMAGE,
          "Single Image Synthesis",
          {
              {ControlKind::button, platform::IDOK, "GO>>"},
              {ControlKind::button, platform::IDCANCEL, "Cancel"},
              {ControlKind::label, IDC_STATIC, "Input Image:"},
              {ControlKind::edit, IDC_INPUT_PATH, ""},
              {ControlKind::button, IDC_BROWSE_INPUT, ">>"},
              {ControlKind::label, IDC_STATIC, "Output Image:"},
              {ControlKind::edit, IDC_OUTPUT_PATH, ""},
              {ControlKind::button, IDC_BROWSE_OUTPUT, ">>"},
              {ControlKind::button, IDC_OPTIONS, "Options..."},
          }};
}

}  // namespace

CSynthesisOptionsDialog::CSynthesisOptionsDialog() : Dialog(optionsTemplate()) {}

void CSynthesisOptionsDialog::DoDataExchange(platform::DataExchange& dx) {
  platform::DDX_Control(dx, IDC_CANDIDATE_METHOD, m_cbCandidateMethod);
  platform::DDX_Check(dx, IDC_POST_PROCESS, m_nPostProcess);
  platform::DDX_Text(dx, IDC_SCALE_X, m_fScaleX);
  platform::DDX_Text(dx, IDC_SCALE_Y, m_fScaleY);
}

// Every opening starts from the defaults, whatever the last run chose.
bool CSynthesisOptionsDialog::OnInitDialog() {
  m_bRandom = 0;
  m_nSearchMode = -1;
  CheckRadioButton(IDC_FFT_SEARCH, IDC_NAIVE_SEARCH, IDC_FFT_SEARCH);
  m_nPostProcess = 1;
  m_fScaleX = 2.0f;
  m_fScaleY = 2.0f;
  return Dialog::OnInitDialog();
}

void CSynthesisOptionsDialog::OnOK() {
  if (!UpdateData(true)) return;  // the refused field's message was shown; stay open
  m_nSearchMode = IsDlgButtonChecked(IDC_NAIVE_SEARCH) ? 2 : 1;
  // Only "Random" changes the flag; the other two entries search.
  if (m_cbCandidateMethod.GetCurSel() == 0) m_bRandom = 1;
  EndDialog(platform::IDOK);
}

CSingleImageDialog::CSingleImageDialog() : Dialog(singleImageTemplate()) {
  onCommand(IDC_BROWSE_INPUT, [this] { OnBrowseInput(); });
  onCommand(IDC_BROWSE_OUTPUT, [this] { OnBrowseOutput(); });
  onCommand(IDC_OPTIONS, [this] { OnOptions(); });
}

CSingleImageDialog::~CSingleImageDialog() {
  m_synthesizer.m_hSourceImage = platform::GlobalFree(m_synthesizer.m_hSourceImage);
}

void CSingleImageDialog::DoDataExchange(platform::DataExchange& dx) {
  platform::DDX_Text(dx, IDC_INPUT_PATH, m_strInputPath);
  platform::DDX_Text(dx, IDC_OUTPUT_PATH, m_strOutputPath);
}

bool CSingleImageDialog::OnInitDialog() {
  Dialog::OnInitDialog();
  m_synthesizer.m_bRandom = 0;
  m_synthesizer.m_bPostProcess = 1;
  m_synthesizer.m_nSearchMode = 1;
  m_fScaleX = 2.0f;
  m_fScaleY = 2.0f;
  return true;
}

namespace {

std::optional<std::string> askForPath(bool open) {
  platform::FileDialogRequest request;
  request.open = open;
  request.filter = kImageFileFilter;
  request.overwritePrompt = true;
  request.hideReadOnly = true;
  return platform::ui().fileDialog(request);
}

}  // namespace

void CSingleImageDialog::OnBrowseInput() {
  if (auto path = askForPath(true)) {
    m_strInputPath = *path;
    UpdateData(false);
  }
}

void CSingleImageDialog::OnBrowseOutput() {
  if (auto path = askForPath(false)) {
    m_strOutputPath = *path;
    UpdateData(false);
  }
}

void CSingleImageDialog::OnOptions() {
  if (m_optionsDialog.DoModal() != platform::IDOK) return;
  m_synthesizer.m_bRandom = m_optionsDialog.m_bRandom;
  m_synthesizer.m_nSearchMode = m_optionsDialog.m_nSearchMode;
  m_synthesizer.m_bPostProcess = m_optionsDialog.m_nPostProcess ? 1 : 0;
  m_fScaleX = m_optionsDialog.m_fScaleX;
  m_fScaleY = m_optionsDialog.m_fScaleY;
}

void CSingleImageDialog::OnOK() {
  UpdateData(true);
  platform::WaitCursor wait;
  platform::Ui& ui = platform::ui();
  if (m_strInputPath.empty()) {
    ui.messageBox("Please First input a image for process!");
    return;
  }
  if (m_strOutputPath.empty()) {
    m_strOutputPath = kDefaultOutputPath;
    UpdateData(false);
  }
  // Every failure shows its message box, with the reason beside it on the error stream.
  auto fail = [&ui](const std::string& reason, const char* message = "Operation error!") {
    if (!reason.empty()) ui.progress(reason);
    ui.messageBox(message);
  };
  if (platform::sameFile(m_strInputPath, m_strOutputPath)) {
    fail("the output " + m_strOutputPath + " is the input image itself; name another file");
    return;
  }
  try {
    // This run's images replace the last run's, which are ours to free.
    m_synthesizer.m_hSourceImage = platform::GlobalFree(m_synthesizer.m_hSourceImage);
    m_synthesizer.m_hResultImage = platform::GlobalFree(m_synthesizer.m_hResultImage);
    m_synthesizer.m_hSourceImage = m_synthesizer.Load(m_strInputPath);
    if (!m_synthesizer.m_hSourceImage) {
      fail(m_synthesizer.lastReason());
      return;
    }
    m_synthesizer.m_hResultImage =
        m_synthesizer.SynthesizeImage(m_synthesizer.m_hSourceImage, m_fScaleX, m_fScaleY);
    // An image the engine refuses has produced nothing to save or show.
    if (!m_synthesizer.m_hResultImage) {
      fail(m_strInputPath + " is refused: " + m_synthesizer.lastReason());
      return;
    }
    if (!m_synthesizer.Save(m_strOutputPath, m_synthesizer.m_hResultImage)) {
      fail(m_synthesizer.lastReason(), "Save image error!");
      return;
    }
    std::vector<char> question(m_synthesizer.m_strMessage.size() + 128);
    std::snprintf(question.data(), question.size(),
                  "Operation success! %s\nWould you like to View the result?",
                  m_synthesizer.m_strMessage.c_str());
    if (ui.askYesNo(question.data(), "System Message")) ui.shellOpen(m_strOutputPath, "open");
  } catch (const std::bad_alloc&) {
    fail("out of memory");
  } catch (const std::exception& e) {
    fail(e.what());
  } catch (...) {
    fail({});
  }
}
