// The translator of the viewer's texts. This build carries no language file: every key
// is its own translation.
#pragma once

#include <string>

#include "platform/forms/forms.h"

namespace arrowmap {

class TWordhive2000 {
 public:
  // The text for `key`; the key itself when no translation is known.
  std::string Translate(const std::string& key) const { return key; }
  // Translates the caption of every control owned by `root` that carries the marker "WH_".
  void TranslateComponents(forms::TComponent& root) const;
};

}  // namespace arrowmap
