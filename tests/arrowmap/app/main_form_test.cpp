#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "arrowmap/app/main.h"
#include "platform/crt_random.h"
#include "platform/recording_ui.h"

namespace {

using arrowmap::kParticleCount;
using arrowmap::ParticleX;
using arrowmap::ParticleY;
using arrowmap::TChartItem;

constexpr double kPi = 3.141592653589793;

TEST(FieldArrowTest, AngleFollowsTheDirectionOfTheImage) {
  struct Case {
    const char* name;
    double x2, y2;  // image of (0, 0)
    double angle;
  };
  const std::vector<Case> cases = {
      {"right", 1, 0, 0},
      {"up", 0, 1, kPi / 2},
      {"straight down", 0, -1, 3 * kPi / 2},
      {"left", -1, 0, kPi},
      {"left and up", -1, 1, 3 * kPi / 4},
      {"left and down", -1, -1, 5 * kPi / 4},
      {"right and down", 1, -1, -kPi / 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto arrow = arrowmap::ArrowOf(0, 0, c.x2, c.y2);
    ASSERT_FALSE(arrow.mark);
    EXPECT_NEAR(arrow.angle, c.angle, 1e-12);
    const double d = std::hypot(c.x2, c.y2);
    // Both head strokes are half as long as the arrow and lean back 20 degrees from it.
    for (auto [wx, wy] :
         {std::pair{arrow.wing1X, arrow.wing1Y}, std::pair{arrow.wing2X, arrow.wing2Y}}) {
      EXPECT_NEAR(std::hypot(wx - c.x2, wy - c.y2), d / 2, 1e-12);
      const double cosine = ((wx - c.x2) * -c.x2 + (wy - c.y2) * -c.y2) / (d * d / 2);
      EXPECT_NEAR(cosine, std::cos(0.3490658503988659), 1e-12);
    }
  }
}

TEST(FieldArrowTest, StraightDownHeadPointsBackUp) {
  const auto arrow = arrowmap::ArrowOf(2, 4, 2, 3);
  EXPECT_NEAR(arrow.wing1X, 2 - std::sin(0.3490658503988659) * 0.5, 1e-12);
  EXPECT_NEAR(arrow.wing2X, 2 + std::sin(0.3490658503988659) * 0.5, 1e-12);
  EXPECT_NEAR(arrow.wing1Y, 3 + std::cos(0.3490658503988659) * 0.5, 1e-12);
  EXPECT_NEAR(arrow.wing2Y, arrow.wing1Y, 1e-12);
}

TEST(FieldArrowTest, SmallDisplacementsGiveMarks) {
  EXPECT_TRUE(arrowmap::ArrowOf(3, 3, 3, 3).mark);
  EXPECT_TRUE(arrowmap::ArrowOf(3, 3, 3.03, 3.03).mark);  // 0.042 apart
  EXPECT_FALSE(arrowmap::ArrowOf(3, 3, 3, 3.0625).mark);  // 0.0625 apart: an arrow
}

class MainFormTest : public ::testing::Test {
 protected:
  MainFormTest() : scopedUi(ui) {
    platform::srand(12345);
    form.FrmAbout = &about;
  }
  ~MainFormTest() override { forms::SetProcessMessagesHook(nullptr); }

  std::vector<TChartItem> items() const {
    std::vector<TChartItem> list;
    for (int i = 0; i < form.PVData->ItemCount(); ++i) list.push_back(form.PVData->Item(i));
    return list;
  }
  int marks() const { return form.PVData->KindCount(arrowmap::kKindMark); }
  void setFormulas(const std::string& fx, const std::string& fy) {
    form.EdFuncX->SetText(fx);
    form.EdFuncY->SetText(fy);
  }

  platform::RecordingUi ui;
  platform::ScopedUi scopedUi;
  arrowmap::TMainFrm form{nullptr};
  arrowmap::TFrmAbout about{nullptr};
};

TEST_F(MainFormTest, StartsAsTheFormResourceSaysAndShowsTheAboutForm) {
  EXPECT_EQ(form.EdFuncX->Text(), "x+y*0.1");
  EXPECT_EQ(form.EdFuncY->Text(), "y+x*0.1");
  EXPECT_TRUE(form.CfxIter->Empty());
  EXPECT_EQ(form.CfxIter->Text(), "Iteration undefined");
  EXPECT_FALSE(form.Timer1.enabled());
  EXPECT_EQ(form.Timer1.interval(), 500u);
  EXPECT_EQ(form.SBarMagnify->Position(), 400);
  EXPECT_TRUE(form.PVData->Isometric());
  EXPECT_EQ(form.CBoxFieldType->Items.size(), 7u);
  EXPECT_EQ(form.CBoxFieldType->Items[6], "WH_vortex cells");

  form.Show();
  EXPECT_EQ(form.CBoxFieldType->ItemIndex(), 1);
  EXPECT_EQ(form.EdFuncX->Text(), "x+x*0.1");
  EXPECT_EQ(form.EdFuncY->Text(), "y+y*0.1");
  EXPECT_EQ(form.MMExplain1->Lines, std::vector<std::string>{"MMExplain1"});
  EXPECT_GT(form.PVData->ItemCount(), 0);
  ASSERT_EQ(ui.messages().size(), 1u);
  EXPECT_EQ(ui.messages()[0],
            "Arrowmap\nVersion 1.0\n\n"
            "Arrowmap shows a map (x, y) -> (f(x, y), g(x, y)) of the plane as arrows and moves "
            "particles along it.\n\nWeb site: HomePageURL");
  EXPECT_EQ(ui.events()[0].caption, "About");

  form.BButAbout->Click();
  EXPECT_EQ(ui.messages().size(), 2u);
}

TEST_F(MainFormTest, PresetsWriteTheirFormulasAndOtherIndexesKeepTheTexts) {
  for (int i = 0; i < 7; ++i) {
    SCOPED_TRACE(i);
    form.CBoxFieldType->Select(i);
    EXPECT_EQ(form.EdFuncX->Text(), arrowmap::kFieldPresets[i].fx);
    EXPECT_EQ(form.EdFuncY->Text(), arrowmap::kFieldPresets[i].fy);
    EXPECT_GT(form.PVData->ItemCount(), 0);
  }
  setFormulas("x", "y");
  form.CBoxFieldType->Select(-1);
  EXPECT_EQ(form.EdFuncX->Text(), "x");
  EXPECT_EQ(marks(), 121);  // the identity moves nothing
  EXPECT_TRUE(ui.messages().empty());
}

TEST_F(MainFormTest, OpposedMovementMarksTheMiddleColumnAndDrawsVerticalArrows) {
  form.CBoxFieldType->Select(0);
  const auto list = items();
  ASSERT_EQ(list.size(), 11u + 110u * 5u);
  EXPECT_EQ(marks(), 11);
  EXPECT_EQ(form.PVData->KindCount(arrowmap::kKindPenMove), 220);
  EXPECT_EQ(form.PVData->KindCount(arrowmap::kKindLineTo), 330);
  for (std::size_t i = 0; i < list.size();) {
    if (list[i].Kind == arrowmap::kKindMark) {
      EXPECT_EQ(list[i].X, 0.0);
      EXPECT_EQ(list[i].MarkType, 0);
      ++i;
      continue;
    }
    // Move to the point, line to its image straight above or below, wing, move, wing.
    ASSERT_LE(i + 5, list.size());
    const std::uint8_t expected[5] = {arrowmap::kKindPenMove, arrowmap::kKindLineTo,
                                      arrowmap::kKindLineTo, arrowmap::kKindPenMove,
                                      arrowmap::kKindLineTo};
    for (int k = 0; k < 5; ++k) EXPECT_EQ(list[i + k].Kind, expected[k]);
    const TChartItem& from = list[i];
    const TChartItem& tip = list[i + 1];
    EXPECT_EQ(tip.X, from.X);
    EXPECT_NEAR(tip.Y - from.Y, 0.1 * from.X, 1e-12);
    EXPECT_EQ(list[i + 3].X, tip.X);
    EXPECT_EQ(list[i + 3].Y, tip.Y);
    i += 5;
  }
}

TEST_F(MainFormTest, RejectedFormulasAreReportedAndStopTheTimer) {
  struct Case {
    const char* fx;
    const char* message;  // empty: no message
    int err;
  };
  const std::vector<Case> cases = {
      {"(x", "MSG_formula_parantheses", -1},
      {"x*-y", "MSG_formula_right_side", -1},
      {"PI(1)", "MSG_formula_right_side", -1},
      {"1/0", "", 0},
      {"x+1", "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fx);
    ui.clear();
    form.Timer1.setEnabled(true);
    int err = 99;
    form.EvaluateFormula(c.fx, err, 1, 2);
    EXPECT_EQ(err, c.err);
    EXPECT_EQ(form.Timer1.enabled(), c.err == 0);
    if (c.err == 0) {
      EXPECT_TRUE(ui.messages().empty());
    } else {
      EXPECT_EQ(ui.messages(), std::vector<std::string>{c.message});
      EXPECT_EQ(ui.events()[0].caption, "Error");
    }
  }
  form.Timer1.setEnabled(false);

  // Drawing stops at the first rejection and shows what it has: here nothing.
  ui.clear();
  setFormulas("x", "y+(");
  form.EdFuncY->KeyPress('\r');
  EXPECT_EQ(form.PVData->ItemCount(), 0);
  EXPECT_EQ(ui.messages(), std::vector<std::string>{"MSG_formula_parantheses"});
}

TEST_F(MainFormTest, EnterInEitherEditRedrawsOtherKeysOnlyType) {
  form.CBoxFieldType->Select(0);
  form.EdFuncY->SetText("y");
  form.EdFuncY->KeyPress('+');
  EXPECT_EQ(form.EdFuncY->Text(), "y+");
  EXPECT_EQ(marks(), 11);  // not redrawn yet
  form.EdFuncY->KeyPress('\b');
  form.EdFuncY->KeyPress('\r');
  EXPECT_EQ(marks(), 121);
  form.EdFuncX->SetText("x+1");
  form.EdFuncX->KeyPress('\r');
  EXPECT_EQ(marks(), 0);
}

TEST_F(MainFormTest, ApplySeedsParticlesInsideTheDiscAndStartsTheTimer) {
  form.BButApplyClick(&form);
  EXPECT_EQ(form.CfxIter->Value(), 0);
  EXPECT_FALSE(form.CfxIter->Empty());
  EXPECT_EQ(form.SBarMagnify->Position(), 220);
  EXPECT_DOUBLE_EQ(form.PVData->LayerHighX(1), 82.369);
  EXPECT_DOUBLE_EQ(form.PVData->LayerLowX(1), -82.369);
  EXPECT_EQ(form.PVData->ItemCount(), 0);
  EXPECT_TRUE(form.Timer1.enabled());
  EXPECT_TRUE(form.BButStop->Enabled());
  EXPECT_EQ(form.BButStop->Caption(), "Stop");
  double farthest = 0;
  for (int i = 0; i < kParticleCount; ++i)
    farthest = std::max(farthest, std::hypot(ParticleX[i], ParticleY[i]));
  EXPECT_LT(farthest, 10.0);
  EXPECT_GT(farthest, 9.0);  // they fill the disc, not a corner of it
}

TEST_F(MainFormTest, EachTickMovesEveryParticleOnceAndMarksIt) {
  form.CBoxFieldType->Select(1);
  form.BButApplyClick(&form);
  const auto x0 = ParticleX, y0 = ParticleY;
  form.Timer1Timer(&form);
  EXPECT_EQ(form.CfxIter->Value(), 1);
  EXPECT_EQ(marks(), kParticleCount);
  EXPECT_EQ(form.PVData->ItemCount(), kParticleCount);
  EXPECT_EQ(form.PVData->Item(0).Color, 0x800000);
  EXPECT_EQ(form.PVData->Item(0).MarkType, 1);
  for (int i = 0; i < kParticleCount; ++i) {
    ASSERT_DOUBLE_EQ(ParticleX[i], x0[i] * 1.1);
    ASSERT_DOUBLE_EQ(ParticleY[i], y0[i] * 1.1);
  }
  EXPECT_EQ(form.PVData->Item(7).X, ParticleX[7]);
  EXPECT_FALSE(form.Busy());
  EXPECT_TRUE(form.Timer1.enabled());
}

TEST_F(MainFormTest, TheTimerDrivesStepsUntilTheCountPasses9999) {
  form.BButApplyClick(&form);
  form.CfxIter->SetValue(9997);
  platform::timerLoop().run(nullptr);  // ends when the form stops its timer
  EXPECT_EQ(form.CfxIter->Value(), 10000);
  EXPECT_FALSE(form.Timer1.enabled());

  // Continue runs one more tick, which stops again at once.
  form.BButStopClick(&form);
  EXPECT_EQ(form.BButStop->Caption(), "Stop");
  platform::timerLoop().run(nullptr);
  EXPECT_EQ(form.CfxIter->Value(), 10001);
  EXPECT_FALSE(form.Timer1.enabled());
}

TEST_F(MainFormTest, StopAndContinueToggleTheTimer) {
  form.BButFieldClick(&form);
  EXPECT_TRUE(form.CfxIter->Empty());
  form.BButStopClick(&form);
  EXPECT_FALSE(form.CfxIter->Empty());
  EXPECT_TRUE(form.Timer1.enabled());
  EXPECT_EQ(form.BButStop->Caption(), "Stop");
  form.BButStopClick(&form);
  EXPECT_FALSE(form.Timer1.enabled());
  EXPECT_EQ(form.BButStop->Caption(), "Continue");

  form.BButApplyClick(&form);
  form.BButFieldClick(&form);
  EXPECT_FALSE(form.Timer1.enabled());
  EXPECT_TRUE(form.CfxIter->Empty());
  EXPECT_EQ(form.SBarMagnify->Position(), 400);
  EXPECT_GT(form.PVData->ItemCount(), 0);
}

TEST_F(MainFormTest, AFormulaErrorStopsTheTimerButTheStepFinishes) {
  form.CBoxFieldType->Select(1);
  form.BButApplyClick(&form);
  const auto x0 = ParticleX;
  ui.clear();
  form.EdFuncY->SetText("y*(1+x");
  form.Timer1Timer(&form);
  EXPECT_FALSE(form.Timer1.enabled());
  EXPECT_EQ(marks(), 0);
  for (int i = 0; i < kParticleCount; ++i) {
    ASSERT_DOUBLE_EQ(ParticleX[i], x0[i] * 1.1);  // every x' was still computed
    ASSERT_EQ(ParticleY[i], 0.0);                 // the rejected y' reads as 0
  }
  // A thousand particles with the same fault get one message.
  EXPECT_EQ(ui.messages(), std::vector<std::string>{"MSG_formula_parantheses"});
  EXPECT_FALSE(form.Busy());
}

TEST_F(MainFormTest, GoneParticlesAreSkipped) {
  form.CBoxFieldType->Select(1);
  form.BButApplyClick(&form);
  ParticleX[0] = 1e10;
  ParticleY[1] = -2e10;
  ParticleX[2] = std::nan("");
  form.Timer1Timer(&form);
  EXPECT_EQ(marks(), kParticleCount - 3);
  EXPECT_EQ(ParticleX[0], 1e10);
  EXPECT_EQ(ParticleY[1], -2e10);
  EXPECT_TRUE(std::isnan(ParticleX[2]));
}

TEST_F(MainFormTest, TicksArrivingDuringAStepAreTurnedAway) {
  form.BButApplyClick(&form);
  int nested = 0;
  bool busyInside = false;
  forms::SetProcessMessagesHook([&] {
    // Two ticks arrive in the middle of the step, more than a flag toggle would survive.
    if (nested < 2) {
      ++nested;
      busyInside = form.Busy();
      form.Timer1Timer(&form);
      form.Timer1Timer(&form);
    }
  });
  form.Timer1Timer(&form);
  EXPECT_TRUE(busyInside);
  EXPECT_EQ(form.CfxIter->Value(), 1);
  EXPECT_EQ(marks(), kParticleCount);
  EXPECT_FALSE(form.Busy());
}

TEST_F(MainFormTest, MagnificationSetsTheSquareRangeOfLayerOne) {
  const std::vector<std::pair<int, double>> cases = {
      {300, 42.849}, {220, 82.369}, {107, 160.0}, {400, 11.449}};
  for (auto [position, r] : cases) {
    SCOPED_TRACE(position);
    form.SBarMagnify->SetPosition(position);
    EXPECT_DOUBLE_EQ(form.PVData->LayerLowX(1), -r);
    EXPECT_DOUBLE_EQ(form.PVData->LayerHighX(1), r);
    // The plot is not square, so the isometric fit keeps y centred on 0.
    EXPECT_NEAR(form.PVData->LayerLowY(1), -form.PVData->LayerHighY(1), 1e-9);
  }
}

TEST_F(MainFormTest, ExitClosesTheForm) {
  form.BButExit->Click();
  EXPECT_TRUE(form.Closed());
}

}  // namespace
