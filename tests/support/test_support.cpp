#include "tests/support/test_support.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

namespace fs = std::filesystem;

namespace test_support {

ScopedDriveC::ScopedDriveC(const std::string& folder) {
  if (const char* old = std::getenv("WORKBENCH_DRIVE_C")) previous_ = old;
  setenv("WORKBENCH_DRIVE_C", folder.c_str(), 1);
}

ScopedDriveC::~ScopedDriveC() {
  if (previous_)
    setenv("WORKBENCH_DRIVE_C", previous_->c_str(), 1);
  else
    unsetenv("WORKBENCH_DRIVE_C");
}

TempDir::TempDir() {
  std::random_device rd;
  for (;;) {
    path_ = fs::temp_directory_path() / ("workbench-test-" + std::to_string(rd()));
    if (fs::create_directory(path_)) break;
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

ScopedWorkingDirectory::ScopedWorkingDirectory(const fs::path& dir)
    : previous_(fs::current_path()) {
  fs::current_path(dir);
}

ScopedWorkingDirectory::~ScopedWorkingDirectory() {
  std::error_code ec;
  fs::current_path(previous_, ec);
}

fs::path dataDir() {
  const char* dir = std::getenv("WORKBENCH_TEST_DATA");
  return dir ? fs::path(dir) : fs::path("tests/data");
}

std::vector<unsigned char> readFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFileBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

int runWithFileSizeLimit(std::uint64_t maxFileBytes, const std::function<int()>& work) {
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{static_cast<rlim_t>(maxFileBytes), static_cast<rlim_t>(maxFileBytes)};
    setrlimit(RLIMIT_FSIZE, &limit);
    int status = 125;
    try {
      status = work();
    } catch (...) {
    }
    _exit(status);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

std::vector<std::string> hiddenFiles(const fs::path& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    std::string name = entry.path().filename().string();
    if (!name.empty() && name[0] == '.') names.push_back(name);
  }
  return names;
}

}  // namespace test_support
