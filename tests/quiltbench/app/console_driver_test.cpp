// The quiltbench command line: usage errors, --help, and a full run whose options reach
// the engine through the dialogs' controls.
#include "quiltbench/app/console_driver.h"

#include <gtest/gtest.h>

#include <sstream>

#include "platform/bitmap_format.h"
#include "platform/clock.h"
#include "platform/recording_ui.h"
#include "tests/quiltbench/app/app_test_support.h"

namespace {

using Args = std::vector<std::string>;

struct Outcome {
  int status;
  std::string out, err;
};

Outcome runWith(const Args& args) {
  std::ostringstream out, err;
  const int status = runQuiltbench(args, out, err);
  return {status, out.str(), err.str()};
}

TEST(ConsoleDriverTest, BadArgumentsAreUsageErrors) {
  const struct {
    Args args;
    const char* problem;
  } cases[] = {
      {{}, "no command given"},
      {{"grow"}, "unknown command 'grow'"},
      {{"video"}, "video needs an INPUT video"},
      {{"video", "a.mpg", "b.mpg"}, "one input video only"},
      {{"video", "a.mpg", "--loop"}, "unknown option '--loop'"},
      {{"single-image"}, "single-image needs an INPUT image"},
      {{"single-image", "a.bmp", "b.bmp"}, "one input image only"},
      {{"single-image", "a.bmp", "-o"}, "-o needs an output path"},
      {{"single-image", "a.bmp", "--scale", "2"}, "--scale needs two numbers"},
      {{"single-image", "a.bmp", "--scale", "2", "x"}, "--scale needs two numbers"},
      {{"single-image", "a.bmp", "--method", "best"}, "--method takes random, entire or sub"},
      {{"single-image", "a.bmp", "--search", "fast"}, "--search takes fft or naive"},
      {{"single-image", "a.bmp", "--quick"}, "unknown option '--quick'"},
      // Numbers the dialog's float fields cannot hold, or results no sample can give.
      {{"single-image", "a.bmp", "--scale", "1e39", "2"}, "--scale needs two numbers"},
      {{"single-image", "a.bmp", "--scale", "2", "1e-50"}, "--scale needs two numbers"},
      {{"single-image", "a.bmp", "--scale", "0", "2"}, "--scale 0 2: a scale must be positive"},
      {{"single-image", "a.bmp", "--scale", "-2", "2"}, "--scale -2 2: a scale must be positive"},
      {{"single-image", "a.bmp", "--scale", "1e7", "1e7"}, "--scale 1e7 1e7: the result of "},
      // Outputs of a kind the command does not write.
      {{"single-image", "a.bmp", "-o", "out.png"},
       "single-image writes a BMP file: OUTPUT must end in .bmp, not 'out.png'"},
      {{"video", "a.mpg", "-o", "out.avi"},
       "video writes an MPEG-2 video stream: OUTPUT must end in .mpg, .mpeg or .m2v"},
  };
  platform::RecordingUi ui;
  platform::ScopedUi scoped(ui);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.problem);
    const Outcome r = runWith(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(std::string("quiltbench: ") + c.problem), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("usage: quiltbench"), std::string::npos);
    EXPECT_EQ(r.out, "");
  }
  EXPECT_TRUE(ui.events().empty());
}

TEST(ConsoleDriverTest, HelpListsTheCommands) {
  const Outcome r = runWith({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("single-image INPUT [-o OUTPUT] [--scale X Y]"), std::string::npos);
  EXPECT_NE(r.out.find("--help"), std::string::npos);
  EXPECT_EQ(r.err, "");
}

TEST(ConsoleDriverTest, OptionsReachTheEngineAndFailuresExitWithOne) {
  test_support::TempDir dir;
  app_test::writeSampleBmp(dir.file("in.bmp"), 64, 64);
  platform::FixedClock fixedClock;
  platform::ScopedClock scopedClock(fixedClock);
  platform::RecordingUi ui;
  platform::ScopedUi scoped(ui);

  // Scale 1.5 on 64 pixels: (96 - 32) / 24 = 2 more patches, 80 pixels a side.
  Outcome r =
      runWith({"single-image", dir.file("in.bmp"), "-o", dir.file("out.bmp"), "--scale", "1.5",
               "1.5", "--method", "random", "--search", "naive", "--no-post-process"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(ui.messages(),
            std::vector<std::string>{"Operation success! Time Cost: 0.000000 seconds\n\n"
                                     "Would you like to View the result?"});
  EXPECT_EQ(ui.waitCursorDepth(), 0);
  const auto bytes = test_support::readFileBytes(dir.file("out.bmp"));
  ASSERT_GE(bytes.size(), 54u);
  const auto info = platform::loadPacked<platform::BitmapInfoHeader>(bytes.data() + 14);
  EXPECT_EQ(app_test::field(info.width), 80);
  EXPECT_EQ(app_test::field(info.height), 80);

  ui.clear();
  r = runWith({"single-image", dir.file("missing.bmp"), "-o", dir.file("out2.bmp")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(ui.messages(), std::vector<std::string>{"Operation error!"});
  EXPECT_EQ(ui.waitCursorDepth(), 0);
}

}  // namespace
