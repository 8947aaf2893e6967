// The forms toolkit the chart components stand on: ownership, layout, the
// standard controls' events, and bitmaps drawn with cairo and written as PNG.
#include "platform/forms/forms.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/test_support.h"

namespace forms {
namespace {

class Tracked : public TComponent {
 public:
  Tracked(TComponent* owner, std::vector<int>& freed, int id)
      : TComponent(owner), freed_(freed), id_(id) {}
  ~Tracked() override { freed_.push_back(id_); }

 private:
  std::vector<int>& freed_;
  int id_;
};

TEST(FormsComponentTest, AnOwnerFreesWhatItOwnsLastFirst) {
  std::vector<int> freed;
  {
    Tracked root(nullptr, freed, 0);
    auto* a = new Tracked(&root, freed, 1);
    new Tracked(a, freed, 11);
    new Tracked(&root, freed, 2);
    auto* gone = new Tracked(&root, freed, 3);
    delete gone;  // leaves its owner's list: not freed twice
    EXPECT_EQ(root.ComponentCount(), 2);
  }
  EXPECT_EQ(freed, (std::vector<int>{3, 0, 2, 1, 11}));
}

TEST(FormsControlTest, AlignedChildrenShareTheParent) {
  TForm form(nullptr);
  form.SetBounds(0, 0, 200, 100);
  auto* top = new TPanel(&form);
  top->SetHeight(20);
  top->SetParent(&form);
  top->SetAlign(alTop);
  auto* client = new TPanel(&form);
  client->SetParent(&form);
  client->SetAlign(alClient);
  EXPECT_EQ(client->Top(), 20);
  EXPECT_EQ(client->Width(), 200);
  EXPECT_EQ(client->Height(), 80);
  form.SetBounds(0, 0, 300, 120);
  EXPECT_EQ(client->Width(), 300);
  EXPECT_EQ(client->Height(), 100);
  EXPECT_EQ(client->Surface().Width(), 300);
  top->SetVisible(false);
  EXPECT_EQ(client->Top(), 0);

  client->SetColor(clRed);
  TBitmap picture;
  form.Snapshot(picture);
  EXPECT_EQ(picture.Width(), 300);
  EXPECT_EQ(picture.Pixel(150, 60), clRed);
}

TEST(FormsControlTest, StandardControlsRaiseTheirEvents) {
  TForm form(nullptr);
  int changes = 0, clicks = 0, ticks = 0, enters = 0;
  auto* bar = new TScrollBar(&form);
  bar->SetMin(107);
  bar->SetMax(400);
  bar->OnChange = [&](TComponent*) { ++changes; };
  bar->SetPosition(400);
  bar->SetPosition(400);
  bar->SetPosition(9999);
  EXPECT_EQ(bar->Position(), 400);
  bar->SetPosition(0);
  EXPECT_EQ(bar->Position(), 107);
  EXPECT_EQ(changes, 2);

  auto* button = new TButton(&form);
  button->OnClick = [&](TComponent* sender) { clicks += sender == button; };
  button->Click();
  button->SetEnabled(false);
  button->Click();
  EXPECT_EQ(clicks, 1);

  auto* timer = new TTimer(&form);
  timer->OnTimer = [&](TComponent*) { ++ticks; };
  timer->SetEnabled(false);
  timer->Fire();
  timer->SetEnabled(true);
  timer->Fire();
  EXPECT_EQ(ticks, 1);

  auto* edit = new TEdit(&form);
  edit->SetText("x+y");
  edit->OnKeyPress = [&](TComponent*, char& key) {
    if (key == '\r') ++enters;
    if (key == '!') key = 0;
  };
  edit->KeyPress('\r');
  edit->KeyPress('!');
  edit->KeyPress('1');
  EXPECT_EQ(enters, 1);
  EXPECT_EQ(edit->Text(), "x+y1");

  auto* box = new TComboBox(&form);
  box->Items = {"a", "b"};
  int selected = -2;
  box->OnChange = [&](TComponent*) { selected = box->ItemIndex(); };
  box->SetItemIndex(1);
  EXPECT_EQ(selected, -2);
  box->Select(5);
  EXPECT_EQ(selected, -1);
}

TEST(FormsBitmapTest, DrawsAndWritesPng) {
  TBitmap bitmap(40, 30);
  EXPECT_EQ(bitmap.Pixel(5, 5), clWhite);
  EXPECT_EQ(bitmap.Pixel(-1, 5), clBlack);
  EXPECT_EQ(bitmap.Pixel(40, 5), clBlack);
  TCanvas& canvas = bitmap.Canvas();
  canvas.Brush.Color = clBlue;
  canvas.FillRect({10, 10, 20, 20});
  EXPECT_EQ(bitmap.Pixel(10, 10), clBlue);
  EXPECT_EQ(bitmap.Pixel(19, 19), clBlue);
  EXPECT_EQ(bitmap.Pixel(20, 20), clWhite);
  canvas.Pen.Color = clRed;
  canvas.MoveTo(0, 2);
  canvas.LineTo(39, 2);
  EXPECT_EQ(bitmap.Pixel(20, 2), clRed);
  EXPECT_EQ(bitmap.Pixel(20, 3), clWhite);
  canvas.Font.Size = 12;
  canvas.Brush.Style = bsClear;
  EXPECT_GT(canvas.TextWidth("0123"), canvas.TextWidth("0"));
  canvas.TextOut(2, 14, "8");
  int dark = 0;
  for (int y = 14; y < 30; ++y) {
    for (int x = 2; x < 10; ++x) dark += redOf(bitmap.Pixel(x, y)) < 100;
  }
  EXPECT_GT(dark, 5);

  test_support::TempDir dir;
  ASSERT_TRUE(bitmap.SaveToPNG(dir.file("b.png")));
  const std::vector<unsigned char> bytes = test_support::readFileBytes(dir.file("b.png"));
  ASSERT_GE(bytes.size(), 8u);
  EXPECT_EQ(std::vector<unsigned char>(bytes.begin(), bytes.begin() + 8),
            (std::vector<unsigned char>{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}));
  EXPECT_FALSE(bitmap.SaveToPNG(dir.file("no/such/folder/b.png")));
  TBitmap empty;
  EXPECT_FALSE(empty.SaveToPNG(dir.file("empty.png")));
  bitmap.SetSize(-3, 5);
  EXPECT_EQ(bitmap.Width(), 0);
}

TEST(TBitmapTest, AFailedPngSaveLeavesTheOldFileAndNoTemporary) {
  // Noise does not compress, so the picture is far larger than the file-size limit.
  TBitmap bitmap(200, 200);
  unsigned state = 12345;
  for (int y = 0; y < 200; ++y) {
    for (int x = 0; x < 200; ++x) {
      state = state * 1103515245u + 12345u;
      bitmap.Canvas().Pen.Color = static_cast<TColor>(state >> 8);
      bitmap.Canvas().MoveTo(x, y);
      bitmap.Canvas().LineTo(x + 1, y);
    }
  }
  test_support::TempDir dir;
  const std::string target = dir.file("picture.png");
  const std::vector<unsigned char> old(3000, 'o');
  test_support::writeFileBytes(target, old);

  const int status = test_support::runWithFileSizeLimit(4096, [&] {
    std::string reason;
    if (bitmap.SaveToPNG(target, &reason)) return 0;
    return reason.find("File too large") != std::string::npos ? 1 : 2;
  });
  EXPECT_EQ(status, 1);
  EXPECT_EQ(test_support::readFileBytes(target), old);
  EXPECT_TRUE(test_support::hiddenFiles(dir.path()).empty());

  ASSERT_TRUE(bitmap.SaveToPNG(target));
  EXPECT_GT(test_support::readFileBytes(target).size(), 100000u);
  EXPECT_TRUE(test_support::hiddenFiles(dir.path()).empty());
}

}  // namespace
}  // namespace forms
