// The looping-video run's temporary files: it never writes through or removes what it did
// not make, refuses outputs it could not keep or write before it does any work, and leaves
// nothing behind when a frame or the output stream cannot be written.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "platform/recording_ui.h"
#include "platform/ui.h"
#include "quiltbench/engine/graph_cut_synthesizer.h"
#include "quiltbench/video/temporary_files.h"
#include "quiltbench/video/video_synthesis.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace quiltbench::video;

fs::path sourceRoot() {
  const std::string file = __FILE__;
  return file.substr(0, file.rfind("tests/quiltbench/video/"));
}

// Every entry under `root` as what it is: a folder, a link and where it points, or a file
// and its bytes. Links are never followed.
std::map<std::string, std::string> snapshot(const fs::path& root) {
  std::map<std::string, std::string> entries;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::end(it); it.increment(ec)) {
    const fs::path& p = it->path();
    const std::string name = fs::relative(p, root).string();
    if (fs::is_symlink(it->symlink_status())) {
      entries[name] = "-> " + fs::read_symlink(p).string();
    } else if (it->is_directory()) {
      entries[name] = "folder";
    } else {
      const auto bytes = test_support::readFileBytes(p.string());
      entries[name] = std::string(bytes.begin(), bytes.end());
    }
  }
  return entries;
}

// Drive C and the template as the program finds them, and a 24-frame clip made by ffmpeg.
class VideoTemporaryFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(drive());
    fs::create_directories(root_.path() / "work");
    fs::create_directories(root_.path() / "Mpeg2Enc");
    fs::copy_file(sourceRoot() / "Mpeg2Enc" / "_MPEG.par", root_.path() / "Mpeg2Enc" / "_MPEG.par");
    drive_.emplace(drive().string());
    cwd_.emplace(root_.path() / "work");
    const std::string command =
        "ffmpeg -nostdin -hide_banner -loglevel error -f lavfi -i testsrc=size=64x48:rate=25 "
        "-frames:v 24 -c:v mpeg2video -q:v 2 -f mpeg2video -y '" +
        (drive() / "clip.m2v").string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }
  void TearDown() override {
    cwd_.reset();
    drive_.reset();
  }

  fs::path drive() const { return root_.path() / "c"; }
  fs::path outside() const { return root_.path(); }

  // The run's error, or "" when it succeeded.
  std::string runError(const std::string& output) {
    try {
      CGraphCutSynthesizer engine;
      engine.SynthesizeVideo("C:\\clip.m2v", output);
      return "";
    } catch (const VideoSynthesisError& e) {
      return e.what();
    }
  }

  bool decoded() const {
    for (const auto& e : ui_.events())
      if (e.kind == platform::UiEvent::progress && e.text.rfind("Decoding", 0) == 0) return true;
    return false;
  }

  platform::RecordingUi ui_;

 private:
  test_support::TempDir root_;
  std::optional<test_support::ScopedDriveC> drive_;
  std::optional<test_support::ScopedWorkingDirectory> cwd_;
  platform::ScopedUi scopedUi_{ui_};
};

