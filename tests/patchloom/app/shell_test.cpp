// The windowed shell without a toolkit: the update rules of every command, the polygon
// drawing of the view, the display colours of every bit depth, and the windows that
// documents open and close.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app_test_support.h"
#include "patchloom/app/console_driver.h"
#include "patchloom/app/display_image.h"
#include "patchloom/app/patchloom_shell.h"
#include "patchloom/app/patchloom_view.h"
#include "patchloom/app/resource.h"
#include "platform/crt_random.h"
#include "platform/forwarding_ui.h"

namespace {

using app_test::SessionTest;

constexpr const char* kTooMany = "At most 10 constraint areas can be drawn!";
constexpr const char* kNoTime = "Operation Success!\nTime Consuming:0.000000";

class FakeSurface final : public ViewSurface {
 public:
  void ShowImage(int w, int h, std::vector<std::uint8_t> pixels) override {
    width = w;
    height = h;
    rgb = std::move(pixels);
    ++conversions;
  }
  void ShowNoImage() override {
    width = height = 0;
    rgb.clear();
  }
  void ShowOutlines(std::vector<ViewOutline> shown) override { outlines = std::move(shown); }

  int width = 0, height = 0, conversions = 0;
  std::vector<std::uint8_t> rgb;
  std::vector<ViewOutline> outlines;
};

class FakeWindow final : public ShellWindow {
 public:
  void SetTitle(const std::string& t) override { title = t; }
  void SetStatus(const std::string& s) override { status = s; }
  void SetCommands(std::vector<ShellCommand> c) override { commands = std::move(c); }
  void RefreshCommands() override { ++refreshes; }
  ViewSurface& Surface() override { return surface; }
  void Show() override { shown = true; }
  void Close() override { shown = false; }

  // The command under `menuPath`, as the menu would run it when enabled.
  bool Run(const std::string& menuPath) {
    for (const ShellCommand& c : commands)
      if (menuPath == c.spec.menuPath) {
        if (!c.update().enabled) return false;
        c.run();
        return true;
      }
    ADD_FAILURE() << "no menu item " << menuPath;
    return false;
  }
  void Mouse(ViewPointer::Kind kind, int x, int y) { onMouse({kind, x, y}); }

  std::string title;
  std::string status;
  std::vector<ShellCommand> commands;
  int refreshes = 0;
  bool shown = false;
  FakeSurface surface;
};

class FakeFactory final : public ShellWindowFactory {
 public:
  std::unique_ptr<ShellWindow> MakeWindow(const std::string& title, int, int) override {
    auto window = std::make_unique<FakeWindow>();
    window->title = title;
    made.push_back(window.get());
    return window;
  }
  std::vector<FakeWindow*> made;
};

class ShellTest : public SessionTest {
 protected:
  ShellTest() : shell_(app_, factory_) {
    app_test::WriteTexture(dir_.file("tile.bmp"), 40, 40);
    shell_.onLastWindowClosed = [this] { ++lastClosed_; };
    shell_.OpenMainWindow();
  }
  FakeWindow& Main() { return *factory_.made.front(); }
  FakeWindow& WindowOf(const CPatchloomDoc* doc) {
    ShellWindow* window = shell_.WindowOf(doc);
    EXPECT_NE(window, nullptr);
    return static_cast<FakeWindow&>(*window);
  }
  CPatchloomDoc* OpenFromMenu(FakeWindow& window, const std::string& name) {
    ui().queueFileDialogAnswer(name);
    EXPECT_TRUE(window.Run("&File/&Open..."));
    return app_.GetActiveDocument();
  }
  // Generate Init Img at scale 1 and New Contrain Area on its result: the window where
  // polygons are drawn.
  CPatchloomDoc* ConstraintDocument() {
    CPatchloomDoc* source = OpenFromMenu(Main(), "tile.bmp");
    script().setText(IDC_SCALE_X, "1");
    script().setText(IDC_SCALE_Y, "1");
    script().press(platform::IDOK);
    EXPECT_TRUE(WindowOf(source).Run("ControllableSyn/Generate Init Img"));
    CPatchloomDoc* init = app_.GetActiveDocument();
    EXPECT_EQ(init->GetPathName(), "ControllableSyn_Init.bmp");
    EXPECT_TRUE(WindowOf(init).Run("ControllableSyn/New Contrain Area"));
    return init;
  }
  // Whether a polygon is being drawn (outlined open).
  static bool Drawing(const FakeWindow& window) {
    for (const ViewOutline& o : window.surface.outlines)
      if (!o.closed) return true;
    return false;
  }
  static void Draw(FakeWindow& window, const std::vector<CPoint>& vertices,
                   ViewPointer::Kind closing) {
    for (const CPoint& p : vertices) window.Mouse(ViewPointer::press, p.x, p.y);
    const CPoint& last = vertices.back();
    window.Mouse(closing, last.x, last.y);
  }

