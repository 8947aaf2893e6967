// Feeds arbitrary bytes to the viewer's formula chain as a typed formula: normalising,
// the parenthesis check, the parser and the evaluator at two points, as the form runs it.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "arrowmap/app/formula.h"
#include "platform/crt_random.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // The same random numbers for every run of an input, so that a finding replays.
  platform::srand(1);
  for (const auto& [x, y] : {std::pair{1.5, -2.5}, std::pair{0.0, 1e10}}) {
    arrowmap::FormulaRejection rejection;
    const double value = arrowmap::EvaluateFormulaText(text, x, y, rejection);
    // A refused formula must give the failure value.
    if (rejection != arrowmap::FormulaRejection::none && value != 0.0) std::abort();
  }
  return 0;
}