TEST_F(VideoTemporaryFiles, AnythingAtTheTemporaryPathsRefusesTheRunAndSurvivesIt) {
  const fs::path frames = drive() / "_FrameData";
  const fs::path par = drive() / "_MPEG.par";
  const fs::path victim = outside() / "victim.txt";
  const struct {
    const char* name;
    std::function<void()> plant;
    std::string reason;
  } cases[] = {
      {"the user's folder with files and a subfolder",
       [&] {
         fs::create_directories(frames / "keep");
         test_support::writeFileBytes((frames / "notes.txt").string(), {'n'});
         test_support::writeFileBytes((frames / "keep" / "0.ppm").string(), {'k'});
       },
       "already holds files"},
      {"a link planted as the first frame",
       [&] {
         fs::create_directories(frames);
         fs::create_symlink(victim, frames / "0.ppm");
       },
       "already holds files"},
      {"a frames folder that is a link to another folder",
       [&] {
         fs::create_directories(outside() / "elsewhere");
         fs::create_directory_symlink(outside() / "elsewhere", frames);
       },
       "is in the way of the run's frames folder"},
      {"a file where the folder goes",
       [&] { test_support::writeFileBytes(frames.string(), {'f'}); },
       "is in the way of the run's frames folder"},
      {"the user's parameter file", [&] { test_support::writeFileBytes(par.string(), {'p'}); },
       "C:\\_MPEG.par (" + par.string() + ") is there already"},
      {"a link planted as the parameter file", [&] { fs::create_symlink(victim, par); },
       "is there already"},
      {"a dangling link as the parameter file",
       [&] { fs::create_symlink(outside() / "absent", par); }, "is there already"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ui_.clear();
    test_support::writeFileBytes(victim.string(), {'v'});
    c.plant();
    const auto before = snapshot(drive());
    EXPECT_NE(runError("C:\\loop.mpg").find(c.reason), std::string::npos);
    EXPECT_FALSE(decoded()) << "refused before the work";
    EXPECT_EQ(snapshot(drive()), before);
    EXPECT_EQ(test_support::readFileBytes(victim.string()), std::vector<unsigned char>{'v'});
    EXPECT_FALSE(fs::exists(outside() / "absent"));
    fs::remove_all(frames);
    fs::remove(par);
  }
}

TEST_F(VideoTemporaryFiles, AnEmptyFramesFolderOfTheUsersIsUsedAndKept) {
  fs::create_directories(drive() / "_FrameData");
  EXPECT_EQ(runError("C:\\loop.mpg"), "");
  EXPECT_TRUE(fs::is_directory(drive() / "_FrameData"));
  EXPECT_TRUE(fs::is_empty(drive() / "_FrameData"));
  EXPECT_FALSE(fs::exists(drive() / "_MPEG.par"));
  EXPECT_GT(fs::file_size(drive() / "loop.mpg"), 0u);
}

TEST_F(VideoTemporaryFiles, OutputsAmongTheTemporaryFilesAreRefusedBeforeTheWork) {
  fs::create_directory_symlink(drive(), outside() / "alias");
  const std::string outputs[] = {
      "c:\\_FrameData\\loop.mpg",
      "C:\\_MPEG.par",
      "c:\\_FrameData\\_statistics.txt",
      "C:/_FrameData/../_MPEG.par",
      (drive() / "_FrameData" / "deep" / "loop.mpg").string(),
      "../c/_MPEG.par",
      (outside() / "alias" / "_FrameData" / "loop.mpg").string(),
  };
  const auto before = snapshot(drive());
  for (const std::string& output : outputs) {
    SCOPED_TRACE(output);
    ui_.clear();
    EXPECT_NE(runError(output).find("lies in the run's temporary files"), std::string::npos);
    EXPECT_FALSE(decoded());
    EXPECT_EQ(snapshot(drive()), before);
  }
}

TEST_F(VideoTemporaryFiles, OutputsThatCannotBeWrittenAreRefusedBeforeTheWork) {
  fs::create_directories(drive() / "folder");
  const struct {
    std::string output;
    const char* reason;
  } cases[] = {
      {"C:\\missing\\loop.mpg", "No such file or directory"},
      {"C:\\folder", "is a folder"},
      {"C:\\clip.m2v\\loop.mpg", "Not a directory"},
      {"/proc/loop.mpg", "cannot create a file beside"},
  };
  const auto before = snapshot(drive());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output);
    ui_.clear();
    const std::string error = runError(c.output);
    EXPECT_NE(error.find("the output " + c.output + " cannot be written"), std::string::npos)
        << error;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_FALSE(decoded());
    EXPECT_EQ(snapshot(drive()), before);
  }
}

// A disk that fills up: once while the frames are written, once while the stream is (the
// 64x48 frames take 9 KB each, the looped stream more than 10 KB, written as it is coded
// or when it is closed). The run fails with the reason, the old output stays as it was
// and no file of the run is left.
TEST_F(VideoTemporaryFiles, AFullDiskFailsTheRunAndLeavesNothing) {
  const struct {
    const char* name;
    std::uint64_t limit;
    const char* reason;
  } cases[] = {
      {"frames", 4096, "cannot write the frame file"},
      {"stream", 10000, "the encoder stopped: Couldn't write"},
  };
  test_support::writeFileBytes((drive() / "loop.mpg").string(), {1, 2, 3});
  const auto before = snapshot(drive());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const int status = test_support::runWithFileSizeLimit(c.limit, [&] {
      const std::string error = runError("C:\\loop.mpg");
      return error.empty() ? 0 : error.find(c.reason) != std::string::npos ? 3 : 4;
    });
    EXPECT_EQ(status, 3);
    EXPECT_EQ(snapshot(drive()), before);
  }
}

// Removal takes exactly what was made: a folder that was there stays, and so does a file
// that someone else put into a folder of the run, and with it that folder.
TEST(CreatedFiles, RemovesExactlyWhatItMade) {
  test_support::TempDir dir;
  const fs::path existing = dir.path() / "existing";
  fs::create_directories(existing);
  {
    CreatedFiles files(8);
    ASSERT_TRUE(files.createFolders((existing / "a" / "b").string() + "/"));
    ASSERT_TRUE(files.createFolders((existing / "c").string()));
    const int fd = files.createFile((existing / "a" / "b" / "mine").string());
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_LT(files.createFile((existing / "a" / "b" / "mine").string()), 0);
    test_support::writeFileBytes((existing / "c" / "theirs").string(), {'t'});
    test_support::writeFileBytes((existing / "adopted").string(), {'a'});
    files.adopt((existing / "adopted").string());
  }
  EXPECT_EQ(snapshot(dir.path()),
            (std::map<std::string, std::string>{
                {"existing", "folder"}, {"existing/c", "folder"}, {"existing/c/theirs", "t"}}));

  test_support::writeFileBytes(dir.file("file"), {});
  CreatedFiles files(4);
  EXPECT_FALSE(files.createFolders(dir.file("file") + "/sub"));
}

}  // namespace
