// The axis control TScale: maps values to pixels and draws the axis line, tick
// marks and tick labels of linear, logarithmic, time and date/time scales, on its
// own canvas or on a canvas a chart hands over.
#pragma once

#include <string>
#include <vector>

#include "arrowmap/components/qdxbase.h"
#include "platform/forms/forms.h"

namespace arrowmap {

enum TFigType { ftNoFigs, ftNum, ftTime, ftDateTime, ftUserText };
// Where the scale sits: below (XB) or above (XT) a plot, left (YL) or right (YR) of it.
enum TScaleType { sctXB, sctXT, sctYL, sctYR };

// One tick as it is drawn: position along the axis in pixels, major or minor, label.
struct TScaleTick {
  double Value = 0;
  int Pixel = 0;
  bool Major = true;
  std::string Label;  // empty for minor ticks and unlabelled ones
};

// Everything one paint draws besides the axis line.
struct TScaleLayout {
  std::vector<TScaleTick> Ticks;
  std::string Notice;  // a text drawn instead of ticks (invalid date/time ranges)
  int NoticePixel = 0;
};

inline constexpr char kInvalidDateTimeScale[] = "invalid DateTime scale";
inline constexpr char kDateTimeBelowOneSecond[] = "DateTime range is below 1 second";
constexpr int kMaxStoredTicks = 50;
constexpr int kMajorTickLength = 6;
constexpr int kMinorTickLength = 4;
constexpr int kLabelDistance = 8;

// The label text of `value` with `decPlaces` decimals (-1: scientific notation with
// three significant digits) on a scale of the given range, before any inscript.
std::string NumberLabel(double value, int decPlaces, double range);
// Puts `label` into `inscript` at its "&", or appends the inscript after it.
std::string ApplyInscript(const std::string& label, const std::string& inscript);
// The label of a time-of-day tick in seconds; with milliseconds for steps below 1 s.
std::string TimeLabel(double seconds, bool withMilliseconds);
// The time step table: step in seconds and minor count of entry 1..27.
double TimeStep(int index);
int TimeMinorCount(int index);

class TScale : public forms::TCustomControl {
 public:
  explicit TScale(forms::TComponent* AOwner);

  double RangeLow() const { return rangeLow_; }
  double RangeHigh() const { return rangeHigh_; }
  void SetRangeLow(double v);
  void SetRangeHigh(double v);
  void SetRange(double low, double high);
  // 2..10; other values are clamped.
  int MinTicks() const { return minTicks_; }
  void SetMinTicks(int v);
  // -3..12; -2 and -3 choose the decimals from the range. Other values are clamped.
  int DecPlaces() const { return decPlaces_; }
  void SetDecPlaces(int v);
  bool Logarithmic() const { return logarithmic_; }
  void SetLogarithmic(bool v);
  bool ShortTicks() const { return shortTicks_; }
  void SetShortTicks(bool v);
  TFigType LabelType() const { return labelType_; }
  void SetLabelType(TFigType v);
  TScaleType ScaleType() const { return scaleType_; }
  void SetScaleType(TScaleType v);
  const TDTLabel& DateFormat() const { return dateFormat_; }
  void SetDateFormat(const TDTLabel& v);
  // Labels of the major ticks in order, separated by "|" (for ftUserText).
  const std::string& UserTickText() const { return userTickText_; }
  void SetUserTickText(const std::string& v);
  // A unit text: "&" marks where the label goes; without "&" it follows the label.
  const std::string& ScaleInscript() const { return scaleInscript_; }
  void SetScaleInscript(const std::string& v);
  int MarginLeft() const { return marginLeft_; }
  int MarginRight() const { return marginRight_; }
  int MarginTop() const { return marginTop_; }
  int MarginBottom() const { return marginBottom_; }
  void SetMargins(int left, int top, int right, int bottom);
  forms::TColor ScaleColor() const { return scaleColor_; }
  void SetScaleColor(forms::TColor c);
  forms::TFont& LabelFont() { return labelFont_; }

  // pixel = factor * value + offset (value as its natural logarithm on a logarithmic scale).
  double ScaleFactor() const { return factor_; }
  double ScaleOffset() const { return offset_; }
  // The pixel of `value`, rounded, within -2147483647..2147483647.
  int ValueToPixel(double value) const;
  // The same before rounding and clamping (for drawing with sub-pixel precision).
  double RealPixel(double value) const;

  // Ticks stored by the last paint (at most 50) and their pixel positions, 1-based;
  // 0 outside 1..NumTicks.
  int NumTicks() const { return numTicks_; }
  double TickPos(int index) const;

  // The ticks, labels and notice that a paint draws now.
  TScaleLayout Layout() const;
  // The decimals linear labels get now (resolving the automatic choices).
  int EffectiveDecPlaces() const;

  // Paints the scale onto `canvas` with this control's top-left corner at (dx, dy).
  // Ticks of vertical scales reach outside the control, towards the plot.
  void DrawOn(forms::TCanvas& canvas, int dx, int dy);

 protected:
  void Paint() override;
  void Resize() override;

 private:
  void rescale();
  bool horizontal() const { return scaleType_ == sctXB || scaleType_ == sctXT; }
  void linearTicks(TScaleLayout& out) const;
  void logTicks(TScaleLayout& out) const;
  void timeTicks(TScaleLayout& out) const;
  void dateTimeTicks(TScaleLayout& out) const;
  void yearTicks(TScaleLayout& out) const;
  void dayTicks(TScaleLayout& out, double stepDays, int style) const;
  void monthTicks(TScaleLayout& out) const;
  std::string linearLabel(double value, int majorIndex) const;
  std::string finishLabel(std::string label) const;
  void addTick(TScaleLayout& out, double value, bool major, std::string label) const;
  void changed();

  double rangeLow_ = 0, rangeHigh_ = 1;
  int minTicks_ = 3;
  int decPlaces_ = -2;
  bool logarithmic_ = false;
  bool shortTicks_ = true;
  TFigType labelType_ = ftNum;
  TScaleType scaleType_ = sctXB;
  TDTLabel dateFormat_;
  std::string userTickText_;
  std::string scaleInscript_;
  int marginLeft_ = 0, marginRight_ = 0, marginTop_ = 0, marginBottom_ = 0;
  forms::TColor scaleColor_ = forms::clBlack;
  forms::TFont labelFont_;
  double factor_ = 0, offset_ = 0;
  int numTicks_ = 0;
  double tickPos_[kMaxStoredTicks] = {};
};

}  // namespace arrowmap
