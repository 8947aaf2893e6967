// `quiltbench video` stopped by a signal in the middle of its work, as a user's Ctrl-C or
// a system shutdown does it: the program ends by that signal and leaves nothing of the
// run behind, neither its frames and parameter file nor a part of the output.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 96, kHeight = 64, kPeriod = 150, kFrames = 170;

// A pattern that drifts with a period of 150 frames: the loop joins frames 150 apart, so
// the encoder has seconds of work when it is stopped, and the cut before it little.
void makePeriodicClip(const fs::path& clip) {
  const std::string command =
      "ffmpeg -nostdin -hide_banner -loglevel error -f rawvideo -pix_fmt rgb24 -s " +
      std::to_string(kWidth) + "x" + std::to_string(kHeight) +
      " -r 25 -i - -c:v mpeg2video -q:v 2 -f mpeg2video -y '" + clip.string() + "'";
  std::FILE* ffmpeg = popen(command.c_str(), "w");
  ASSERT_NE(ffmpeg, nullptr);
  std::vector<unsigned char> frame(kWidth * kHeight * 3);
  const double turn = 2 * std::acos(-1.0);
  for (int t = 0; t < kFrames; ++t) {
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x)
        for (int c = 0; c < 3; ++c)
          frame[(y * kWidth + x) * 3 + c] = static_cast<unsigned char>(
              128 + 60 * std::sin(turn * (double(x) / kWidth + double(t) / kPeriod) + c) +
              40 * std::cos(turn * (double(y) / kHeight - double(t) / kPeriod) + 2 * c));
    std::fwrite(frame.data(), 1, frame.size(), ffmpeg);
  }
  ASSERT_EQ(pclose(ffmpeg), 0) << command;
}

struct Stopped {
  bool sawMarker = false;
  int status = 0;
  std::string log;
};

// Runs the program on drive C and sends `sig` once its error stream shows `marker`.
Stopped runAndSignal(const fs::path& drive, const fs::path& work, const std::string& marker,
                     int sig) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return {};
  const std::string driveVariable = "WORKBENCH_DRIVE_C=" + drive.string();
  std::vector<char*> env;
  for (char** e = environ; *e != nullptr; ++e)
    if (std::string(*e).rfind("WORKBENCH_DRIVE_C=", 0) != 0) env.push_back(*e);
  env.push_back(const_cast<char*>(driveVariable.c_str()));
  env.push_back(nullptr);
  const char* argv[] = {"quiltbench", "video", "C:\\clip.m2v", "-o", "C:\\loop.mpg", nullptr};

  const pid_t pid = fork();
  if (pid == 0) {
    // As a user's shell starts it, whatever this test runner ignores or blocks.
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    signal(SIGHUP, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    dup2(pipeFds[1], 2);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    close(pipeFds[0]);
    if (chdir(work.c_str()) != 0) _exit(126);
    execve(QUILTBENCH_PROGRAM, const_cast<char* const*>(argv), env.data());
    _exit(127);
  }
  close(pipeFds[1]);
  Stopped stopped;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  char buffer[4096];
  while (!stopped.sawMarker && std::chrono::steady_clock::now() < deadline) {
    pollfd p{pipeFds[0], POLLIN, 0};
    if (poll(&p, 1, 1000) <= 0) continue;
    const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    stopped.log.append(buffer, static_cast<std::size_t>(n));
    if (stopped.log.find(marker) != std::string::npos) {
      kill(pid, sig);
      stopped.sawMarker = true;
    }
  }
  if (!stopped.sawMarker) kill(pid, SIGKILL);
  close(pipeFds[0]);
  waitpid(pid, &stopped.status, 0);
  return stopped;
}

TEST(VideoInterrupt, ASignalInTheMiddleOfTheRunLeavesNothingOfIt) {
  test_support::TempDir dir;
  const fs::path drive = dir.path() / "c", work = dir.path() / "work";
  fs::create_directories(drive);
  fs::create_directories(work);
  makePeriodicClip(drive / "clip.m2v");
  ASSERT_FALSE(HasFatalFailure());

  const struct {
    const char* name;
    int sig;
  } cases[] = {{"SIGTERM", SIGTERM}, {"SIGINT", SIGINT}, {"SIGHUP", SIGHUP}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // While the encoder works: the frames, the parameter file, the statistics file and
    // the unfinished output are all there.
    const Stopped stopped = runAndSignal(drive, work, "Encoding frame 2 ", c.sig);
    ASSERT_TRUE(stopped.sawMarker) << stopped.log;
    ASSERT_TRUE(WIFSIGNALED(stopped.status)) << "the run finished first:\n" << stopped.log;
    EXPECT_EQ(WTERMSIG(stopped.status), c.sig);
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(drive))
      left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, std::vector<std::string>{"clip.m2v"});
    EXPECT_TRUE(fs::is_empty(work));
  }
}

}  // namespace
