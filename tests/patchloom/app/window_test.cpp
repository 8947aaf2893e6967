// Patchloom's windows on a (virtual) display, driven through the real widgets: the main
// window, and one session that opens an image, draws a constraint polygon with the mouse
// and keeps it through a controllable run. Screenshots go under the build folder.
#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app_test_support.h"
#include "patchloom/app/desktop_shell.h"
#include "patchloom/app/resource.h"
#include "platform/desktop/testing.h"
#include "platform/forwarding_ui.h"

namespace {

namespace t = platform::desktop::testing;

constexpr const char* kNoTime = "Operation Success!\nTime Consuming:0.000000";

bool FrontTitled(const std::string& title) {
  Fl_Window* w = t::frontWindow();
  return w != nullptr && w->label() != nullptr && title == w->label();
}

// A screenshot of the front window (or `window`) that must show something.
void Screenshot(const std::string& name, Fl_Window* window = nullptr) {
  const std::string path = t::screenshotPath(name);
  ASSERT_TRUE(t::screenshot(path, window)) << path;
  EXPECT_FALSE(t::pngLooksBlank(path)) << path;
}

// Notes what the status bar of `frame` shows right after each progress line.
class StatusWatch final : public platform::ForwardingUi {
 public:
  StatusWatch(platform::Ui& inner, platform::desktop::FrameWindow& frame)
      : ForwardingUi(inner), frame_(frame) {}
  void progress(const std::string& text) override {
    ForwardingUi::progress(text);
    if (frame_.status() == text) ++shown;
  }
  int shown = 0;

 private:
  platform::desktop::FrameWindow& frame_;
};

class WindowTest : public ::testing::Test {
 protected:
  WindowTest() : clockGuard_(clock_), cwd_(dir_.path()) {
    KMeansRandomRestart();
    platform::dialogScript().clear();
    app_test::WriteTexture(dir_.file("tile.bmp"), 96, 80);
  }

  platform::FixedClock clock_;
  platform::ScopedClock clockGuard_;
  test_support::TempDir dir_;
  test_support::ScopedWorkingDirectory cwd_;
};

TEST_F(WindowTest, MainWindowShowsAndClosesCleanly) {
  PatchloomDesktop program;
  ASSERT_TRUE(t::pumpUntil(
      [] { return t::windowTitled("Patchloom") && t::windowTitled("Patchloom")->shown(); }, 1000));
  Fl_Window* main = t::windowTitled("Patchloom");
  EXPECT_NE(t::findWidget("Open", main), nullptr);
  EXPECT_NE(t::findWidget("New", main), nullptr);
  t::pump(50);
  Screenshot("patchloom_main.png", main);

  PatchloomDesktop::Frame(*program.Shell().MainWindow()).close();
  EXPECT_EQ(program.Shell().WindowCount(), 0);
  t::pump(50);
  EXPECT_EQ(Fl::first_window(), nullptr);
}

TEST_F(WindowTest, ADrawnPolygonIsKeptByTheControllableRun) {
  PatchloomDesktop program;
  PatchloomShell& shell = program.Shell();
  CPatchloomApp& app = program.App();
  t::recordMessages();

  t::planFileDialogAnswer(std::string("tile.bmp"));
  ASSERT_TRUE(t::press("Open", t::windowTitled("Patchloom")));
  CPatchloomDoc* tile = app.GetActiveDocument();
  ASSERT_NE(tile, nullptr);
  Fl_Window* tileWindow = t::windowTitled("tile.bmp");
  ASSERT_NE(tileWindow, nullptr);

  // Generate Init Img at scale 1 through its dialog.
  t::addStep([] {
    if (!FrontTitled("Set Result Options")) return false;
    Screenshot("patchloom_result_options.png");
    t::typeText(t::findControl(IDC_SCALE_X), "1");
    t::typeText(t::findControl(IDC_SCALE_Y), "1");
    return t::press("OK");
  });
  ASSERT_TRUE(t::press("Init", tileWindow));
  ASSERT_TRUE(t::runSteps());
  CPatchloomDoc* init = app.GetActiveDocument();
  ASSERT_EQ(init->GetPathName(), "ControllableSyn_Init.bmp");
  Fl_Window* initWindow = t::windowTitled("ControllableSyn_Init.bmp");
  ASSERT_NE(initWindow, nullptr);
  ASSERT_TRUE(t::press("New Area", initWindow));

  // Three clicks and a right click in the view.
  Fl_Widget* canvas = t::canvasOf(PatchloomDesktop::Frame(*shell.WindowOf(init)).view());
  t::click(canvas, 8, 12);
  t::click(canvas, 70, 16);
  t::click(canvas, 24, 68);
  t::click(canvas, 30, 30, 3);
  ASSERT_EQ(init->m_nPolygonCount, 1);
  const CPointArray& stroke = init->PolygonSlot(0);
  EXPECT_EQ(std::vector<CPoint>(stroke.begin(), stroke.end()),
            (std::vector<CPoint>{{8, 12}, {70, 16}, {24, 68}, {8, 12}}));
  t::pump(100);
  Screenshot("patchloom_polygon.png", initWindow);

  t::planAnswer(true);
  {
    platform::desktop::FrameWindow& frame = PatchloomDesktop::Frame(*shell.WindowOf(init));
    StatusWatch watch(platform::ui(), frame);
    platform::ScopedUi guard(watch);
    ASSERT_TRUE(t::press("Run", initWindow));
    EXPECT_GT(watch.shown, 0);  // the run's progress lines went to its window
    EXPECT_EQ(frame.status(), "Ready");
  }
  CPatchloomDoc* result = app.GetActiveDocument();
  ASSERT_EQ(result->GetPathName(), "ControllableSyn_Rst.bmp");
  EXPECT_NE(t::windowTitled("ControllableSyn_Rst.bmp"), nullptr);
  const auto pixels = CPatchloomDoc::BuildConstrainedPixels(
      &init->m_polygons[0][0], init->m_nPolygonCount, init->m_nOriginX, init->m_nOriginY,
      init->m_nDrawnWidth, init->m_nDrawnHeight, init->GetImage()->GetWidth(),
      init->GetImage()->GetHeight());
  ASSERT_GT(pixels->GetSize(), 1500);
  for (const CPoint& p : *pixels) {
    std::uint8_t a[3], b[3];
    init->GetImage()->GetPixelRGB(p.x, p.y, &a[0], &a[1], &a[2]);
    result->GetImage()->GetPixelRGB(p.x, p.y, &b[0], &b[1], &b[2]);
    ASSERT_TRUE(a[0] == b[0] && a[1] == b[1] && a[2] == b[2]) << p.x << ", " << p.y;
  }

  // The flow dialog, seen and cancelled.
  t::addStep([] {
    if (!FrontTitled("Flow-guided Param Options")) return false;
    Screenshot("patchloom_flow_options.png");
    return t::press("Cancel");
  });
  ASSERT_TRUE(t::press("Flow", tileWindow));
  ASSERT_TRUE(t::runSteps());

  ASSERT_EQ(t::shownMessages().size(), 1u);
  EXPECT_EQ(t::shownMessages()[0].text, kNoTime);
  EXPECT_EQ(t::shownMessages()[0].caption, "Patchloom");
  EXPECT_EQ(t::waitCursorDepth(), 0);

  shell.OnAppExit();
  EXPECT_EQ(shell.WindowCount(), 0);
  EXPECT_TRUE(app.GetDocuments().empty());
  t::pump(50);
  EXPECT_EQ(Fl::first_window(), nullptr);
}

}  // namespace
