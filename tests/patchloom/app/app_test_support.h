// Small images, a session fixture (fixed clock, recorded user interface, a scratch
// working directory, one application object) and file listings for Patchloom's tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "patchloom/app/patchloom_app.h"
#include "patchloom/app/patchloom_doc.h"
#include "patchloom/image/image.h"
#include "patchloom/kmeans/kmeans_random.h"
#include "platform/clock.h"
#include "platform/dialog.h"
#include "platform/recording_ui.h"
#include "platform/ui.h"
#include "tests/support/test_support.h"

namespace app_test {

// Writes a w x h 24-bit texture of smooth blobs with some grain as a BMP (or in the
// format of the name's extension).
inline void WriteTexture(const std::string& path, int w, int h, int seed = 1) {
  CImage image;
  ASSERT_EQ(image.Create(w, h, 24, 0), 1);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double u = std::sin((x + seed) * 0.7), v = std::cos((y + 2 * seed) * 0.55);
      const int grain = ((x * 7 + y * 13 + seed) * 2654435761u >> 27) & 15;
      image.SetPixelRGB(x, y, static_cast<std::uint8_t>(120 + 90 * u * v + grain),
                        static_cast<std::uint8_t>(110 + 80 * u),
                        static_cast<std::uint8_t>(100 + 70 * v + grain));
    }
  ASSERT_EQ(image.Save(path), 1) << path;
}

// A Ui that records like RecordingUi and also keeps the last file-dialog request.
class CapturingUi final : public platform::Ui {
 public:
  platform::RecordingUi recorded;
  std::optional<platform::FileDialogRequest> lastRequest;

  void messageBox(const std::string& t, const std::string& c) override {
    recorded.messageBox(t, c);
  }
  bool askYesNo(const std::string& t, const std::string& c) override {
    return recorded.askYesNo(t, c);
  }
  void beginWaitCursor() override { recorded.beginWaitCursor(); }
  void endWaitCursor() override { recorded.endWaitCursor(); }
  bool shellOpen(const std::string& p, const std::string& v) override {
    return recorded.shellOpen(p, v);
  }
  std::optional<std::string> fileDialog(const platform::FileDialogRequest& r) override {
    lastRequest = r;
    return recorded.fileDialog(r);
  }
  void progress(const std::string& t) override { recorded.progress(t); }
};

// One session of the program in a scratch working directory.
class SessionTest : public ::testing::Test {
 protected:
  SessionTest() : clockGuard_(clock_), uiGuard_(ui_), cwd_(dir_.path()) {
    KMeansRandomRestart();
    platform::dialogScript().clear();
    app_.InitInstance();
  }
  ~SessionTest() override {
    EXPECT_EQ(ui_.recorded.waitCursorDepth(), 0);
    platform::dialogScript().clear();
  }

  platform::RecordingUi& ui() { return ui_.recorded; }
  platform::DialogScript& script() { return platform::dialogScript(); }

  // The names of the files in the working directory.
  std::set<std::string> Files() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
      names.insert(entry.path().filename().string());
    return names;
  }

  CPatchloomDoc* Open(const std::string& name) {
    CPatchloomDoc* document = app_.OpenDocumentFile(name);
    EXPECT_NE(document, nullptr) << name;
    return document;
  }

  std::vector<std::string> DocumentPaths() const {
    std::vector<std::string> paths;
    for (const auto& d : app_.GetDocuments()) paths.push_back(d->GetPathName());
    return paths;
  }

  bool AnyProgressContains(const std::string& text) const {
    for (const auto& e : ui_.recorded.events())
      if (e.kind == platform::UiEvent::progress && e.text.find(text) != std::string::npos)
        return true;
    return false;
  }

  platform::FixedClock clock_;
  platform::ScopedClock clockGuard_;
  CapturingUi ui_;
  platform::ScopedUi uiGuard_;
  test_support::TempDir dir_;
  test_support::ScopedWorkingDirectory cwd_;
  CPatchloomApp app_;
};

}  // namespace app_test
