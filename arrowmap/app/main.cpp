// The main form's components, handlers, arrow drawing and particle animation.
#include "arrowmap/app/main.h"

#include <cmath>
#include <string_view>

#include "platform/crt_random.h"
#include "platform/ui.h"

namespace arrowmap {

std::array<double, kParticleCount> ParticleX{};
std::array<double, kParticleCount> ParticleY{};

const std::array<FieldPreset, 7> kFieldPresets{{
    {"WH_opposed movement", "x", "y+x*0.1"},
    {"WH_expansion", "x+x*0.1", "y+y*0.1"},
    {"WH_circular left", "x-y*0.1", "y+x*0.1"},
    {"WH_circular right", "x+y*0.1", "y-x*0.1"},
    {"WH_repelling point", "x+y*0.1", "y+x*0.1"},
    {"WH_flow around", "x+0.005*sqr(y-0.05*x)", "y+0.005*sqr(x)"},
    {"WH_vortex cells", "x+0.8*cos(0.2*y)", "y+0.8*cos(0.2*x)"},
}};

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kHeadAngle = 0.3490658503988659;  // 20 degrees
constexpr double kStillDistance = 0.05;
// A particle this far out has left for good.
constexpr double kEscapeDistance = 1e10;
constexpr int kLastIteration = 9999;
constexpr std::uint8_t kStillMark = 0;
constexpr std::uint8_t kParticleMark = 1;
constexpr forms::TColor kParticleColor = 0x800000;
// The chart panel (iteration label and chart) and the column of controls beside it.
constexpr int kChartWidth = 640;
constexpr int kChartHeight = 664;
constexpr int kControlsWidth = 260;

// A uniform number in [0, 1) from the runtime generator.
double uniform() { return platform::rand() / (platform::kRandMax + 1.0); }

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string_view rest = text;
  for (;;) {
    const std::size_t lf = rest.find('\n');
    lines.emplace_back(rest.substr(0, lf));
    if (lf == std::string_view::npos) return lines;
    rest.remove_prefix(lf + 1);
  }
}

std::string lowerCase(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// A component as the form's resource streams it: created in the loading state, so that
// it gets its Loaded call when the form has finished loading.
template <class T>
T* streamed(forms::TComponent* owner, const char* name) {
  T* component = new T(owner);
  component->BeginLoading();
  component->Name = name;
  return component;
}

}  // namespace

FieldArrow ArrowOf(double x, double y, double x2, double y2) {
  FieldArrow arrow;
  arrow.length = std::sqrt((x2 - x) * (x2 - x) + (y2 - y) * (y2 - y));
  if (arrow.length < kStillDistance) {
    arrow.mark = true;
    return arrow;
  }
  double a;
  if (x2 != x) {
    a = std::atan((y2 - y) / (x2 - x));
  } else {
    a = y2 > y ? kPi / 2 : 3 * kPi / 2;
  }
  if (x2 < x) a += kPi;
  arrow.angle = a;
  const double half = arrow.length * 0.5;
  arrow.wing1X = x2 - std::cos(a + kHeadAngle) * half;
  arrow.wing1Y = y2 - std::sin(a + kHeadAngle) * half;
  arrow.wing2X = x2 - std::cos(a - kHeadAngle) * half;
  arrow.wing2Y = y2 - std::sin(a - kHeadAngle) * half;
  return arrow;
}

