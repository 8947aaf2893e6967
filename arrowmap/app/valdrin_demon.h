// The client component of the learning environment. This build joins no server: the
// client only owns the translator, through which the form reaches every text.
#pragma once

#include <string>

#include "arrowmap/app/wordhive2000.h"
#include "platform/forms/forms.h"

namespace arrowmap {

class TvtqDemonClient : public forms::TComponent {
 public:
  using forms::TComponent::TComponent;

  TWordhive2000& Wordhive() { return wordhive_; }
  std::string Translate(const std::string& key) const { return wordhive_.Translate(key); }
  // Never set in this build: there is no server to fetch files from.
  bool UseValdrinServer() const { return false; }

 protected:
  // Once the owner's components are loaded, the language file is read and their "WH_"
  // captions are translated.
  void Loaded() override;

 private:
  TWordhive2000 wordhive_;
};

}  // namespace arrowmap
