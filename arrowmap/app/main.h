// The viewer's main form: two formulas x' = f(x, y) and y' = g(x, y), drawn as arrows on
// an 11 x 11 grid, or applied to 1000 particles once per timer tick.
#pragma once

#include <array>
#include <string>

#include "arrowmap/app/about_box.h"
#include "arrowmap/app/formula.h"
#include "arrowmap/app/valdrin_demon.h"
#include "arrowmap/components/cifrabox.h"
#include "arrowmap/components/plotvane.h"
#include "platform/forms/forms.h"
#include "platform/timer.h"

namespace arrowmap {

inline constexpr int kParticleCount = 1000;
// The particles' current places.
extern std::array<double, kParticleCount> ParticleX;
extern std::array<double, kParticleCount> ParticleY;

// The seven preset fields, in the order of the field-type list.
struct FieldPreset {
  const char* key;  // translation key of the list item
  const char* fx;
  const char* fy;
};
extern const std::array<FieldPreset, 7> kFieldPresets;

// How one grid point of the field is drawn: a mark where the map barely moves it, else an
// arrow from (x, y) to its image with two head strokes half as long as the arrow.
struct FieldArrow {
  bool mark = false;
  double angle = 0;               // direction of the arrow, radians
  double length = 0;              // distance from the point to its image
  double wing1X = 0, wing1Y = 0;  // ends of the head strokes
  double wing2X = 0, wing2Y = 0;
};
FieldArrow ArrowOf(double x, double y, double x2, double y2);

class TMainFrm : public forms::TForm {
 public:
  // Creates and loads every component as the form's resource describes them.
  explicit TMainFrm(forms::TComponent* AOwner);

  // The chart with the iteration label above it, and the controls beside it.
  forms::TPanel* PnlChart;
  forms::TPanel* PnlControls;
  TPlotvane* PVData;
  TCifrabox* CfxIter;
  forms::TEdit* EdFuncX;
  forms::TEdit* EdFuncY;
  forms::TComboBox* CBoxFieldType;
  forms::TScrollBar* SBarMagnify;
  platform::Timer Timer1;
  forms::TButton* BButField;
  forms::TButton* BButApply;
  forms::TButton* BButStop;
  forms::TButton* BButExit;
  forms::TButton* BButAbout;
  forms::TMemo* MMExplain1;
  forms::TMemo* MMExplain2;
  forms::TLabel* LblFuncX;
  forms::TLabel* LblFuncY;
  forms::TLabel* LblFieldType;
  forms::TLabel* LblMagnify;
  TvtqDemonClient* cliDemon;
  // The About form the program created beside this one (not owned); may be null.
  TFrmAbout* FrmAbout = nullptr;

  // ---- handlers ----
  void FormShow(forms::TComponent* Sender);
  void CBoxFieldTypeChange(forms::TComponent* Sender);
  void EdFuncXKeyPress(forms::TComponent* Sender, char& Key);
  void BButFieldClick(forms::TComponent* Sender);
  void BButApplyClick(forms::TComponent* Sender);
  void BButStopClick(forms::TComponent* Sender);
  void SBarMagnifyChange(forms::TComponent* Sender);
  void Timer1Timer(forms::TComponent* Sender);
  void BButExitClick(forms::TComponent* Sender);
  void BButAboutClick(forms::TComponent* Sender);

  // Draws the arrows of the field on the grid; a rejected formula ends the drawing and
  // what was drawn is shown.
  void DrawField();

  // The formula's value at (x, y). Err is 0, or -1 when the formula was rejected: the
  // timer then stops and a message names the fault (once per animation step). A failed
  // evaluation gives 0.0 with Err 0.
  double EvaluateFormula(const std::string& Formula, int& Err, double x, double y);
  void FreeFormulaTree(FormulaTree& Tree) { arrowmap::FreeFormulaTree(Tree); }

  bool Busy() const { return busy_; }
  // True once EvaluateFormula has rejected a formula.
  bool FormulaRejected() const { return formulaRejected_; }
  std::string Translate(const std::string& key) const { return cliDemon->Translate(key); }

 private:
  bool busy_ = false;
  bool formulaRejected_ = false;
  // Inside an animation step: a rejected formula is reported only the first time.
  bool inStep_ = false;
  bool stepReported_ = false;
};

}  // namespace arrowmap
