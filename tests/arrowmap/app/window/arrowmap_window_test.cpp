// Arrowmap's main form and About form in real windows, driven through their widgets.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "arrowmap/app/main.h"
#include "platform/crt_random.h"
#include "platform/desktop/testing.h"
#include "platform/forms/window/testing.h"

namespace {

using namespace forms::window::testing;
using Clock = std::chrono::steady_clock;

class ArrowmapWindowTest : public ::testing::Test {
 protected:
  ArrowmapWindowTest() {
    platform::desktop::startDesktop("Arrowmap");  // as the program starts: its look and its boxes
    platform::srand(7);
    form.FrmAbout = &about;
  }
  // Shows the main form; the About form that FormShow shows modally is pictured and closed
  // with its OK button.
  void start() {
    After(200, [this] {
      aboutShown = Shown(windows, about);
      mainShownUnder = Shown(windows, form);
      const std::string path = ScreenshotPath("arrowmap_about.png");
      aboutPictured = Screenshot(windows, about, path) && !PngLooksBlank(path);
      Click(windows, *about.BButOk);
    });
    form.Show();
  }

  forms::window::FormWindows windows;
  arrowmap::TMainFrm form{nullptr};
  arrowmap::TFrmAbout about{nullptr};
  bool aboutShown = false, mainShownUnder = false, aboutPictured = false;
};

TEST_F(ArrowmapWindowTest, StartsWithItsMainWindowAndTheAboutFormAndClosesCleanly) {
  const auto begin = Clock::now();
  After(0, [&] {
    EXPECT_TRUE(Shown(windows, form));
    EXPECT_LT(Clock::now() - begin, std::chrono::seconds(1));
  });
  start();
  EXPECT_TRUE(aboutShown);
  EXPECT_TRUE(mainShownUnder);
  EXPECT_TRUE(aboutPictured);
  EXPECT_FALSE(Shown(windows, about));
  EXPECT_EQ(WidgetText(windows, *about.LblVersion), "Version 1.0");

  // What FormShow did is on screen.
  EXPECT_EQ(WidgetValue(windows, *form.CBoxFieldType), 1);
  EXPECT_EQ(WidgetText(windows, *form.EdFuncX), "x+x*0.1");
  EXPECT_EQ(WidgetValue(windows, *form.SBarMagnify), 400);
  EXPECT_FALSE(WidgetActive(windows, *form.BButStop));
  const std::string path = ScreenshotPath("arrowmap_field.png");
  ASSERT_TRUE(Screenshot(windows, form, path));
  EXPECT_FALSE(PngLooksBlank(path));

  Click(windows, *form.BButExit);
  EXPECT_TRUE(form.Closed());
  EXPECT_FALSE(Shown(windows, form));
}

TEST_F(ArrowmapWindowTest, AppliedFormulaMovesTheParticlesOnTheTimer) {
  start();
  Type(windows, *form.EdFuncX, "x-y*0.1\r");
  Type(windows, *form.EdFuncY, "y+x*0.1\r");
  EXPECT_EQ(form.EdFuncX->Text(), "x-y*0.1");
  EXPECT_EQ(form.EdFuncY->Text(), "y+x*0.1");

  Click(windows, *form.BButApply);
  EXPECT_TRUE(form.Timer1.enabled());
  EXPECT_EQ(WidgetValue(windows, *form.SBarMagnify), 220);  // the Apply magnification
  const double startX = arrowmap::ParticleX[0];
  const double startY = arrowmap::ParticleY[0];

  Pump(1200);  // the 500 ms timer ticks twice
  const double iterations = form.CfxIter->Value();
  EXPECT_GE(iterations, 2);
  EXPECT_LE(iterations, 3);
  EXPECT_NE(arrowmap::ParticleX[0], startX);
  EXPECT_NE(arrowmap::ParticleY[0], startY);
  EXPECT_EQ(form.PVData->KindCount(arrowmap::kKindMark), arrowmap::kParticleCount);
  const std::string path = ScreenshotPath("arrowmap_main.png");
  ASSERT_TRUE(Screenshot(windows, form, path));
  EXPECT_FALSE(PngLooksBlank(path));

  Click(windows, *form.BButStop);
  EXPECT_FALSE(form.Timer1.enabled());
  EXPECT_EQ(WidgetText(windows, *form.BButStop), "Continue");
  Pump(700);
  EXPECT_EQ(form.CfxIter->Value(), iterations);

  // The magnification bar and the preset list work from their widgets too.
  ScrollTo(windows, *form.SBarMagnify, 300);
  EXPECT_EQ(form.SBarMagnify->Position(), 300);
  EXPECT_NEAR(form.PVData->LayerHighX(1), 207.0 * 207.0 / 1000, 1e-9);
  Choose(windows, *form.CBoxFieldType, 6);
  EXPECT_EQ(WidgetText(windows, *form.EdFuncX), "x+0.8*cos(0.2*y)");
}

TEST_F(ArrowmapWindowTest, ARejectedFormulaIsToldInARealMessageBoxAsASentence) {
  start();
  platform::desktop::testing::recordMessages();
  platform::desktop::testing::planAnswer(true);
  Type(windows, *form.EdFuncX, "(x\r");
  const auto& shown = platform::desktop::testing::shownMessages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "The formula has unbalanced parentheses: every \"(\" needs its \")\".");
  EXPECT_EQ(shown[0].caption, "Error");
  EXPECT_FALSE(form.Timer1.enabled());
}

}  // namespace
