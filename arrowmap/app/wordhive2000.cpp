#include "arrowmap/app/wordhive2000.h"

namespace arrowmap {

void TWordhive2000::TranslateComponents(forms::TComponent& root) const {
  for (int i = 0; i < root.ComponentCount(); ++i) {
    auto* control = dynamic_cast<forms::TControl*>(root.Components(i));
    if (control != nullptr && control->Caption().starts_with("WH_")) {
      control->SetCaption(Translate(control->Caption()));
    }
  }
}

}  // namespace arrowmap
