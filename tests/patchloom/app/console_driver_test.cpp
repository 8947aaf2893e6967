// The patchloom command line: usage errors, one session of several commands, each
// command once, and the failures that give exit status 1.
#include "patchloom/app/console_driver.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app_test_support.h"

namespace {

class ConsoleDriverTest : public ::testing::Test {
 protected:
  ConsoleDriverTest() : clockGuard_(clock_), uiGuard_(ui_), cwd_(dir_.path()) {
    KMeansRandomRestart();
    app_test::WriteTexture(dir_.file("tile.bmp"), 40, 40);
  }
  ~ConsoleDriverTest() override {
    EXPECT_EQ(ui_.waitCursorDepth(), 0);
    EXPECT_EQ(g_controllableExemplar, nullptr);
  }
  int Run(const std::vector<std::string>& args) {
    out_.str("");
    err_.str("");
    return runPatchloom(args, out_, err_);
  }
  std::set<std::string> Files() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
      names.insert(entry.path().filename().string());
    return names;
  }

  platform::FixedClock clock_;
  platform::ScopedClock clockGuard_;
  platform::RecordingUi ui_;
  platform::ScopedUi uiGuard_;
  test_support::TempDir dir_;
  test_support::ScopedWorkingDirectory cwd_;
  std::ostringstream out_, err_;
};

constexpr const char* kNoTime = "Operation Success!\nTime Consuming:0.000000";

TEST_F(ConsoleDriverTest, HelpAndUsageErrors) {
  EXPECT_EQ(Run({"--help"}), 0);
  EXPECT_EQ(out_.str(), patchloomUsage());
  const struct {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{}, "no command given"},
      {{"blend", "tile.bmp"}, "unknown command 'blend'"},
      {{"simple"}, "simple needs an IMAGE"},
      {{"simple", "tile.bmp", "--scale", "2"}, "--scale needs two numbers"},
      {{"simple", "tile.bmp", "--init", "best"}, "--init takes random or interpolated"},
      {{"multi-level", "tile.bmp", "--init", "random"}, "multi-level has no option '--init'"},
      {{"interpolation", "a.bmp", "b.bmp"}, "'b.bmp' is one argument too many"},
      {{"init", "tile.bmp", "constrain"}, "constrain needs at least one --polygon"},
      {{"init", "tile.bmp", "constrain", "--polygon", "1,1 5,5"}, "at least three points"},
      {{"init", "tile.bmp", "constrain", "--polygon", "1,1 5;5 9,9"}, "points X,Y"},
      {{"init", "tile.bmp", "constrain", "--polygon", "1,1 5,x 9,9"}, "integer coordinates"},
      {{"save-as"}, "save-as needs an OUTPUT path"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.says);
    EXPECT_EQ(Run(c.args), 2);
    EXPECT_EQ(err_.str().rfind("patchloom: ", 0), 0u);
    EXPECT_NE(err_.str().find(c.says), std::string::npos) << err_.str();
    EXPECT_NE(err_.str().find("usage: patchloom"), std::string::npos);
  }
  EXPECT_EQ(Files(), (std::set<std::string>{"tile.bmp"}));
  EXPECT_TRUE(ui_.events().empty());
}

TEST_F(ConsoleDriverTest, OneSessionDrawsOnTheInitImageAndRunsOnIt) {
  EXPECT_EQ(Run({"init", "tile.bmp", "--scale", "1.2", "1.2", "constrain", "--polygon",
                 "4,6 20,6 20,20 4,20", "--polygon", "10,10 40,12 12,40", "run", "compare",
                 "save-as", "compare.png"}),
            0)
      << err_.str();
  EXPECT_EQ(Files(), (std::set<std::string>{"tile.bmp", "ControllableSyn_Init.bmp",
                                            "ControllableSyn_Rst.bmp", "ControllableSyn_cmpr.bmp",
                                            "compare.png"}));
  EXPECT_EQ(ui_.messages(), (std::vector<std::string>{kNoTime, kNoTime}));
  CImage saved("compare.png");
  EXPECT_EQ(saved.GetWidth(), 48);
}

TEST_F(ConsoleDriverTest, EachCommandWritesItsFiles) {
  const struct {
    std::vector<std::string> args;
    std::set<std::string> files;
    std::vector<std::string> messages;
  } cases[] = {
      {{"interpolation", "tile.bmp", "--scale", "1.5", "1.5"}, {"INTERPOLATE_result.bmp"}, {}},
      {{"simple", "tile.bmp", "--scale", "1.2", "1.2", "--iterations", "1", "--init", "random"},
       {"simple_result.bmp"},
       {kNoTime}},
      {{"multi-level", "tile.bmp", "--scale", "1", "1", "--iterations", "1", "--view-steps"},
       {"Multi_level_1.bmp", "Multi_level_2.bmp", "Multi_level_3.bmp", "Multi_level_4.bmp",
        "Multi_level_5.bmp", "Multi_level_6(FinalRst).bmp"},
       {std::string(kNoTime) + "\nDo you want to view result of each step? "}},
      {{"flow", "tile.bmp", "--fx", "x+2", "--fy", "y-1", "--frames", "2", "--iterations", "1",
        "--weight", "2", "--view-field"},
       {"FlowGuided_Step1.bmp", "FlowGuided_Step2.bmp", "FlowGuided_Rst.bmp"},
       {kNoTime}},
      {{"save-as", "tile.bmp", "tile.jpg"}, {"tile.jpg"}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0]);
    for (const std::string& name : Files())
      if (name != "tile.bmp") std::filesystem::remove(dir_.file(name));
    ui_.clear();
    EXPECT_EQ(Run(c.args), 0) << err_.str();
    std::set<std::string> files = c.files;
    files.insert("tile.bmp");
    EXPECT_EQ(Files(), files);
    EXPECT_EQ(ui_.messages(), c.messages);
    // "View Flow Field" goes to the shell.
    bool opened = false;
    for (const auto& e : ui_.events()) opened |= e.kind == platform::UiEvent::shellOpen;
    EXPECT_EQ(opened, c.args[0] == "flow");
  }
}

