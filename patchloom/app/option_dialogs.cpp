#include "patchloom/app/option_dialogs.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "patchloom/app/resource.h"
#include "platform/paths.h"
#include "platform/ui.h"

using platform::ControlKind;
using platform::DialogTemplate;
using platform::IDC_STATIC;

void DDV_MinMaxFloat(platform::DataExchange& dx, float value, float min, float max) {
  if (dx.failed() || !dx.saving() || (value >= min && value <= max)) return;
  char text[96];
  std::snprintf(text, sizeof text, "Please enter a number between %g and %g.",
                static_cast<double>(min), static_cast<double>(max));
  platform::ui().messageBox(text);
  dx.fail();
}

void DDV_MinMaxInt(platform::DataExchange& dx, int value, int min, int max) {
  if (dx.failed() || !dx.saving() || (value >= min && value <= max)) return;
  char text[96];
  std::snprintf(text, sizeof text, "Please enter an integer between %d and %d.", min, max);
  platform::ui().messageBox(text);
  dx.fail();
}

namespace {

DialogTemplate resultOptionsTemplate() {
  return {IDD_RESULT_OPTIONS,
          "Set Result Options",
          {
              {ControlKind::button, platform::IDOK, "OK"},
              {ControlKind::button, platform::IDCANCEL, "Cancel"},
              {ControlKind::label, IDC_STATIC, "X Scale:"},
              {ControlKind::edit, IDC_SCALE_X, ""},
              {ControlKind::label, IDC_STATIC, "Y Scale:"},
              {ControlKind::edit, IDC_SCALE_Y, ""},
              {ControlKind::label, IDC_STATIC, "Iterations:"},
              {ControlKind::edit, IDC_ITERATIONS, ""},
              {ControlKind::label, IDC_STATIC, "Init Method:"},
              {ControlKind::dropDownList, IDC_INIT_METHOD, "", false, {"Random", "Interpolation"}},
          }};
}

DialogTemplate flowParamTemplate() {
  return {IDD_FLOW_PARAM,
          "Flow-guided Param Options",
          {
              {ControlKind::button, platform::IDOK, "OK"},
              {ControlKind::button, platform::IDCANCEL, "Cancel"},
              {ControlKind::label, IDC_STATIC, "Flow Field X' ="},
              {ControlKind::edit, IDC_FLOW_FORMULA_X, ""},
              {ControlKind::label, IDC_STATIC, "Flow Field Y' ="},
              {ControlKind::edit, IDC_FLOW_FORMULA_Y, ""},
              {ControlKind::button, IDC_VIEW_FLOW_FIELD, "View Flow Field"},
              {ControlKind::label, IDC_STATIC, "Frames:"},
              {ControlKind::edit, IDC_FLOW_FRAMES, ""},
              {ControlKind::label, IDC_STATIC, "Iterations per Frame:"},
              {ControlKind::edit, IDC_FLOW_ITERATIONS, ""},
              {ControlKind::label, IDC_STATIC, "Flow Weight:"},
              {ControlKind::edit, IDC_FLOW_WEIGHT, ""},
              {ControlKind::label, IDC_STATIC, "X Scale:"},
              {ControlKind::edit, IDC_FLOW_SCALE_X, ""},
              {ControlKind::label, IDC_STATIC, "Y Scale:"},
              {ControlKind::edit, IDC_FLOW_SCALE_Y, ""},
          }};
}

}  // namespace

CResultOptionsDlg::CResultOptionsDlg() : Dialog(resultOptionsTemplate()) {}

void CResultOptionsDlg::DoDataExchange(platform::DataExchange& dx) {
  platform::DDX_Text(dx, IDC_SCALE_X, m_fScaleX);
  DDV_MinMaxFloat(dx, m_fScaleX, kMinScale, kMaxScale);
  platform::DDX_Text(dx, IDC_SCALE_Y, m_fScaleY);
  DDV_MinMaxFloat(dx, m_fScaleY, kMinScale, kMaxScale);
  platform::DDX_Text(dx, IDC_ITERATIONS, m_nIterations);
  DDV_MinMaxInt(dx, m_nIterations, 0, kMaxIterations);
}

bool CResultOptionsDlg::OnInitDialog() {
  Dialog::OnInitDialog();
  setComboSelection(IDC_INIT_METHOD, m_nInitMethod);
  EnableDlgItem(IDC_INIT_METHOD, m_bEnableInitMethod);
  return true;
}

void CResultOptionsDlg::OnOK() {
  if (!UpdateData(true)) return;
  if (m_bEnableInitMethod) {
    const int selection = comboSelection(IDC_INIT_METHOD);
    m_nInitMethod = selection == 1 ? 1 : 0;
  }
  EndDialog(platform::IDOK);
}

CFlowParamDlg::CFlowParamDlg() : Dialog(flowParamTemplate()) {
  onCommand(IDC_VIEW_FLOW_FIELD, [this] { OnViewFlowField(); });
}

void CFlowParamDlg::DoDataExchange(platform::DataExchange& dx) {
  platform::DDX_Text(dx, IDC_FLOW_FORMULA_X, m_strFormulaX);
  platform::DDX_Text(dx, IDC_FLOW_FORMULA_Y, m_strFormulaY);
  platform::DDX_Text(dx, IDC_FLOW_FRAMES, m_nFrames);
  DDV_MinMaxInt(dx, m_nFrames, 1, kMaxFrames);
  platform::DDX_Text(dx, IDC_FLOW_ITERATIONS, m_nItersPerFrame);
  DDV_MinMaxInt(dx, m_nItersPerFrame, 0, kMaxItersPerFrame);
  platform::DDX_Text(dx, IDC_FLOW_WEIGHT, m_fFlowWeight);
  DDV_MinMaxFloat(dx, m_fFlowWeight, 0.0f, kMaxFlowWeight);
  platform::DDX_Text(dx, IDC_FLOW_SCALE_X, m_fScaleX);
  DDV_MinMaxFloat(dx, m_fScaleX, CResultOptionsDlg::kMinScale, CResultOptionsDlg::kMaxScale);
  platform::DDX_Text(dx, IDC_FLOW_SCALE_Y, m_fScaleY);
  DDV_MinMaxFloat(dx, m_fScaleY, CResultOptionsDlg::kMinScale, CResultOptionsDlg::kMaxScale);
}

std::string ArrowmapPath() {
  constexpr const char* kArrowmap = "..\\Arrowmap.exe";
  const std::string beside = platform::besideProgram(kArrowmap);
  std::error_code ec;
  if (std::filesystem::exists(beside, ec)) return beside;
  // In the build tree the programs sit in <build>/patchloom/app and <build>/arrowmap/app.
  const std::filesystem::path built = std::filesystem::path(platform::programDirectory()) / ".." /
                                      ".." / "arrowmap" / "app" / "arrowmap";
  if (std::filesystem::exists(built, ec)) return built.lexically_normal().string();
  // Installed, the programs share one folder.
  const std::filesystem::path installed =
      std::filesystem::path(platform::programDirectory()) / "arrowmap";
  if (std::filesystem::exists(installed, ec)) return installed.string();
  return beside;
}

void CFlowParamDlg::OnViewFlowField() { platform::ui().shellOpen(ArrowmapPath(), "open"); }
