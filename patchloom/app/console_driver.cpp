#include "patchloom/app/console_driver.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>
#include <ostream>
#include <stdexcept>

#include "patchloom/app/patchloom_app.h"
#include "patchloom/app/patchloom_doc.h"
#include "patchloom/app/resource.h"
#include "patchloom/engine/point_array.h"
#include "platform/console_ui.h"
#include "platform/dialog.h"
#include "platform/ui.h"

namespace {

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Passes everything to the backend in force, answers questions and file dialogs as the
// command line says, and notes whether a message other than a success was shown.
class SessionUi final : public platform::Ui {
 public:
  explicit SessionUi(platform::Ui& inner) : inner_(inner) {}
  bool reportedFailure() const { return failure_; }
  void resetFailure() { failure_ = false; }
  void setAnswer(bool yes) { answer_ = yes; }
  void setSavePath(std::optional<std::string> path) { savePath_ = std::move(path); }

  void messageBox(const std::string& text, const std::string& caption) override {
    if (text.rfind("Operation Success!", 0) != 0) failure_ = true;
    inner_.messageBox(text, caption);
  }
  bool askYesNo(const std::string& text, const std::string& caption) override {
    inner_.askYesNo(text, caption);
    return answer_;
  }
  void beginWaitCursor() override { inner_.beginWaitCursor(); }
  void endWaitCursor() override { inner_.endWaitCursor(); }
  bool shellOpen(const std::string& path, const std::string& verb) override {
    return inner_.shellOpen(path, verb);
  }
  std::optional<std::string> fileDialog(const platform::FileDialogRequest& request) override {
    inner_.fileDialog(request);
    return savePath_;
  }
  void progress(const std::string& text) override { inner_.progress(text); }

 private:
  platform::Ui& inner_;
  bool failure_ = false;
  bool answer_ = false;
  std::optional<std::string> savePath_;
};

enum class Kind { interpolation, simple, multiLevel, flow, init, constrain, run, compare, saveAs };

struct CommandName {
  const char* name;
  Kind kind;
};

constexpr CommandName kCommandNames[] = {
    {"interpolation", Kind::interpolation},
    {"simple", Kind::simple},
    {"multi-level", Kind::multiLevel},
    {"flow", Kind::flow},
    {"init", Kind::init},
    {"constrain", Kind::constrain},
    {"run", Kind::run},
    {"compare", Kind::compare},
    {"save-as", Kind::saveAs},
};

std::optional<Kind> commandKind(const std::string& word) {
  for (const CommandName& c : kCommandNames)
    if (word == c.name) return c.kind;
  return std::nullopt;
}

struct Command {
  Kind kind = Kind::simple;
  std::string name;
  std::optional<std::string> image;
  std::vector<platform::DialogAction> actions;  // typed into the command's dialog
  bool viewField = false;
  bool answerYes = false;
  bool add = false;
  std::vector<CPointArray> strokes;
  std::string output;
};

int parseCoordinate(const std::string& text, const std::string& polygon) {
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno == ERANGE || v < INT_MIN / 4 || v > INT_MAX / 4)
    throw UsageError("--polygon takes points X,Y with integer coordinates, not '" + polygon + "'");
  return static_cast<int>(v);
}

// "X,Y X,Y X,Y ..." (blanks or semicolons between points) as the view records a stroke:
// the points, then the first again.
CPointArray parsePolygon(const std::string& text) {
  CPointArray stroke;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t start = text.find_first_not_of(" ;\t", pos);
    if (start == std::string::npos) break;
    std::size_t stop = text.find_first_of(" ;\t", start);
    if (stop == std::string::npos) stop = text.size();
    const std::string point = text.substr(start, stop - start);
    const std::size_t comma = point.find(',');
    if (comma == std::string::npos)
      throw UsageError("--polygon takes points X,Y, not '" + point + "'");
    stroke.Add(parseCoordinate(point.substr(0, comma), text),
               parseCoordinate(point.substr(comma + 1), text));
    pos = stop;
  }
  if (stroke.GetSize() < 3)
    throw UsageError("a polygon needs at least three points: '" + text + "'");
  stroke.Add(stroke[0]);
  return stroke;
}

