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
  auto place = [this](forms::TControl* control, int left, int top, int width, int height) {
    control->SetParent(this);
    control->SetBounds(left, top, width, height);
    return control;
  };
  LblName = new forms::TLabel(this);
  place(LblName, 16, 14, 328, 22);
  LblVersion = new forms::TLabel(this);
  place(LblVersion, 16, 36, 328, 20);
  MMDescription = new forms::TMemo(this);
  MMDescription->ReadOnly = true;
  place(MMDescription, 16, 64, 328, 76);
  LblWebSite = new forms::TLabel(this);
  place(LblWebSite, 16, 152, 80, 24);
  EdWebAddress = new forms::TEdit(this);
  place(EdWebAddress, 100, 152, 244, 24);
  BButOk = new forms::TButton(this);
  BButOk->SetCaption("WH_OK");
  BButOk->OnClick = [this](forms::TComponent*) {
    ModalResult = forms::mrOk;
    Close();
  };
  place(BButOk, 264, 190, 80, 28);
  EndLoading();
  SetBounds(0, 0, 360, 230);
  SetLanguage("");
}

void TFrmAbout::SetLanguage(const std::string& language) {
  const bool german = language == "lggerman";
  MMDescription->SetLines({german ? kDescriptionGerman : kDescriptionEnglish});
  LblWebSite->SetCaption(german ? "Webseite:" : "Web site:");
}

std::string TFrmAbout::Text() const {
  std::string text = LblName->Caption() + "\n" + LblVersion->Caption() + "\n";
  for (const std::string& line : MMDescription->Lines) text += "\n" + line;
  return text + "\n\n" + LblWebSite->Caption() + " " + EdWebAddress->Text();
}

forms::TModalResult TFrmAbout::ShowModal() {
  forms::TForm::ShowModal();
  ModalResult = forms::mrOk;
  return ModalResult;
}

void TFrmAbout::ShowWithoutScreen() { platform::ui().messageBox(Text(), Caption()); }

}  // namespace arrowmap