TMainFrm::TMainFrm(forms::TComponent* AOwner) : forms::TForm(AOwner) {
  BeginLoading();
  Name = "MainFrm";
  SetCaption("Arrowmap");

  cliDemon = streamed<TvtqDemonClient>(this, "cliDemon");

  PnlControls = streamed<forms::TPanel>(this, "PnlControls");
  PnlControls->SetParent(this);
  PnlControls->SetWidth(kControlsWidth);
  PnlControls->SetAlign(forms::alRight);
  PnlChart = streamed<forms::TPanel>(this, "PnlChart");
  PnlChart->SetParent(this);
  PnlChart->SetAlign(forms::alClient);

  CfxIter = streamed<TCifrabox>(this, "CfxIter");
  CfxIter->SetParent(PnlChart);
  CfxIter->SetHeight(24);
  CfxIter->SetAlign(forms::alTop);
  CfxIter->SetLeftText("Iteration ");
  CfxIter->SetDecPlaces(0);
  CfxIter->SetEmpty(true);

  PVData = streamed<TPlotvane>(this, "PVData");
  PVData->SetParent(PnlChart);
  PVData->SetAlign(forms::alClient);
  PVData->SetAllocSize(1000);
  PVData->SetAutoRedraw(true);
  PVData->SetIsometric(true);
  PVData->SetLayerRange(1, -11.5, -11.5, 11.5, 11.5);

  // The column of standard controls, top to bottom, as the form resource places them.
  auto place = [this](forms::TControl* control, int left, int top, int width, int height) {
    control->SetParent(PnlControls);
    control->SetBounds(left, top, width, height);
  };
  auto label = [&](const char* name, const char* caption, int top) {
    auto* l = streamed<forms::TLabel>(this, name);
    l->SetCaption(caption);
    place(l, 10, top, 240, 18);
    return l;
  };

  LblFuncX = label("LblFuncX", "WH_x' = f(x, y)", 12);
  EdFuncX = streamed<forms::TEdit>(this, "EdFuncX");
  EdFuncX->SetText("x+y*0.1");
  place(EdFuncX, 10, 32, 240, 26);
  LblFuncY = label("LblFuncY", "WH_y' = g(x, y)", 66);
  EdFuncY = streamed<forms::TEdit>(this, "EdFuncY");
  EdFuncY->SetText("y+x*0.1");
  place(EdFuncY, 10, 86, 240, 26);
  auto keyPress = [this](forms::TComponent* sender, char& key) { EdFuncXKeyPress(sender, key); };
  EdFuncX->OnKeyPress = keyPress;
  EdFuncY->OnKeyPress = keyPress;

  LblFieldType = label("LblFieldType", "WH_Preset field", 124);
  CBoxFieldType = streamed<forms::TComboBox>(this, "CBoxFieldType");
  for (const FieldPreset& preset : kFieldPresets) CBoxFieldType->Items.emplace_back(preset.key);
  CBoxFieldType->OnChange = [this](forms::TComponent* s) { CBoxFieldTypeChange(s); };
  place(CBoxFieldType, 10, 144, 240, 26);

  LblMagnify = label("LblMagnify", "WH_Magnification", 260);
  SBarMagnify = streamed<forms::TScrollBar>(this, "SBarMagnify");
  SBarMagnify->SetMax(400);
  SBarMagnify->SetMin(107);
  SBarMagnify->SetPosition(400);
  SBarMagnify->SetSmallChange(1);
  SBarMagnify->SetLargeChange(20);
  SBarMagnify->OnChange = [this](forms::TComponent* s) { SBarMagnifyChange(s); };
  place(SBarMagnify, 10, 280, 240, 18);

  Timer1.setInterval(500);
  Timer1.setEnabled(false);
  Timer1.onTimer = [this] { Timer1Timer(this); };

  auto button = [&](const char* name, const char* caption,
                    void (TMainFrm::*handler)(forms::TComponent*), int left, int top) {
    auto* b = streamed<forms::TButton>(this, name);
    b->SetCaption(caption);
    b->OnClick = [this, handler](forms::TComponent* s) { (this->*handler)(s); };
    place(b, left, top, 115, 28);
    return b;
  };
  BButField = button("BButField", "WH_Show field", &TMainFrm::BButFieldClick, 10, 184);
  BButApply = button("BButApply", "WH_Apply field", &TMainFrm::BButApplyClick, 135, 184);
  BButStop = button("BButStop", "WH_Stop", &TMainFrm::BButStopClick, 10, 220);
  BButStop->SetEnabled(false);
  BButAbout = button("BButAbout", "WH_About", &TMainFrm::BButAboutClick, 135, 220);
  BButExit = button("BButExit", "WH_Exit", &TMainFrm::BButExitClick, 135, 622);

  MMExplain1 = streamed<forms::TMemo>(this, "MMExplain1");
  MMExplain1->ReadOnly = true;
  place(MMExplain1, 10, 312, 240, 150);
  MMExplain2 = streamed<forms::TMemo>(this, "MMExplain2");
  MMExplain2->ReadOnly = true;
  place(MMExplain2, 10, 470, 240, 140);

  OnShow = [this](forms::TComponent* s) { FormShow(s); };
  EndLoading();
  // Sizing after loading lays out the chart and the label and sizes their surfaces.
  SetBounds(0, 0, kChartWidth + kControlsWidth, kChartHeight);
}

void TMainFrm::FormShow(forms::TComponent*) {
  busy_ = false;
  CBoxFieldType->SetItemIndex(1);
  CBoxFieldTypeChange(this);

  // The application's icon comes from the learning server's work area; this build has
  // neither, so the form keeps no icon.

  MMExplain1->SetLines(splitLines(Translate("MMExplain1")));
  MMExplain2->SetLines(splitLines(Translate("MMExplain2")));

  if (FrmAbout == nullptr) return;
  FrmAbout->LblName->SetCaption("Arrowmap");
  FrmAbout->LblVersion->SetCaption("Version 1.0");
  FrmAbout->EdWebAddress->SetText(Translate("HomePageURL"));
  FrmAbout->SetLanguage(lowerCase(Translate("$dlglanguage$")));
  cliDemon->Wordhive().TranslateComponents(*FrmAbout);
  FrmAbout->ShowModal();
}

void TMainFrm::CBoxFieldTypeChange(forms::TComponent*) {
  const int index = CBoxFieldType->ItemIndex();
  if (index >= 0 && index < static_cast<int>(kFieldPresets.size())) {
    EdFuncX->SetText(kFieldPresets[index].fx);
    EdFuncY->SetText(kFieldPresets[index].fy);
  }
  DrawField();
}

void TMainFrm::EdFuncXKeyPress(forms::TComponent*, char& Key) {
  if (Key == 13) DrawField();
}