std::vector<Command> parseCommands(const std::vector<std::string>& args) {
  std::vector<Command> commands;
  std::size_t k = 0;
  while (k < args.size()) {
    const std::optional<Kind> kind = commandKind(args[k]);
    if (!kind) throw UsageError("unknown command '" + args[k] + "'");
    Command command;
    command.kind = *kind;
    command.name = args[k];
    ++k;
    std::vector<std::string> positionals;
    auto value = [&](const std::string& option, const char* what) -> const std::string& {
      if (k >= args.size()) throw UsageError(command.name + " " + option + " needs " + what);
      return args[k++];
    };
    auto text = [&](int id, const std::string& option, const char* what) {
      command.actions.push_back({platform::DialogAction::setText, id, value(option, what)});
    };
    const bool resultOptions = command.kind == Kind::interpolation ||
                               command.kind == Kind::simple || command.kind == Kind::multiLevel ||
                               command.kind == Kind::init;
    while (k < args.size() && !commandKind(args[k])) {
      const std::string option = args[k++];
      if (option == "--scale" && (resultOptions || command.kind == Kind::flow)) {
        const bool flow = command.kind == Kind::flow;
        text(flow ? IDC_FLOW_SCALE_X : IDC_SCALE_X, option, "two numbers");
        text(flow ? IDC_FLOW_SCALE_Y : IDC_SCALE_Y, option, "two numbers");
      } else if (option == "--iterations" && (resultOptions || command.kind == Kind::flow)) {
        text(command.kind == Kind::flow ? IDC_FLOW_ITERATIONS : IDC_ITERATIONS, option, "a count");
      } else if (option == "--init" && command.kind == Kind::simple) {
        const std::string method = value(option, "random or interpolated");
        const int index = method == "random" ? 0 : method == "interpolated" ? 1 : -1;
        if (index < 0)
          throw UsageError("--init takes random or interpolated, not '" + method + "'");
        command.actions.push_back({platform::DialogAction::select, IDC_INIT_METHOD, {}, index});
      } else if (option == "--view-steps" && command.kind == Kind::multiLevel) {
        command.answerYes = true;
      } else if (option == "--fx" && command.kind == Kind::flow) {
        text(IDC_FLOW_FORMULA_X, option, "a formula");
      } else if (option == "--fy" && command.kind == Kind::flow) {
        text(IDC_FLOW_FORMULA_Y, option, "a formula");
      } else if (option == "--frames" && command.kind == Kind::flow) {
        text(IDC_FLOW_FRAMES, option, "a count");
      } else if (option == "--weight" && command.kind == Kind::flow) {
        text(IDC_FLOW_WEIGHT, option, "a number");
      } else if (option == "--view-field" && command.kind == Kind::flow) {
        command.viewField = true;
      } else if (option == "--add" && command.kind == Kind::constrain) {
        command.add = true;
      } else if (option == "--polygon" && command.kind == Kind::constrain) {
        command.strokes.push_back(parsePolygon(value(option, "a point list")));
      } else if (!option.empty() && option[0] == '-' && option != "-") {
        throw UsageError(command.name + " has no option '" + option + "'");
      } else {
        positionals.push_back(option);
      }
    }
    const std::size_t wanted = command.kind == Kind::saveAs ? 2 : 1;
    if (positionals.size() > wanted)
      throw UsageError(command.name + ": '" + positionals[wanted] + "' is one argument too many");
    if (command.kind == Kind::saveAs) {
      if (positionals.empty()) throw UsageError("save-as needs an OUTPUT path");
      command.output = positionals.back();
      positionals.pop_back();
    }
    if (!positionals.empty()) command.image = positionals.front();
    if (commands.empty() && !command.image) throw UsageError(command.name + " needs an IMAGE");
    if (command.kind == Kind::constrain && command.strokes.empty())
      throw UsageError("constrain needs at least one --polygon");
    commands.push_back(std::move(command));
  }
  if (commands.empty()) throw UsageError("no command given");
  return commands;
}

int commandId(Kind kind, bool add) {
  switch (kind) {
    case Kind::interpolation:
      return ID_INTERPOLATION;
    case Kind::simple:
      return ID_SIMPLE_IMG_SYN;
    case Kind::multiLevel:
      return ID_MULTI_LEVEL_SYN;
    case Kind::flow:
      return ID_FLOW_GUIDED_SYN;
    case Kind::init:
      return ID_GENERATE_INIT_IMG;
    case Kind::constrain:
      return add ? ID_ADD_CONSTRAIN_AREA : ID_NEW_CONSTRAIN_AREA;
    case Kind::run:
      return ID_RUN_AND_RESULT;
    case Kind::compare:
      return ID_SHOW_COMPARE_RESULT;
    case Kind::saveAs:
      return ID_FILE_SAVE_AS;
  }
  return 0;
}

