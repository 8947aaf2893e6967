#include "quiltbench/app/console_driver.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <ostream>
#include <stdexcept>

#include "platform/console_ui.h"
#include "platform/dialog.h"
#include "platform/forwarding_ui.h"
#include "platform/ui.h"
#include "quiltbench/app/resource.h"
#include "quiltbench/app/synthesis_dialogs.h"
#include "quiltbench/app/video_synthesis_dialog.h"
#include "quiltbench/engine/candidate_search.h"
#include "quiltbench/engine/graph_cut_synthesizer.h"

namespace {

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Passes everything to the backend in force and notes whether a message box (every
// failure is one; success is a question) was shown.
class OutcomeUi final : public platform::ForwardingUi {
 public:
  using ForwardingUi::ForwardingUi;
  bool reportedFailure() const { return failure_; }

  void messageBox(const std::string& text, const std::string& caption) override {
    failure_ = true;
    ForwardingUi::messageBox(text, caption);
  }

 private:
  bool failure_ = false;
};

// A scale the dialog's float field takes: a number that is finite and not rounded to 0
// as a float.
bool isScale(const std::string& text, float& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtof(text.c_str(), &end);
  return *end == '\0' && errno == 0 && std::isfinite(value);
}

// The two scales as one usage error when either is not a positive number or the result
// would be too large even for the smallest sample.
void checkScales(const std::string& x, const std::string& y) {
  float sx = 0, sy = 0;
  if (!isScale(x, sx) || !isScale(y, sy))
    throw UsageError("--scale needs two numbers that a float holds (about 1e-38 to 3e38), not '" +
                     x + "' '" + y + "'");
  std::string reason;
  if (!PlanSynthesis(kPatchSize, kPatchSize, sx, sy, true, kFftSearch, false, reason))
    throw UsageError("--scale " + x + " " + y + ": " + reason);
}

bool endsWithAny(const std::string& path, std::initializer_list<const char*> extensions) {
  std::string lower = path;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const char* e : extensions) {
    const std::string ext = e;
    if (lower.size() > ext.size() && lower.compare(lower.size() - ext.size(), ext.size(), ext) == 0)
      return true;
  }
  return false;
}

// What every command takes: one input, "-o OUTPUT" and "--view"/"--no-view".
struct CommandPaths {
  std::string input, output;
};

using NextValue = std::function<const std::string&(const char* needs)>;

// Reads the arguments after the command word. `ownOption(a, next)` takes the command's own
// options and returns false for one it does not know; `next` yields the option's values.
// Sets the answer to the offer to view the result.
CommandPaths readCommand(
    const std::vector<std::string>& args, const std::string& inputNoun,
    const std::function<bool(const std::string&, const NextValue&)>& ownOption) {
  CommandPaths paths;
  bool haveInput = false;
  bool view = false;
  for (std::size_t k = 1; k < args.size(); ++k) {
    const std::string& a = args[k];
    const NextValue next = [&](const char* needs) -> const std::string& {
      if (k + 1 >= args.size()) throw UsageError(a + " needs " + needs);
      return args[++k];
    };
    if (a == "-o" || a == "--output") {
      paths.output = next("an output path");
    } else if (a == "--view" || a == "--no-view") {
      view = a == "--view";
    } else if (ownOption(a, next)) {
    } else if (!a.empty() && a[0] == '-') {
      throw UsageError("unknown option '" + a + "'");
    } else if (!haveInput) {
      paths.input = a;
      haveInput = true;
    } else {
      throw UsageError("one input " + inputNoun + " only, '" + a + "' is one too many");
    }
  }
  if (!haveInput) throw UsageError(args[0] + " needs an INPUT " + inputNoun);
  platform::consoleUi().setYesNoAnswer(view);
  return paths;
}

// The script a user would follow in the Single Image Synthesis dialog for these arguments.
void scriptSingleImage(const std::vector<std::string>& args, platform::DialogScript& script) {
  std::vector<platform::DialogAction> options;
  const CommandPaths paths =
      readCommand(args, "image", [&](const std::string& a, const NextValue& next) {
        if (a == "--scale") {
          const std::string x = next("two numbers");
          const std::string y = next("two numbers");
          checkScales(x, y);
          options.push_back({platform::DialogAction::setText, IDC_SCALE_X, x});
          options.push_back({platform::DialogAction::setText, IDC_SCALE_Y, y});
        } else if (a == "--method") {
          const std::string m = next("random, entire or sub");
          int index = m == "random" ? 0 : m == "entire" ? 1 : m == "sub" ? 2 : -1;
          if (index < 0) throw UsageError("--method takes random, entire or sub, not '" + m + "'");
          options.push_back({platform::DialogAction::select, IDC_CANDIDATE_METHOD, {}, index});
        } else if (a == "--search") {
          const std::string s = next("fft or naive");
          if (s != "fft" && s != "naive")
            throw UsageError("--search takes fft or naive, not '" + s + "'");
          options.push_back({platform::DialogAction::check,
                             s == "fft" ? IDC_FFT_SEARCH : IDC_NAIVE_SEARCH,
                             {},
                             1});
        } else if (a == "--no-post-process") {
          options.push_back({platform::DialogAction::check, IDC_POST_PROCESS, {}, 0});
        } else {
          return false;
        }
        return true;
      });

  if (!paths.output.empty() && !endsWithAny(paths.output, {".bmp"}))
    throw UsageError("single-image writes a BMP file: OUTPUT must end in .bmp, not '" +
                     paths.output + "'");
  script.setText(IDC_INPUT_PATH, paths.input);
  script.setText(IDC_OUTPUT_PATH, paths.output);
  script.press(IDC_OPTIONS);
  for (const auto& action : options) script.push(action);
  script.press(platform::IDOK);  // the options dialog's OK
  script.press(platform::IDOK);  // GO>>
}

// The script a user would follow in the Video Synthesis dialog for these arguments.
void scriptVideo(const std::vector<std::string>& args, platform::DialogScript& script) {
  const CommandPaths paths =
      readCommand(args, "video", [](const std::string&, const NextValue&) { return false; });
  if (!paths.output.empty() && !endsWithAny(paths.output, {".mpg", ".mpeg", ".m2v"}))
    throw UsageError(
        "video writes an MPEG-2 video stream: OUTPUT must end in .mpg, .mpeg or "
        ".m2v, not '" +
        paths.output + "'");
  script.setText(IDC_INPUT_PATH, paths.input);
  script.setText(IDC_OUTPUT_PATH, paths.output);
  script.press(platform::IDOK);
}

}  // namespace