void TMainFrm::BButFieldClick(forms::TComponent*) {
  Timer1.setEnabled(false);
  CfxIter->SetEmpty(true);
  SBarMagnify->SetPosition(400);
  DrawField();
}

void TMainFrm::BButApplyClick(forms::TComponent*) {
  CfxIter->SetValue(0);
  CfxIter->SetEmpty(false);
  SBarMagnify->SetPosition(220);
  PVData->ClearItems();
  for (int i = 0; i < kParticleCount; ++i) {
    double x, y;
    do {
      x = (uniform() - 0.5) * 20;
      y = (uniform() - 0.5) * 20;
    } while (!(x * x + y * y < 100));
    ParticleX[i] = x;
    ParticleY[i] = y;
  }
  Timer1.setEnabled(true);
  BButStop->SetCaption(Translate("Stop"));
  BButStop->SetEnabled(true);
}

void TMainFrm::BButStopClick(forms::TComponent*) {
  CfxIter->SetEmpty(false);
  Timer1.setEnabled(!Timer1.enabled());
  BButStop->SetCaption(Translate(Timer1.enabled() ? "Stop" : "Continue"));
}

void TMainFrm::SBarMagnifyChange(forms::TComponent*) {
  const int a = 507 - SBarMagnify->Position();
  const double r = a * a / 1000.0;
  PVData->SetLayerRange(1, -r, -r, r, r);
}

void TMainFrm::Timer1Timer(forms::TComponent*) {
  // A tick that arrives while a step processes events finds the step still running. It
  // leaves the flag alone, so no later tick can start a step inside this one.
  if (busy_) return;
  busy_ = true;
  inStep_ = true;
  stepReported_ = false;

  CfxIter->SetValue(CfxIter->Value() + 1);
  PVData->ClearItems();
  PVData->SetDataColor(kParticleColor);
  for (int i = 0; i < kParticleCount; ++i) {
    const double x = ParticleX[i];
    const double y = ParticleY[i];
    // Written so that a coordinate that is not a number counts as gone too.
    if (!(std::fabs(x) < kEscapeDistance) || !(std::fabs(y) < kEscapeDistance)) continue;
    int err = 0;
    const double x2 = EvaluateFormula(EdFuncX->Text(), err, x, y);
    ParticleX[i] = x2;
    forms::ProcessMessages();
    if (err != 0) {
      Timer1.setEnabled(false);
      continue;
    }
    const double y2 = EvaluateFormula(EdFuncY->Text(), err, x, y);
    ParticleY[i] = y2;
    if (err != 0) {
      Timer1.setEnabled(false);
    } else {
      PVData->PlaceMark(kParticleMark, x2, y2);
    }
  }
  PVData->ShowItems();
  if (CfxIter->Value() > kLastIteration) Timer1.setEnabled(false);

  inStep_ = false;
  busy_ = false;
}

void TMainFrm::BButExitClick(forms::TComponent*) { Close(); }

void TMainFrm::BButAboutClick(forms::TComponent*) {
  if (FrmAbout != nullptr) FrmAbout->ShowModal();
}

void TMainFrm::DrawField() {
  PVData->ClearItems();
  // Draws the arrow of one grid point; false when a formula was rejected.
  auto drawPoint = [this](double x, double y) {
    int err = 0;
    const double x2 = EvaluateFormula(EdFuncX->Text(), err, x, y);
    if (err != 0) return false;
    const double y2 = EvaluateFormula(EdFuncY->Text(), err, x, y);
    if (err != 0) return false;
    const FieldArrow arrow = ArrowOf(x, y, x2, y2);
    if (arrow.mark) {
      PVData->PlaceMark(kStillMark, x, y);
      return true;
    }
    PVData->PenMoveTo(x, y);
    PVData->PenLineTo(x2, y2);
    PVData->PenLineTo(arrow.wing1X, arrow.wing1Y);
    PVData->PenMoveTo(x2, y2);
    PVData->PenLineTo(arrow.wing2X, arrow.wing2Y);
    return true;
  };
  bool ok = true;
  for (int i = 0; i <= 10 && ok; ++i) {
    for (int j = 0; j <= 10 && ok; ++j) ok = drawPoint(2.0 * i - 10, 2.0 * j - 10);
  }
  PVData->ShowItems();
}

double TMainFrm::EvaluateFormula(const std::string& Formula, int& Err, double x, double y) {
  Err = 0;
  FormulaRejection rejection = FormulaRejection::none;
  const double value = EvaluateFormulaText(Formula, x, y, rejection);
  if (rejection == FormulaRejection::none) return value;

  Timer1.setEnabled(false);
  Err = -1;
  formulaRejected_ = true;
  // One message per animation step: the same fault in every particle needs telling once.
  if (!(inStep_ && stepReported_)) {
    if (inStep_) stepReported_ = true;
    const char* key = rejection == FormulaRejection::parentheses ? "MSG_formula_parantheses"
                                                                 : "MSG_formula_right_side";
    platform::ui().messageBox(Translate(key), "Error");
  }
  return 0.0;
}

}  // namespace arrowmap