// Runs one command on the session's documents; false when it failed or had nothing to
// act on (said on `err`).
bool runCommand(const Command& command, CPatchloomApp& app, SessionUi& session, std::ostream& err) {
  if (command.image && app.OpenDocumentFile(*command.image) == nullptr) return false;
  CPatchloomDoc* document = app.GetActiveDocument();
  if (document == nullptr) return false;

  const bool needsExemplar =
      command.kind == Kind::constrain || command.kind == Kind::run || command.kind == Kind::compare;
  if (needsExemplar && g_controllableExemplar == nullptr) {
    err << "patchloom: " << command.name
        << " does nothing before init has made a start image (its exemplar)\n";
    return false;
  }
  if (command.kind == Kind::run && document->m_nPolygonCount <= 0) {
    err << "patchloom: run does nothing on a document without constraint polygons\n";
    return false;
  }
  if (command.kind == Kind::saveAs && document->GetImage() == nullptr) {
    err << "patchloom: save-as needs a document with an image\n";
    return false;
  }

  platform::DialogScript& script = platform::dialogScript();
  script.clear();
  if (command.viewField) script.press(IDC_VIEW_FLOW_FIELD);
  for (const platform::DialogAction& action : command.actions) script.push(action);
  script.press(platform::IDOK);
  session.resetFailure();
  session.setAnswer(command.answerYes);
  platform::consoleUi().setYesNoAnswer(command.answerYes);
  session.setSavePath(command.kind == Kind::saveAs ? std::optional<std::string>(command.output)
                                                   : std::nullopt);

  const std::size_t documentsBefore = app.GetDocuments().size();
  const bool ran = document->OnCmdMsg(commandId(command.kind, command.add));
  script.clear();
  if (!ran) return false;
  if (command.kind == Kind::constrain) {
    bool ok = true;
    for (const CPointArray& stroke : command.strokes)
      ok = document->AddConstraintStroke(stroke) && ok;
    return ok;
  }
  if (session.reportedFailure()) return false;
  // A dialog closed by Cancel (the script ran dry after a refused value) did nothing.
  const bool opensResult = command.kind != Kind::saveAs;
  if (opensResult && app.GetDocuments().size() == documentsBefore) {
    err << "patchloom: " << command.name << " ended without a result\n";
    return false;
  }
  return true;
}

}  // namespace

std::string patchloomUsage() {
  return "usage: patchloom COMMAND IMAGE [options] [COMMAND [IMAGE] [options]] ...\n"
         "\n"
         "Each command opens IMAGE (BMP, JPEG, PNG or GIF) as a new document, or without\n"
         "it acts on the document opened last, as the active window of a session. A\n"
         "command's result is written into the working directory under its fixed name\n"
         "and opened as a new document, which the next command then acts on.\n"
         "\n"
         "Commands:\n"
         "  interpolation [IMAGE] [--scale X Y]\n"
         "      Bilinear resampling -> INTERPOLATE_result.bmp\n"
         "  simple [IMAGE] [--scale X Y] [--iterations N] [--init random|interpolated]\n"
         "      Simple Img Syn -> simple_result.bmp\n"
         "  multi-level [IMAGE] [--scale X Y] [--iterations N] [--view-steps]\n"
         "      Multi_level Syn -> Multi_level_1.bmp ... Multi_level_6(FinalRst).bmp;\n"
         "      --view-steps answers Yes to opening the steps (default No)\n"
         "  flow [IMAGE] [--fx F] [--fy G] [--frames N] [--iterations N] [--weight W]\n"
         "       [--scale X Y] [--view-field]\n"
         "      Flow-guided Syn along the linear map (x, y) -> (F, G), in pixels from the\n"
         "      image centre with y up -> FlowGuided_Step1.bmp ... FlowGuided_Rst.bmp;\n"
         "      a scale other than 1 first resizes the image by synthesis;\n"
         "      --view-field presses \"View Flow Field\" (starts Arrowmap)\n"
         "  init [IMAGE] [--scale X Y]\n"
         "      Generate Init Img: the image becomes the exemplar of controllable\n"
         "      synthesis -> ControllableSyn_Init.bmp, where constraints are drawn\n"
         "  constrain [IMAGE] [--add] --polygon \"X,Y X,Y X,Y ...\" ...\n"
         "      New Contrain Area (Add Constrain Area with --add), then each polygon as a\n"
         "      stroke in the view: X from the image's left edge, Y down from its top\n"
         "  run [IMAGE]\n"
         "      Run and Result -> ControllableSyn_Rst.bmp\n"
         "  compare [IMAGE]\n"
         "      Show Compare Result -> ControllableSyn_cmpr.bmp\n"
         "  save-as [IMAGE] OUTPUT\n"
         "      Save As, answering the file dialog with OUTPUT (type from its extension)\n"
         "  --help\n"
         "      Shows this text.\n"
         "\n"
         "Defaults: --scale 2 2 --iterations 5 (interpolation, simple, multi-level,\n"
         "init); flow: --fx x+2 --fy y --frames 10 --iterations 2 --weight 1 --scale 1 1.\n"
         "Example: patchloom init sample.bmp --scale 1.5 1.5 constrain --polygon \\\n"
         "         \"4,4 40,4 40,30\" run compare\n"
         "Messages are printed on standard output, progress on the error stream. Exit\n"
         "status: 0 success, 1 a command failed or had nothing to act on, 2 usage error.\n";
}

int runPatchloom(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h" || args[0] == "help")) {
    out << patchloomUsage();
    return 0;
  }
  std::vector<Command> commands;
  try {
    commands = parseCommands(args);
  } catch (const UsageError& e) {
    err << "patchloom: " << e.what() << "\n\n" << patchloomUsage();
    return 2;
  }

  SessionUi session(platform::ui());
  platform::ScopedUi scoped(session);
  CPatchloomApp app;
  app.InitInstance();
  for (const Command& command : commands) {
    if (!runCommand(command, app, session, err)) return 1;
  }
  return 0;
}
