#include "arrowmap/app/console_commands.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <ostream>

#include "arrowmap/app/main.h"
#include "platform/forms/graphics.h"
#include "platform/forwarding_ui.h"
#include "platform/paths.h"
#include "platform/timer.h"
#include "platform/ui.h"

namespace arrowmap {
namespace {

constexpr char kUsage[] =
    "usage: arrowmap field [--preset N | --fx F --fy G] [--range R] -o FILE.png\n"
    "       arrowmap animate [--preset N | --fx F --fy G] [--range R] --ticks N [--every K]\n"
    "                        [--realtime] -o DIR\n"
    "       arrowmap about\n"
    "       arrowmap --help\n";

constexpr char kHelp[] =
    "Arrowmap shows a map (x, y) -> (f(x, y), g(x, y)) as arrows and moves particles along it.\n"
    "\n"
    "Commands:\n"
    "  field     draws the map as arrows on the 11 x 11 grid over [-10, 10]^2 and writes the\n"
    "            chart as a PNG file\n"
    "  animate   seeds 1000 particles in the disc of radius 10, applies the map once per\n"
    "            500 ms timer tick and writes a PNG of the chart (with the iteration count)\n"
    "            every K ticks into DIR, named iteration_NNNNN.png, and always one of the\n"
    "            last tick that ran\n"
    "  about     prints the About box: the program's name, version and web site\n"
    "\n"
    "Options:\n"
    "  --preset N   one of the seven preset fields: 0 opposed movement, 1 expansion (the\n"
    "               default), 2 circular left, 3 circular right, 4 repelling point,\n"
    "               5 flow around, 6 vortex cells\n"
    "  --fx F       the formula of x' (in x and y), e.g. \"x+y*0.1\"\n"
    "  --fy G       the formula of y'\n"
    "  --range R    half-width of the visible square, 11.449 to 160, in the steps of the\n"
    "               magnification bar (default 11.449 for field, 82.369 for animate)\n"
    "  --ticks N    timer ticks to run (the animation also stops by itself after 10000)\n"
    "  --every K    write a picture every K ticks (default 1)\n"
    "  --realtime   wait 500 ms between ticks instead of running them at once\n"
    "  -o PATH      the PNG file (field; its name ends in .png) or the folder of PNG files\n"
    "               (animate). Windows paths such as C:\\out.png are mapped as the other\n"
    "               programs map them. A picture replaces an old file only when complete.\n"
    "\n"
    "Formulas: + - * / ^, # (remainder of rounded operands), parentheses, numbers such\n"
    "as 2.5E-3, the variables x and y, and ABS ATAN COS EXP FRAC GAUSS INT LN SIN SQR SQRT\n"
    "TAN RAND ROUND PI. Messages of the form are printed on standard output.\n";

struct Options {
  std::string command;
  std::optional<int> preset;
  std::optional<std::string> fx, fy;
  std::optional<double> range;
  std::optional<int> ticks;
  int every = 1;
  bool realtime = false;
  std::string output;
};

template <class T>
bool parseWhole(const std::string& text, T& value) {
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  return result.ec == std::errc() && result.ptr == end && !text.empty();
}

bool hasPngExtension(const std::string& path) {
  std::string extension = std::filesystem::path(platform::hostPath(path)).extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension == ".png";
}

// The options, or the reason they are not usable.
std::optional<Options> parseOptions(const std::vector<std::string>& args, std::string& error) {
  Options o;
  o.command = args.at(0);
  if (o.command != "field" && o.command != "animate") {
    error = "unknown command \"" + o.command + "\"";
    return std::nullopt;
  }
  const bool animate = o.command == "animate";
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) {
        error = a + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    std::string v;
    if (a == "--preset") {
      int n = 0;
      if (!value(v)) return std::nullopt;
      if (!parseWhole(v, n) || n < 0 || n >= static_cast<int>(kFieldPresets.size())) {
        error = "--preset takes a number from 0 to 6";
        return std::nullopt;
      }
      o.preset = n;
    } else if (a == "--fx") {
      if (!value(v)) return std::nullopt;
      o.fx = v;
    } else if (a == "--fy") {
      if (!value(v)) return std::nullopt;
      o.fy = v;
    } else if (a == "--range") {
      double r = 0;
      if (!value(v)) return std::nullopt;
      // The bar's steps run from 107^2 / 1000 to 400^2 / 1000; allow rounding to the ends.
      if (!parseWhole(v, r) || !(r >= 11.4) || !(r <= 160.2)) {
        error = "--range takes a number from 11.449 to 160";
        return std::nullopt;
      }
      o.range = r;
    } else if (a == "--ticks" && animate) {
      int n = 0;
      if (!value(v)) return std::nullopt;
      if (!parseWhole(v, n) || n < 1) {
        error = "--ticks takes a positive number";
        return std::nullopt;
      }
      o.ticks = n;
    } else if (a == "--every" && animate) {
      if (!value(v)) return std::nullopt;
      if (!parseWhole(v, o.every) || o.every < 1) {
        error = "--every takes a positive number";
        return std::nullopt;
      }
    } else if (a == "--realtime" && animate) {
      o.realtime = true;
    } else if (a == "-o") {
      if (!value(o.output)) return std::nullopt;
    } else {
      error = "unknown option \"" + a + "\" for " + o.command;
      return std::nullopt;
    }
  }
  if (o.preset && (o.fx || o.fy)) {
    error = "--preset and --fx/--fy exclude each other";
    return std::nullopt;
  }
  if (o.output.empty()) {
    error = "-o is missing";
    return std::nullopt;
  }
  if (animate && !o.ticks) {
    error = "--ticks is missing";
    return std::nullopt;
  }
  if (!animate && !hasPngExtension(o.output)) {
    error = "field writes a PNG file: \"" + o.output + "\" does not end in .png";
    return std::nullopt;
  }
  return o;
}

// Passes every call on to the backend in force and notes whether the form reported a
// rejected formula.
class WatchingUi final : public platform::ForwardingUi {
 public:
  using ForwardingUi::ForwardingUi;
  bool formulaRejected() const { return formulaRejected_; }

