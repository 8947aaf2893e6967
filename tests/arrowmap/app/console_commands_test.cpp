#include "arrowmap/app/console_commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "platform/recording_ui.h"
#include "tests/support/test_support.h"

namespace {

using Args = std::vector<std::string>;

struct CommandResult {
  int status;
  std::string out, err;
  std::vector<std::string> messages;
};

CommandResult run(const Args& args) {
  platform::RecordingUi ui;
  platform::ScopedUi scoped(ui);
  std::ostringstream out, err;
  const int status = arrowmap::RunArrowmap(args, out, err);
  std::vector<std::string> messages;
  for (const auto& e : ui.events()) {
    if (e.kind == platform::UiEvent::message) messages.push_back(e.text);
  }
  return {status, out.str(), err.str(), messages};
}

// Width and height from a PNG file's header, or 0 x 0 when it is not a PNG.
std::pair<int, int> pngSize(const std::string& path) {
  const auto bytes = test_support::readFileBytes(path);
  const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (bytes.size() < 24 || !std::equal(signature, signature + 8, bytes.begin())) return {0, 0};
  auto be32 = [&](int at) {
    return bytes[at] << 24 | bytes[at + 1] << 16 | bytes[at + 2] << 8 | bytes[at + 3];
  };
  return {be32(16), be32(20)};
}

TEST(ConsoleCommandsTest, BadArgumentsAreUsageErrors) {
  const std::vector<std::pair<Args, std::string>> cases = {
      {{}, "usage:"},
      {{"plot", "-o", "x.png"}, "unknown command \"plot\""},
      {{"field"}, "-o is missing"},
      {{"field", "-o"}, "-o needs a value"},
      {{"field", "--preset", "7", "-o", "x.png"}, "--preset takes a number from 0 to 6"},
      {{"field", "--preset", "1x", "-o", "x.png"}, "--preset takes a number from 0 to 6"},
      {{"field", "--preset", "1", "--fx", "x", "-o", "x.png"}, "exclude each other"},
      {{"field", "--range", "5", "-o", "x.png"}, "--range takes a number from 11.449 to 160"},
      {{"field", "--range", "nan", "-o", "x.png"}, "--range takes"},
      {{"field", "--ticks", "3", "-o", "x.png"}, "unknown option \"--ticks\" for field"},
      {{"animate", "-o", "dir"}, "--ticks is missing"},
      {{"animate", "--ticks", "0", "-o", "dir"}, "--ticks takes a positive number"},
      {{"animate", "--ticks", "2", "--every", "-1", "-o", "dir"},
       "--every takes a positive number"},
  };
  for (const auto& [args, text] : cases) {
    SCOPED_TRACE(text);
    const CommandResult r = run(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(text), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("usage: arrowmap field"), std::string::npos);
  }
}

TEST(ConsoleCommandsTest, HelpListsTheCommands) {
  const CommandResult r = run({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("field"), std::string::npos);
  EXPECT_NE(r.out.find("animate"), std::string::npos);
  EXPECT_TRUE(r.err.empty());
}

TEST(ConsoleCommandsTest, FieldWritesTheChart) {
  test_support::TempDir dir;
  const std::string path = dir.file("field.png");
  const CommandResult r =
      run({"field", "--fx", "x-y*0.1", "--fy", "y+x*0.1", "--range", "20", "-o", path});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(pngSize(path), std::make_pair(640, 640));
  EXPECT_TRUE(r.messages.empty()) << "the About box only when asked";
  EXPECT_TRUE(test_support::hiddenFiles(dir.path()).empty());
}

TEST(ConsoleCommandsTest, AboutShowsTheAboutBox) {
  for (const char* command : {"about", "--about"}) {
    SCOPED_TRACE(command);
    const CommandResult r = run({command});
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_EQ(r.messages[0].rfind("Arrowmap\nVersion 1.0\n", 0), 0u);
  }
  EXPECT_EQ(run({"about", "-o", "x.png"}).status, 2);
}

std::string nestedTan(int depth) {
  std::string text;
  for (int i = 0; i < depth; ++i) text += "TAN(";
  return text + "X" + std::string(depth, ')');
}

// Each refusal gives its status and reason, and leaves the old picture as it was and no
// new file behind.
TEST(ConsoleCommandsTest, DamagedAndUnusualInputs) {
  test_support::TempDir dir;
  const std::string old = dir.file("old.png");
  const std::vector<unsigned char> oldBytes(100, 'o');
  std::filesystem::create_directory(dir.file("folder.png"));
  test_support::writeFileBytes(dir.file("plain-file"), oldBytes);

  struct Case {
    Args args;
    int status;
    std::string reason;   // on the error stream
    std::string message;  // the form's message, or ""
  };
  const std::vector<Case> cases = {
      {{"field", "--fx", "x*-y", "-o", old},
       1,
       "--fx \"x*-y\" is not a formula; nothing was written",
       "MSG_formula_right_side"},
      {{"field", "--fy", "SIN((y)", "-o", old},
       1,
       "--fy \"SIN((y)\" has unbalanced parentheses",
       "MSG_formula_parantheses"},
      {{"animate", "--fy", "(y", "--ticks", "5", "-o", dir.file("frames")},
       1,
       "--fy \"(y\" has unbalanced parentheses; nothing was written",
       "MSG_formula_parantheses"},
      {{"field", "-o", dir.file("out.bmp")}, 2, "field writes a PNG file: \"", ""},
      {{"field", "-o", dir.file("out")}, 2, "does not end in .png", ""},
      {{"field", "-o", dir.file("no/such/folder/x.png")}, 1, "cannot create a file beside", ""},
      {{"field", "-o", dir.file("folder.png")}, 1, "is a folder", ""},
      {{"animate", "--ticks", "1", "-o", dir.file("plain-file")},
       1,
       "cannot create the folder",
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    test_support::writeFileBytes(old, oldBytes);
    const CommandResult r = run(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
    if (!c.message.empty()) {
      EXPECT_EQ(r.messages, std::vector<std::string>{c.message});
    }
    EXPECT_EQ(test_support::readFileBytes(old), oldBytes);
    EXPECT_EQ(test_support::readFileBytes(dir.file("plain-file")), oldBytes);
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
      names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"folder.png", "old.png", "plain-file"}));
    EXPECT_TRUE(std::filesystem::is_empty(dir.file("folder.png")));
  }

  // Unusual but sound: a formula nested as deep as the bounds allow draws at once.
  const CommandResult deep = run({"field", "--fx", nestedTan(30), "-o", old});
  EXPECT_EQ(deep.status, 0) << deep.err;
  EXPECT_EQ(pngSize(old), std::make_pair(640, 640));
}

TEST(ConsoleCommandsTest, WindowsPathsAreMapped) {
  test_support::TempDir dir;
  const char* previous = std::getenv("WORKBENCH_DRIVE_C");
  const std::string saved = previous ? previous : "";
  setenv("WORKBENCH_DRIVE_C", dir.path().c_str(), 1);
  const CommandResult field = run({"field", "-o", "C:\\win.png"});
  const CommandResult animate = run({"animate", "--ticks", "1", "-o", "c:\\frames"});
  if (previous) {
    setenv("WORKBENCH_DRIVE_C", saved.c_str(), 1);
  } else {
    unsetenv("WORKBENCH_DRIVE_C");
  }
  EXPECT_EQ(field.status, 0) << field.err;
  EXPECT_EQ(pngSize(dir.file("win.png")), std::make_pair(640, 640));
  EXPECT_EQ(animate.status, 0) << animate.err;
  EXPECT_EQ(pngSize(dir.file("frames/iteration_00001.png")), std::make_pair(640, 664));
  EXPECT_FALSE(std::filesystem::exists("C:\\win.png"));
  EXPECT_FALSE(std::filesystem::exists("c:\\frames"));
}

TEST(ConsoleCommandsTest, AnimateWritesEveryKthTickAndTheLast) {
  test_support::TempDir dir;
  auto frames = [&](const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
      names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  };
  const std::string everySecond = dir.file("out/frames");
  const CommandResult r =
      run({"animate", "--preset", "6", "--ticks", "5", "--every", "2", "-o", everySecond});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(frames(everySecond),
            (std::vector<std::string>{"iteration_00002.png", "iteration_00004.png",
                                      "iteration_00005.png"}));
  EXPECT_EQ(pngSize(everySecond + "/iteration_00004.png"), std::make_pair(640, 664));

  // Fewer ticks than K: the run still leaves its result.
  const std::string rare = dir.file("rare");
  EXPECT_EQ(run({"animate", "--ticks", "3", "--every", "10", "-o", rare}).status, 0);
  EXPECT_EQ(frames(rare), std::vector<std::string>{"iteration_00003.png"});
}

}  // namespace
