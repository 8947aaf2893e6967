// Axis scaling, tick choice and tick labels of TScale.
#include "arrowmap/components/scale.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "arrowmap/components/math1.h"

namespace arrowmap {
namespace {

constexpr double kLogTolerance = 0.999999999;
// No axis needs more; the bound keeps a degenerate range from looping for long.
constexpr int kMaxTicksPerLoop = 2000;
constexpr double kSecondsPerDay = 86400;

struct TimeStepEntry {
  double seconds;
  int minor;
};
// Entry 0 stands for "too short" and entry 28 for "too long": neither gets ticks.
constexpr TimeStepEntry kTimeSteps[29] = {
    {0, 0},    {0.001, 5}, {0.002, 4}, {0.005, 5}, {0.01, 5}, {0.02, 4}, {0.05, 5}, {0.1, 5},
    {0.2, 4},  {0.5, 5},   {1, 5},     {2, 4},     {5, 5},    {10, 5},   {20, 4},   {30, 6},
    {60, 6},   {120, 6},   {180, 6},   {300, 5},   {600, 5},  {1200, 6}, {1800, 6}, {3600, 6},
    {7200, 4}, {14400, 4}, {21600, 6}, {43200, 6}, {86400, 0}};

std::string formatFixed(double value, int decimals) {
  char buffer[400];
  std::snprintf(buffer, sizeof buffer, "%.*f", std::clamp(decimals, 0, 30), value);
  return buffer;
}

// "d.ddE+ddd" with an exponent of at least three digits.
std::string formatExponent(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.2E", value);
  std::string text = buffer;
  const std::size_t e = text.find('E');
  if (e == std::string::npos || e + 2 > text.size()) return text;  // inf, nan
  std::string digits = text.substr(e + 2);
  while (digits.size() < 3) digits.insert(digits.begin(), '0');
  return text.substr(0, e + 2) + digits;
}

std::string stripTrailingZeros(std::string text) {
  if (text.find('.') == std::string::npos || text.find('E') != std::string::npos) return text;
  while (!text.empty() && text.back() == '0') text.pop_back();
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

std::string field(const std::string& text, int n) {
  std::size_t start = 0;
  for (int i = 1; i < n; ++i) {
    start = text.find('|', start);
    if (start == std::string::npos) return {};
    ++start;
  }
  const std::size_t end = text.find('|', start);
  return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// The largest of 1, 2 and 5 times a power of ten not above `value` (>= 1), and its mantissa.
double niceStepDown(double value, int& mantissa) {
  double power = std::pow(10.0, std::floor(std::log10(value)));
  if (power * 10 <= value) power *= 10;
  if (power > value) power /= 10;
  mantissa = 5 * power <= value ? 5 : (2 * power <= value ? 2 : 1);
  return mantissa * power;
}

std::string yearText(int year, TYearLength length) {
  char buffer[16];
  switch (length) {
    case ylNone:
      return {};
    case ylYY:
      std::snprintf(buffer, sizeof buffer, "%02d", year % 100);
      return buffer;
    case ylYYYY:
      return std::to_string(year);
  }
  return {};
}

}  // namespace

std::string NumberLabel(double value, int decPlaces, double range) {
  std::string text;
  if (std::fabs(value) < 1e-14 * std::fabs(range)) {
    if (std::fabs(range) <= 100000) {
      value = 0;  // fall through to the ordinary format of zero
    } else {
      return decPlaces != 0 ? "0.0" : "0";
    }
  }
  if (decPlaces == -1) {
    text = formatExponent(value);
    const std::size_t e = text.find('E');
    if (e != std::string::npos && e + 5 <= text.size()) {
      const bool small = text.compare(e + 2, 2, "00") == 0;
      text.erase(e + 2, 2);
      // A label that needs more than one exponent digit does not fit the axis.
      if (!small) text.assign(text.size(), '*');
    }
  } else {
    text = formatFixed(value, decPlaces);
  }
  if (text.size() > 14) text.resize(14);
  return text;
}

std::string ApplyInscript(const std::string& label, const std::string& inscript) {
  if (inscript.empty()) return label;
  const std::size_t amp = inscript.find('&');
  if (amp == std::string::npos) return label + inscript;
  if (label.empty()) return label;
  return inscript.substr(0, amp) + label + inscript.substr(amp + 1);
}

std::string TimeLabel(double seconds, bool withMilliseconds) {
  const std::string sign = seconds < 0 ? "-" : " ";
  const double magnitude = std::fabs(seconds);
  if (!(magnitude < 1e15)) return sign + "***";
  const long long totalMs = std::llround(magnitude * 1000);
  const long long totalSeconds = withMilliseconds ? totalMs / 1000 : (totalMs + 500) / 1000;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%lld:%02lld:%02lld", totalSeconds / 3600,
                totalSeconds / 60 % 60, totalSeconds % 60);
  std::string text = sign + buffer;
  if (withMilliseconds) {
    std::snprintf(buffer, sizeof buffer, ".%03lld", totalMs % 1000);
    text += buffer;
  }
  return text;
}

double TimeStep(int index) { return index >= 1 && index <= 27 ? kTimeSteps[index].seconds : 0; }

int TimeMinorCount(int index) { return index >= 1 && index <= 27 ? kTimeSteps[index].minor : 0; }

// ---- TScale ----

TScale::TScale(forms::TComponent* AOwner) : forms::TCustomControl(AOwner) {
  SetColor(forms::clWhite);
  labelFont_.Size = 8;
}

void TScale::changed() {
  rescale();
  Invalidate();
}

void TScale::SetRangeLow(double v) { SetRange(v, rangeHigh_); }
void TScale::SetRangeHigh(double v) { SetRange(rangeLow_, v); }

void TScale::SetRange(double low, double high) {
  if (low == rangeLow_ && high == rangeHigh_) return;
  rangeLow_ = low;
  rangeHigh_ = high;
  changed();
}

void TScale::SetMinTicks(int v) {
  v = std::clamp(v, 2, 10);
  if (v == minTicks_) return;
  minTicks_ = v;
  Invalidate();
}

void TScale::SetDecPlaces(int v) {
  v = std::clamp(v, -3, 12);
  if (v == decPlaces_) return;
  decPlaces_ = v;
  Invalidate();
}

void TScale::SetLogarithmic(bool v) {
  if (v == logarithmic_) return;
  logarithmic_ = v;
  changed();
}

void TScale::SetShortTicks(bool v) {
  if (v == shortTicks_) return;
  shortTicks_ = v;
  Invalidate();
}

void TScale::SetLabelType(TFigType v) {
  if (v == labelType_) return;
  labelType_ = v;
  Invalidate();
}

void TScale::SetScaleType(TScaleType v) {
  if (v == scaleType_) return;
  scaleType_ = v;
  changed();
}

void TScale::SetDateFormat(const TDTLabel& v) {
  dateFormat_ = v;
  Invalidate();
}

void TScale::SetUserTickText(const std::string& v) {
  if (v == userTickText_) return;
  userTickText_ = v;
  Invalidate();
}

void TScale::SetScaleInscript(const std::string& v) {
  if (v == scaleInscript_) return;
  scaleInscript_ = v;
  Invalidate();
}

void TScale::SetMargins(int left, int top, int right, int bottom) {
  marginLeft_ = left;
  marginTop_ = top;
  marginRight_ = right;
  marginBottom_ = bottom;
  changed();
}

void TScale::SetScaleColor(forms::TColor c) {
  if (c == scaleColor_) return;
  scaleColor_ = c;
  Invalidate();
}

void TScale::Resize() {
  forms::TCustomControl::Resize();
  rescale();
}

void TScale::rescale() {
  if (Loading() || rangeLow_ == rangeHigh_) return;
  const bool h = horizontal();
  const int extent =
      h ? Width() - marginLeft_ - marginRight_ - 1 : Height() - marginTop_ - marginBottom_ - 1;
  if (extent <= 0) {
    factor_ = 0;
    offset_ = (h ? Width() : Height()) / 2.0;
    return;
  }
  double low = rangeLow_, high = rangeHigh_;
  if (logarithmic_) {
    if (low <= 0 || high <= 0) return;
    low = std::log(low);
    high = std::log(high);
  }
  if (h) {
    factor_ = extent / (high - low);
    offset_ = marginLeft_ - low * factor_;
  } else {
    factor_ = extent / (low - high);
    offset_ = marginTop_ - high * factor_;
  }
}

double TScale::RealPixel(double value) const {
  if (!logarithmic_) return factor_ * value + offset_;
  if (value > 1e-100) return factor_ * std::log(value) + offset_;
  return rangeHigh_ >= rangeLow_ ? 0 : Width();
}

int TScale::ValueToPixel(double value) const {
  const double p = RealPixel(value);
  if (std::isnan(p)) return 0;
  return static_cast<int>(std::lround(std::clamp(p, -2147483647.0, 2147483647.0)));
}

double TScale::TickPos(int index) const {
  return index >= 1 && index <= numTicks_ ? tickPos_[index - 1] : 0;
}

int TScale::EffectiveDecPlaces() const {
  if (decPlaces_ != -2 && decPlaces_ != -3) return decPlaces_;
  const double d = std::fabs(rangeHigh_ - rangeLow_);
  if (d >= 1000000 || d <= 0.0001) return -1;
  if (d >= 100) return 0;
  return 2 - static_cast<int>(std::lround(std::log(d) / 2.5));
}

std::string TScale::finishLabel(std::string label) const {
  return ApplyInscript(label, scaleInscript_);
}

std::string TScale::linearLabel(double value, int majorIndex) const {
  switch (labelType_) {
    case ftNoFigs:
      return {};
    case ftUserText:
      return finishLabel(field(userTickText_, majorIndex));
    default:
      return finishLabel(NumberLabel(value, EffectiveDecPlaces(), rangeHigh_ - rangeLow_));
  }
}

void TScale::addTick(TScaleLayout& out, double value, bool major, std::string label) const {
  out.Ticks.push_back(
      {value, ValueToPixel(value), major, labelType_ == ftNoFigs ? std::string() : label});
}

void TScale::linearTicks(TScaleLayout& out) const {
  double first = 0, step = 0;
  int minor = 0;
  if (!TickSteps(minTicks_, rangeHigh_, rangeLow_, first, step, minor)) return;
  const double direction = rangeHigh_ > rangeLow_ ? 1 : -1;
  // The end test allows the same small overshoot whichever way the axis runs, so a
  // reversed axis keeps the tick on its high end.
  const double tolerance = 0.001 * std::fabs(step);
  int n = 0;
  for (double tick = first; n < kMaxTicksPerLoop && tolerance >= (tick - rangeHigh_) * direction;
       tick = first + ++n * step) {
    addTick(out, tick, true, linearLabel(tick, n + 1));
  }
  if (!shortTicks_) return;
  const double start = first - step, minorStep = step / minor;
  for (int j = 1; j < kMaxTicksPerLoop; ++j) {
    const double tick = start + j * minorStep;
    if (tolerance < (tick - rangeHigh_) * direction) break;
    if (j % minor == 0 || (tick - rangeLow_) * direction < -tolerance)
      continue;  // majors and before the range
    addTick(out, tick, false, {});
  }
}

void TScale::logTicks(TScaleLayout& out) const {
  const double lowEnd = std::min(rangeLow_, rangeHigh_), highEnd = std::max(rangeLow_, rangeHigh_);
  const double decades = std::fabs(std::log10(rangeHigh_ / rangeLow_));
  const bool intermediates = minTicks_ > decades + 0.5;
  const bool automatic = decPlaces_ == -2 || decPlaces_ == -3;
  auto label = [&](double value, int exponent, bool decade) -> std::string {
    if (labelType_ == ftNoFigs) return {};
    if (!automatic) return finishLabel(NumberLabel(value, decPlaces_, 0));
    if (decade && decPlaces_ == -3) return finishLabel(std::to_string(exponent));
    if (value >= 1000000 || value < 0.0001) return finishLabel(NumberLabel(value, -1, 0));
    const int decimals = std::max(0, -static_cast<int>(std::floor(std::log10(value) + 1e-9))) + 2;
    return finishLabel(stripTrailingZeros(NumberLabel(value, decimals, 0)));
  };
  auto inRange = [&](double v) {
    return v >= lowEnd * kLogTolerance && v * kLogTolerance <= highEnd;
  };
  int exponent = static_cast<int>(std::floor(std::log10(lowEnd * kLogTolerance)));
  for (int n = 0; n < kMaxTicksPerLoop; ++n, ++exponent) {
    const double decade = std::pow(10.0, exponent);
    if (highEnd < kLogTolerance * decade || !std::isfinite(decade)) break;
    if (inRange(decade)) addTick(out, decade, true, label(decade, exponent, true));
    if (!intermediates) continue;
    for (int m = 2; m <= 9; ++m) {
      const double v = m * decade;
      if (!inRange(v)) continue;
      if (m == 2 || m == 5) {
        addTick(out, v, true, label(v, exponent, false));
      } else if (shortTicks_) {
        addTick(out, v, false, {});
      }
    }
  }
}

void TScale::timeTicks(TScaleLayout& out) const {
  const double perTick = std::fabs(rangeHigh_ - rangeLow_) / minTicks_;
  int index = 28;
  while (index >= 1 && kTimeSteps[index].seconds > perTick) --index;
  if (index == 0 || index == 28) return;
  const double direction = rangeHigh_ > rangeLow_ ? 1 : -1;
  const double step = kTimeSteps[index].seconds * direction;
  const double tolerance = 0.001 * std::fabs(step);
  const double first = direction > 0
                           ? std::ceil(rangeLow_ / std::fabs(step) - 0.001) * std::fabs(step)
                           : std::floor(rangeLow_ / std::fabs(step) + 0.001) * std::fabs(step);
  const bool milliseconds = index <= 9;
  int n = 0;
  for (double tick = first; n < kMaxTicksPerLoop && tolerance >= (tick - rangeHigh_) * direction;
       tick = first + ++n * step) {
    std::string text =
        labelType_ == ftNoFigs ? std::string() : finishLabel(TimeLabel(tick, milliseconds));
    addTick(out, tick, true, text);
  }
  if (!shortTicks_) return;
  const int minor = kTimeSteps[index].minor;
  const double minorStep = step / minor;
  for (int j = 1; j < kMaxTicksPerLoop; ++j) {
    const double tick = first - step + j * minorStep;
    if (tolerance < (tick - rangeHigh_) * direction) break;
    if (j % minor == 0 || (tick - rangeLow_) * direction < -tolerance) continue;
    addTick(out, tick, false, {});
  }
}

void TScale::dateTimeTicks(TScaleLayout& out) const {
  if (!(rangeHigh_ >= rangeLow_ && rangeLow_ >= -693593 && rangeHigh_ <= 3000000)) {
    out.Notice = kInvalidDateTimeScale;
    out.NoticePixel = ValueToPixel((rangeLow_ + rangeHigh_) / 2);
    return;
  }
  const double perTick = (rangeHigh_ - rangeLow_) / minTicks_;
  if (perTick <= 1.1574e-5) {
    out.Notice = kDateTimeBelowOneSecond;
    out.NoticePixel = ValueToPixel((rangeLow_ + rangeHigh_) / 2);
    return;
  }
  const double seconds = perTick * kSecondsPerDay;
  auto pick = [&](std::initializer_list<double> steps) {
    double chosen = *steps.begin();
    for (double s : steps) {
      if (s <= seconds) chosen = s;
    }
    return chosen / kSecondsPerDay;
  };
  if (perTick <= 6.9444e-4) {
    dayTicks(out, pick({1, 2, 5, 10, 15, 30}), 1);
  } else if (perTick <= 0.041667) {
    dayTicks(out, pick({60, 120, 300, 600, 900, 1800}), 2);
  } else if (perTick <= 1) {
    dayTicks(out, pick({3600, 7200, 10800, 21600, 43200}), 2);
  } else if (perTick <= 30) {
    dayTicks(out, pick({86400, 2 * 86400.0, 7 * 86400.0, 14 * 86400.0}), 3);
  } else if (perTick <= 366) {
    monthTicks(out);
  } else {
    yearTicks(out);
  }
}

// Ticks at multiples of `stepDays`; `style` 1 labels hh:nn:ss, 2 hh:nn, 3 the day and month.
void TScale::dayTicks(TScaleLayout& out, double stepDays, int style) const {
  const double first = std::ceil(rangeLow_ / stepDays - 1e-9);
  for (int n = 0; n < kMaxTicksPerLoop; ++n) {
    const double tick = (first + n) * stepDays;
    if (tick > rangeHigh_ + 1e-9 * stepDays) break;
    std::string text;
    if (style == 3) {
      const TCivilDate date = CivilFromDayNumber(std::llround(tick));
      text = std::to_string(date.Day) + dateFormat_.DateSeparator + std::to_string(date.Month) +
             dateFormat_.DateSeparator;
    } else {
      const long long daySeconds = ((std::llround(tick * kSecondsPerDay) % 86400) + 86400) % 86400;
      long long hours = daySeconds / 3600;
      std::string suffix;
      if (dateFormat_.AmPm) {
        suffix = hours < 12 ? " am" : " pm";
        hours = hours % 12 == 0 ? 12 : hours % 12;
      }
      char buffer[32];
      if (style == 1) {
        std::snprintf(buffer, sizeof buffer, "%02lld:%02lld:%02lld", hours, daySeconds / 60 % 60,
                      daySeconds % 60);
      } else {
        std::snprintf(buffer, sizeof buffer, "%02lld:%02lld", hours, daySeconds / 60 % 60);
      }
      text = buffer + suffix;
    }
    addTick(out, tick, true, labelType_ == ftNoFigs ? std::string() : finishLabel(text));
  }
}

void TScale::monthTicks(TScaleLayout& out) const {
  const double monthsPerTick = (rangeHigh_ - rangeLow_) / 30.4375 / minTicks_;
  int step = 1;
  for (int s : {1, 2, 3, 6, 12}) {
    if (s <= monthsPerTick) step = s;
  }
  const TCivilDate low = CivilFromDayNumber(static_cast<long long>(std::floor(rangeLow_)));
  int year = low.Year, month = low.Month;
  for (int n = 0; n < kMaxTicksPerLoop && year <= 9999; ++n) {
    if ((month - 1) % step == 0) {
      const double tick = static_cast<double>(DayNumberFromCivil(year, month, 1));
      if (tick > rangeHigh_) break;
      if (tick >= rangeLow_) {
        std::string text = std::to_string(month);
        const std::string y = yearText(year, dateFormat_.YearLength);
        if (!y.empty()) text += dateFormat_.DateSeparator + y;
        addTick(out, tick, true, labelType_ == ftNoFigs ? std::string() : finishLabel(text));
      }
    }
    if (++month > 12) {
      month = 1;
      ++year;
    }
  }
}

void TScale::yearTicks(TScaleLayout& out) const {
  int mantissa = 1;
  const double yearsPerTick = std::max(1.0, (rangeHigh_ - rangeLow_) / 365.25 / minTicks_);
  const int step = static_cast<int>(niceStepDown(yearsPerTick, mantissa));
  const int lowYear = CivilFromDayNumber(static_cast<long long>(std::floor(rangeLow_))).Year;
  // Ticks sit on 1 January of multiples of the step, strictly after the low end.
  int year = (lowYear + step - 1) / step * step;
  if (static_cast<double>(DayNumberFromCivil(year, 1, 1)) <= rangeLow_) year += step;
  const int firstMajor = year;
  for (int n = 0; n < kMaxTicksPerLoop && year <= 9999; ++n, year += step) {
    const double tick = static_cast<double>(DayNumberFromCivil(year, 1, 1));
    if (tick > rangeHigh_) break;
    const std::string text = labelType_ == ftNoFigs
                                 ? std::string()
                                 : finishLabel(yearText(year, dateFormat_.YearLength));
    addTick(out, tick, true, text);
  }
  if (!shortTicks_) return;
  if (step == 1) {
    // Half a year: 1 July.
    for (int y = lowYear, n = 0; y <= 9999 && n < kMaxTicksPerLoop; ++y, ++n) {
      const double tick = static_cast<double>(DayNumberFromCivil(y, 7, 1));
      if (tick > rangeHigh_) break;
      if (tick > rangeLow_) addTick(out, tick, false, {});
    }
    return;
  }
  const int shortStep = mantissa == 5 ? step / 5 : step / 2;
  int y = firstMajor - step;
  for (int n = 0; y <= 9999 && n < kMaxTicksPerLoop; ++n, y += shortStep) {
    if (y < 1 || (y - firstMajor) % step == 0) continue;
    const double tick = static_cast<double>(DayNumberFromCivil(y, 1, 1));
    if (tick > rangeHigh_) break;
    if (tick > rangeLow_) addTick(out, tick, false, {});
  }
}

TScaleLayout TScale::Layout() const {
  TScaleLayout out;
  switch (labelType_) {
    case ftTime:
      timeTicks(out);
      break;
    case ftDateTime:
      dateTimeTicks(out);
      break;
    default:
      if (logarithmic_ && rangeLow_ > 0 && rangeHigh_ > 0 &&
          std::fabs(std::log10(rangeHigh_ / rangeLow_)) >= 1) {
        logTicks(out);
      } else {
        linearTicks(out);
      }
      break;
  }
  return out;
}

void TScale::DrawOn(forms::TCanvas& canvas, int dx, int dy) {
  numTicks_ = 0;
  TScaleLayout layout = Layout();
  // Ticks lie inside the range; this only keeps pixel sums of degenerate scales in bounds.
  const int reach = std::max(Width(), Height()) + 1000;
  std::erase_if(layout.Ticks,
                [&](const TScaleTick& t) { return t.Pixel < -reach || t.Pixel > reach; });
  layout.NoticePixel = std::clamp(layout.NoticePixel, -reach, reach);
  cairo_t* cr = canvas.Handle();
  cairo_save(cr);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  cairo_set_line_width(cr, 1);
  forms::applyColor(cr, scaleColor_);

  // The axis line lies on the control's edge next to the plot: top for XB, bottom
  // for XT, right for YL, left for YR.
  const int w = Width(), h = Height();
  double lineX = 0, lineY = 0;
  switch (scaleType_) {
    case sctXB:
      lineY = 0;
      break;
    case sctXT:
      lineY = h - 1;
      break;
    case sctYL:
      lineX = w - 1;
      break;
    case sctYR:
      lineX = 0;
      break;
  }
  if (horizontal()) {
    cairo_move_to(cr, dx + marginLeft_, dy + lineY + 0.5);
    cairo_line_to(cr, dx + w - marginRight_, dy + lineY + 0.5);
  } else {
    cairo_move_to(cr, dx + lineX + 0.5, dy + marginTop_);
    cairo_line_to(cr, dx + lineX + 0.5, dy + h - marginBottom_);
  }
  const double sign = (scaleType_ == sctYR || scaleType_ == sctXT) ? -1 : 1;
  for (const TScaleTick& tick : layout.Ticks) {
    const double length = tick.Major ? kMajorTickLength : kMinorTickLength;
    if (horizontal()) {
      cairo_move_to(cr, dx + tick.Pixel + 0.5, dy + lineY + 0.5);
      cairo_line_to(cr, dx + tick.Pixel + 0.5, dy + lineY + 0.5 + sign * length);
    } else {
      cairo_move_to(cr, dx + lineX + 0.5, dy + tick.Pixel + 0.5);
      cairo_line_to(cr, dx + lineX + 0.5 + sign * length, dy + tick.Pixel + 0.5);
    }
    if (numTicks_ < kMaxStoredTicks) tickPos_[numTicks_++] = tick.Pixel;
  }
  cairo_stroke(cr);
  cairo_restore(cr);

  canvas.Font = labelFont_;
  canvas.Font.Color = scaleColor_;
  canvas.Brush.Style = forms::bsClear;
  const int textHeight = canvas.TextHeight("0");
  auto put = [&](int pixel, const std::string& text) {
    if (text.empty()) return;
    const int tw = canvas.TextWidth(text);
    switch (scaleType_) {
      case sctXB:
        canvas.TextOut(dx + pixel - tw / 2, dy + static_cast<int>(lineY) + kLabelDistance, text);
        break;
      case sctXT:
        canvas.TextOut(dx + pixel - tw / 2,
                       dy + static_cast<int>(lineY) - kLabelDistance - textHeight, text);
        break;
      case sctYL:
        canvas.TextOut(dx + static_cast<int>(lineX) - kLabelDistance - tw,
                       dy + pixel - textHeight / 2, text);
        break;
      case sctYR:
        canvas.TextOut(dx + static_cast<int>(lineX) + kLabelDistance, dy + pixel - textHeight / 2,
                       text);
        break;
    }
  };
  for (const TScaleTick& tick : layout.Ticks) put(tick.Pixel, tick.Label);
  put(layout.NoticePixel, layout.Notice);
}

void TScale::Paint() {
  forms::TCanvas& canvas = Canvas();
  canvas.Brush.Color = Color();
  canvas.Brush.Style = forms::bsSolid;
  canvas.FillRect({0, 0, Width(), Height()});
  DrawOn(canvas, 0, 0);
}

}  // namespace arrowmap