  void messageBox(const std::string& text, const std::string& caption) override {
    if (text.starts_with("MSG_formula_")) formulaRejected_ = true;
    ForwardingUi::messageBox(text, caption);
  }

 private:
  bool formulaRejected_ = false;
};

// Restores the process-wide event hook and timer clock however the command ends.
struct DriverState {
  DriverState() {
    forms::SetProcessMessagesHook([] { platform::timerLoop().processPending(); });
  }
  ~DriverState() {
    forms::SetProcessMessagesHook(nullptr);
    platform::timerLoop().setRealTime(false);
  }
};

void chooseField(TMainFrm& form, const Options& o) {
  if (o.preset) {
    form.CBoxFieldType->Select(*o.preset);
    return;
  }
  if (!o.fx && !o.fy) return;
  if (o.fx) form.EdFuncX->SetText(*o.fx);
  if (o.fy) form.EdFuncY->SetText(*o.fy);
  form.EdFuncX->KeyPress('\r');
}

void chooseRange(TMainFrm& form, const Options& o) {
  if (!o.range) return;
  const int a = static_cast<int>(std::lround(std::sqrt(1000.0 * *o.range)));
  form.SBarMagnify->SetPosition(507 - a);
}

std::string framePath(const std::string& dir, int iteration) {
  char name[32];
  std::snprintf(name, sizeof name, "iteration_%05d.png", iteration);
  return (std::filesystem::path(dir) / name).string();
}

// The reason a typed formula of the form was refused, or "" when both are formulas.
std::string formulaFault(TMainFrm& form) {
  const std::pair<const char*, forms::TEdit*> fields[] = {{"--fx", form.EdFuncX},
                                                          {"--fy", form.EdFuncY}};
  for (const auto& [option, edit] : fields) {
    FormulaRejection rejection;
    EvaluateFormulaText(edit->Text(), 0, 0, rejection);
    if (rejection == FormulaRejection::none) continue;
    return std::string(option) + " \"" + edit->Text() + "\" " +
           (rejection == FormulaRejection::parentheses ? "has unbalanced parentheses"
                                                       : "is not a formula");
  }
  return "";
}

int runField(TMainFrm& form, const Options& o, std::ostream& err) {
  std::string reason;
  if (!form.PVData->Surface().SaveToPNG(o.output, &reason)) {
    err << "arrowmap: " << reason << "\n";
    return 1;
  }
  return 0;
}

int runAnimation(TMainFrm& form, const Options& o, std::ostream& err) {
  const std::string dir = platform::hostPath(o.output);
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (!std::filesystem::is_directory(dir)) {
    err << "arrowmap: cannot create the folder " << dir << "\n";
    return 1;
  }
  form.BButApply->Click();
  chooseRange(form, o);

  int ticks = 0;
  int writtenTick = 0;
  std::string reason;
  forms::TBitmap frame;
  auto writeFrame = [&] {
    const std::string path = framePath(dir, static_cast<int>(form.CfxIter->Value()));
    form.Snapshot(frame);
    if (!frame.SaveToPNG(path, &reason)) return false;
    writtenTick = ticks;
    platform::ui().progress("tick " + std::to_string(ticks) + " of " + std::to_string(*o.ticks) +
                            ": " + path);
    return true;
  };
  form.Timer1.onTimer = [&] {
    if (form.Busy()) {  // a tick inside a running step: the form turns it away
      form.Timer1Timer(&form);
      return;
    }
    form.Timer1Timer(&form);
    ++ticks;
    if (ticks % o.every == 0) writeFrame();
  };
  platform::timerLoop().setRealTime(o.realtime);
  platform::timerLoop().run([&] { return ticks >= *o.ticks || form.Closed() || !reason.empty(); });
  form.Timer1.setEnabled(false);
  // The run ends with its last picture, whether or not K divides the ticks that ran.
  if (reason.empty() && ticks > writtenTick) writeFrame();
  if (!reason.empty()) {
    err << "arrowmap: " << reason << "\n";
    return 1;
  }
  return 0;
}

int runCommand(const Options& o, std::ostream& err) {
  WatchingUi watch(platform::ui());
  platform::ScopedUi scopedUi(watch);
  DriverState driver;

  TMainFrm form(nullptr);
  form.Show();
  const bool field = o.command == "field";
  if (field) chooseRange(form, o);
  chooseField(form, o);
  if (watch.formulaRejected()) {
    // The form has said so; a refused formula leaves no picture and no folder behind.
    err << "arrowmap: " << formulaFault(form) << "; nothing was written\n";
    return 1;
  }
  return field ? runField(form, o, err) : runAnimation(form, o, err);
}

// The About box, as the form fills it when it is shown.
int runAbout() {
  TMainFrm form(nullptr);
  TFrmAbout about(nullptr);
  form.FrmAbout = &about;
  form.Show();
  return 0;
}

}  // namespace

int RunArrowmap(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    err << kUsage;
    return 2;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    out << kUsage << "\n" << kHelp;
    return 0;
  }
  if (args[0] == "about" || args[0] == "--about") {
    if (args.size() > 1) {
      err << "arrowmap: about takes no options\n" << kUsage;
      return 2;
    }
    return runAbout();
  }
  std::string error;
  const std::optional<Options> options = parseOptions(args, error);
  if (!options) {
    err << "arrowmap: " << error << "\n" << kUsage;
    return 2;
  }
  return runCommand(*options, err);
}

}  // namespace arrowmap
