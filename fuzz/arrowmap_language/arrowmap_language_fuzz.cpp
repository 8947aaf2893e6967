// Feeds arbitrary bytes to the translator as a language file, then translates the keys
// the viewer asks for and the captions of a small form.
#include <cstdint>
#include <string>
#include <string_view>

#include "arrowmap/app/wordhive2000.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  arrowmap::TWordhive2000 hive;
  hive.LoadFromText(std::string_view(reinterpret_cast<const char*>(data), size));
  if (hive.Count() > arrowmap::kMaxRecords) __builtin_trap();
  for (const char* key : {"MSG_formula_parantheses", "MMExplain1", "WH_Exit", "", "[", "|$$"}) {
    if (hive.Translate(key).size() > arrowmap::kMaxValueBytes && hive.Translate(key) != key)
      __builtin_trap();
  }
  forms::TForm form(nullptr);
  auto* button = new forms::TButton(&form);
  button->SetCaption("WH_Exit");
  auto* list = new forms::TComboBox(&form);
  list->Items = {"WH_expansion", "WH_vortex cells"};
  hive.TranslateComponents(form);
  return 0;
}
