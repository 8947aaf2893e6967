#include "arrowmap/app/about_box.h"

#include "platform/ui.h"

namespace arrowmap {
namespace {

constexpr char kDescriptionEnglish[] =
    "Arrowmap shows a map (x, y) -> (f(x, y), g(x, y)) of the plane as arrows "
    "and moves particles along it.";
constexpr char kDescriptionGerman[] =
    "Arrowmap zeigt eine Abbildung (x, y) -> (f(x, y), g(x, y)) der Ebene als Pfeile "
    "und bewegt Teilchen mit ihr.";

}  // namespace

TFrmAbout::TFrmAbout(forms::TComponent* AOwner) : forms::TForm(AOwner) {
  BeginLoading();
  Name = "FrmAbout";
  SetCaption("About");
  SetVisible(false);
  LblName = new forms::TLabel(this);
  LblVersion = new forms::TLabel(this);
  EdWebAddress = new forms::TEdit(this);
  LblWebSite = new forms::TLabel(this);
  MMDescription = new forms::TMemo(this);
  MMDescription->ReadOnly = true;
  EndLoading();
  SetLanguage("");
}

void TFrmAbout::SetLanguage(const std::string& language) {
  const bool german = language == "lggerman";
  MMDescription->Lines = {german ? kDescriptionGerman : kDescriptionEnglish};
  LblWebSite->SetCaption(german ? "Webseite:" : "Web site:");
}

std::string TFrmAbout::Text() const {
  std::string text = LblName->Caption() + "\n" + LblVersion->Caption() + "\n";
  for (const std::string& line : MMDescription->Lines) text += "\n" + line;
  return text + "\n\n" + LblWebSite->Caption() + " " + EdWebAddress->Text();
}

forms::TModalResult TFrmAbout::ShowModal() {
  forms::TForm::ShowModal();
  platform::ui().messageBox(Text(), Caption());
  ModalResult = forms::mrOk;
  return ModalResult;
}

}  // namespace arrowmap
