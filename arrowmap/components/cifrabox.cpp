// The numeric label.
#include "arrowmap/components/cifrabox.h"

#include <algorithm>
#include <cstdio>

namespace arrowmap {

TCifrabox::TCifrabox(forms::TComponent* AOwner) : forms::TCustomControl(AOwner) {
  font_.Size = 10;
  SetColor(forms::clWhite);
}

void TCifrabox::SetValue(double v) {
  if (v == value_) return;
  value_ = v;
  Invalidate();
}

void TCifrabox::SetEmpty(bool v) {
  if (v == empty_) return;
  empty_ = v;
  Invalidate();
}

void TCifrabox::SetDecPlaces(int v) {
  v = std::clamp(v, 0, 15);
  if (v == decPlaces_) return;
  decPlaces_ = v;
  Invalidate();
}

void TCifrabox::SetStateText(const std::string& v) {
  if (v == stateText_) return;
  stateText_ = v;
  Invalidate();
}

void TCifrabox::SetLeftText(const std::string& v) {
  if (v == leftText_) return;
  leftText_ = v;
  Invalidate();
}

void TCifrabox::SetRightText(const std::string& v) {
  if (v == rightText_) return;
  rightText_ = v;
  Invalidate();
}

void TCifrabox::SetFontColor(forms::TColor c) {
  if (c == font_.Color) return;
  font_.Color = c;
  Invalidate();
}

std::string TCifrabox::Text() const {
  if (empty_) return leftText_ + stateText_ + rightText_;
  char buffer[400];
  std::snprintf(buffer, sizeof buffer, "%.*f", decPlaces_, value_);
  return leftText_ + buffer + rightText_;
}

void TCifrabox::Paint() {
  forms::TCanvas& canvas = Canvas();
  canvas.Brush.Color = Color();
  canvas.Brush.Style = forms::bsSolid;
  canvas.FillRect({0, 0, Width(), Height()});
  canvas.Font = font_;
  canvas.Brush.Style = forms::bsClear;
  const std::string text = Text();
  // Numbers line up on the right; the state text sits where the number would.
  const int x = std::max(2, Width() - 3 - canvas.TextWidth(text));
  const int y = (Height() - canvas.TextHeight(text)) / 2;
  canvas.TextOut(x, y, text);
}

}  // namespace arrowmap
