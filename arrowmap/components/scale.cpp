// Axis scaling, ticks and labels.
#include "arrowmap/components/scale.h"

namespace arrowmap {

std::string NumberLabel(double, int, double) { return {}; }
std::string ApplyInscript(const std::string& label, const std::string&) { return label; }
std::string TimeLabel(double, bool) { return {}; }
double TimeStep(int) { return 0; }
int TimeMinorCount(int) { return 0; }

TScale::TScale(forms::TComponent* AOwner) : forms::TCustomControl(AOwner) {}
void TScale::SetRangeLow(double v) { rangeLow_ = v; }
void TScale::SetRangeHigh(double v) { rangeHigh_ = v; }
void TScale::SetRange(double low, double high) { rangeLow_ = low; rangeHigh_ = high; }
void TScale::SetMinTicks(int v) { minTicks_ = v; }
void TScale::SetDecPlaces(int v) { decPlaces_ = v; }
void TScale::SetLogarithmic(bool v) { logarithmic_ = v; }
void TScale::SetShortTicks(bool v) { shortTicks_ = v; }
void TScale::SetLabelType(TFigType v) { labelType_ = v; }
void TScale::SetScaleType(TScaleType v) { scaleType_ = v; }
void TScale::SetDateFormat(const TDTLabel& v) { dateFormat_ = v; }
void TScale::SetUserTickText(const std::string& v) { userTickText_ = v; }
void TScale::SetScaleInscript(const std::string& v) { scaleInscript_ = v; }
void TScale::SetMargins(int left, int top, int right, int bottom) {
  marginLeft_ = left; marginTop_ = top; marginRight_ = right; marginBottom_ = bottom;
}
void TScale::SetScaleColor(forms::TColor c) { scaleColor_ = c; }
int TScale::ValueToPixel(double) const { return 0; }
double TScale::RealPixel(double) const { return 0; }
double TScale::TickPos(int) const { return 0; }
TScaleLayout TScale::Layout() const { return {}; }
int TScale::EffectiveDecPlaces() const { return decPlaces_; }
void TScale::DrawOn(forms::TCanvas&, int, int) {}
void TScale::Paint() {}
void TScale::Resize() { forms::TCustomControl::Resize(); }
void TScale::Loaded() { forms::TCustomControl::Loaded(); }

}  // namespace arrowmap
