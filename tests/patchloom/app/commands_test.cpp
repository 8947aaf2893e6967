// The synthesis commands run as a user runs them: options dialog, wait cursor, the
// result written under its fixed name and opened as a new document, and the messages.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app_test_support.h"
#include "patchloom/app/resource.h"

namespace {

using app_test::SessionTest;

constexpr const char* kInvalidFlow = "Invalid Input Flow Field For X or Y\nplease try again!";
constexpr const char* kNoTime = "Operation Success!\nTime Consuming:0.000000";

// Ticks that pass 2^32 between the two readings of a command.
class SteppingClock final : public platform::Clock {
 public:
  std::time_t secondsNow() override { return 1000000000; }
  std::uint32_t tickCount() override {
    const std::uint32_t now = next_;
    next_ += 1250;
    return now;
  }

 private:
  std::uint32_t next_ = 0xFFFFFF00u;
};

class CommandsTest : public SessionTest {
 protected:
  CommandsTest() {
    app_test::WriteTexture(dir_.file("tile.bmp"), 40, 40);
    source_ = Open("tile.bmp");
  }
  void ResultOptions(const char* sx, const char* sy, const char* iterations = "1") {
    script().setText(IDC_SCALE_X, sx);
    script().setText(IDC_SCALE_Y, sy);
    script().setText(IDC_ITERATIONS, iterations);
  }
  void FlowOptions(const char* fx, const char* fy, const char* scale = "1") {
    script().setText(IDC_FLOW_FORMULA_X, fx);
    script().setText(IDC_FLOW_FORMULA_Y, fy);
    script().setText(IDC_FLOW_FRAMES, "2");
    script().setText(IDC_FLOW_ITERATIONS, "1");
    script().setText(IDC_FLOW_SCALE_X, scale);
    script().setText(IDC_FLOW_SCALE_Y, scale);
  }
  static std::pair<int, int> SizeOf(const CPatchloomDoc* doc) {
    return {doc->GetImage()->GetWidth(), doc->GetImage()->GetHeight()};
  }
  CPatchloomDoc* source_ = nullptr;
};

TEST_F(CommandsTest, CancelLeavesNothing) {
  const struct {
    int id;
    const char* name;
    bool refusedValue;  // OK pressed on a value out of range first
  } cases[] = {
      {ID_INTERPOLATION, "Interpolation", false},
      {ID_SIMPLE_IMG_SYN, "Simple Img Syn", false},
      {ID_MULTI_LEVEL_SYN, "Multi_level Syn", false},
      {ID_FLOW_GUIDED_SYN, "Flow-guided Syn", false},
      {ID_GENERATE_INIT_IMG, "Generate Init Img", false},
      {ID_SIMPLE_IMG_SYN, "scale 0", true},
      {ID_FLOW_GUIDED_SYN, "no frames", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ui().clear();
    if (c.refusedValue) {
      const bool flow = c.id == ID_FLOW_GUIDED_SYN;
      script().setText(flow ? IDC_FLOW_FRAMES : IDC_SCALE_X, "0");
      script().press(platform::IDOK);
    }
    EXPECT_TRUE(source_->OnCmdMsg(c.id));
    EXPECT_EQ(Files(), (std::set<std::string>{"tile.bmp"}));
    EXPECT_EQ(app_.GetDocuments().size(), 1u);
    EXPECT_EQ(ui().waitCursorBegins(), 0);
    EXPECT_EQ(ui().messages().size(), c.refusedValue ? 1u : 0u);
    EXPECT_EQ(g_controllableExemplar, nullptr);
  }
}

TEST_F(CommandsTest, SimpleSynthesisWritesItsResultAndTheTime) {
  SteppingClock ticks;
  platform::ScopedClock guard(ticks);
  ResultOptions("1.2", "1.2");
  script().select(IDC_INIT_METHOD, 1);
  script().press(platform::IDOK);
  source_->OnCmdMsg(ID_SIMPLE_IMG_SYN);
  EXPECT_EQ(Files(), (std::set<std::string>{"tile.bmp", "simple_result.bmp"}));
  EXPECT_EQ(DocumentPaths(), (std::vector<std::string>{"tile.bmp", "simple_result.bmp"}));
  EXPECT_EQ(SizeOf(app_.GetActiveDocument()), std::make_pair(48, 48));
  EXPECT_EQ(ui().messages(),
            std::vector<std::string>{"Operation Success!\nTime Consuming:1.250000"});
  EXPECT_EQ(ui().waitCursorBegins(), 1);
  EXPECT_EQ(source_->GetUpdateCount(), 1);
  EXPECT_TRUE(AnyProgressContains("size 16: iteration 1 of 1"));
}

TEST_F(CommandsTest, InterpolationShowsNoMessageAndNoWaitCursor) {
  ResultOptions("1.5", "0.55");
  script().press(platform::IDOK);
  source_->OnCmdMsg(ID_INTERPOLATION);
  EXPECT_EQ(Files(), (std::set<std::string>{"tile.bmp", "INTERPOLATE_result.bmp"}));
  EXPECT_EQ(SizeOf(app_.GetActiveDocument()), std::make_pair(60, 22));
  EXPECT_TRUE(ui().messages().empty());
  EXPECT_EQ(ui().waitCursorBegins(), 0);
}

TEST_F(CommandsTest, MultiLevelAsksBeforeOpeningEachStep) {
  for (const bool yes : {false, true}) {
    SCOPED_TRACE(yes ? "Yes" : "No");
    ui().clear();
    ui().queueAnswer(yes);
    ResultOptions("1", "1");
    script().press(platform::IDOK);
    source_->OnCmdMsg(ID_MULTI_LEVEL_SYN);
    EXPECT_EQ(Files(), (std::set<std::string>{"tile.bmp", "Multi_level_1.bmp", "Multi_level_2.bmp",
                                              "Multi_level_3.bmp", "Multi_level_4.bmp",
                                              "Multi_level_5.bmp", "Multi_level_6(FinalRst).bmp"}));
    bool asked = false;
    for (const auto& e : ui().events())
      if (e.kind == platform::UiEvent::question) {
        asked = true;
        EXPECT_EQ(e.text, std::string(kNoTime) + "\nDo you want to view result of each step? ");
        EXPECT_EQ(e.caption, "View Result");
      }
    EXPECT_TRUE(asked);
    std::vector<std::string> expected = {"tile.bmp", "Multi_level_6(FinalRst).bmp"};
    if (yes)
      expected.insert(expected.end(),
                      {"Multi_level_5.bmp", "Multi_level_4.bmp", "Multi_level_3.bmp",
                       "Multi_level_2.bmp", "Multi_level_1.bmp"});
    EXPECT_EQ(DocumentPaths(), expected);
    EXPECT_EQ(SizeOf(app_.GetDocuments()[1].get()), std::make_pair(40, 40));
    while (app_.GetDocuments().size() > 1) app_.CloseDocument(app_.GetActiveDocument());
  }
}

TEST_F(CommandsTest, FlowFieldsThatCannotBeInvertedAreRefused) {
  const struct {
    const char* fx;
    const char* fy;
  } cases[] = {{"x", "x"}, {"0.5*x+y", "x+2*y"}, {"x*y", "y"}, {"x", "sin(y)"}, {"", "y"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.fx) + " / " + c.fy);
    ui().clear();
    FlowOptions(c.fx, c.fy);
    script().press(platform::IDOK);
    source_->OnCmdMsg(ID_FLOW_GUIDED_SYN);
    EXPECT_EQ(ui().messages(), std::vector<std::string>{kInvalidFlow});
    EXPECT_EQ(Files(), (std::set<std::string>{"tile.bmp"}));
    EXPECT_EQ(app_.GetDocuments().size(), 1u);
    EXPECT_EQ(ui().waitCursorBegins(), 0);
  }
}

TEST_F(CommandsTest, FlowAtScaleOneKeepsTheImageAndOtherwiseResizesIt) {
  for (const char* scale : {"1", "1.2"}) {
    SCOPED_TRACE(scale);
    ui().clear();
    CImage* before = source_->GetImage();
    // As after Generate Init Img on this document: a replaced image ends it.
    g_controllableExemplar = before;
    FlowOptions("0.9*x", "0.9*y", scale);
    script().press(platform::IDOK);
    source_->OnCmdMsg(ID_FLOW_GUIDED_SYN);
    const bool resized = std::string(scale) != "1";
    EXPECT_EQ(Files(), (std::set<std::string>{"tile.bmp", "FlowGuided_Step1.bmp",
                                              "FlowGuided_Step2.bmp", "FlowGuided_Rst.bmp"}));
    EXPECT_EQ(ui().messages(), std::vector<std::string>{kNoTime});
    EXPECT_EQ(AnyProgressContains("Synthesis at size 32"), resized);
    EXPECT_EQ(source_->GetImage() != before, resized);
    EXPECT_EQ(g_controllableExemplar, resized ? nullptr : before);
    const auto size = resized ? std::make_pair(48, 48) : std::make_pair(40, 40);
    EXPECT_EQ(SizeOf(source_), size);
    EXPECT_EQ(SizeOf(app_.GetActiveDocument()), size);
    EXPECT_EQ(app_.GetActiveDocument()->GetPathName(), "FlowGuided_Rst.bmp");
  }
}

TEST_F(CommandsTest, ControllableSessionKeepsTheDrawnPixels) {
  ResultOptions("1.2", "1.2");
  script().press(platform::IDOK);
  source_->OnCmdMsg(ID_GENERATE_INIT_IMG);
  EXPECT_EQ(g_controllableExemplar, source_->GetImage());
  EXPECT_TRUE(ui().messages().empty());
  CPatchloomDoc* init = app_.GetActiveDocument();
  ASSERT_EQ(init->GetPathName(), "ControllableSyn_Init.bmp");
  ASSERT_EQ(SizeOf(init), std::make_pair(48, 48));

  // Run before any polygon does nothing.
  init->OnCmdMsg(ID_RUN_AND_RESULT);
  EXPECT_EQ(app_.GetDocuments().size(), 2u);

  init->OnCmdMsg(ID_NEW_CONSTRAIN_AREA);
  EXPECT_EQ(init->m_nConstraintMode, 1);
  CPointArray square, triangle;
  for (const CPoint p : {CPoint{4, 6}, CPoint{20, 6}, CPoint{20, 20}, CPoint{4, 20}, CPoint{4, 6}})
    square.Add(p);
  for (const CPoint p : {CPoint{10, 10}, CPoint{40, 12}, CPoint{12, 40}, CPoint{10, 10}})
    triangle.Add(p);
  ASSERT_TRUE(init->AddConstraintStroke(square));
  ASSERT_TRUE(init->AddConstraintStroke(triangle));
  const auto pixels =
      CPatchloomDoc::BuildConstrainedPixels(&init->m_polygons[0][0], 2, 0, 0, 0, 0, 48, 48);
  ASSERT_GT(pixels->GetSize(), 300);

  init->OnCmdMsg(ID_RUN_AND_RESULT);
  EXPECT_EQ(init->m_nConstraintMode, -1);
  EXPECT_EQ(init->m_nPolygonCount, 2);
  CPatchloomDoc* result = app_.GetActiveDocument();
  ASSERT_EQ(result->GetPathName(), "ControllableSyn_Rst.bmp");
  ASSERT_EQ(SizeOf(result), std::make_pair(48, 48));
  for (const CPoint& p : *pixels) {
    std::uint8_t a[3], b[3];
    init->GetImage()->GetPixelRGB(p.x, p.y, &a[0], &a[1], &a[2]);
    result->GetImage()->GetPixelRGB(p.x, p.y, &b[0], &b[1], &b[2]);
    ASSERT_TRUE(a[0] == b[0] && a[1] == b[1] && a[2] == b[2]) << p.x << ", " << p.y;
  }

  init->OnCmdMsg(ID_SHOW_COMPARE_RESULT);
  EXPECT_EQ(app_.GetActiveDocument()->GetPathName(), "ControllableSyn_cmpr.bmp");
  EXPECT_EQ(SizeOf(app_.GetActiveDocument()), std::make_pair(48, 48));
  EXPECT_EQ(Files(),
            (std::set<std::string>{"tile.bmp", "ControllableSyn_Init.bmp",
                                   "ControllableSyn_Rst.bmp", "ControllableSyn_cmpr.bmp"}));
  EXPECT_EQ(ui().messages(), (std::vector<std::string>{kNoTime, kNoTime}));
  EXPECT_EQ(ui().waitCursorBegins(), 3);
}

TEST_F(CommandsTest, ConstraintCommandsNeedTheExemplarWhileItLives) {
  // Before Generate Init Img.
  for (const int id :
       {ID_NEW_CONSTRAIN_AREA, ID_ADD_CONSTRAIN_AREA, ID_RUN_AND_RESULT, ID_SHOW_COMPARE_RESULT})
    source_->OnCmdMsg(id);
  EXPECT_EQ(source_->m_nConstraintMode, -1);

  ResultOptions("1", "1");
  script().press(platform::IDOK);
  source_->OnCmdMsg(ID_GENERATE_INIT_IMG);
  CPatchloomDoc* init = app_.GetActiveDocument();
  init->OnCmdMsg(ID_ADD_CONSTRAIN_AREA);
  CPointArray stroke;
  for (const CPoint p : {CPoint{1, 1}, CPoint{9, 1}, CPoint{9, 9}, CPoint{1, 1}}) stroke.Add(p);
  for (int i = 0; i < CPatchloomDoc::kPolygonSlots; ++i)
    ASSERT_TRUE(init->AddConstraintStroke(stroke));
  ui().clear();
  EXPECT_FALSE(init->AddConstraintStroke(stroke));
  EXPECT_EQ(ui().messages(), std::vector<std::string>{"At most 10 constraint areas can be drawn!"});
  EXPECT_EQ(init->m_nPolygonCount, 10);
  init->OnCmdMsg(ID_NEW_CONSTRAIN_AREA);
  EXPECT_EQ(init->m_nPolygonCount, 0);
  EXPECT_TRUE(init->PolygonSlot(9).IsEmpty());

  // Closing the exemplar's document ends controllable synthesis until the next init.
  init->m_nConstraintMode = -1;
  app_.CloseDocument(source_);
  EXPECT_EQ(g_controllableExemplar, nullptr);
  init->OnCmdMsg(ID_NEW_CONSTRAIN_AREA);
  EXPECT_EQ(init->m_nConstraintMode, -1);
  EXPECT_FALSE(init->AddConstraintStroke(stroke));
}

TEST_F(CommandsTest, CommandsOnADocumentWithoutImageFail) {
  CPatchloomDoc* empty = app_.OnFileNew();
  const struct {
    int id;
    const char* name;
  } cases[] = {{ID_INTERPOLATION, "Interpolation"},
               {ID_SIMPLE_IMG_SYN, "Simple Img Syn"},
               {ID_MULTI_LEVEL_SYN, "Multi_level Syn"},
               {ID_FLOW_GUIDED_SYN, "Flow-guided Syn"},
               {ID_GENERATE_INIT_IMG, "Generate Init Img"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ui().clear();
    script().press(platform::IDOK);
    empty->OnCmdMsg(c.id);
    EXPECT_EQ(ui().messages(), std::vector<std::string>{"Operation Failed!"});
  }
  EXPECT_EQ(g_controllableExemplar, nullptr);
  EXPECT_EQ(Files(), (std::set<std::string>{"tile.bmp"}));
  EXPECT_EQ(app_.GetDocuments().size(), 2u);
}

}  // namespace
