#include "quiltbench/app/console_driver.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <ostream>
#include <stdexcept>

#include "platform/console_ui.h"
#include "platform/dialog.h"
#include "platform/forwarding_ui.h"
#include "platform/ui.h"
#include "quiltbench/app/resource.h"
#include "quiltbench/app/synthesis_dialogs.h"
#include "quiltbench/app/video_synthesis_dialog.h"

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

bool isNumber(const std::string& text) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  return *end == '\0' && errno == 0 && std::isfinite(v);
}

// The script a user would follow in the dialog for these arguments.
void scriptSingleImage(const std::vector<std::string>& args, platform::DialogScript& script) {
  std::string input, output;
  bool haveInput = false;
  std::vector<platform::DialogAction> options;
  bool view = false;
  for (std::size_t k = 1; k < args.size(); ++k) {
    const std::string& a = args[k];
    auto value = [&](const char* what) -> const std::string& {
      if (k + 1 >= args.size()) throw UsageError(a + " needs " + what);
      return args[++k];
    };
    if (a == "-o" || a == "--output") {
      output = value("an output path");
    } else if (a == "--scale") {
      const std::string x = value("two numbers");
      const std::string y = value("two numbers");
      if (!isNumber(x) || !isNumber(y)) throw UsageError("--scale needs two numbers, not '" + x + "' '" + y + "'");
      options.push_back({platform::DialogAction::setText, IDC_SCALE_X, x});
      options.push_back({platform::DialogAction::setText, IDC_SCALE_Y, y});
    } else if (a == "--method") {
      const std::string m = value("random, entire or sub");
      int index = m == "random" ? 0 : m == "entire" ? 1 : m == "sub" ? 2 : -1;
      if (index < 0) throw UsageError("--method takes random, entire or sub, not '" + m + "'");
      options.push_back({platform::DialogAction::select, IDC_CANDIDATE_METHOD, {}, index});
    } else if (a == "--search") {
      const std::string s = value("fft or naive");
      if (s != "fft" && s != "naive") throw UsageError("--search takes fft or naive, not '" + s + "'");
      options.push_back(
          {platform::DialogAction::check, s == "fft" ? IDC_FFT_SEARCH : IDC_NAIVE_SEARCH, {}, 1});
    } else if (a == "--no-post-process") {
      options.push_back({platform::DialogAction::check, IDC_POST_PROCESS, {}, 0});
    } else if (a == "--view") {
      view = true;
    } else if (a == "--no-view") {
      view = false;
    } else if (!a.empty() && a[0] == '-') {
      throw UsageError("unknown option '" + a + "'");
    } else if (!haveInput) {
      input = a;
      haveInput = true;
    } else {
      throw UsageError("one input image only, '" + a + "' is one too many");
    }
  }
  if (!haveInput) throw UsageError("single-image needs an INPUT image");
  platform::consoleUi().setYesNoAnswer(view);

  script.setText(IDC_INPUT_PATH, input);
  script.setText(IDC_OUTPUT_PATH, output);
  script.press(IDC_OPTIONS);
  for (const auto& action : options) script.push(action);
  script.press(platform::IDOK);  // the options dialog's OK
  script.press(platform::IDOK);  // GO>>
}

// The script a user would follow in the Video Synthesis dialog for these arguments.
void scriptVideo(const std::vector<std::string>& args, platform::DialogScript& script) {
  std::string input, output;
  bool haveInput = false;
  bool view = false;
  for (std::size_t k = 1; k < args.size(); ++k) {
    const std::string& a = args[k];
    if (a == "-o" || a == "--output") {
      if (k + 1 >= args.size()) throw UsageError(a + " needs an output path");
      output = args[++k];
    } else if (a == "--view" || a == "--no-view") {
      view = a == "--view";
    } else if (!a.empty() && a[0] == '-') {
      throw UsageError("unknown option '" + a + "'");
    } else if (!haveInput) {
      input = a;
      haveInput = true;
    } else {
      throw UsageError("one input video only, '" + a + "' is one too many");
    }
  }
  if (!haveInput) throw UsageError("video needs an INPUT video");
  platform::consoleUi().setYesNoAnswer(view);

  script.setText(IDC_INPUT_PATH, input);
  script.setText(IDC_OUTPUT_PATH, output);
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
         "      Synthesis dialog and saves it as OUTPUT (default \"C:\\result.bmp\").\n"
         "      --scale      output size as multiples of the input (default 2 2)\n"
         "      --method     candidate patches: random, entire patch or sub-patch search\n"
         "      --search     overlap search through the FFT (default) or directly\n"
         "      --no-post-process  leave the seams unsmoothed\n"
         "      --view       answer Yes when asked to view the result (default No)\n"
         "  video INPUT [-o OUTPUT] [--view|--no-view]\n"
         "      Makes the MPEG video INPUT (at least 11 frames) into a looping MPEG-2 video\n"
         "      through the Video Synthesis dialog and saves it as OUTPUT (default\n"
         "      \".\\MPEG_Result.mpg\").\n"
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
