// The numeric label TCifrabox: shows a number with a fixed count of decimals
// between a left and a right text, or its state text while it is empty.
#pragma once

#include <string>

#include "platform/forms/forms.h"

namespace arrowmap {

class TCifrabox : public forms::TCustomControl {
 public:
  explicit TCifrabox(forms::TComponent* AOwner);

  double Value() const { return value_; }
  void SetValue(double v);
  // While empty the box shows StateText instead of the value.
  bool Empty() const { return empty_; }
  void SetEmpty(bool v);
  // 0..15; other values are clamped.
  int DecPlaces() const { return decPlaces_; }
  void SetDecPlaces(int v);
  const std::string& StateText() const { return stateText_; }
  void SetStateText(const std::string& v);
  const std::string& LeftText() const { return leftText_; }
  void SetLeftText(const std::string& v);
  const std::string& RightText() const { return rightText_; }
  void SetRightText(const std::string& v);
  forms::TFont& Font() { return font_; }
  void SetFontColor(forms::TColor c);

  // The text the box shows now.
  std::string Text() const;

 protected:
  void Paint() override;

 private:
  double value_ = 0;
  bool empty_ = false;
  int decPlaces_ = 2;
  std::string stateText_ = "undefined";
  std::string leftText_;
  std::string rightText_;
  forms::TFont font_;
};

}  // namespace arrowmap
