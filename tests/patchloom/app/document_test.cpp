// Opening and saving documents: the extension table, refused files, the update rules
// of Save, Save As and Stretch mode, and the save road with its prompt.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app_test_support.h"
#include "patchloom/app/resource.h"

namespace {

using app_test::SessionTest;

// A 1 x 1 GIF: logical screen with a table of 2 colours, one image of LZW minimum code
// size 2 holding index 0, trailer.
const std::vector<unsigned char> kTinyGif = {
    'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 255,  255,  255, 0,  0,
    0,   ',', 0,   0,   0,   0,   1, 0, 1, 0, 0,    2, 2, 0x44, 0x01, 0,   ';'};

class DocumentTest : public SessionTest {
 protected:
  bool Enabled(CPatchloomDoc& doc, int id, int* check = nullptr) {
    CCmdUI state(id);
    EXPECT_TRUE(doc.OnUpdateCommand(state));
    if (check) *check = state.m_nCheck;
    return state.m_bEnabled;
  }
};

TEST_F(DocumentTest, ExtensionsChooseTheTypeAndOthersAreRefused) {
  app_test::WriteTexture(dir_.file("source.bmp"), 8, 6);
  app_test::WriteTexture(dir_.file("source.jpg"), 8, 6);
  app_test::WriteTexture(dir_.file("source.png"), 8, 6);
  test_support::writeFileBytes(dir_.file("source.gif"), kTinyGif);
  std::filesystem::create_directory(dir_.file("dir.v2"));
  struct Case {
    const char* from;
    const char* name;
    int type;  // -1: refused
  };
  const Case cases[] = {
      {"source.jpg", "photo.JPEG", kImageTypeJpeg},
      {"source.jpg", "photo.Jpg", kImageTypeJpeg},
      {"source.bmp", "a.b.BMP", kImageTypeBmp},
      {"source.png", "shot.png", kImageTypePng},
      {"source.gif", "anim.GIF", kImageTypeGif},
      {"source.bmp", "photo", -1},
      {"source.bmp", "photo.tif", -1},
      {"source.bmp", "photo.", -1},
      {"source.bmp", "dir.v2/photo", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::copy_file(dir_.file(c.from), dir_.file(c.name),
                               std::filesystem::copy_options::overwrite_existing);
    CPatchloomDoc doc;
    if (c.type < 0) {
      EXPECT_FALSE(doc.OnOpenDocument(c.name));
      EXPECT_EQ(doc.GetImage(), nullptr);
      continue;
    }
    ASSERT_TRUE(doc.OnOpenDocument(c.name));
    ASSERT_NE(doc.GetImage(), nullptr);
    EXPECT_EQ(doc.GetImage()->GetType(), c.type);
    EXPECT_GT(doc.GetImage()->GetWidth(), 0);
  }
}

TEST_F(DocumentTest, AFileWithoutPixelsLeavesNoDocumentOpen) {
  test_support::writeFileBytes(dir_.file("broken.bmp"), {'B', 'M', 1, 2, 3});
  std::filesystem::create_directory(dir_.file("sub"));
  EXPECT_EQ(app_.OpenDocumentFile("broken.bmp"), nullptr);
  EXPECT_EQ(app_.OpenDocumentFile("missing.png"), nullptr);
  EXPECT_EQ(app_.OpenDocumentFile("sub/nothing"), nullptr);
  EXPECT_TRUE(app_.GetDocuments().empty());
  EXPECT_EQ(ui().messages(), std::vector<std::string>(3, "Failed to open document."));
}

TEST_F(DocumentTest, UpdateRulesFollowTheImage) {
  test_support::writeFileBytes(dir_.file("anim.gif"), kTinyGif);
  app_test::WriteTexture(dir_.file("tile.bmp"), 8, 8);
  struct Case {
    const char* name;  // null: File New
    bool save, saveAs;
  };
  const Case cases[] = {
      {nullptr, false, false}, {"anim.gif", false, true}, {"tile.bmp", true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name ? c.name : "new document");
    CPatchloomDoc* doc = c.name ? Open(c.name) : app_.OnFileNew();
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(Enabled(*doc, ID_FILE_SAVE), c.save);
    EXPECT_EQ(Enabled(*doc, ID_FILE_SAVE_AS), c.saveAs);
    int check = -1;
    EXPECT_TRUE(Enabled(*doc, ID_STRETCH_MODE, &check));
    EXPECT_EQ(check, 0);
    const int updates = doc->GetUpdateCount();
    EXPECT_TRUE(doc->OnCmdMsg(ID_STRETCH_MODE));
    EXPECT_TRUE(Enabled(*doc, ID_STRETCH_MODE, &check));
    EXPECT_EQ(check, 1);
    EXPECT_EQ(doc->GetUpdateCount(), updates + 1);
    // A disabled Save does not run.
    EXPECT_EQ(doc->OnCmdMsg(ID_FILE_SAVE), c.save);
  }
  EXPECT_TRUE(ui().messages().empty());
}

TEST_F(DocumentTest, GifDocumentsAlwaysGoThroughTheSaveAsDialog) {
  test_support::writeFileBytes(dir_.file("anim.gif"), kTinyGif);
  CPatchloomDoc* doc = Open("anim.gif");
  ASSERT_NE(doc, nullptr);

  // Save of a GIF prompts; Cancel saves nothing.
  EXPECT_FALSE(doc->DoSave(doc->GetPathName()));
  ASSERT_TRUE(ui_.lastRequest.has_value());
  EXPECT_FALSE(ui_.lastRequest->open);
  EXPECT_EQ(ui_.lastRequest->title, "Save As");
  EXPECT_EQ(ui_.lastRequest->initialPath, "anim.gif");
  EXPECT_TRUE(ui_.lastRequest->hideReadOnly);
  EXPECT_TRUE(ui_.lastRequest->pathMustExist);
  EXPECT_EQ(ui_.lastRequest->filter.find("*.gif"), std::string::npos);

  // Onto itself: GIF cannot be written, and the user's file stays as it was.
  ui().queueFileDialogAnswer("anim.gif");
  EXPECT_FALSE(doc->DoSave(std::nullopt));
  EXPECT_EQ(test_support::readFileBytes(dir_.file("anim.gif")), kTinyGif);
  // A new GIF name: nothing is left behind.
  ui().queueFileDialogAnswer("other.gif");
  EXPECT_FALSE(doc->DoSave(std::nullopt));
  EXPECT_EQ(Files(), (std::set<std::string>{"anim.gif"}));
  EXPECT_EQ(ui().messages(), std::vector<std::string>(2, "Save image error!"));

  // As PNG the document becomes a PNG document that Save writes without asking.
  ui().queueFileDialogAnswer("anim.png");
  EXPECT_TRUE(doc->DoSave(std::nullopt));
  EXPECT_EQ(doc->GetPathName(), "anim.png");
  EXPECT_EQ(app_.GetRecentFiles().front(), "anim.png");
  EXPECT_EQ(doc->GetImage()->GetType(), kImageTypePng);
  ui_.lastRequest.reset();
  EXPECT_TRUE(doc->OnCmdMsg(ID_FILE_SAVE));
  EXPECT_FALSE(ui_.lastRequest.has_value());
  CImage reread("anim.png");
  EXPECT_EQ(reread.GetWidth(), 1);
  EXPECT_EQ(ui().waitCursorBegins(), 4);
}

TEST_F(DocumentTest, SaveRoadNamesAndFlags) {
  app_test::WriteTexture(dir_.file("tile.bmp"), 8, 8);
  CPatchloomDoc* doc = Open("tile.bmp");
  ASSERT_NE(doc, nullptr);

  // A copy leaves the document's name and modified flag alone.
  doc->SetModifiedFlag(true);
  ui().queueFileDialogAnswer("copy.jpg");
  EXPECT_TRUE(doc->DoSave(std::nullopt, false));
  EXPECT_EQ(ui_.lastRequest->title, "Save Copy As");
  EXPECT_EQ(ui_.lastRequest->filterIndex, 1);
  EXPECT_EQ(ui_.lastRequest->defaultExtension, "bmp");
  EXPECT_EQ(doc->GetPathName(), "tile.bmp");
  EXPECT_TRUE(doc->IsModified());
  EXPECT_TRUE(std::filesystem::exists(dir_.file("copy.jpg")));

  // A path of a type the table refuses fails; the file a failed Save As made goes.
  ui().queueFileDialogAnswer("tile.tif");
  EXPECT_FALSE(doc->DoSave(std::nullopt));
  EXPECT_FALSE(std::filesystem::exists(dir_.file("tile.tif")));

  // Without a path, Save As starts from the title cut at the first of " #%;/\".
  CPatchloomDoc* untitled = app_.OnFileNew();
  untitled->ReplaceImage(new CImage);
  ASSERT_EQ(untitled->GetImage()->Create(4, 4, 24, 0), 1);
  untitled->SetTitle("my texture#2");
  EXPECT_FALSE(untitled->DoSave(std::nullopt));
  EXPECT_EQ(ui_.lastRequest->initialPath, "my.bmp");
  EXPECT_EQ(ui().messages(), std::vector<std::string>{"Save image error!"});
}

}  // namespace