TEST_F(ConsoleDriverTest, FailuresGiveStatusOne) {
  const struct {
    std::vector<std::string> args;
    const char* message;  // shown, or written on the error stream
  } cases[] = {
      {{"run", "tile.bmp"}, "run does nothing before init"},
      {{"init", "tile.bmp", "run"}, "run does nothing on a document without constraint polygons"},
      {{"flow", "tile.bmp", "--fx", "x*y"},
       "Invalid Input Flow Field For X or Y\nplease try again!"},
      {{"simple", "missing.bmp"}, "Failed to open document."},
      {{"simple", "tile.bmp", "--scale", "0", "1"}, "Please enter a number between 0.1 and 10."},
      {{"simple", "tile.bmp", "--iterations", "many"}, "Please enter an integer."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    ui_.clear();
    EXPECT_EQ(Run(c.args), 1);
    const std::vector<std::string> shown = ui_.messages();
    const bool said = (!shown.empty() && shown.back() == c.message) ||
                      err_.str().find(c.message) != std::string::npos;
    EXPECT_TRUE(said) << err_.str();
  }
}

// Damaged and unusual inputs: each gives its message and, on the error stream, the
// reason naming the file; no file is left behind and none is changed.
TEST_F(ConsoleDriverTest, DamagedAndUnusualInputsSayWhyAndTouchNoFile) {
  const auto tile = test_support::readFileBytes(dir_.file("tile.bmp"));
  auto cut = tile;
  cut.resize(cut.size() - 100);
  test_support::writeFileBytes(dir_.file("cut.bmp"), cut);
  test_support::writeFileBytes(dir_.file("text.bmp"), {'h', 'e', 'l', 'l', 'o', '\n'});
  test_support::writeFileBytes(dir_.file("text.png"), {'h', 'e', 'l', 'l', 'o', '\n'});
  test_support::writeFileBytes(dir_.file("tile.tif"), tile);
  test_support::writeFileBytes(dir_.file("simple_result.bmp"), tile);
  test_support::writeFileBytes(dir_.file("INTERPOLATE_result.bmp"), tile);
  test_support::writeFileBytes(dir_.file("Multi_level_3.bmp"), tile);
  app_test::WriteTexture(dir_.file("large.bmp"), 1000, 1000);
  const std::set<std::string> before = Files();
  const struct {
    std::vector<std::string> args;
    const char* message;
    const char* reason;
  } cases[] = {
      {{"simple", "missing.bmp"},
       "Failed to open document.",
       "missing.bmp: cannot open: No such file or directory"},
      {{"simple", "tile.tif"}, "Failed to open document.", "tile.tif: the name does not end in"},
      {{"simple", "cut.bmp"},
       "Failed to open document.",
       "cut.bmp: pixel data: 4700 bytes where the rows need 4800"},
      {{"simple", "text.bmp"}, "Failed to open document.", "text.bmp: file header"},
      {{"simple", "text.png"}, "Failed to open document.", "text.png: "},
      {{"simple", "simple_result.bmp"},
       "Operation Failed!",
       "simple_result.bmp is the document's own file"},
      {{"interpolation", "INTERPOLATE_result.bmp"},
       "Operation Failed!",
       "INTERPOLATE_result.bmp is the document's own file"},
      {{"multi-level", "Multi_level_3.bmp"},
       "Operation Failed!",
       "Multi_level_3.bmp is the document's own file"},
      {{"simple", "large.bmp", "--scale", "10", "10"},
       "Operation Failed!",
       "10000 x 10000 pixels, more than an image can hold"},
      {{"save-as", "tile.bmp", "no/such/folder/out.png"}, "Save image error!", "no/such/folder"},
      {{"save-as", "tile.bmp", "out.tif"},
       "Save image error!",
       "out.tif: the name does not end in"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    ui_.clear();
    EXPECT_EQ(Run(c.args), 1);
    const std::vector<std::string> shown = ui_.messages();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back(), c.message);
    std::string reasons;
    for (const auto& e : ui_.events())
      if (e.kind == platform::UiEvent::progress) reasons += e.text + "\n";
    EXPECT_NE(reasons.find(c.reason), std::string::npos) << reasons;
    for (const char* kept : {"simple_result.bmp", "INTERPOLATE_result.bmp", "Multi_level_3.bmp"})
      EXPECT_EQ(test_support::readFileBytes(dir_.file(kept)), tile) << kept;
    EXPECT_EQ(Files(), before);
  }
}

}  // namespace
