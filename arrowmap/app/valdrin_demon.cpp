#include "arrowmap/app/valdrin_demon.h"

namespace arrowmap {

void TvtqDemonClient::Loaded() {
  forms::TComponent::Loaded();
  wordhive_.LoadFromFile(TWordhive2000::LanguageFilePath());
  if (Owner() != nullptr) wordhive_.TranslateComponents(*Owner());
}

}  // namespace arrowmap
