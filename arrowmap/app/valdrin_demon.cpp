#include "arrowmap/app/valdrin_demon.h"

namespace arrowmap {

void TvtqDemonClient::Loaded() {
  forms::TComponent::Loaded();
  if (Owner() != nullptr) wordhive_.TranslateComponents(*Owner());
}

}  // namespace arrowmap
