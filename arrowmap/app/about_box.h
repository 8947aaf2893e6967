// The About form: the program's name, its version, a short description and the address
// of its web site.
#pragma once

#include <string>

#include "platform/forms/forms.h"

namespace arrowmap {

class TFrmAbout : public forms::TForm {
 public:
  explicit TFrmAbout(forms::TComponent* AOwner);

  forms::TLabel* LblName;
  forms::TLabel* LblVersion;
  forms::TEdit* EdWebAddress;
  forms::TLabel* LblWebSite;
  forms::TMemo* MMDescription;
  forms::TButton* BButOk;

  // Fills the description and the web-site caption in German for "lggerman", else in English.
  void SetLanguage(const std::string& language);
  // What the form shows, as one text.
  std::string Text() const;
  // Shows the form and waits for it to be closed; without a screen its text goes to the
  // user interface as a message.
  forms::TModalResult ShowModal();

 protected:
  void ShowWithoutScreen() override;
};

}  // namespace arrowmap