  FakeFactory factory_;
  PatchloomShell shell_;
  int lastClosed_ = 0;
};

TEST_F(ShellTest, UpdateRulesFollowTheDocument) {
  CPatchloomDoc* bmp = OpenFromMenu(Main(), "tile.bmp");
  std::filesystem::copy_file(dir_.file("tile.bmp"), dir_.file("tile.gif"));
  CPatchloomDoc gif;
  gif.SetPathName("tile.gif", false);
  gif.ReplaceImage(new CImage("tile.bmp"));  // a GIF-named document whose type cannot be saved
  gif.GetImage()->Save("copy.gif");
  CPatchloomDoc stretched;
  stretched.OnCmdMsg(ID_STRETCH_MODE);
  CPatchloomDoc empty;
  struct Case {
    const char* name;
    CPatchloomDoc* doc;
    int id;
    bool enabled, checked;
  };
  const Case cases[] = {
      {"main window: open", nullptr, ID_FILE_OPEN, true, false},
      {"main window: new", nullptr, ID_FILE_NEW, true, false},
      {"main window: exit", nullptr, ID_APP_EXIT, true, false},
      {"main window: save", nullptr, ID_FILE_SAVE, false, false},
      {"main window: synthesis", nullptr, ID_SIMPLE_IMG_SYN, false, false},
      {"bmp: save", bmp, ID_FILE_SAVE, true, false},
      {"bmp: save as", bmp, ID_FILE_SAVE_AS, true, false},
      {"bmp: close", bmp, ID_FILE_CLOSE, true, false},
      {"bmp: stretch unchecked", bmp, ID_STRETCH_MODE, true, false},
      {"bmp: run and result", bmp, ID_RUN_AND_RESULT, true, false},
      {"gif: save", &gif, ID_FILE_SAVE, false, false},
      {"gif: save as", &gif, ID_FILE_SAVE_AS, true, false},
      {"stretched: checked", &stretched, ID_STRETCH_MODE, true, true},
      {"no image: save", &empty, ID_FILE_SAVE, false, false},
      {"no image: save as", &empty, ID_FILE_SAVE_AS, false, false},
      {"no image: interpolation", &empty, ID_INTERPOLATION, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CommandUiState state = CommandState(c.doc, c.id);
    EXPECT_EQ(state.enabled, c.enabled);
    EXPECT_EQ(state.checked, c.checked);
  }
  // Every document command of the menus reaches a handler of the document.
  for (const ShellCommandSpec& spec : DocumentWindowMenu()) {
    SCOPED_TRACE(spec.menuPath);
    if (spec.id == ID_FILE_NEW || spec.id == ID_FILE_OPEN || spec.id == ID_FILE_CLOSE ||
        spec.id == ID_APP_EXIT)
      continue;
    CCmdUI cmdUI(spec.id);
    const bool hasUpdate = bmp->OnUpdateCommand(cmdUI);
    EXPECT_EQ(hasUpdate,
              spec.id == ID_FILE_SAVE || spec.id == ID_FILE_SAVE_AS || spec.id == ID_STRETCH_MODE);
    EXPECT_EQ(spec.checkable, spec.id == ID_STRETCH_MODE);
  }
}

TEST_F(ShellTest, AfterACommandStretchModeIsCheckedAndTheStatusIdle) {
  CPatchloomDoc* doc = OpenFromMenu(Main(), "tile.bmp");
  FakeWindow& window = WindowOf(doc);
  const int before = window.refreshes;
  window.status = "Simple: iteration 1 of 5";
  ASSERT_TRUE(window.Run("&View/Str&etch mode"));
  EXPECT_EQ(window.status, "Ready");
  EXPECT_TRUE(CommandState(doc, ID_STRETCH_MODE).checked);
  EXPECT_GT(window.refreshes, before);
}

TEST_F(ShellTest, OpeningGivesEachDocumentItsWindowAndClosingEndsIt) {
  ASSERT_EQ(Main().title, "Patchloom");
  EXPECT_TRUE(Main().shown);
  ASSERT_TRUE(Main().Run("&File/&Open..."));  // cancelled
  EXPECT_EQ(shell_.WindowCount(), 1);
  ASSERT_TRUE(ui_.lastRequest.has_value());
  EXPECT_TRUE(ui_.lastRequest->open);
  EXPECT_EQ(ui_.lastRequest->filter,
            "Bitmap Files (*.bmp)|*.bmp|JPEG Files (*.jpg;*.jpeg)|*.jpg;*.jpeg|"
            "GIF Files (*.gif)|*.gif|PNG Files (*.png)|*.png||");

  CPatchloomDoc* doc = OpenFromMenu(Main(), "tile.bmp");
  ASSERT_NE(doc, nullptr);
  FakeWindow& window = WindowOf(doc);
  EXPECT_EQ(window.title, "tile.bmp");
  EXPECT_TRUE(window.shown);
  EXPECT_EQ(window.surface.width, 40);
  EXPECT_EQ(window.surface.rgb, DisplayRgb(*doc->GetImage()));

  // Each result opens in a window of its own; the source keeps its converted image.
  script().press(platform::IDOK);
  ASSERT_TRUE(window.Run("EMSyntesis/Interpolation"));
  CPatchloomDoc* result = app_.GetActiveDocument();
  ASSERT_NE(result, doc);
  EXPECT_EQ(WindowOf(result).title, "INTERPOLATE_result.bmp");
  EXPECT_EQ(WindowOf(result).surface.width, 80);
  EXPECT_EQ(window.surface.conversions, 1);
  EXPECT_EQ(shell_.WindowCount(), 3);

  ASSERT_TRUE(window.Run("&File/&Close"));
  EXPECT_FALSE(window.shown);
  EXPECT_EQ(app_.GetDocuments().size(), 1u);
  EXPECT_EQ(shell_.WindowOf(doc), nullptr);
  ASSERT_TRUE(Main().onClose());
  EXPECT_EQ(lastClosed_, 0);
  ASSERT_TRUE(WindowOf(result).onClose());
  EXPECT_TRUE(app_.GetDocuments().empty());
  EXPECT_EQ(shell_.WindowCount(), 0);
  EXPECT_EQ(lastClosed_, 1);
  EXPECT_TRUE(ui().messages().empty());
}

TEST_F(ShellTest, ExitAsksToSaveAModifiedDocument) {
  CPatchloomDoc* doc = OpenFromMenu(Main(), "tile.bmp");
  doc->SetModifiedFlag(true);
  const auto saved = std::filesystem::last_write_time(dir_.file("tile.bmp"));
  ui().queueAnswer(true);
  ASSERT_TRUE(Main().Run("&File/E&xit"));
  EXPECT_EQ(ui().messages(), std::vector<std::string>{"Save changes to tile.bmp?"});
  EXPECT_GE(std::filesystem::last_write_time(dir_.file("tile.bmp")), saved);
  EXPECT_TRUE(app_.GetDocuments().empty());
  EXPECT_EQ(lastClosed_, 1);
}

// A backend whose message boxes let the user close a window meanwhile, as a desktop's
// message loop would.
class ClosingUi final : public platform::ForwardingUi {
 public:
  using ForwardingUi::ForwardingUi;
  void messageBox(const std::string& text, const std::string& caption) override {
    if (closeWhileShown) closed = closeWhileShown();
    ForwardingUi::messageBox(text, caption);
  }
  std::function<bool()> closeWhileShown;
  bool closed = true;
};

TEST_F(ShellTest, ADocumentStaysAndNothingElseRunsWhileItsCommandRuns) {
  CPatchloomDoc* doc = OpenFromMenu(Main(), "tile.bmp");
  ClosingUi closing(ui_);
  platform::ScopedUi guard(closing);
  // Neither closing the window nor another command gets through while the box shows.
  closing.closeWhileShown = [&] {
    return WindowOf(doc).onClose() || WindowOf(doc).Run("EMSyntesis/Interpolation");
  };
  script().setText(IDC_SCALE_X, "1.2");
  script().setText(IDC_SCALE_Y, "1.2");
  script().setText(IDC_ITERATIONS, "1");
  script().press(platform::IDOK);
  ASSERT_TRUE(WindowOf(doc).Run("EMSyntesis/Simple Img Syn"));
  EXPECT_FALSE(closing.closed);
  EXPECT_EQ(ui().messages(), std::vector<std::string>{kNoTime});
  closing.closeWhileShown = nullptr;
  EXPECT_TRUE(WindowOf(doc).onClose());
}

TEST_F(ShellTest, ClicksDrawPolygonsThatTheDocumentKeeps) {
  CPatchloomDoc* init = ConstraintDocument();
  FakeWindow& window = WindowOf(init);
  window.Mouse(ViewPointer::press, 4, 6);
  window.Mouse(ViewPointer::press, 20, 6);
  window.Mouse(ViewPointer::move, 20, 20);
  ASSERT_EQ(window.surface.outlines.size(), 1u);
  EXPECT_FALSE(window.surface.outlines[0].closed);
  EXPECT_EQ(window.surface.outlines[0].points,
            (std::vector<CPoint>{{4, 6}, {20, 6}, {20, 20}}));  // the last follows the mouse
  window.Mouse(ViewPointer::press, 20, 20);
  window.Mouse(ViewPointer::press, 4, 20);
  window.Mouse(ViewPointer::rightPress, 9, 9);
  ASSERT_EQ(init->m_nPolygonCount, 1);
  EXPECT_EQ(std::vector<CPoint>(init->PolygonSlot(0).begin(), init->PolygonSlot(0).end()),
            (std::vector<CPoint>{{4, 6}, {20, 6}, {20, 20}, {4, 20}, {4, 6}}));
  ASSERT_EQ(window.surface.outlines.size(), 1u);
  EXPECT_TRUE(window.surface.outlines[0].closed);

  struct Case {
    const char* name;
    std::vector<CPoint> vertices;
    ViewPointer::Kind closing;
    std::vector<CPoint> stored;  // empty: nothing stored
  };
  const Case cases[] = {
      // The double click's first press added the vertex already.
      {"double click",
       {{1, 1}, {9, 1}, {9, 9}},
       ViewPointer::doubleClick,
       {{1, 1}, {9, 1}, {9, 9}, {1, 1}}},
      {"outside the image",
       {{-5, 2}, {70, 2}, {70, 90}},
       ViewPointer::rightPress,
       {{0, 2}, {40, 2}, {40, 40}, {0, 2}}},
      {"two vertices", {{1, 1}, {5, 5}}, ViewPointer::rightPress, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int before = init->m_nPolygonCount;
    Draw(window, c.vertices, c.closing);
    EXPECT_TRUE(!Drawing(window));
    if (c.stored.empty()) {
      EXPECT_EQ(init->m_nPolygonCount, before);
      continue;
    }
    ASSERT_EQ(init->m_nPolygonCount, before + 1);
    const CPointArray& slot = init->PolygonSlot(before);
    EXPECT_EQ(std::vector<CPoint>(slot.begin(), slot.end()), c.stored);
  }
  EXPECT_EQ(window.surface.outlines.size(), 3u);
  EXPECT_TRUE(ui().messages().empty());
}

TEST_F(ShellTest, AnEleventhPolygonIsRefusedAtItsFirstClick) {
  CPatchloomDoc* init = ConstraintDocument();
  FakeWindow& window = WindowOf(init);
  for (int i = 0; i < 10; ++i) Draw(window, {{i, 0}, {i + 5, 0}, {i, 5}}, ViewPointer::rightPress);
  ASSERT_EQ(init->m_nPolygonCount, 10);
  window.Mouse(ViewPointer::press, 30, 30);
  EXPECT_TRUE(!Drawing(window));
  EXPECT_EQ(ui().messages(), std::vector<std::string>{kTooMany});
  EXPECT_EQ(init->m_nPolygonCount, 10);

  // New Contrain Area empties the slots; after Run and Result clicks draw nothing.
  ASSERT_TRUE(window.Run("ControllableSyn/New Contrain Area"));
  EXPECT_EQ(init->m_nPolygonCount, 0);
  EXPECT_TRUE(window.surface.outlines.empty());
  init->m_nConstraintMode = -1;
  window.Mouse(ViewPointer::press, 3, 3);
  EXPECT_TRUE(!Drawing(window));
}

// The same polygon drawn with the mouse and given to the console's --polygon keeps the
// same pixels: both runs write the same result file.
TEST_F(ShellTest, DrawnPolygonsMatchTheConsolePolygon) {
  test_support::TempDir consoleDir;
  std::filesystem::copy_file(dir_.file("tile.bmp"), consoleDir.file("tile.bmp"));
  {
    test_support::ScopedWorkingDirectory cwd(consoleDir.path());
    KMeansRandomRestart();
    platform::srand(1);
    std::ostringstream out, err;
    ASSERT_EQ(runPatchloom({"init", "tile.bmp", "--scale", "1", "1", "constrain", "--polygon",
                            "4,6 30,8 12,34", "run"},
                           out, err),
              0)
        << err.str();
  }
  ui().clear();
  KMeansRandomRestart();
  platform::srand(1);
  CPatchloomDoc* init = ConstraintDocument();
  FakeWindow& window = WindowOf(init);
  Draw(window, {{4, 6}, {30, 8}, {12, 34}}, ViewPointer::rightPress);
  ASSERT_TRUE(window.Run("ControllableSyn/Run and Result"));
  EXPECT_EQ(ui().messages(), std::vector<std::string>{kNoTime});
  EXPECT_EQ(WindowOf(app_.GetActiveDocument()).title, "ControllableSyn_Rst.bmp");
  EXPECT_EQ(test_support::readFileBytes(dir_.file("ControllableSyn_Rst.bmp")),
            test_support::readFileBytes(consoleDir.file("ControllableSyn_Rst.bmp")));
}

// DisplayRgb against the image's own colour rule, for every bit depth, rows flipped.
TEST(DisplayRgbTest, EveryBitDepthShowsTheImageColours) {
  struct Case {
    int bits;
    bool palette;
  };
  const Case cases[] = {{1, true},   {4, true},   {8, true},  {8, false},
                        {16, false}, {24, false}, {32, false}};
  const int w = 7, h = 5;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bits);
    CImage image;
    ASSERT_EQ(image.Create(w, h, c.bits, -1), 1);
    const int entries = c.bits <= 8 ? 1 << c.bits : 0;
    if (c.palette) {
      std::vector<std::uint8_t> triples;
      for (int i = 0; i < entries; ++i)
        for (int k = 0; k < 3; ++k) triples.push_back(static_cast<std::uint8_t>(i * 37 + k * 80));
      ASSERT_EQ(image.SetPaletteTriples(entries, triples.data()), 1);
    }
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        if (entries > 0)
          image.SetPixelIndex(x, y, (x * 3 + y * 5) % entries);
        else
          image.SetPixelRGB(x, y, static_cast<std::uint8_t>(x * 40),
                            static_cast<std::uint8_t>(y * 60),
                            static_cast<std::uint8_t>(200 - x * y));
      }
    const std::vector<std::uint8_t> rgb = DisplayRgb(image);
    ASSERT_EQ(rgb.size(), static_cast<std::size_t>(w * h * 3));
    for (int row = 0; row < h; ++row)
      for (int x = 0; x < w; ++x) {
        std::uint8_t r, g, b;
        image.GetPixelRGB(x, h - 1 - row, &r, &g, &b);
        const std::uint8_t* p = &rgb[(static_cast<std::size_t>(row) * w + x) * 3];
        ASSERT_TRUE(p[0] == r && p[1] == g && p[2] == b) << x << ", " << row;
      }
  }
  // An indexed pixel shows its palette entry: index 2 of the 8-bit palette at the top left.
  CImage indexed;
  ASSERT_EQ(indexed.Create(2, 2, 8, -1), 1);
  const std::uint8_t triples[] = {0, 0, 0, 1, 2, 3, 10, 20, 30};
  ASSERT_EQ(indexed.SetPaletteTriples(3, triples), 1);
  indexed.SetPixelIndex(0, 1, 2);
  const std::vector<std::uint8_t> rgb = DisplayRgb(indexed);
  EXPECT_EQ(std::vector<std::uint8_t>(rgb.begin(), rgb.begin() + 3),
            (std::vector<std::uint8_t>{10, 20, 30}));
  EXPECT_TRUE(DisplayRgb(CImage()).empty());
}

}  // namespace