std::string quiltbenchUsage() {
  return "usage: quiltbench COMMAND ...\n"
         "\n"
         "Commands:\n"
         "  single-image INPUT [-o OUTPUT] [--scale X Y] [--method random|entire|sub]\n"
         "               [--search fft|naive] [--no-post-process] [--view|--no-view]\n"
         "      Grows the BMP image INPUT into a larger texture through the Single Image\n"
         "      Synthesis dialog and saves it as the BMP file OUTPUT (default\n"
         "      \"C:\\result.bmp\").\n"
         "      --scale      output size as multiples of the input (default 2 2)\n"
         "      --method     candidate patches: random, entire patch or sub-patch search\n"
         "      --search     overlap search through the FFT (default) or directly\n"
         "      --no-post-process  leave the seams unsmoothed\n"
         "      --view       answer Yes when asked to view the result (default No)\n"
         "  video INPUT [-o OUTPUT] [--view|--no-view]\n"
         "      Makes the MPEG video INPUT (at least 11 frames) into a looping MPEG-2 video\n"
         "      through the Video Synthesis dialog and saves it as OUTPUT, a .mpg, .mpeg\n"
         "      or .m2v file (default \".\\MPEG_Result.mpg\").\n"
         "      --view       answer Yes when asked to view the result (default No)\n"
         "  --help\n"
         "      Shows this text.\n"
         "\n"
         "Windows paths map onto this machine: backslashes become slashes and drive C:\n"
         "is the folder named by WORKBENCH_DRIVE_C (the working directory without it).\n";
}

int runQuiltbench(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h" || args[0] == "help")) {
    out << quiltbenchUsage();
    return 0;
  }
  platform::DialogScript& script = platform::dialogScript();
  script.clear();
  try {
    if (args.empty()) throw UsageError("no command given");
    if (args[0] == "single-image")
      scriptSingleImage(args, script);
    else if (args[0] == "video")
      scriptVideo(args, script);
    else
      throw UsageError("unknown command '" + args[0] + "'");
  } catch (const UsageError& e) {
    script.clear();
    err << "quiltbench: " << e.what() << "\n\n" << quiltbenchUsage();
    return 2;
  }

  OutcomeUi outcome(platform::ui());
  platform::ScopedUi scoped(outcome);
  if (args[0] == "video") {
    CVideoSynthesisDialog dialog;
    dialog.DoModal();
  } else {
    CSingleImageDialog dialog;
    dialog.DoModal();
  }
  script.clear();
  return outcome.reportedFailure() ? 1 : 0;
}
