#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "arrowmap/app/about_box.h"
#include "arrowmap/app/main.h"
#include "arrowmap/app/wordhive2000.h"
#include "platform/recording_ui.h"

namespace {

using arrowmap::TWordhive2000;

TEST(WordhiveTest, ReadsRecordsAndLeavesUnknownKeysAlone) {
  struct Case {
    const char* name;
    std::string text;
    std::vector<std::pair<std::string, std::string>> expected;  // key, translation
  };
  const std::vector<Case> cases = {
      {"two records with comments around",
       "a comment\n[WH_Exit]=Exit|$$\nmore\n[Stop]=Halt|$$",
       {{"WH_Exit", "Exit"}, {"Stop", "Halt"}, {"Continue", "Continue"}}},
      {"value over lines, CR LF kept as LF",
       "[MMExplain1]=one\r\ntwo\rthree|$$",
       {{"MMExplain1", "one\ntwo\rthree"}}},
      {"empty value is a translation", "[HomePageURL]=|$$", {{"HomePageURL", ""}}},
      {"brackets and '=' inside", "[a[b]=c]=d|$$", {{"a[b", "c]=d"}}},
      {"first of two counts", "[k]=one|$$[k]=two|$$", {{"k", "one"}}},
      {"empty key skipped", "[]=nothing|$$[k]=v|$$", {{"", ""}, {"k", "v"}}},
      {"truncated last record dropped", "[k]=v|$$[cut]=half", {{"k", "v"}, {"cut", "cut"}}},
      {"truncated key", "[k]=v|$$[cu", {{"k", "v"}, {"cu", "cu"}}},
      {"end marker cut", "[k]=v|$", {{"k", "k"}}},
      {"no records at all", "just text ] = |$$ [", {{"just text", "just text"}}},
      {"binary bytes in a value", std::string("[b]=x\0y|$$", 10), {{"b", std::string("x\0y", 3)}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TWordhive2000 hive;
    hive.LoadFromText(c.text);
    for (const auto& [key, translation] : c.expected) EXPECT_EQ(hive.Translate(key), translation);
  }
}

TEST(WordhiveTest, HostileSizesAreBounded) {
  TWordhive2000 hive;
  const std::string longKey(arrowmap::kMaxKeyBytes + 1, 'k');
  const std::string longValue(arrowmap::kMaxValueBytes + 1, 'v');
  hive.LoadFromText("[" + longKey + "]=x|$$[big]=" + longValue + "|$$[ok]=fine|$$");
  EXPECT_EQ(hive.Translate(longKey), longKey);
  EXPECT_EQ(hive.Translate("big"), "big");
  EXPECT_EQ(hive.Translate("ok"), "fine");
  EXPECT_EQ(hive.Count(), 1u);

  std::string many;
  for (std::size_t i = 0; i < arrowmap::kMaxRecords + 10; ++i) {
    many += "[k" + std::to_string(i) + "]=v|$$";
  }
  TWordhive2000 crowded;
  crowded.LoadFromText(many);
  EXPECT_EQ(crowded.Count(), arrowmap::kMaxRecords);

  // A file larger than the bound is read up to it: the record across the bound is cut.
  const auto path = std::filesystem::temp_directory_path() / "wordhive_test_large.itl";
  {
    std::ofstream out(path, std::ios::binary);
    out << "[first]=1|$$";
    out << std::string(arrowmap::kMaxLanguageFileBytes, ' ');
    out << "[later]=2|$$";
  }
  TWordhive2000 large;
  EXPECT_TRUE(large.LoadFromFile(path.string()));
  EXPECT_EQ(large.Translate("first"), "1");
  EXPECT_EQ(large.Translate("later"), "later");
  std::filesystem::remove(path);

  TWordhive2000 missing;
  EXPECT_FALSE(missing.LoadFromFile("/nonexistent/arrowmap.itl"));
  EXPECT_EQ(missing.Count(), 0u);
}

TEST(WordhiveTest, TheLanguageFileIsNamedAfterTheProgramBesideIt) {
  const std::filesystem::path path = TWordhive2000::LanguageFilePath();
  EXPECT_EQ(path.filename(), "arrowmap_app_tests.itl");
  EXPECT_TRUE(std::filesystem::equivalent(
      path.parent_path(), std::filesystem::read_symlink("/proc/self/exe").parent_path()));
}

TEST(WordhiveTest, TranslatesMarkedCaptionsAndListItems) {
  forms::TForm form(nullptr);
  auto* marked = new forms::TButton(&form);
  marked->SetCaption("WH_Exit");
  auto* plain = new forms::TLabel(&form);
  plain->SetCaption("Exit");
  auto* unknown = new forms::TButton(&form);
  unknown->SetCaption("WH_Unknown");
  auto* list = new forms::TComboBox(&form);
  list->Items = {"WH_expansion", "Exit", "WH_Unknown"};
  list->SetItemIndex(2);

  TWordhive2000 hive;
  hive.LoadFromText("[WH_Exit]=Leave|$$[Exit]=Not this|$$[WH_expansion]=Expansion|$$");
  hive.TranslateComponents(form);
  EXPECT_EQ(marked->Caption(), "Leave");
  EXPECT_EQ(plain->Caption(), "Exit");
  EXPECT_EQ(unknown->Caption(), "WH_Unknown");
  EXPECT_EQ(list->Items, (std::vector<std::string>{"Expansion", "Exit", "WH_Unknown"}));
  EXPECT_EQ(list->ItemIndex(), 2);
}

// Every key the program asks for has a sentence in the shipped English file.
TEST(WordhiveTest, TheShippedEnglishFileKnowsEveryKey) {
  TWordhive2000 english;
  ASSERT_TRUE(english.LoadFromFile(ARROWMAP_LANGUAGE_FILE));

  platform::RecordingUi ui;
  platform::ScopedUi scopedUi(ui);
  arrowmap::TMainFrm form(nullptr);
  arrowmap::TFrmAbout about(nullptr);
  std::vector<std::string> keys = {"MSG_formula_parantheses",
                                   "MSG_formula_right_side",
                                   "Stop",
                                   "Continue",
                                   "MMExplain1",
                                   "MMExplain2",
                                   "HomePageURL",
                                   "$dlglanguage$"};
  for (forms::TForm* f : {static_cast<forms::TForm*>(&form), static_cast<forms::TForm*>(&about)}) {
    for (int i = 0; i < f->ComponentCount(); ++i) {
      if (auto* control = dynamic_cast<forms::TControl*>(f->Components(i))) {
        if (control->Caption().starts_with("WH_")) keys.push_back(control->Caption());
      }
    }
  }
  for (const std::string& item : form.CBoxFieldType->Items) keys.push_back(item);
  EXPECT_EQ(keys.size(), 8u + 10u + 7u);  // messages and texts, captions, presets
  for (const std::string& key : keys) {
    SCOPED_TRACE(key);
    EXPECT_TRUE(english.Knows(key));
    if (key.starts_with("WH_") || key.starts_with("MSG_")) {
      EXPECT_NE(english.Translate(key), key);
    }
  }
  EXPECT_EQ(english.Translate("$dlglanguage$"), "lgenglish");
  // No icon is looked for: the key stays its own translation.
  EXPECT_EQ(english.Translate("AppIconName"), "AppIconName");
}

}  // namespace
